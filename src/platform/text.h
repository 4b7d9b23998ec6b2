// Text functions. Paths are UTF-8 byte strings with "/" as the only separator; in UTF-8 no
// byte of a multi-byte character can be mistaken for "/" or ".", so byte scans are safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The integer grammar the user types: leading spaces, then a signed decimal or an unsigned
// hexadecimal ("$", "x", "X", "0x", "0X") taken as a 32-bit pattern; nothing after the digits.
std::optional<int32_t> TryStrToInt(std::string_view text);
// As TryStrToInt, raising EConvertError naming the whole text when it is not an integer.
int32_t StrToInt(std::string_view text);
std::string IntToStr(int64_t value);

// Everything up to and including the last "/"; empty when there is none.
std::string ExtractFilePath(std::string_view path);
// From the last "." after the last "/" through the end, "." included; empty when none.
std::string ExtractFileExt(std::string_view path);
// ASCII letters a-z to A-Z; every other byte unchanged.
std::string UpperCase(std::string_view text);
