# Cross toolchain for the 64-bit build that runs the Windows tests under wine64.
set(VANTOR_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
