// The program's number readers: texts from replies, headers and addresses
// read the way the desktop's C library reads them, never throwing.
#pragma once

#include <cstdint>
#include <string_view>

// Leading blanks, an optional sign, then decimal digits up to the first
// non-digit; no digits give 0, and a value beyond 32 bits stops at the
// nearest 32-bit limit.
int32_t parseDecimalInt(std::string_view text);
int32_t parseDecimalInt(std::wstring_view text);

// Leading blanks, then a decimal number with optional sign, fraction and
// exponent; no number gives 0. Texts such as "inf", "nan" or hexadecimal
// numbers give 0.
double parseDecimalDouble(std::string_view text);
