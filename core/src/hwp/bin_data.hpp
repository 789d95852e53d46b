// Binary items (pictures) stored in an HWP 5.0 document's BinData storage.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "hwp/doc_info.hpp"
#include "hwp/document.hpp"
#include "marlune/tree.hpp"

namespace marlune {

// The item from its stream's stored bytes, inflated when the entry or the
// document says it is compressed; nothing when they do not inflate and do
// not announce a picture by their first bytes either.
std::optional<tree::BinaryItem> binary_item_from_stream(const BinDataEntry& entry, ByteBuffer stored,
                                                       bool document_compressed);

// The item's bytes (inflated when it is stored compressed), name and media
// type; nothing when the stream is missing or damaged.
std::optional<tree::BinaryItem> read_binary_item(const Document& document, const BinDataEntry& entry,
                                                 bool document_compressed);

}  // namespace marlune
