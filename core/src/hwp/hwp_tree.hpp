// The faithful walk of an HWP 5.0 document: its sections' records to the
// document tree.
#pragma once

#include "hwp/document.hpp"
#include "marlune/faithful.hpp"
#include "marlune/tree.hpp"

namespace marlune {

// Every readable section of the open document as one tree; metadata and,
// when the options ask, the pictures' bytes included. Fails only where the
// file header fails.
Result<tree::Document> build_hwp_tree(const Document& document, const ConvertOptions& options);

}  // namespace marlune
