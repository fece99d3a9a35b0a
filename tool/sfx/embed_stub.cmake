# Turns the self-extracting program into a C++ array for vantor.exe, refusing a program that
# does not fit the fixed slot in front of the entries.
file(SIZE "${INPUT}" size)
if(size GREATER SLOT)
  message(FATAL_ERROR "self-extracting stub is ${size} bytes, more than its ${SLOT}-byte slot")
endif()
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.new"
  "// Generated from the self-extracting program; do not edit.\n"
  "#include \"sfx_image.h\"\n"
  "const unsigned char SFX_STUB_IMAGE[] = {\n${bytes}};\n"
  "const size_t SFX_STUB_IMAGE_SIZE = ${size};\n")
file(RENAME "${OUTPUT}.new" "${OUTPUT}")
