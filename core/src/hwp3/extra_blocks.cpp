// Each block: a 32-bit id, a 32-bit length, that many bytes; id 0 with
// length 0 closes the list. A picture's block (id 1) starts with its name
// and its format, 16 bytes each, zero-padded; its data follows. The
// hyperlink block (id 3) holds 617 bytes per hypertext: the file it leads
// to (kchar[256], empty for this document), the bookmark (hchar[16]), a
// macro and the link's kind.
#include "hwp3/extra_blocks.hpp"

#include <algorithm>

#include "container/byte_reader.hpp"
#include "hwp3/hchar.hpp"

namespace marlune::hwp3 {

namespace {

constexpr std::uint32_t PICTURE_BLOCK = 1;
constexpr std::size_t PICTURE_NAME_BYTES = 16;
constexpr std::size_t PICTURE_HEADER_BYTES = 32;  // name and format
constexpr std::uint32_t HYPERLINK_BLOCK = 3;
constexpr std::size_t HYPERLINK_BYTES = 617;
constexpr std::size_t HYPERLINK_FILE_BYTES = 256;
constexpr std::size_t HYPERLINK_BOOKMARK_BYTES = 32;

// A hypertext's target: the file (or address) it names, else its bookmark.
std::string hyperlink_target(std::span<const std::uint8_t> entry, std::uint32_t& unmapped) {
    std::string file = kchar_text(entry.first(HYPERLINK_FILE_BYTES), unmapped);
    if (!file.empty()) return file;
    return hchar_text(entry.subspan(HYPERLINK_FILE_BYTES, HYPERLINK_BOOKMARK_BYTES), unmapped);
}

std::string_view padded_text(std::span<const std::uint8_t> bytes) {
    const auto end = std::ranges::find(bytes, std::uint8_t{0});
    return {reinterpret_cast<const char*>(bytes.data()), static_cast<std::size_t>(end - bytes.begin())};
}

}  // namespace

ExtraBlocks read_extra_blocks(std::span<const std::uint8_t> body, std::size_t offset) {
    ExtraBlocks blocks;
    ByteReader reader(body.subspan(std::min(offset, body.size())));
    for (;;) {
        const auto id = reader.u32();
        const auto length = reader.u32();
        if (!id || !length || (*id == 0 && *length == 0)) break;
        const auto data = reader.bytes(*length);
        if (!data) break;
        if (*id == PICTURE_BLOCK && data->size() >= PICTURE_HEADER_BYTES) {
            blocks.pictures.push_back({padded_text(data->first(PICTURE_NAME_BYTES)), data->subspan(PICTURE_HEADER_BYTES)});
        } else if (*id == HYPERLINK_BLOCK) {
            for (std::size_t at = 0; at + HYPERLINK_BYTES <= data->size(); at += HYPERLINK_BYTES) {
                blocks.hyperlinks.push_back(hyperlink_target(data->subspan(at, HYPERLINK_BYTES), blocks.unmapped));
            }
        }
    }
    return blocks;
}

}  // namespace marlune::hwp3
