// The faithful renderer: a document tree to Markdown, tables laid out by
// their cells' addresses.
#pragma once

#include <string>

#include "marlune/faithful.hpp"
#include "marlune/tree.hpp"

namespace marlune {

std::string render_tree(const tree::Document& document, const ConvertOptions& options);

}  // namespace marlune
