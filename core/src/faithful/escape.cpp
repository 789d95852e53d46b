// Escaping, table-driven: one lookup per byte says which set may act on it;
// runs of other bytes are copied whole, and sixteen- and eight-byte blocks
// holding none of the active sets' marks are passed over at once. A mark
// found is judged by CommonMark's rule for its position (its neighbours,
// its run, the start of its line) and, in Markdown, given a backslash only
// when the rule would read it as markup.
#include "faithful/escape.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace marlune::escape {

namespace {

constexpr unsigned kAllSets = Markdown | LineStarts | HeadingEnd | Pipe | Brackets | Html;

constexpr std::array<std::uint8_t, 256> make_mark_table() {
    std::array<std::uint8_t, 256> table{};
    for (const char c : std::string_view("\\`*_~")) table[static_cast<unsigned char>(c)] = Markdown;
    table['['] = Markdown | Brackets;
    table[']'] = Markdown | Brackets;
    table['<'] = Markdown | Html;
    table['&'] = Markdown | Html;
    table['\n'] = LineStarts;
    table['\r'] = kAllSets;  // a line ending to CommonMark and HTML alike: written as a line feed
    table['#'] = HeadingEnd;
    table['|'] = Pipe;
    return table;
}

constexpr auto kMarks = make_mark_table();

bool is_ascii_letter(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_ascii_digit(char c) noexcept { return c >= '0' && c <= '9'; }
bool is_ascii_alnum(char c) noexcept { return is_ascii_letter(c) || is_ascii_digit(c); }
bool is_blank_byte(char c) noexcept { return c == ' ' || c == '\t'; }
bool is_line_end(char c) noexcept { return c == '\n' || c == '\r'; }

bool is_ascii_punctuation(char c) noexcept {
    return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') || (c >= '{' && c <= '~');
}

// CommonMark's white space as far as it is sure: the ASCII ones.
bool is_space(char32_t c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Letters that are neither punctuation nor white space in any Unicode
// version: ASCII letters and digits, Hangul syllables and jamo, CJK
// ideographs.
bool is_word(char32_t c) noexcept {
    if (c < 0x80) return is_ascii_alnum(static_cast<char>(c));
    return (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0x1100 && c <= 0x11FF) || (c >= 0x3131 && c <= 0x318E) ||
           (c >= 0x4E00 && c <= 0x9FFF);
}

Kind kind_of(char32_t c) noexcept {
    if (is_space(c)) return Kind::Space;
    if (is_word(c)) return Kind::Word;
    return c < 0x80 && is_ascii_punctuation(static_cast<char>(c)) ? Kind::Punct : Kind::Other;
}

// The code point whose UTF-8 sequence starts at text[k]; U+FFFD when the
// sequence is cut short (the kind is all that is asked of it).
char32_t code_point_at(std::string_view text, std::size_t k) noexcept {
    const auto lead = static_cast<std::uint8_t>(text[k]);
    if (lead < 0x80) return lead;
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (lead < 0xC0 || text.size() - k < length) return 0xFFFD;
    char32_t point = lead & (0x7FU >> length);
    for (std::size_t i = 1; i < length; ++i) point = (point << 6) | (static_cast<std::uint8_t>(text[k + i]) & 0x3FU);
    return point;
}

// The code point whose sequence ends just before text[k] (k > 0).
char32_t code_point_before(std::string_view text, std::size_t k) noexcept {
    std::size_t start = k - 1;
    while (start > 0 && k - start < 4 && (static_cast<std::uint8_t>(text[start]) & 0xC0) == 0x80) --start;
    return code_point_at(text, start);
}

// Whether text[k] ('&') starts what could be a character reference: an
// optional '#', then letters and digits, then ';'. Running out of text
// before the ';', follows decides (unknown: true).
bool starts_reference(std::string_view text, std::size_t k, char follows) noexcept {
    constexpr std::size_t kLongestName = 40;  // every HTML entity name and numeric form is shorter
    std::size_t j = k + 1;
    if (j < text.size() && text[j] == '#') ++j;
    const std::size_t name = j;
    while (j < text.size() && j - name <= kLongestName && is_ascii_alnum(text[j])) ++j;
    if (j >= text.size()) return follows == kUnknown || (follows == ';' && j > name);
    return text[j] == ';' && j > name;
}

// Parentheses a link destination may hold unescaped: balanced, and not
// nested deeper than readers follow.
bool parentheses_balanced(std::string_view target) noexcept {
    constexpr int kDeepest = 16;
    int depth = 0;
    for (const char c : target) {
        if (c == '(' && ++depth > kDeepest) return false;
        if (c == ')' && --depth < 0) return false;
    }
    return depth == 0;
}

void append_percent(std::string& out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out.push_back('%');
    out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 0xF]);
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

// All ones in each byte from low to high.
template <class Bytes>
Bytes bytes_between(const Bytes& bytes, char low, char high) noexcept {
    const auto offset = static_cast<std::uint8_t>(high - low);
    return std::bit_cast<Bytes>(static_cast<Bytes>(bytes - static_cast<std::uint8_t>(low)) <= offset);
}

// Whether the bytes of text from k, as many as Bytes holds, hold a mark of
// the sets ("[" to "`" taken as one range: "^" costs only a lookup).
template <class Bytes>
bool holds_mark(std::string_view text, std::size_t k, unsigned sets) noexcept {
    Bytes bytes;
    std::memcpy(&bytes, text.substr(k, sizeof bytes).data(), sizeof bytes);
    Bytes hits = bytes_equal(bytes, '\r');
    if ((sets & Markdown) != 0) {
        hits |= bytes_between(bytes, '[', '`') | bytes_equal(bytes, '*') | bytes_equal(bytes, '~') |
                bytes_equal(bytes, '<') | bytes_equal(bytes, '&');
    }
    if ((sets & Html) != 0) hits |= bytes_equal(bytes, '<') | bytes_equal(bytes, '&');
    if ((sets & LineStarts) != 0) hits |= bytes_equal(bytes, '\n');
    if ((sets & HeadingEnd) != 0) hits |= bytes_equal(bytes, '#');
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

// A line holding only these could be a thematic break, a setext underline
// or a table's delimiter row.
bool is_rule_character(char c) noexcept {
    return c == '-' || c == '_' || c == '*' || c == '=' || c == ':' || c == '|' || is_blank_byte(c);
}

// One piece of text being escaped: what is copied, what is judged.
struct Escaper {
    std::string& out;
    std::string_view text;
    Flow& flow;
    char follows;  // the character after the text, kUnknown or kBlockEnd
    std::size_t plain = 0;                           // start of the text not yet copied
    std::size_t prefixed = std::string_view::npos;   // the last position given a backslash
    std::size_t line_begin = 0;                      // where the current line starts in text
    bool line_began_here = false;                    // a line break of this text started it

    unsigned sets() const noexcept { return flow.sets; }

    void copy_to(std::size_t k) {
        out.append(text.substr(plain, k - plain));
        plain = k;
    }
    void backslash(std::size_t k) {
        if (prefixed == k) return;
        copy_to(k);
        out.push_back('\\');
        prefixed = k;
    }
    void replace(std::size_t k, std::string_view with) {
        copy_to(k);
        out.append(with);
        plain = k + 1;
    }

    Kind kind_before(std::size_t k) const noexcept {
        return k == 0 ? flow.before : kind_of(code_point_before(text, k));
    }
    // What follows text at j: a line's end when nothing follows the text,
    // else unknown.
    Kind kind_at(std::size_t j) const noexcept {
        if (j >= text.size()) return follows == kUnknown ? Kind::Other : kind_of(static_cast<unsigned char>(follows));
        return kind_of(code_point_at(text, j));
    }

    // The character at j, or what follows the text there.
    char at(std::size_t j) const noexcept { return j < text.size() ? text[j] : follows; }

    std::size_t run_end(std::size_t k) const noexcept {
        std::size_t j = k;
        while (j < text.size() && text[j] == text[k]) ++j;
        return j;
    }

    // Emphasis and strike-through need a run that opens them: a run of "*"
    // or "~" is left-flanking (not before white space, nor before
    // punctuation after a letter); a run of "_" also does not follow a
    // letter. Only such runs are escaped: with no opener left, a run that
    // could only close stays as it is.
    std::size_t emphasis_run(std::size_t k) {
        const std::size_t end = run_end(k);
        const Kind before = kind_before(k);
        const Kind after = kind_at(end);
        const bool left_flanking = after != Kind::Space && !(after == Kind::Punct && before == Kind::Word);
        const bool opens = left_flanking && !(text[k] == '_' && before == Kind::Word);
        if (opens) {
            for (std::size_t i = k; i < end; ++i) backslash(i);
        }
        return end;
    }

    // A backslash is literal only before a letter, a digit or a character
    // beyond ASCII; before punctuation it escapes, before a line end it
    // breaks the line, and at a table cell's end it would escape the pipe.
    bool backslash_is_literal(std::size_t k) const noexcept {
        const char next = at(k + 1);
        return is_ascii_alnum(next) || static_cast<unsigned char>(next) >= 0x80;
    }

    // "<" before these starts a tag, a comment, a declaration or an autolink.
    bool starts_tag(std::size_t k) const noexcept {
        const char next = at(k + 1);
        return next == kUnknown || is_ascii_letter(next) || next == '/' || next == '?' || next == '!';
    }

    // Before a letter (or where unknown) the "<" takes the backslash;
    // before "/", "!" or "?" the character after it does: a backslash just
    // after a bare URL would be taken into the URL by GFM's autolinks.
    std::size_t angle_bracket(std::size_t k) {
        if (k + 1 < text.size() && !is_ascii_letter(text[k + 1])) {
            backslash(k + 1);
            return k + 2;
        }
        backslash(k);
        return k + 1;
    }

    // "[" opens a note reference ("[^1]", "^[...]"); a link needs a "]"
    // followed by "(", which is escaped instead.
    bool opens_link(std::size_t k) const noexcept {
        if ((sets() & Brackets) != 0) return true;
        if (at(k + 1) == kUnknown || at(k + 1) == '^') return true;
        return k == 0 ? flow.before != Kind::Space : text[k - 1] == '^';
    }

    bool closes_link(std::size_t k) const noexcept {
        if ((sets() & Brackets) != 0) return true;
        const char next = at(k + 1);
        return next == kUnknown || next == '(' || next == '[';
    }

    // In an HTML reader "&" starts a reference before a letter or "#",
    // with or without the closing ";".
    bool starts_html_reference(std::size_t k) const noexcept {
        const char next = at(k + 1);
        return next == kUnknown || is_ascii_letter(next) || next == '#';
    }

    // A run of "#" ending a heading's text, after white space, would be
    // read as its closing sequence.
    std::size_t heading_end(std::size_t k) {
        const std::size_t end = run_end(k);
        const bool closing = kind_before(k) == Kind::Space &&
                             text.find_first_not_of(" \t\n\r", end) == std::string_view::npos;
        if (closing) backslash(k);
        return end;
    }

    // Whether the line from q (to its end, or the text's end) holds only
    // characters of a rule line; stops at the first other one.
    bool rule_line_from(std::size_t q) const noexcept {
        for (std::size_t j = q; j < text.size() && !is_line_end(text[j]); ++j) {
            if (!is_rule_character(text[j])) return false;
        }
        return true;
    }

    // Whether "[" at q could open a definition: its label closes with "]:"
    // on this line, or runs past what is known of it.
    bool definition_from(std::size_t q) const noexcept {
        for (std::size_t j = q + 1; j < text.size() && !is_line_end(text[j]); ++j) {
            if (text[j] != ']') continue;
            return at(j + 1) == kUnknown || at(j + 1) == ':';
        }
        return true;
    }

    // Where a block marker stands at the line's first non-blank character
    // q: the position to escape, or npos. The text's end counts as the
    // line's end (what follows is unknown).
    std::size_t block_marker(std::size_t q) const noexcept {
        constexpr std::size_t none = std::string_view::npos;
        const auto ends_marker = [&](std::size_t j) {
            return j >= text.size() || is_blank_byte(text[j]) || is_line_end(text[j]);
        };
        const auto count = [&](char c) {
            std::size_t j = q;
            while (j < text.size() && text[j] == c) ++j;
            return j - q;
        };
        switch (text[q]) {
            case '>': return q;                                       // block quote
            case '[': return definition_from(q) ? q : none;           // link reference or note definition
            case '#': return count('#') <= 6 && ends_marker(q + count('#')) ? q : none;
            case '+': return ends_marker(q + 1) ? q : none;           // list item
            case '-':
            case '*':
                if (ends_marker(q + 1)) return q;  // list item
                [[fallthrough]];
            case '_':
            case '=':
            case ':':
            case '|': return rule_line_from(q) ? q : none;
            case '~': return count('~') >= 3 ? q : none;  // code fence
            default: break;
        }
        std::size_t end = q;
        while (end < text.size() && end - q < 10 && is_ascii_digit(text[end])) ++end;
        if (end == q || end - q > 9 || end >= text.size()) return none;
        const bool ordered_item = (text[end] == '.' || text[end] == ')') && ends_marker(end + 1);
        return ordered_item ? end : none;
    }

    // A line starting at p: a block marker on it escaped; after a blank
    // line its indentation dropped (it would make a code block). Returns
    // where scanning goes on.
    std::size_t line_start(std::size_t p, bool after_blank) {
        line_begin = p;
        std::size_t q = p;
        while (q < text.size() && is_blank_byte(text[q])) ++q;
        if (after_blank && q > p) {
            copy_to(p);
            plain = q;
        }
        if (q < text.size() && !is_line_end(text[q])) {
            const std::size_t marker = block_marker(q);
            if (marker != std::string_view::npos) backslash(marker);
        }
        return q;
    }

    // Whether the line that ends at k holds only white space.
    bool line_is_blank(std::size_t k) const noexcept {
        if (!line_began_here && !flow.line_start) return false;
        return text.substr(line_begin, k - line_begin).find_first_not_of(" \t") == std::string_view::npos;
    }

    std::size_t line_break(std::size_t k) {
        if ((sets() & LineStarts) == 0) return k + 1;
        const bool blank = line_is_blank(k);
        line_began_here = true;
        flow.after_blank = blank;
        return line_start(k + 1, blank);
    }

    std::size_t carriage_return(std::size_t k) {
        if (k + 1 < text.size() && text[k + 1] == '\n') {
            copy_to(k);
            plain = k + 1;
            return k + 1;
        }
        replace(k, "\n");
        return line_break(k);
    }

    std::size_t handle(std::size_t k) {
        const unsigned sets = flow.sets;
        const bool markdown = (sets & Markdown) != 0;
        switch (text[k]) {
            case '\\':
                if (!backslash_is_literal(k)) backslash(k);
                break;
            case '`': backslash(k); break;
            case '*':
            case '~':
            case '_': return emphasis_run(k);
            case '[':
                if (opens_link(k)) backslash(k);
                break;
            case ']':
                if (closes_link(k)) backslash(k);
                break;
            case '<':
                if (!starts_tag(k)) break;
                if ((sets & Html) != 0) {
                    replace(k, "&lt;");
                } else if (markdown) {
                    return angle_bracket(k);
                }
                break;
            case '&':
                if ((sets & Html) != 0) {
                    if (starts_html_reference(k)) replace(k, "&amp;");
                } else if (markdown && starts_reference(text, k, follows)) {
                    backslash(k);
                }
                break;
            case '#': return heading_end(k);
            case '|': backslash(k); break;
            case '\n': return line_break(k);
            case '\r': return carriage_return(k);
            default: break;
        }
        return k + 1;
    }

    // The flow as the text leaves it: read back from its end over blanks
    // only, so the text is not scanned again.
    void finish() {
        if (text.empty()) return;
        flow.before = kind_of(code_point_before(text, text.size()));
        std::size_t j = text.size();
        while (j > 0 && is_blank_byte(text[j - 1])) --j;
        if (j > 0) flow.line_start = is_line_end(text[j - 1]);
    }
};

}  // namespace

Kind first_kind(std::string_view text) noexcept { return text.empty() ? Kind::Space : kind_of(code_point_at(text, 0)); }

Kind last_kind(std::string_view text) noexcept {
    return text.empty() ? Kind::Space : kind_of(code_point_before(text, text.size()));
}

void append_text(std::string& out, std::string_view text, Flow& flow, char follows) {
    Escaper escaper{out, text, flow, follows};
    const unsigned sets = flow.sets;
    std::size_t k = 0;
    if ((sets & LineStarts) != 0 && flow.line_start) k = escaper.line_start(0, flow.after_blank);
    while (k < text.size()) {
        k = skip_plain_words(text, k, sets);
        const std::size_t word_end = std::min(text.size(), k + sizeof(std::uint64_t));
        while (k < word_end) {
            if ((kMarks[static_cast<unsigned char>(text[k])] & sets) == 0) {
                ++k;
            } else {
                k = escaper.handle(k);
            }
        }
    }
    escaper.copy_to(text.size());
    escaper.finish();
}

void append_text(std::string& out, std::string_view text, unsigned sets) {
    Flow flow{sets};
    append_text(out, text, flow, kBlockEnd);
}

void append_target(std::string& out, std::string_view target, unsigned sets) {
    const bool parentheses_inert = parentheses_balanced(target);
    std::size_t plain = 0;
    for (std::size_t k = 0; k < target.size(); ++k) {
        const char c = target[k];
        const auto byte = static_cast<unsigned char>(c);
        const bool percent = byte <= 0x20 || byte == 0x7F;
        const bool escaped = ((c == '(' || c == ')') && !parentheses_inert) || (c == '<' && k == 0) ||
                             (c == '\\' && (k + 1 == target.size() || is_ascii_punctuation(target[k + 1]))) ||
                             (c == '&' && starts_reference(target, k, ')')) || (c == '|' && (sets & Pipe) != 0);
        if (!percent && !escaped) continue;
        out.append(target.substr(plain, k - plain));
        if (percent) {
            append_percent(out, byte);
            plain = k + 1;
        } else {
            out.push_back('\\');
            plain = k;
        }
    }
    out.append(target.substr(plain));
}

void append_attribute(std::string& out, std::string_view value) {
    std::size_t plain = 0;
    for (std::size_t k = 0; k < value.size(); ++k) {
        const auto byte = static_cast<unsigned char>(value[k]);
        if (byte > 0x20 && byte != 0x7F && byte != '&' && byte != '"') continue;
        out.append(value.substr(plain, k - plain));
        if (byte == '&') {
            out += "&amp;";
        } else if (byte == '"') {
            out += "&quot;";
        } else {
            append_percent(out, byte);
        }
        plain = k + 1;
    }
    out.append(value.substr(plain));
}

void append_attribute_text(std::string& out, std::string_view text) {
    std::size_t plain = 0;
    for (std::size_t k = 0; k < text.size(); ++k) {
        std::string_view escaped;
        switch (text[k]) {
            case '&': escaped = "&amp;"; break;
            case '<': escaped = "&lt;"; break;
            case '"': escaped = "&quot;"; break;
            default: continue;
        }
        out.append(text.substr(plain, k - plain));
        out.append(escaped);
        plain = k + 1;
    }
    out.append(text.substr(plain));
}

}  // namespace marlune::escape
