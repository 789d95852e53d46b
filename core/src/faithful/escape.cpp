// Escaping, table-driven: one lookup per byte says which set may escape it;
// runs of other bytes are copied whole.
#include "faithful/escape.hpp"

#include <array>
#include <cstdint>

namespace marlune::escape {

namespace {

constexpr std::array<std::uint8_t, 256> make_text_table() {
    std::array<std::uint8_t, 256> table{};
    table['<'] = Html;
    table['&'] = Html;
    table['|'] = Pipe;
    table['['] = Brackets;
    table[']'] = Brackets;
    return table;
}

constexpr std::array<bool, 256> make_target_table() {
    std::array<bool, 256> table{};
    for (unsigned c = 0; c <= 0x20; ++c) table[c] = true;
    for (const char c : std::string_view("()<>|\x7F")) table[static_cast<unsigned char>(c)] = true;
    return table;
}

constexpr auto kTextTable = make_text_table();
constexpr auto kTargetTable = make_target_table();

bool is_ascii_letter(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// An HTML reader takes "<" for a tag, comment or declaration only before
// these, and "&" for a character reference only before a name or "#".
bool starts_markup(char mark, char next) noexcept {
    if (mark == '<') return is_ascii_letter(next) || next == '/' || next == '!' || next == '?';
    return is_ascii_letter(next) || next == '#';
}

// The escaped form of text[k], or empty when it stays as it is.
std::string_view replacement(std::string_view text, std::size_t k) noexcept {
    switch (text[k]) {
        case '<':
        case '&': {
            if (k + 1 >= text.size() || !starts_markup(text[k], text[k + 1])) return {};
            return text[k] == '<' ? "&lt;" : "&amp;";
        }
        case '|': return "\\|";
        case '[': return "\\[";
        case ']': return "\\]";
        default: return {};
    }
}

}  // namespace

void append_text(std::string& out, std::string_view text, unsigned sets) {
    std::size_t plain = 0;  // start of the text not yet copied
    for (std::size_t k = 0; k < text.size(); ++k) {
        if ((kTextTable[static_cast<unsigned char>(text[k])] & sets) == 0) continue;
        const std::string_view escaped = replacement(text, k);
        if (escaped.empty()) continue;
        out.append(text.substr(plain, k - plain));
        out.append(escaped);
        plain = k + 1;
    }
    out.append(text.substr(plain));
}

void append_target(std::string& out, std::string_view target) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::size_t plain = 0;
    for (std::size_t k = 0; k < target.size(); ++k) {
        const auto byte = static_cast<unsigned char>(target[k]);
        if (!kTargetTable[byte]) continue;
        out.append(target.substr(plain, k - plain));
        out.push_back('%');
        out.push_back(kHex[byte >> 4]);
        out.push_back(kHex[byte & 0xF]);
        plain = k + 1;
    }
    out.append(target.substr(plain));
}

}  // namespace marlune::escape
