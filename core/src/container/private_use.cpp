// The standard forms of private-use characters, from tables generated out
// of published mapping data (scripts/gen-private-use-tables.py names it).
#include "container/private_use.hpp"

#include <array>
#include <cstddef>

#include "container/utf8.hpp"

namespace marlune {

namespace {

#include "container/private_use_tables.inc"

// Symbol fonts put their codes 0x20..0xFF at U+F020..U+F0FF as well.
constexpr char32_t SYMBOL_AREA = 0xF000;

struct FaceName {
    std::string_view name;
    SymbolFont font;
};

constexpr std::array<FaceName, 5> SYMBOL_FACES{{
    {"symbol", SymbolFont::Symbol},
    {"wingdings", SymbolFont::Wingdings},
    {"wingdings 2", SymbolFont::Wingdings2},
    {"wingdings 3", SymbolFont::Wingdings3},
    {"webdings", SymbolFont::Webdings},
}};

bool equals_ignoring_case(std::string_view text, std::string_view lower) noexcept {
    if (text.size() != lower.size()) return false;
    for (std::size_t k = 0; k < text.size(); ++k) {
        const char c = text[k] >= 'A' && text[k] <= 'Z' ? static_cast<char>(text[k] - 'A' + 'a') : text[k];
        if (c != lower[k]) return false;
    }
    return true;
}

// The character the run's symbol font shows for c, or 0.
char32_t symbol_character(char32_t c, RunFonts fonts) noexcept {
    const bool area = c >= SYMBOL_AREA + SYMBOL_FIRST && c <= SYMBOL_AREA + 0xFF;
    const SymbolFont font = area ? fonts.area : fonts.latin;
    const char32_t code = area ? c - SYMBOL_AREA : c;
    if (font == SymbolFont::None || code < SYMBOL_FIRST || code > 0xFF) return 0;
    return SYMBOL_CHARACTERS[static_cast<std::size_t>(font) - 1][code - SYMBOL_FIRST];
}

// One scalar value from the UTF-8 at text[at]; its length in `length`, 0
// for a byte that starts no well-formed sequence.
char32_t decode_utf8(std::string_view text, std::size_t at, std::size_t& length) noexcept {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char lead = byte(0);
    length = 0;
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    std::size_t size = 0;
    char32_t c = 0;
    if (lead >= 0xC2 && lead < 0xE0) {
        size = 2;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        size = 3;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead < 0xF5) {
        size = 4;
        c = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - at < size) return 0;
    for (std::size_t k = 1; k < size; ++k) {
        if ((byte(k) & 0xC0) != 0x80) return 0;
        c = (c << 6) | (byte(k) & 0x3F);
    }
    length = size;
    return c;
}

}  // namespace

SymbolFont symbol_font(std::string_view face) noexcept {
    while (!face.empty() && face.front() == ' ') face.remove_prefix(1);
    while (!face.empty() && face.back() == ' ') face.remove_suffix(1);
    for (const FaceName& known : SYMBOL_FACES) {
        if (equals_ignoring_case(face, known.name)) return known.font;
    }
    return SymbolFont::None;
}

void append_standard(std::string& out, char32_t c, RunFonts fonts) {
    if (const char32_t symbol = symbol_character(c, fonts); symbol != 0) {
        append_utf8(out, symbol);
        return;
    }
    if (c >= OLD_HANGUL_FIRST && c <= OLD_HANGUL_LAST) {
        const auto& jamo = OLD_HANGUL_JAMO[c - OLD_HANGUL_FIRST];
        if (jamo[0] != 0) {
            for (const std::uint16_t unit : jamo) {
                if (unit != 0) append_utf8(out, unit);
            }
            return;
        }
    }
    append_utf8(out, c);
}

bool needs_standard_form(std::string_view utf8, RunFonts fonts) noexcept {
    if (fonts.any()) return !utf8.empty();
    // U+E000..U+F8FF: EE xx xx, or EF 80..A3 xx.
    for (std::size_t k = 0; k < utf8.size(); ++k) {
        const auto lead = static_cast<unsigned char>(utf8[k]);
        if (lead == 0xEE) return true;
        if (lead == 0xEF && k + 1 < utf8.size() && static_cast<unsigned char>(utf8[k + 1]) <= 0xA3) return true;
    }
    return false;
}

void append_standard_text(std::string& out, std::string_view utf8, RunFonts fonts) {
    std::size_t at = 0;
    while (at < utf8.size()) {
        std::size_t length = 0;
        const char32_t c = decode_utf8(utf8, at, length);
        if (length == 0) {
            out.push_back(utf8[at++]);  // not UTF-8: kept as it is
            continue;
        }
        const bool plain = c < 0xE000 || c > 0xF8FF;
        if (plain && (fonts.latin == SymbolFont::None || c > 0xFF)) {
            out.append(utf8.substr(at, length));
        } else {
            append_standard(out, c, fonts);
        }
        at += length;
    }
}

void standardize_tail(std::string& out, std::size_t from, RunFonts fonts) {
    if (from >= out.size() || !needs_standard_form(std::string_view(out).substr(from), fonts)) return;
    const std::string tail = out.substr(from);
    out.resize(from);
    append_standard_text(out, tail, fonts);
}

}  // namespace marlune
