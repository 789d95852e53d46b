// Escaping for the places the faithful renderer writes text: body text and
// table cells (only what an HTML reader would take for markup), pipe cells
// (also "|"), link and picture texts (also brackets) and link targets.
#pragma once

#include <string>
#include <string_view>

namespace marlune::escape {

// What to escape, combined as bits.
enum Set : unsigned {
    Html = 1U,      // "<" before a letter, "/", "!" or "?"; "&" before a letter or "#"
    Pipe = 2U,      // "|" as "\|", inside pipe-table cells
    Brackets = 4U,  // "[" and "]" as "\[" and "\]", inside link and picture texts
};

// Appends text with the characters of the given sets escaped.
void append_text(std::string& out, std::string_view text, unsigned sets);

// Appends a link target with the bytes that would end or break a Markdown
// link (space, parentheses, angle brackets, "|", control characters)
// percent-encoded.
void append_target(std::string& out, std::string_view target);

}  // namespace marlune::escape
