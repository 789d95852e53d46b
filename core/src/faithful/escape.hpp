// Escaping for the places the faithful renderer writes text. In Markdown
// only what a CommonMark reader would take for markup at that position gets
// a backslash: emphasis and strike runs that could open, brackets
// that could make a link, "<" and "&" that could start a tag or a character
// reference, block markers at the start of a line. HTML text (HTML table
// cells) gets character references where an HTML reader would see markup.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace marlune::escape {

// What to escape, combined as bits.
enum Set : unsigned {
    Markdown = 1U,    // inline markup: backslashes, code, emphasis, strike, links, tags, references
    LineStarts = 2U,  // block markers at the start of a line: body text, where lines stay lines
    HeadingEnd = 4U,  // a run of "#" that would close an ATX heading
    Pipe = 8U,        // "|" as "\|", inside pipe-table cells
    Brackets = 16U,   // every "[" and "]", inside link texts and picture captions
    Html = 32U,       // "<" and "&" as "&lt;" and "&amp;" where an HTML reader sees markup
};

// What a character is to CommonMark's flanking rules, as far as the
// escaping needs to know: Space (white space, or a line's start or end),
// Word (a letter or digit) and Punct (ASCII punctuation) are only said when
// sure; Other covers symbols, other punctuation and anything unsure, and
// makes a mark escaped.
enum class Kind : std::uint8_t { Space, Word, Punct, Other };

// The state one paragraph's pieces hand on to the next: each piece of text
// is escaped knowing what was written before it.
struct Flow {
    unsigned sets = Markdown;
    bool line_start = true;   // nothing but white space since the block began or the last line break
    bool after_blank = false; // the line before this one held nothing but white space
    Kind before = Kind::Space;

    // Markup the renderer wrote itself (a link's brackets, a note mark).
    void markup() noexcept {
        line_start = false;
        before = Kind::Other;
    }
};

// What follows a piece of text: the next character written, the block's
// end, or unknown (a mark that depends on it is then escaped).
inline constexpr char kUnknown = '\0';
inline constexpr char kBlockEnd = '\n';

// What the first and the last character of text are to the flanking
// rules; Space for empty text.
Kind first_kind(std::string_view text) noexcept;
Kind last_kind(std::string_view text) noexcept;

// Appends text with what the flow's sets name escaped.
void append_text(std::string& out, std::string_view text, Flow& flow, char follows = kUnknown);

// The same for a block of one piece of text.
void append_text(std::string& out, std::string_view text, unsigned sets);

// Appends a Markdown link destination: space and control characters
// percent-encoded, parentheses escaped unless balanced, a leading "<", a
// backslash and a reference escaped; with Pipe, "|" as "\|".
void append_target(std::string& out, std::string_view target, unsigned sets = 0);

// Appends an HTML attribute value (between double quotes): space and
// control characters percent-encoded, '&' and '"' as references.
void append_attribute(std::string& out, std::string_view value);

// Appends text (a picture's description) as an HTML attribute value in
// double quotes: "&", "<" and '"' as character references.
void append_attribute_text(std::string& out, std::string_view text);

}  // namespace marlune::escape
