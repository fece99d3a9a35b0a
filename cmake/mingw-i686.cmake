# Cross toolchain for the shipped 32-bit build; dependencies come from scripts/setup.sh.
set(VANTOR_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
