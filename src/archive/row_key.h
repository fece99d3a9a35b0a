// Keys of the listing step's row table: CRC-32 of the SHA-1 hex digest of a path.
#pragma once
#include <cstdint>
#include <string>

// SHA-1 of a byte string, as 40 lower-case hexadecimal digits.
std::string sha1_hex(const std::string& bytes);
// CRC-32 over the 40 digits of sha1_hex(path + zero byte) plus one zero byte, AND 0x7FFFFF.
int32_t row_key(const std::string& path);
