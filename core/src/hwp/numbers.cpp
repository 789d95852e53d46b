// Number shapes and automatic numbers.
#include "hwp/numbers.hpp"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <string_view>

#include "hwp/para_text.hpp"

namespace marlune {

namespace {

using tree::NumberShape;

constexpr std::u32string_view kHangulSyllables = U"가나다라마바사아자차카타파하";
constexpr std::u32string_view kHangulJamo = U"ㄱㄴㄷㄹㅁㅂㅅㅇㅈㅊㅋㅌㅍㅎ";
constexpr std::u32string_view kHangulStems = U"갑을병정무기경신임계";
constexpr std::u32string_view kIdeographStems = U"甲乙丙丁戊己庚辛壬癸";
// Digits 1 to 9 and the units ten, hundred, thousand.
constexpr std::u32string_view kHangulNumerals = U"일이삼사오육칠팔구";
constexpr std::u32string_view kHangulUnits = U"십백천";
constexpr std::u32string_view kIdeographNumerals = U"一二三四五六七八九";
constexpr std::u32string_view kIdeographUnits = U"十百千";

// Circled forms: ①-⑳, ㉑-㉟, ㊱-㊿.
constexpr std::uint32_t kMaxCircledDigit = 50;
// Spelt numerals go up to 9999; larger values are written in digits.
constexpr std::uint32_t kMaxSpeltNumeral = 9999;
constexpr std::uint32_t kMaxRoman = 3999;

void append_digits(std::string& out, std::uint32_t value) {
    char digits[10];
    const auto written = std::to_chars(std::begin(digits), std::end(digits), value);
    out.append(std::begin(digits), written.ptr);
}

// The n-th (1-based) of a cycle of letters.
void append_cycled(std::string& out, std::uint32_t value, std::u32string_view letters) {
    append_utf8(out, letters[(value - 1) % letters.size()]);
}

// Latin letters: A to Z, then AA to ZZ, and so on.
void append_latin(std::string& out, std::uint32_t value, char first) {
    const std::uint32_t repeat = (value - 1) / 26 + 1;
    out.append(std::min<std::uint32_t>(repeat, 64), static_cast<char>(first + (value - 1) % 26));
}

void append_roman(std::string& out, std::uint32_t value, bool upper) {
    // The single-character numerals Ⅰ-Ⅻ (ⅰ-ⅻ) as the word processor draws them.
    if (value <= 12) {
        append_utf8(out, (upper ? 0x2160U : 0x2170U) + value - 1);
        return;
    }
    static constexpr std::pair<std::uint32_t, std::string_view> kParts[] = {
        {1000, "M"}, {900, "CM"}, {500, "D"}, {400, "CD"}, {100, "C"}, {90, "XC"}, {50, "L"},
        {40, "XL"},  {10, "X"},   {9, "IX"},  {5, "V"},   {4, "IV"},  {1, "I"}};
    for (const auto& [amount, letters] : kParts) {
        for (; value >= amount; value -= amount) {
            for (const char c : letters) out.push_back(upper ? c : static_cast<char>(c - 'A' + 'a'));
        }
    }
}

// Numerals with units, as read aloud: 24 is 이십사 (二十四); a unit's one is
// left out (십, not 일십).
void append_spelt(std::string& out, std::uint32_t value, std::u32string_view numerals, std::u32string_view units) {
    static constexpr std::uint32_t kPlaces[] = {1000, 100, 10};
    for (std::size_t k = 0; k < 3; ++k) {
        const std::uint32_t digit = value / kPlaces[k] % 10;
        if (digit == 0) continue;
        if (digit > 1) append_utf8(out, numerals[digit - 1]);
        append_utf8(out, units[2 - k]);
    }
    if (value % 10 != 0) append_utf8(out, numerals[value % 10 - 1]);
}

void append_circled_digit(std::string& out, std::uint32_t value) {
    if (value <= 20) append_utf8(out, 0x2460U + value - 1);
    else if (value <= 35) append_utf8(out, 0x3251U + value - 21);
    else append_utf8(out, 0x32B1U + value - 36);
}

// A circled letter of a set of count starting at first, else fallback.
bool append_circled(std::string& out, std::uint32_t value, char32_t first, std::uint32_t count) {
    if (value > count) return false;
    append_utf8(out, first + value - 1);
    return true;
}

}  // namespace

void append_number(std::string& out, std::uint32_t value, NumberShape shape) {
    // Shapes have no zero: it is written in digits, as is anything past a
    // shape's range.
    if (value == 0) {
        append_digits(out, value);
        return;
    }
    switch (shape) {
        case NumberShape::Digit: break;
        case NumberShape::CircledDigit:
            if (value > kMaxCircledDigit) break;
            append_circled_digit(out, value);
            return;
        case NumberShape::UpperRoman:
        case NumberShape::LowerRoman:
            if (value > kMaxRoman) break;
            append_roman(out, value, shape == NumberShape::UpperRoman);
            return;
        case NumberShape::UpperLatin: append_latin(out, value, 'A'); return;
        case NumberShape::LowerLatin: append_latin(out, value, 'a'); return;
        case NumberShape::CircledUpperLatin:
            if (!append_circled(out, value, U'Ⓐ', 26)) append_latin(out, value, 'A');
            return;
        case NumberShape::CircledLowerLatin:
            if (!append_circled(out, value, U'ⓐ', 26)) append_latin(out, value, 'a');
            return;
        case NumberShape::HangulSyllable: append_cycled(out, value, kHangulSyllables); return;
        case NumberShape::CircledHangulSyllable:
            if (!append_circled(out, value, U'㉮', 14)) append_cycled(out, value, kHangulSyllables);
            return;
        case NumberShape::HangulJamo: append_cycled(out, value, kHangulJamo); return;
        case NumberShape::CircledHangulJamo:
            if (!append_circled(out, value, U'㉠', 14)) append_cycled(out, value, kHangulJamo);
            return;
        case NumberShape::HangulNumeral:
            if (value > kMaxSpeltNumeral) break;
            append_spelt(out, value, kHangulNumerals, kHangulUnits);
            return;
        case NumberShape::CircledIdeograph:
            if (append_circled(out, value, U'㊀', 10)) return;
            [[fallthrough]];
        case NumberShape::Ideograph:
            if (value > kMaxSpeltNumeral) break;
            append_spelt(out, value, kIdeographNumerals, kIdeographUnits);
            return;
        case NumberShape::HangulStem: append_cycled(out, value, kHangulStems); return;
        case NumberShape::IdeographStem: append_cycled(out, value, kIdeographStems); return;
    }
    append_digits(out, value);
}

std::uint32_t AutoNumbers::next(AutoNumberKind kind, std::uint32_t stored) noexcept {
    std::uint32_t& last = last_[static_cast<std::size_t>(kind) % AUTO_NUMBER_KINDS];
    last = stored != 0 ? stored : last + 1;
    return last;
}

void AutoNumbers::restart(AutoNumberKind kind, std::uint32_t number) noexcept {
    last_[static_cast<std::size_t>(kind) % AUTO_NUMBER_KINDS] = number == 0 ? 0 : number - 1;
}

}  // namespace marlune
