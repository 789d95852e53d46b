// The DocInfo stream of an HWP 5.0 document, as far as the faithful walk
// needs it: the binary items (pictures) and the paragraph shapes' outline
// levels.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "marlune/document.hpp"

namespace marlune {

// One HWPTAG_BIN_DATA record.
struct BinDataEntry {
    enum class Kind : std::uint8_t { Link, Embedding, Storage };
    Kind kind = Kind::Embedding;
    std::uint16_t id = 0;      // the item's BinData id (pictures refer to it)
    std::string extension;     // "jpg", as stored (may be empty)
    // 0: as the document (compressed when the file header says so),
    // 1: compressed, 2: stored as is.
    std::uint8_t compression = 0;

    // The stream name under /BinData: "BIN" + id in four upper-case hex
    // digits + "." + extension ("BIN0001.jpg"); empty for a link.
    std::string stream_name() const;
};

struct DocInfo {
    std::vector<BinDataEntry> bin_data;  // in record order; a picture's id 1 is entry 0
    // Per paragraph shape id: 0 for body text, n + 1 for outline level n
    // (heading type "outline" in the shape's properties).
    std::vector<std::uint8_t> outline_levels;
};

// Collects the entries from DocInfo's record stream (already inflated).
DocInfo parse_doc_info(std::span<const std::uint8_t> records);

// Reads /DocInfo (inflated when compressed). Lenient: a missing or damaged
// stream gives an empty DocInfo, never an error.
DocInfo read_doc_info(const Document& document, bool compressed);

}  // namespace marlune
