// The text a document tree holds, in pieces: what any rendering of the tree
// must let a reader see, for checking a rendering against its tree.
#pragma once

#include <string>
#include <vector>

#include "marlune/faithful.hpp"
#include "marlune/tree.hpp"

namespace marlune {

// Each paragraph's text (its runs and link texts, cut where a note mark
// stands) and each picture's caption, from the parts the options render:
// the body and its tables, notes when notes are on, page headers and
// footers when headers are on. Equation scripts are not text.
std::vector<std::string> tree_texts(const tree::Document& document, const ConvertOptions& options);

}  // namespace marlune
