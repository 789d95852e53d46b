// Escaping, table-driven: one lookup per byte says which set may escape it;
// runs of other bytes are copied whole, and eight-byte words holding none
// of the active sets' marks are passed over at once.
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

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// Whether a byte of the word is c: the zero-byte test on word ^ c in every
// byte (it has no false negatives, and its false positives only send the
// word to the byte-wise check).
bool has_byte(std::uint64_t word, unsigned char c) noexcept {
    const std::uint64_t x = word ^ (kOnes * c);
    return ((x - kOnes) & ~x & kHighBits) != 0;
}

bool may_hold_mark(std::uint64_t word, unsigned sets) noexcept {
    return ((sets & Html) != 0 && (has_byte(word, '<') || has_byte(word, '&'))) ||
           ((sets & Pipe) != 0 && has_byte(word, '|')) ||
           ((sets & Brackets) != 0 && (has_byte(word, '[') || has_byte(word, ']')));
}

// Sixteen bytes compared at once (SSE2 or NEON, through the compiler's
// vector extension).
using Block = std::uint8_t __attribute__((vector_size(16)));
using BlockWords = std::uint64_t __attribute__((vector_size(16)));

// All ones in each byte equal to c.
Block bytes_equal(const Block& block, char c) noexcept {
    return std::bit_cast<Block>(block == static_cast<std::uint8_t>(c));
}

bool block_holds_mark(const Block& block, unsigned sets) noexcept {
    Block hits = {};
    if ((sets & Html) != 0) hits |= bytes_equal(block, '<') | bytes_equal(block, '&');
    if ((sets & Pipe) != 0) hits |= bytes_equal(block, '|');
    if ((sets & Brackets) != 0) hits |= bytes_equal(block, '[') | bytes_equal(block, ']');
    const auto words = std::bit_cast<BlockWords>(hits);
    return (words[0] | words[1]) != 0;
}

// The offset of the first eight-byte word from k on that may hold a mark of
// the sets, or of the tail shorter than a word: sixteen bytes at a time,
// then eight.
std::size_t skip_plain_words(std::string_view text, std::size_t k, unsigned sets) noexcept {
    for (; text.size() - k >= sizeof(Block); k += sizeof(Block)) {
        Block block;
        std::memcpy(&block, text.substr(k, sizeof block).data(), sizeof block);
        if (block_holds_mark(block, sets)) break;
    }
    for (; text.size() - k >= sizeof(std::uint64_t); k += sizeof(std::uint64_t)) {
        std::uint64_t word;
        std::memcpy(&word, text.substr(k, sizeof word).data(), sizeof word);
        if (may_hold_mark(word, sets)) break;
    }
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
