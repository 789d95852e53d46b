// Control characters kept out of the output. Damaged documents carry them
// in any string (paragraph text, equation scripts, field commands, property
// strings); a Markdown reader would show them as garbage or stop at them.
#pragma once

#include <string>

#include "marlune/tree.hpp"

namespace marlune {

// The text without C0 control characters: tab and line feed stay, a
// carriage return (alone or before a line feed) becomes one line feed,
// vertical tab and form feed become spaces, the others are dropped.
void clean_controls(std::string& text);

// clean_controls over every string of the tree, its metadata, numbering
// formats and bullets (picture names are made safe on their own).
void clean_tree_text(tree::Document& document);

}  // namespace marlune
