# foreign_archive_lib: the static libarchive that reads foreign archives (and writes zip), with the
# codecs it was built against, all from the setup script's builds in the dependency folder. Each is
# found by its static file name first, so that a system copy or a DLL's import library never wins.
set(foreign_hints)
set(foreign_include_hints)
if(NOT CMAKE_CROSSCOMPILING)
  set(foreign_hints HINTS ${VANTOR_DEPS}/native/lib)
  set(foreign_include_hints HINTS ${VANTOR_DEPS}/native/include)
endif()
find_path(LIBARCHIVE_INCLUDE_DIR archive.h ${foreign_include_hints} REQUIRED)
foreach(lib archive bz2 lz4)
  string(TOUPPER ${lib} var)
  find_library(FOREIGN_${var}_LIBRARY NAMES lib${lib}.a ${lib} ${foreign_hints} REQUIRED)
endforeach()

add_library(foreign_archive_lib INTERFACE)
target_include_directories(foreign_archive_lib SYSTEM INTERFACE ${LIBARCHIVE_INCLUDE_DIR})
# libarchive first, then what it calls; liblzma and libzstd are the archiver's own (tool/).
find_library(FOREIGN_LZMA_LIBRARY NAMES liblzma.a lzma ${foreign_hints} REQUIRED)
find_library(FOREIGN_ZSTD_LIBRARY NAMES libzstd.a zstd ${foreign_hints} REQUIRED)
target_link_libraries(foreign_archive_lib INTERFACE ${FOREIGN_ARCHIVE_LIBRARY} ${FOREIGN_BZ2_LIBRARY}
                      ${FOREIGN_LZ4_LIBRARY} ${FOREIGN_LZMA_LIBRARY} ${FOREIGN_ZSTD_LIBRARY} ZLIB::ZLIB)
if(WIN32)
  # archive.h declares its functions for the static library, not a DLL's imports; the library
  # draws its random numbers (temporary names, zip salts) from bcrypt, part of Windows since Vista.
  target_compile_definitions(foreign_archive_lib INTERFACE LIBARCHIVE_STATIC)
  target_link_libraries(foreign_archive_lib INTERFACE bcrypt)
endif()

# The unpacked libarchive source holds small rar and rar5 samples (libarchive/test/*.uu) that no
# Debian tool can write; the native tests read them from there.
file(STRINGS ${CMAKE_SOURCE_DIR}/scripts/codec-sources.txt libarchive_line REGEX "^libarchive ")
string(REGEX REPLACE "^libarchive +([^ ]+).*" "\\1" libarchive_version "${libarchive_line}")
set(VANTOR_LIBARCHIVE_SOURCE ${VANTOR_DEPS}/src/libarchive-${libarchive_version} CACHE PATH
    "The unpacked libarchive source whose test samples the native tests read")
add_library(foreign_archive_samples INTERFACE)
target_compile_definitions(foreign_archive_samples INTERFACE
                           VANTOR_LIBARCHIVE_SOURCE="${VANTOR_LIBARCHIVE_SOURCE}")
