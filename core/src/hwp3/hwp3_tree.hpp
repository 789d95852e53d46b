// The HWP 3.0 reader: a 3.x file's bytes to the document tree.
#pragma once

#include <cstdint>
#include <span>

#include "marlune/faithful.hpp"
#include "marlune/tree.hpp"

namespace marlune {

// The file's body as one tree, with its summary as metadata and, when the
// options ask, the embedded pictures' bytes. Fails only where the header
// fails (signature, length, password) or the body does not inflate.
Result<tree::Document> build_hwp3_tree(std::span<const std::uint8_t> bytes, const ConvertOptions& options);

}  // namespace marlune
