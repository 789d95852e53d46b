// The "\005HwpSummaryInformation" stream: an OLE property set holding the
// document's title, subject, author, keywords, comments, last author and
// times.
#pragma once

#include <cstdint>
#include <span>

#include "hwp/document.hpp"
#include "marlune/tree.hpp"

namespace marlune {

// Fills the properties the set holds into metadata; missing or malformed
// properties are left out, never an error.
void read_summary_properties(std::span<const std::uint8_t> stream, tree::Metadata& metadata);

// Reads the stream from the document, if it is there, into metadata.
void read_summary_info(const Document& document, tree::Metadata& metadata);

}  // namespace marlune
