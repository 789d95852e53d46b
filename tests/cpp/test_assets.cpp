// The DocInfo, binary item and summary information readers: media types,
// BIN_DATA entries and their stream names, outline levels, and the summary
// property set, whole, missing and damaged.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "container/media_type.hpp"
#include "hwp/bin_data.hpp"
#include "hwp/doc_info.hpp"
#include "hwp/summary_info.hpp"
#include "record_builders.hpp"

namespace marlune {
namespace {

using namespace marlune::test_records;
using namespace std::string_literals;
using namespace std::string_view_literals;

Bytes bytes_of(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes cat_bytes(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes u32s(std::initializer_list<std::uint32_t> words) {
    Bytes out;
    for (const std::uint32_t word : words) put_u32(out, word);
    return out;
}

Bytes utf16(std::u16string_view text) {
    Bytes out;
    put_utf16(out, text);
    return out;
}

// ---------------------------------------------------------------------------
// Media types

struct MediaCase {
    std::string content;
    std::string_view extension;
    std::string_view expected;
};

class MediaType : public ::testing::TestWithParam<MediaCase> {};

TEST_P(MediaType, FromContentThenExtension) {
    EXPECT_EQ(sniff_media_type(bytes_of(GetParam().content), GetParam().extension), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Assets, MediaType,
    ::testing::Values(
        MediaCase{"\x89PNG\r\n\x1A\n...", "jpg", "image/png"},  // content wins over the extension
        MediaCase{"\xFF\xD8\xFF\xE0", "", "image/jpeg"},
        MediaCase{"BM"s + std::string(12, '\0') + "\x28\0\0\0"s, "", "image/bmp"},
        MediaCase{"BM text", "", "application/octet-stream"}, MediaCase{"II*\0"s, "", "image/tiff"},
        MediaCase{"MM\0*"s, "", "image/tiff"}, MediaCase{"\xD7\xCD\xC6\x9A", "", "image/wmf"},
        MediaCase{"\x01\0\x09\0\0\x03"s, "", "image/wmf"},
        MediaCase{"\x01\0\0\0"s + std::string(36, '\0') + " EMF", "", "image/emf"},
        MediaCase{"RIFF\0\0\0\0WEBPVP8 "s, "", "image/webp"},
        MediaCase{"\xEF\xBB\xBF <?xml version=\"1.0\"?>\n<svg>", "", "image/svg+xml"},
        MediaCase{"<?xml version=\"1.0\"?><html>", "", "application/octet-stream"},
        MediaCase{"%PDF-1.4", "", "application/pdf"}, MediaCase{"", "JPEG", "image/jpeg"},
        MediaCase{"????", "ole", "application/octet-stream"}));

// ---------------------------------------------------------------------------
// Binary items from their stored bytes

// Raw DEFLATE holding data in one final stored block.
std::string stored_block(std::string_view data) {
    const auto size = static_cast<std::uint32_t>(data.size());
    const Bytes header = u32s({size | (~size << 16)});  // LEN, then NLEN
    return "\x01"s + std::string(header.begin(), header.end()) + std::string(data);
}

struct ItemCase {
    std::uint8_t compression;
    bool document_compressed;
    std::string stored;
    std::optional<std::string> data;  // nothing: no item
};

class BinaryItem : public ::testing::TestWithParam<ItemCase> {};

TEST_P(BinaryItem, InflatedAsTheEntryOrDocumentSays) {
    const ItemCase& c = GetParam();
    const BinDataEntry entry{BinDataEntry::Kind::Embedding, 1, "bmp", c.compression};
    ByteBuffer stored;
    ASSERT_TRUE(stored.assign(bytes_of(c.stored)));
    const auto item = binary_item_from_stream(entry, std::move(stored), c.document_compressed);
    EXPECT_EQ(item ? std::optional(item->data) : std::nullopt, c.data);
}

const std::string kPng = "\x89PNG\r\n\x1A\n-png";
const std::string kJpeg = "\xFF\xD8\xFF-jpeg";

INSTANTIATE_TEST_SUITE_P(
    Assets, BinaryItem,
    ::testing::Values(ItemCase{0, true, stored_block(kPng), kPng},  // as the document: compressed
                      ItemCase{0, false, kPng, kPng},               // as the document: stored
                      ItemCase{1, false, stored_block(kJpeg), kJpeg}, ItemCase{2, true, kJpeg, kJpeg},
                      ItemCase{0, true, kJpeg, kJpeg},  // flagged compressed, stored as is
                      ItemCase{1, true, "\x07not deflate", std::nullopt}));

// ---------------------------------------------------------------------------
// DocInfo

// A record at level 1; declared_size, when given, differs from the payload's.
Bytes record_bytes(std::uint16_t tag, const Bytes& payload, std::optional<std::uint32_t> declared_size = {}) {
    const auto size = declared_size.value_or(static_cast<std::uint32_t>(payload.size()));
    return cat_bytes({u32s({tag | (1u << 10) | (size << 20)}), payload});
}

Bytes bin_data(std::uint16_t properties, std::uint16_t id, std::u16string_view extension) {
    Bytes out;
    for (const auto word : {properties, id, static_cast<std::uint16_t>(extension.size())}) put_u16(out, word);
    return cat_bytes({out, utf16(extension)});
}

Bytes para_shape(std::uint32_t heading_type, std::uint32_t level) {
    return record_bytes(25, u32s({(heading_type << 23) | (level << 25) | 0x4}));
}

TEST(DocInfo, BinDataEntriesInRecordOrder) {
    const Bytes stream = cat_bytes({record_bytes(18, bin_data(0x0001, 1, u"jpg")),     // embedding, as the document
                                    record_bytes(18, Bytes{0x00, 0x00}),               // link: no stream
                                    record_bytes(18, bin_data(0x0022, 0xAB, u"PNG")),  // storage, not compressed
                                    record_bytes(18, bin_data(0x0011, 4, u"")),        // compressed, no extension
                                    record_bytes(18, Bytes{0x01, 0x00}),               // cut after the properties
                                    record_bytes(18, Bytes(8, 0), 40)});               // cut by the stream's end
    std::vector<std::pair<std::string, int>> names;
    for (const auto& entry : parse_doc_info(stream).bin_data) {
        names.emplace_back(entry.stream_name(), entry.compression);
    }
    EXPECT_EQ(names, (std::vector<std::pair<std::string, int>>{
                         {"BIN0001.jpg", 0}, {"", 0}, {"BIN00AB.PNG", 2}, {"BIN0004.", 1}, {"", 0}}));
}

TEST(DocInfo, OutlineLevelsPerParagraphShape) {
    const Bytes stream = cat_bytes({para_shape(0, 3), para_shape(1, 0), para_shape(1, 6), para_shape(2, 2),
                                    para_shape(3, 1), record_bytes(25, Bytes{0xFF}), para_shape(1, 7)});
    EXPECT_EQ(parse_doc_info(stream).outline_levels, (std::vector<std::uint8_t>{0, 1, 7, 0, 0, 0, 7}));
}

// ---------------------------------------------------------------------------
// Summary information: values are the type word, then the value.

Bytes lpwstr(std::u16string_view text, std::optional<std::uint32_t> units = {}) {
    return cat_bytes({u32s({31, units.value_or(static_cast<std::uint32_t>(text.size()))}), utf16(text)});
}

Bytes lpstr(std::string_view text) {
    return cat_bytes({u32s({30, static_cast<std::uint32_t>(text.size())}), bytes_of(text)});
}

Bytes filetime(std::uint64_t ticks) {
    return u32s({64, static_cast<std::uint32_t>(ticks), static_cast<std::uint32_t>(ticks >> 32)});
}

// The word processor's summary format id, and the common one.
const Bytes kHwpSummaryId{0x60, 0xB6, 0xA2, 0x9F, 0x61, 0x10, 0xD4, 0x11,
                          0xB4, 0xC6, 0x00, 0x60, 0x97, 0xC0, 0x9D, 0x8C};
const Bytes kCommonSummaryId{0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                             0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};

// A property set stream with one set at offset 48; offset_shift moves every
// property offset, cut drops bytes off the end.
Bytes property_set(const std::vector<std::pair<std::uint32_t, Bytes>>& properties,
                   const Bytes& format_id = kHwpSummaryId, std::uint32_t offset_shift = 0, std::size_t cut = 0) {
    const auto table_end = static_cast<std::uint32_t>(8 + 8 * properties.size());
    Bytes table, values;
    for (const auto& [id, value] : properties) {
        table = cat_bytes({table, u32s({id, table_end + static_cast<std::uint32_t>(values.size()) + offset_shift})});
        values = cat_bytes({values, value});
    }
    Bytes out = cat_bytes({u32s({0xFFFE, 0x00020006}), Bytes(16, 0), u32s({1}), format_id, u32s({48}),
                           u32s({table_end + static_cast<std::uint32_t>(values.size()),
                                 static_cast<std::uint32_t>(properties.size())}),
                           table, values});
    out.resize(out.size() - cut);
    return out;
}

// 2020-01-01T00:00:00Z in FILETIME ticks and in Unix microseconds.
constexpr std::uint64_t kTicks2020 = 132'223'104'000'000'000;
constexpr std::int64_t kMicros2020 = 1'577'836'800'000'000;

class SummaryInfo : public ::testing::TestWithParam<Bytes> {};

TEST_P(SummaryInfo, ReadsEveryProperty) {
    tree::Metadata metadata;
    read_summary_properties(property_set({{2, lpwstr(u"제목\0\0"sv)}, {3, lpstr("subject\0"sv)}, {4, lpwstr(u"author")},
                                          {5, lpwstr(u" k1;k2\r\n")}, {6, lpstr("bad \xFF")}, {8, lpwstr(u"editor")},
                                          {12, filetime(kTicks2020)}, {13, filetime(kTicks2020 + 10)}},
                                         GetParam()),
                            metadata);
    using Texts = std::vector<std::optional<std::string>>;
    EXPECT_EQ((Texts{metadata.title, metadata.subject, metadata.author, metadata.keywords, metadata.comments,
                     metadata.last_saved_by}),
              (Texts{"제목", "subject", "author", "k1;k2", "bad \uFFFD", "editor"}));
    EXPECT_EQ(metadata.created, kMicros2020);
    EXPECT_EQ(metadata.modified, kMicros2020 + 1);
}

INSTANTIATE_TEST_SUITE_P(Assets, SummaryInfo, ::testing::Values(kHwpSummaryId, kCommonSummaryId));

struct DamagedSet {
    std::string_view what;
    Bytes stream;
};

class SummaryDamage : public ::testing::TestWithParam<DamagedSet> {};

// Each stream holds a title or a creation time that must not be read.
TEST_P(SummaryDamage, LeavesThePropertyOut) {
    tree::Metadata metadata;
    read_summary_properties(GetParam().stream, metadata);
    EXPECT_EQ(metadata.title, std::nullopt) << GetParam().what;
    EXPECT_EQ(metadata.created, std::nullopt) << GetParam().what;
}

const Bytes kTitleOnly = property_set({{2, lpwstr(u"title")}});

INSTANTIATE_TEST_SUITE_P(
    Assets, SummaryDamage,
    ::testing::Values(DamagedSet{"empty stream", {}},
                      DamagedSet{"byte order", cat_bytes({Bytes{0xFF, 0xFF}, Bytes(kTitleOnly.begin() + 2,
                                                                                     kTitleOnly.end())})},
                      DamagedSet{"another set", property_set({{2, lpwstr(u"title")}}, Bytes(16, 0xE1))},
                      DamagedSet{"offsets past the end", property_set({{2, lpwstr(u"title")}}, kHwpSummaryId, 1000)},
                      DamagedSet{"length past the end", property_set({{2, lpwstr(u"title", 0x7FFFFFFF)}})},
                      DamagedSet{"value cut short", property_set({{2, lpwstr(u"title")}}, kHwpSummaryId, 0, 4)},
                      DamagedSet{"wrong types", property_set({{2, filetime(kTicks2020)}, {12, lpwstr(u"x")}})},
                      DamagedSet{"blank and zero", property_set({{2, lpwstr(u"\r\n\0"sv)}, {12, filetime(0)}})},
                      DamagedSet{"past year 9999", property_set({{12, filetime(~std::uint64_t{0})}})},
                      DamagedSet{"unpaired surrogate", property_set({{2, lpwstr(u"\xD800x")}})}));

}  // namespace
}  // namespace marlune
