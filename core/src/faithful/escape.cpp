// Escaping, table-driven: one lookup per byte says which set may escape it;
// runs of other bytes are copied whole, and sixteen- and eight-byte blocks
// holding none of the active sets' marks are passed over at once.
#include "faithful/escape.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

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

// Sixteen or eight bytes compared at once (SSE2 or NEON, through the
// compiler's vector extension).
using Bytes16 = std::uint8_t __attribute__((vector_size(16)));
using Bytes8 = std::uint8_t __attribute__((vector_size(8)));

// All ones in each byte equal to c.
template <class Bytes>
Bytes bytes_equal(const Bytes& bytes, char c) noexcept {
    return std::bit_cast<Bytes>(bytes == static_cast<std::uint8_t>(c));
}

// Whether the bytes of text from k, as many as Bytes holds, hold a mark of
// the sets.
template <class Bytes>
bool holds_mark(std::string_view text, std::size_t k, unsigned sets) noexcept {
    Bytes bytes;
    std::memcpy(&bytes, text.substr(k, sizeof bytes).data(), sizeof bytes);
    Bytes hits = {};
    if ((sets & Html) != 0) hits |= bytes_equal(bytes, '<') | bytes_equal(bytes, '&');
    if ((sets & Pipe) != 0) hits |= bytes_equal(bytes, '|');
    if ((sets & Brackets) != 0) hits |= bytes_equal(bytes, '[') | bytes_equal(bytes, ']');
    const auto words = std::bit_cast<std::array<std::uint64_t, sizeof(Bytes) / 8>>(hits);
    return std::ranges::any_of(words, [](std::uint64_t word) { return word != 0; });
}

// The offset of the first eight-byte word from k on that may hold a mark of
// the sets, or of the tail shorter than a word: sixteen bytes at a time,
// then eight.
std::size_t skip_plain_words(std::string_view text, std::size_t k, unsigned sets) noexcept {
    while (text.size() - k >= sizeof(Bytes16) && !holds_mark<Bytes16>(text, k, sets)) k += sizeof(Bytes16);
    while (text.size() - k >= sizeof(Bytes8) && !holds_mark<Bytes8>(text, k, sets)) k += sizeof(Bytes8);
    return k;
}

}  // namespace

void append_text(std::string& out, std::string_view text, unsigned sets) {
    std::size_t plain = 0;  // start of the text not yet copied
    std::size_t k = 0;
    while (k < text.size()) {
        k = skip_plain_words(text, k, sets);
        const std::size_t word_end = std::min(text.size(), k + sizeof(std::uint64_t));
        for (; k < word_end; ++k) {
            if ((kTextTable[static_cast<unsigned char>(text[k])] & sets) == 0) continue;
            const std::string_view escaped = replacement(text, k);
            if (escaped.empty()) continue;
            out.append(text.substr(plain, k - plain));
            out.append(escaped);
            plain = k + 1;
        }
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
