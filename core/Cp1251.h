// Windows-1251 <-> UTF-8, the one codec at the edges (widgets, terminal, JSON, files in UTF-8).
#pragma once

#include <string>

// Each byte to its character; the one unassigned byte (0x98) becomes U+FFFD.
std::string Cp1251ToUtf8(const std::string& bytes);

// Returns false (and leaves `out` partial) when the text is not valid UTF-8 or
// holds a character Windows-1251 cannot hold; nothing is ever turned into '?'.
bool Utf8ToCp1251(const std::string& utf8, std::string* out);

// One code point below U+10000 as UTF-8, at the end of `out`.
void AppendUtf8(std::string* out, char32_t codePoint);

// Whether one Unicode code point has a Windows-1251 byte.
bool IsCp1251Encodable(char32_t codePoint);
