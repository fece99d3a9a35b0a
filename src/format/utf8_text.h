// Names are UTF-8 text: the programs declare UTF-8 as their code page, so every byte string the
// system hands over (names, command lines, window texts) is UTF-8. These helpers never split a
// character and tell names written in the older 1252 code page from UTF-8.
#pragma once
#include <cstddef>
#include <string>

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool utf8_valid(const std::string& text);
// Length in UTF-16 units, the unit of the file system's 255-character name limit; the byte
// count for text that is not valid UTF-8.
size_t utf16_length(const std::string& text);
// The longest prefix of at most max_bytes bytes that does not end inside a character.
size_t utf8_cut(const std::string& text, size_t max_bytes);
// Code page 1252 bytes as UTF-8 (the five bytes 1252 leaves undefined map to U+0081 etc.,
// as the system's own conversion does).
std::string utf8_from_1252(const std::string& text);
// A name as the system should see it: on a UTF-8 system, text that is not valid UTF-8 was
// written in code page 1252 and is converted; otherwise the bytes stay as they are.
std::string name_for_system(std::string text, bool system_utf8);

// A key that is the same for two names the file system takes as one: every letter upper-cased by
// the system's own table (on Windows the invariant one, which the file system's matches; outside
// it, C.UTF-8's), not ASCII alone, so "É.txt" and "é.txt" are one name. Text that is not valid
// UTF-8 has its ASCII letters folded.
std::string name_case_key(const std::string& text);
// The same key written over `key`, whose storage is reused: the opening asks it of every member.
void name_case_key_into(const std::string& text, std::string& key);

// True when the process's code page is UTF-8 (always, outside Windows).
bool system_text_is_utf8();
// A console shows the names printed as UTF-8 until the program ends (Windows keeps the console's
// own code page otherwise); nothing happens without a console or outside Windows.
void console_text_utf8();
