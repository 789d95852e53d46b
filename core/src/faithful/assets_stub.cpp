// Placeholders for DocInfo, binary items and summary information until
// their readers land: everything reads as absent.
#include "faithful/bin_data.hpp"
#include "faithful/doc_info.hpp"
#include "faithful/summary_info.hpp"

namespace marlune {

std::string BinDataEntry::stream_name() const { return {}; }

DocInfo read_doc_info(const Document&, bool) { return {}; }

std::string_view sniff_media_type(std::span<const std::uint8_t>, std::string_view) noexcept {
    return "application/octet-stream";
}

std::optional<tree::BinaryItem> read_binary_item(const Document&, const BinDataEntry&, bool) { return std::nullopt; }

void read_summary_properties(std::span<const std::uint8_t>, tree::Metadata&) {}

void read_summary_info(const Document&, tree::Metadata&) {}

}  // namespace marlune
