# A 64-bit Windows build, which runs the tests under Wine.
set(MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# The 64-bit loader: the plain wine wrapper picks the 32-bit one when both
# are installed, and that cannot start on a kernel without 32-bit support.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
