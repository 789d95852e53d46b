// The faithful renderer: a document tree to Markdown, tables laid out by
// their cells' addresses.
#pragma once

#include <string>

#include "marlune/faithful.hpp"
#include "marlune/tree.hpp"

namespace marlune {

// The body's blocks are released as they are written, so that the tree and
// the Markdown are never both whole: the body is left empty.
std::string render_tree(tree::Document& document, const ConvertOptions& options);

}  // namespace marlune
