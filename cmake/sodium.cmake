# sodium_lib: the static libsodium that seals encrypted archives, from the setup script's builds in
# the dependency folder (found by its static file name, so no system copy or DLL import wins).
set(sodium_hints)
set(sodium_include_hints)
if(NOT CMAKE_CROSSCOMPILING)
  set(sodium_hints HINTS ${VANTOR_DEPS}/native/lib NO_DEFAULT_PATH)
  set(sodium_include_hints HINTS ${VANTOR_DEPS}/native/include NO_DEFAULT_PATH)
endif()
find_path(SODIUM_INCLUDE_DIR sodium.h ${sodium_include_hints} REQUIRED)
find_library(SODIUM_LIBRARY NAMES libsodium.a ${sodium_hints} REQUIRED)
add_library(sodium_lib INTERFACE)
target_include_directories(sodium_lib SYSTEM INTERFACE ${SODIUM_INCLUDE_DIR})
target_link_libraries(sodium_lib INTERFACE ${SODIUM_LIBRARY})
if(WIN32)
  # sodium.h declares its functions for the static library, not a DLL's imports; its random numbers
  # come from advapi32, part of Windows.
  target_compile_definitions(sodium_lib INTERFACE SODIUM_STATIC)
  target_link_libraries(sodium_lib INTERFACE advapi32)
endif()
