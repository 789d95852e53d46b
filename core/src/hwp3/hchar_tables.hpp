// The generated tables behind the HWP 3.0 character codes that are not
// composed Hangul syllables (hchar_tables.cpp, written by
// scripts/gen_hwp3_tables.py from KS X 1001 codec data).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace marlune::hwp3 {

// KS X 1001 symbol rows 1..9, 96 codes a row from hchar SYMBOL_FIRST.
inline constexpr std::uint16_t SYMBOL_FIRST = 0x3400;
inline constexpr std::size_t SYMBOL_COUNT = 9 * 96;
// The KS X 1001 Hanja in code order from hchar HANJA_FIRST.
inline constexpr std::uint16_t HANJA_FIRST = 0x4000;
inline constexpr std::size_t HANJA_COUNT = 4888;

// The KS X 1001 Hangul syllables in code order (EUC-KR rows 0xB0..0xC8).
inline constexpr std::size_t HANGUL_COUNT = 2350;

// A combined (Johab) code that stands for one compatibility jamo.
struct JamoCode {
    std::uint16_t code;
    char16_t jamo;
};
inline constexpr std::size_t JAMO_COUNT = 67;

extern const std::array<char16_t, SYMBOL_COUNT> SYMBOLS;
extern const std::array<char16_t, HANJA_COUNT> HANJA;
extern const std::array<char16_t, HANGUL_COUNT> HANGUL;
extern const std::array<JamoCode, JAMO_COUNT> JAMO;  // sorted by code

}  // namespace marlune::hwp3
