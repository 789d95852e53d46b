// HWP 3.0 characters (hchar, 16 bits) to UTF-8: ASCII, Hangul in the
// combined (Johab) code, KS X 1001 symbols and Hanja, and the word
// processor's own codes. A code with no character is written as U+FFFD and
// counted, never dropped.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace marlune::hwp3 {

// Appends the character of code to out; false when it has none (U+FFFD
// was appended instead).
bool append_hchar(std::string& out, std::uint16_t code);

// Appends the character of a KS X 1001 pair of bytes (EUC-KR: lead and
// trail from 0xA1); false when it has none (U+FFFD was appended instead).
bool append_ks_pair(std::string& out, std::uint8_t lead, std::uint8_t trail);

// A kchar string (ASCII and KS X 1001 pairs, as file names are stored) up
// to its first NUL, characters with no Unicode counted in unmapped.
std::string kchar_text(std::span<const std::uint8_t> bytes, std::uint32_t& unmapped);

// An hchar string up to its first NUL, counted the same way.
std::string hchar_text(std::span<const std::uint8_t> bytes, std::uint32_t& unmapped);

}  // namespace marlune::hwp3
