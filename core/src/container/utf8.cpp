// White space by the Unicode White_Space property, read from UTF-8 text.
#include "container/utf8.hpp"

#include <cstddef>

namespace marlune {

namespace {

bool is_white_space(char32_t c) noexcept {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

// Whether a sequence led by this byte can be white space: ASCII white
// space, or the lead byte of U+0085 and U+00A0 (0xC2), U+1680 (0xE1),
// U+2000 to U+205F (0xE2) and U+3000 (0xE3). Hangul and most other text
// is told apart on this byte alone, without decoding.
bool may_be_white_space(unsigned char lead) noexcept {
    if (lead < 0x80) return (lead >= 0x09 && lead <= 0x0D) || lead == 0x20;
    return lead == 0xC2 || (lead >= 0xE1 && lead <= 0xE3);
}

bool is_continuation(char byte) noexcept { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// The scalar value of the UTF-8 sequence text[start, start + length).
char32_t decode_utf8(std::string_view text, std::size_t start, std::size_t length) noexcept {
    const auto lead = static_cast<unsigned char>(text[start]);
    if (length == 1) return lead;
    char32_t c = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(text[start + k]) & 0x3F);
    return c;
}

std::size_t sequence_length(unsigned char lead) noexcept {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 0;
}

// Length of the leading white space of text.
std::size_t leading_white_space(std::string_view text) noexcept {
    std::size_t pos = 0;
    while (pos < text.size() && may_be_white_space(static_cast<unsigned char>(text[pos]))) {
        const std::size_t length = sequence_length(static_cast<unsigned char>(text[pos]));
        if (length == 0 || pos + length > text.size() || !is_white_space(decode_utf8(text, pos, length))) break;
        pos += length;
    }
    return pos;
}

}  // namespace

std::string_view trim_end(std::string_view text) noexcept {
    std::size_t end = text.size();
    while (end > 0) {
        std::size_t start = end - 1;
        while (start > 0 && end - start < 4 && is_continuation(text[start])) --start;
        if (!may_be_white_space(static_cast<unsigned char>(text[start]))) break;
        const std::size_t length = sequence_length(static_cast<unsigned char>(text[start]));
        if (length != end - start || !is_white_space(decode_utf8(text, start, length))) break;
        end = start;
    }
    return text.substr(0, end);
}

std::string_view trim(std::string_view text) noexcept { return trim_end(text.substr(leading_white_space(text))); }

bool is_blank(std::string_view text) noexcept { return leading_white_space(text) == text.size(); }

}  // namespace marlune
