// Decoding of HWPTAG_PARA_TEXT payloads: UTF-16LE code units in which the
// values below 32 are control codes of one or eight units.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace marlune {

// Placeholder character around the number of a lifted click-here field.
inline constexpr char32_t FIELD_MARK = 0xE000;
inline constexpr std::string_view FIELD_MARK_UTF8 = "\xEE\x80\x80";

struct ParagraphText {
    std::string text;                      // with one placeholder per lifted field
    std::vector<std::string> field_texts;  // entry n belongs to placeholder n
};

// Appends the UTF-8 encoding of a scalar value.
void append_utf8(std::string& out, char32_t c);

// Plain decoding: every control code vanishes except the layout characters
// (tab, line break, the two special spaces), which yield their plain forms.
std::string decode_para_text(std::span<const std::uint8_t> payload);

// As decode_para_text, but the text of each click-here field is lifted out
// and replaced by FIELD_MARK, its number, FIELD_MARK.
ParagraphText decode_para_text_with_fields(std::span<const std::uint8_t> payload);

}  // namespace marlune
