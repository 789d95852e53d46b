// HWP 3.0 character codes by range: below 0x80 ASCII; 0x81..0x84 curly
// quotes; 0x3013..0x301D the word processor's own symbols (the private-use
// characters its later versions write for them); 0x3400.. KS X 1001 symbol
// rows 1..9; 0x4000.. KS X 1001 Hanja; from 0x8000 the combined code, a syllable's
// initial, medial and final as three 5-bit parts, composed algorithmically.
#include "hwp3/hchar.hpp"

#include <algorithm>
#include <array>

#include "container/utf8.hpp"
#include "hwp3/hchar_tables.hpp"

namespace marlune::hwp3 {

namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;
constexpr std::int8_t NONE = -1;

// The combined code's 5-bit parts to the indexes of Unicode's syllable
// formula (NONE: a fill or no letter).
constexpr std::array<std::int8_t, 32> INITIAL = {
    NONE, NONE, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13,
    14, 15, 16, 17, 18, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE};
constexpr std::array<std::int8_t, 32> MEDIAL = {
    NONE, NONE, NONE, 0, 1, 2, 3, 4, NONE, NONE, 5, 6, 7, 8, 9, 10,
    NONE, NONE, 11, 12, 13, 14, 15, 16, NONE, NONE, 17, 18, 19, 20, NONE, NONE};
// The final's index, 0 for none (code 1); codes 0, 18, 30 and 31 are none of these.
constexpr std::array<std::int8_t, 32> FINAL = {
    NONE, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14,
    15, 16, NONE, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, NONE, NONE};

constexpr std::uint16_t OWN_SYMBOL_FIRST = 0x3013;
constexpr std::uint16_t OWN_SYMBOL_LAST = 0x301D;
constexpr char32_t OWN_SYMBOL_UNICODE = 0xF0806;  // where later versions put 0x3013

char32_t combined(std::uint16_t code) noexcept {
    const int initial = INITIAL[(code >> 10) & 0x1F];
    const int medial = MEDIAL[(code >> 5) & 0x1F];
    const int final_part = FINAL[code & 0x1F];
    if (initial != NONE && medial != NONE && final_part != NONE) {
        return static_cast<char32_t>(0xAC00 + (initial * 21 + medial) * 28 + final_part);
    }
    const auto* found = std::ranges::lower_bound(JAMO, code, {}, &JamoCode::code);
    if (found != JAMO.end() && found->code == code) return found->jamo;
    return 0;
}

char32_t scalar_of(std::uint16_t code) noexcept {
    if (code < 0x80) return code;
    if (code >= 0x8000) return combined(code);
    switch (code) {
        case 0x81: return U'\u201C';
        case 0x82: return U'\u201D';
        case 0x83: return U'\u2018';
        case 0x84: return U'\u2019';
        default: break;
    }
    if (code >= OWN_SYMBOL_FIRST && code <= OWN_SYMBOL_LAST) return OWN_SYMBOL_UNICODE + (code - OWN_SYMBOL_FIRST);
    if (code >= SYMBOL_FIRST && std::size_t{code} - SYMBOL_FIRST < SYMBOL_COUNT) return SYMBOLS[code - SYMBOL_FIRST];
    if (code >= HANJA_FIRST && std::size_t{code} - HANJA_FIRST < HANJA_COUNT) return HANJA[code - HANJA_FIRST];
    return 0;
}

constexpr std::uint8_t KS_FIRST = 0xA1;
constexpr std::uint8_t KS_LAST = 0xFE;
constexpr std::size_t KS_ROW = 94;
constexpr std::uint8_t SYMBOL_LAST_LEAD = 0xA9;  // rows past the table have no character
constexpr std::uint8_t ROWS_WITHOUT_TABLE_LAST = 0xAF;
constexpr std::uint8_t HANGUL_FIRST_LEAD = 0xB0;
constexpr std::uint8_t HANJA_FIRST_LEAD = 0xCA;

char32_t ks_scalar(std::uint8_t lead, std::uint8_t trail) noexcept {
    if (lead < KS_FIRST || lead > KS_LAST || trail < KS_FIRST || trail > KS_LAST) return 0;
    const std::size_t cell = trail - KS_FIRST;
    if (lead <= SYMBOL_LAST_LEAD) return SYMBOLS[(lead - KS_FIRST) * 96 + cell + 1];
    if (lead <= ROWS_WITHOUT_TABLE_LAST) return 0;
    const std::size_t hangul = (lead - HANGUL_FIRST_LEAD) * KS_ROW + cell;
    if (lead < HANJA_FIRST_LEAD) return hangul < HANGUL_COUNT ? HANGUL[hangul] : 0;
    const std::size_t hanja = (lead - HANJA_FIRST_LEAD) * KS_ROW + cell;
    return hanja < HANJA_COUNT ? HANJA[hanja] : 0;
}

bool append_or_replace(std::string& out, char32_t c) {
    append_utf8(out, c == 0 ? REPLACEMENT : c);
    return c != 0;
}

}  // namespace

bool append_hchar(std::string& out, std::uint16_t code) { return append_or_replace(out, scalar_of(code)); }

bool append_ks_pair(std::string& out, std::uint8_t lead, std::uint8_t trail) {
    return append_or_replace(out, ks_scalar(lead, trail));
}

std::string kchar_text(std::span<const std::uint8_t> bytes, std::uint32_t& unmapped) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size() && bytes[i] != 0; ++i) {
        if (bytes[i] < 0x80) {
            text.push_back(static_cast<char>(bytes[i]));
            continue;
        }
        const std::uint8_t trail = i + 1 < bytes.size() ? bytes[i + 1] : 0;
        if (!append_ks_pair(text, bytes[i], trail)) ++unmapped;
        if (trail == 0) break;
        ++i;
    }
    return text;
}

std::string hchar_text(std::span<const std::uint8_t> bytes, std::uint32_t& unmapped) {
    std::string text;
    for (std::size_t at = 0; at + 2 <= bytes.size(); at += 2) {
        const auto code = static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
        if (code == 0) break;
        if (code < 32) text.push_back(' ');
        else if (!append_hchar(text, code)) ++unmapped;
    }
    return text;
}

}  // namespace marlune::hwp3
