// The HWPX reader: a zip package of OWPML XML parts to the document tree.
#pragma once

#include <cstdint>
#include <span>

#include "marlune/faithful.hpp"
#include "marlune/tree.hpp"

namespace marlune {

// The package's sections in spine order as one tree, with metadata and,
// when the options ask, the pictures' bytes.
Result<tree::Document> build_hwpx_tree(std::span<const std::uint8_t> bytes, const ConvertOptions& options);

}  // namespace marlune
