// The paragraph lists of an HWP 3.0 body to blocks of the document tree:
// each paragraph's header, shapes and line information passed over, its
// characters decoded, its special characters (tables, pictures, notes,
// headers and footers, hidden comments) read where they stand with the
// paragraph lists they hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "marlune/faithful.hpp"
#include "marlune/tree.hpp"

namespace marlune::hwp3 {

// Lists nested deeper than this are passed over.
inline constexpr std::uint32_t MAX_LIST_DEPTH = 24;

// A hypertext's link target until the hyperlink block is read: a NUL, then
// the hypertext's number in document order.
std::string hyperlink_placeholder(std::uint32_t index);

// What the walk saw besides the tree.
struct WalkSummary {
    std::size_t end = 0;            // where the body's paragraph list ended
    std::uint32_t unmapped = 0;     // characters with no Unicode character
    bool complete = false;          // the list ended with its closing paragraph
};

// Reads the paragraph list that starts at offset into document.body (notes,
// headers and footers into their own lists). A picture's Image::name holds
// the name it is stored under in the extra blocks, a hypertext's Link::target
// a placeholder, for the caller to resolve.
WalkSummary walk_body(std::span<const std::uint8_t> body, std::size_t offset, const ConvertOptions& options,
                      tree::Document& document);

}  // namespace marlune::hwp3
