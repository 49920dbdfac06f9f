# cmake --install: the library with its public headers, the programs, and the
# package a game's CMake finds with find_package(segsorter) and links as
# segsorter::core.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(SEGSORTER_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/segsorter)
install(TARGETS corelib EXPORT segsorterTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/segsorter
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/segsorter)
install(TARGETS segsorter segzip loadsim filehost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT segsorterTargets NAMESPACE segsorter:: DESTINATION ${SEGSORTER_PACKAGE_DIR})

configure_package_config_file(cmake/segsorterConfig.cmake.in
  ${PROJECT_BINARY_DIR}/segsorterConfig.cmake INSTALL_DESTINATION ${SEGSORTER_PACKAGE_DIR})
# Before 1.0 a minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/segsorterConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/segsorterConfig.cmake
  ${PROJECT_BINARY_DIR}/segsorterConfigVersion.cmake DESTINATION ${SEGSORTER_PACKAGE_DIR})
