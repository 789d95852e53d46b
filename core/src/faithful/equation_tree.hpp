// The small tree an equation script parses into: groups of items, each item
// a leaf (letters, a number, a symbol, text, a space) or a structure
// (scripts, a fraction, a root, a decoration, a fenced group, an array).
// Nodes live in one vector reused from equation to equation; children are
// indices, a group's items a linked list, so building allocates nothing
// once the vector has grown.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "faithful/equation_words.hpp"

namespace marlune::equation {

inline constexpr std::int32_t kNone = -1;

enum class NodeKind : std::uint8_t {
    Group,     // items first..last; rows and columns when it holds # or &
    Latex,     // text is LaTeX written as it is
    Letters,   // text is a variable's letters, written in font
    Number,    // text is digits, written in font
    Text,      // text shown as text (Korean, quoted)
    Private,   // text is one private-use character, written by its code
    Space,     // ~
    Thin,      // `
    Row,       // # inside a group or an array
    Column,    // & inside a group or an array
    Scripts,   // a = base, b = subscript, c = superscript
    Fraction,  // a = numerator, b = denominator; text: "over", "atop" or "choose"
    Root,      // a = degree (or none), b = radicand
    Accent,    // text = the command, a = what it decorates
    Fenced,    // text = left delimiter, extra = right delimiter, a = the group inside
    Array,     // a = the group of cells; detail = ArrayKind
    Boxed,     // a = what is boxed
};

struct Node {
    NodeKind kind = NodeKind::Group;
    Font font = Font::Italic;
    std::uint8_t detail = 0;
    bool big_operator = false;  // a Latex leaf whose limits may follow with from / to
    std::uint16_t height = 1;   // 1 for a leaf, one more than the tallest child
    std::string_view text;
    std::string_view extra;
    std::int32_t a = kNone;
    std::int32_t b = kNone;
    std::int32_t c = kNone;
    std::int32_t next = kNone;  // the next item of the group
    std::int32_t prev = kNone;  // the item before, in the group
};

// The script parsed into nodes (cleared first); returns the root group.
std::int32_t parse_script(std::string_view script, std::vector<Node>& nodes);

}  // namespace marlune::equation
