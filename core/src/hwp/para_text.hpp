// Decoding of HWPTAG_PARA_TEXT payloads: UTF-16LE code units in which the
// values below 32 are control codes of one or eight units.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "container/utf8.hpp"

namespace marlune {

// Control codes (units below 32) by width: inline and extended controls
// span eight code units, char controls one. Each extended control has a
// control header record of its own after the text, in text order.
inline constexpr std::uint32_t INLINE_CONTROLS = 0x001803F0;
inline constexpr std::uint32_t EXTENDED_CONTROLS = 0x00E7D80E;
inline constexpr std::size_t WIDE_CONTROL_BYTES = 16;
inline constexpr std::uint16_t FIELD_END = 4;

constexpr bool is_wide_control(std::uint16_t unit) noexcept {
    return unit < 32 && (((INLINE_CONTROLS | EXTENDED_CONTROLS) >> unit) & 1U) != 0;
}

constexpr bool is_extended_control(std::uint16_t unit) noexcept {
    return unit < 32 && ((EXTENDED_CONTROLS >> unit) & 1U) != 0;
}

// Placeholder character around the number of a lifted click-here field.
inline constexpr char32_t FIELD_MARK = 0xE000;
inline constexpr std::string_view FIELD_MARK_UTF8 = "\xEE\x80\x80";

struct ParagraphText {
    std::string text;                      // with one placeholder per lifted field
    std::vector<std::string> field_texts;  // entry n belongs to placeholder n
};

// Plain decoding: every control code vanishes except the layout characters
// (tab, line break, the two special spaces), which yield their plain forms.
std::string decode_para_text(std::span<const std::uint8_t> payload);

// decode_para_text, appending to out.
void append_para_text(std::string& out, std::span<const std::uint8_t> payload);

// As decode_para_text, but the text of each click-here field is lifted out
// and replaced by FIELD_MARK, its number, FIELD_MARK.
ParagraphText decode_para_text_with_fields(std::span<const std::uint8_t> payload);

}  // namespace marlune
