// UTF-8 text: encoding scalar values (directory names, paragraph text) and
// trimming white space.
#pragma once

#include <string>
#include <string_view>

namespace marlune {

// Appends the UTF-8 encoding of a scalar value.
inline void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        const char bytes[2] = {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
        out.append(bytes, 2);
    } else if (c < 0x10000) {
        const char bytes[3] = {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                               static_cast<char>(0x80 | (c & 0x3F))};
        out.append(bytes, 3);
    } else {
        const char bytes[4] = {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
                               static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
        out.append(bytes, 4);
    }
}

// Removal of characters with the Unicode White_Space property.
std::string_view trim(std::string_view text) noexcept;
std::string_view trim_end(std::string_view text) noexcept;
// Whether trim would leave nothing; reads only up to the first other character.
bool is_blank(std::string_view text) noexcept;

}  // namespace marlune
