// Binary items: reading a picture's bytes from the BinData storage.
#include "hwp/bin_data.hpp"

#include <string>

#include "container/media_type.hpp"

namespace marlune {

namespace {

// Whether the item is stored deflated: by its own flag, or as the document's
// sections are when it defers to the document.
bool stored_compressed(const BinDataEntry& entry, bool document_compressed) noexcept {
    return entry.compression == 1 || (entry.compression == 0 && document_compressed);
}

// The item's content. An item marked compressed that does not inflate is
// still taken as stored when its bytes announce a picture (some writers set
// the flag on pictures they left as they were).
std::optional<ByteBuffer> item_content(ByteBuffer stored, bool compressed) {
    if (!compressed) return stored;
    auto inflated = inflate_raw(stored);
    if (inflated) return std::move(*inflated);
    if (media_type_by_magic(stored).starts_with("image/")) return stored;
    return std::nullopt;
}

}  // namespace

std::optional<tree::BinaryItem> binary_item_from_stream(const BinDataEntry& entry, ByteBuffer stored,
                                                       bool document_compressed) {
    const auto content = item_content(std::move(stored), stored_compressed(entry, document_compressed));
    if (!content) return std::nullopt;
    tree::BinaryItem item;
    item.name = entry.stream_name();
    item.media_type = sniff_media_type(*content, entry.extension);
    item.data.assign(reinterpret_cast<const char*>(content->data()), content->size());
    return item;
}

std::optional<tree::BinaryItem> read_binary_item(const Document& document, const BinDataEntry& entry,
                                                 bool document_compressed) {
    const std::string name = entry.stream_name();
    if (name.empty()) return std::nullopt;
    auto stored = document.read_stream("/BinData/" + name);
    if (!stored) return std::nullopt;
    return binary_item_from_stream(entry, std::move(*stored), document_compressed);
}

}  // namespace marlune
