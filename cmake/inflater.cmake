# Whole archive members inflate in one call through libdeflate where the
# system has it (Debian's libdeflate-dev), its static library so that the
# programs can stay static executables; otherwise through zlib, which also
# serves every streaming read and seek. Windows builds always use zlib: no
# MinGW package of libdeflate exists. -DSEGSORTER_LIBDEFLATE=OFF keeps a
# Linux build to zlib, so that both roads are built and tested.
option(SEGSORTER_LIBDEFLATE "Inflate whole archive members with libdeflate when it is found" ON)
if(SEGSORTER_LIBDEFLATE AND NOT WIN32)
  find_path(LIBDEFLATE_INCLUDE_DIR libdeflate.h)
  find_library(LIBDEFLATE_LIBRARY NAMES libdeflate.a deflate)
endif()
if(SEGSORTER_LIBDEFLATE AND NOT WIN32 AND LIBDEFLATE_INCLUDE_DIR AND LIBDEFLATE_LIBRARY)
  set(SEGSORTER_WHOLE_INFLATER libdeflate)
  target_sources(corelib PRIVATE zip/inflate/whole_libdeflate.cpp)
  target_include_directories(corelib PRIVATE ${LIBDEFLATE_INCLUDE_DIR})
  target_link_libraries(corelib PRIVATE ${LIBDEFLATE_LIBRARY})
else()
  set(SEGSORTER_WHOLE_INFLATER zlib)
  target_sources(corelib PRIVATE zip/inflate/whole_zlib.cpp)
endif()
message(STATUS "Whole archive members inflate with ${SEGSORTER_WHOLE_INFLATER}")
