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

#include "faithful/bin_data.hpp"
#include "faithful/doc_info.hpp"
#include "faithful/summary_info.hpp"
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

// ---------------------------------------------------------------------------
// Media types

struct MediaCase {
    std::string_view content;
    std::string_view extension;
    std::string_view expected;
};

class MediaType : public ::testing::TestWithParam<MediaCase> {};

TEST_P(MediaType, FromContentThenExtension) {
    EXPECT_EQ(sniff_media_type(bytes_of(GetParam().content), GetParam().extension), GetParam().expected);
}

const std::string kEmfHeader = "\x01\0\0\0"s + std::string(36, '\0') + " EMF"s;
const std::string kBmpHeader = "BM"s + std::string(12, '\0') + "\x28\0\0\0"s;

INSTANTIATE_TEST_SUITE_P(
    Assets, MediaType,
    ::testing::Values(MediaCase{"\x89PNG\r\n\x1A\n...", "jpg", "image/png"},  // content wins over the extension
                      MediaCase{"\xFF\xD8\xFF\xE0", "", "image/jpeg"}, MediaCase{"GIF89a", "", "image/gif"},
                      MediaCase{kBmpHeader, "", "image/bmp"}, MediaCase{"BM text", "", "application/octet-stream"},
                      MediaCase{"II*\0"sv, "", "image/tiff"}, MediaCase{"MM\0*"sv, "", "image/tiff"},
                      MediaCase{"\xD7\xCD\xC6\x9A", "", "image/wmf"},
                      MediaCase{"\x01\0\x09\0\0\x03"sv, "", "image/wmf"}, MediaCase{kEmfHeader, "", "image/emf"},
                      MediaCase{"RIFF\0\0\0\0WEBPVP8 "sv, "", "image/webp"},
                      MediaCase{"<?xml version=\"1.0\"?>\n<svg>", "", "image/svg+xml"},
                      MediaCase{"<?xml version=\"1.0\"?><html>", "", "application/octet-stream"},
                      MediaCase{"%PDF-1.4", "", "application/pdf"}, MediaCase{"", "JPEG", "image/jpeg"},
                      MediaCase{"????", "tif", "image/tiff"}, MediaCase{"????", "Wmf", "image/wmf"},
                      MediaCase{"????", "ole", "application/octet-stream"}));

// ---------------------------------------------------------------------------
// DocInfo

Bytes record_bytes(std::uint16_t tag, const Bytes& payload, std::uint32_t declared_size) {
    Bytes out;
    put_u32(out, tag | (1u << 10) | (declared_size << 20));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes record_bytes(std::uint16_t tag, const Bytes& payload) {
    return record_bytes(tag, payload, static_cast<std::uint32_t>(payload.size()));
}

Bytes bin_data(std::uint16_t properties, std::uint16_t id, std::u16string_view extension) {
    Bytes out;
    put_u16(out, properties);
    put_u16(out, id);
    put_u16(out, static_cast<std::uint16_t>(extension.size()));
    put_utf16(out, extension);
    return out;
}

Bytes para_shape(std::uint32_t heading_type, std::uint32_t level) {
    Bytes out;
    put_u32(out, (heading_type << 23) | (level << 25) | 0x4);
    return out;
}

TEST(DocInfo, BinDataEntriesInRecordOrder) {
    Bytes link;
    put_u16(link, 0x0000);
    const Bytes stream = cat_bytes({record_bytes(18, bin_data(0x0001, 1, u"jpg")),   // embedding, as the document
                                    record_bytes(18, link),                          // link: no stream
                                    record_bytes(18, bin_data(0x0022, 0xAB, u"PNG")),  // storage, not compressed
                                    record_bytes(18, bin_data(0x0011, 4, u"")),       // compressed, no extension
                                    record_bytes(18, Bytes{0x01, 0x00}),             // cut after the properties
                                    record_bytes(18, Bytes(8, 0), 40)});             // cut by the stream's end
    const DocInfo info = parse_doc_info(stream);
    std::vector<std::pair<std::string, int>> names;
    for (const auto& entry : info.bin_data) names.emplace_back(entry.stream_name(), entry.compression);
    EXPECT_EQ(names, (std::vector<std::pair<std::string, int>>{
                         {"BIN0001.jpg", 0}, {"", 0}, {"BIN00AB.PNG", 2}, {"BIN0004.", 1}, {"BIN0005.", 0}}));
    EXPECT_EQ(info.bin_data[1].kind, BinDataEntry::Kind::Link);
    EXPECT_EQ(info.bin_data[2].kind, BinDataEntry::Kind::Storage);
}

TEST(DocInfo, OutlineLevelsPerParagraphShape) {
    const Bytes stream = cat_bytes({record_bytes(25, para_shape(0, 3)), record_bytes(25, para_shape(1, 0)),
                                    record_bytes(25, para_shape(1, 6)), record_bytes(25, para_shape(2, 2)),
                                    record_bytes(25, para_shape(3, 1)), record_bytes(25, Bytes{0xFF}),
                                    record_bytes(25, para_shape(1, 7))});
    EXPECT_EQ(parse_doc_info(stream).outline_levels, (std::vector<std::uint8_t>{0, 1, 7, 0, 0, 0, 7}));
}

// ---------------------------------------------------------------------------
// Summary information

struct Property {
    std::uint32_t id;
    Bytes value;  // type word and value
};

Bytes typed(std::uint32_t type, const Bytes& value) {
    Bytes out;
    put_u32(out, type);
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

Bytes lpwstr(std::u16string_view text) {
    Bytes value;
    put_u32(value, static_cast<std::uint32_t>(text.size()));
    put_utf16(value, text);
    return typed(31, value);
}

Bytes lpstr(std::string_view text) {
    Bytes value;
    put_u32(value, static_cast<std::uint32_t>(text.size()));
    value.insert(value.end(), text.begin(), text.end());
    return typed(30, value);
}

Bytes filetime(std::uint64_t ticks) {
    Bytes value;
    put_u32(value, static_cast<std::uint32_t>(ticks));
    put_u32(value, static_cast<std::uint32_t>(ticks >> 32));
    return typed(64, value);
}

constexpr std::uint8_t kSummaryId[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                         0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};

// A property set stream with one set (the summary set unless format_id is
// given); offset_shift moves every property offset.
Bytes property_set(const std::vector<Property>& properties, std::uint8_t first_id_byte = 0xE0,
                   std::uint32_t offset_shift = 0) {
    Bytes out;
    put_u16(out, 0xFFFE);
    put_u16(out, 0);
    put_u32(out, 0x00020006);
    out.resize(out.size() + 16, 0);
    put_u32(out, 1);
    out.insert(out.end(), std::begin(kSummaryId), std::end(kSummaryId));
    out[28] = first_id_byte;
    put_u32(out, 48);
    Bytes values;
    std::vector<std::uint32_t> offsets;
    const auto table_end = static_cast<std::uint32_t>(8 + 8 * properties.size());
    for (const auto& property : properties) {
        offsets.push_back(table_end + static_cast<std::uint32_t>(values.size()) + offset_shift);
        values.insert(values.end(), property.value.begin(), property.value.end());
    }
    put_u32(out, table_end + static_cast<std::uint32_t>(values.size()));
    put_u32(out, static_cast<std::uint32_t>(properties.size()));
    for (std::size_t k = 0; k < properties.size(); ++k) {
        put_u32(out, properties[k].id);
        put_u32(out, offsets[k]);
    }
    out.insert(out.end(), values.begin(), values.end());
    return out;
}

// 2020-01-01T00:00:00Z in FILETIME ticks and in Unix microseconds.
constexpr std::uint64_t kTicks2020 = 132'223'104'000'000'000;
constexpr std::int64_t kMicros2020 = 1'577'836'800'000'000;

TEST(SummaryInfo, ReadsEveryProperty) {
    tree::Metadata metadata;
    read_summary_properties(property_set({{2, lpwstr(u"제목\0\0"sv)}, {3, lpstr("subject\0")}, {4, lpwstr(u"author")},
                                          {5, lpwstr(u"k1;k2")}, {6, lpstr("bad \xFF")}, {8, lpwstr(u"editor")},
                                          {12, filetime(kTicks2020)}, {13, filetime(kTicks2020 + 10)}}),
                            metadata);
    EXPECT_EQ(metadata.title, "제목");
    EXPECT_EQ(metadata.subject, "subject");
    EXPECT_EQ(metadata.author, "author");
    EXPECT_EQ(metadata.keywords, "k1;k2");
    EXPECT_EQ(metadata.comments, "bad \uFFFD");
    EXPECT_EQ(metadata.last_saved_by, "editor");
    EXPECT_EQ(metadata.created, kMicros2020);
    EXPECT_EQ(metadata.modified, kMicros2020 + 1);
}

struct DamagedSet {
    std::string_view what;
    Bytes stream;
};

class SummaryDamage : public ::testing::TestWithParam<DamagedSet> {};

// Each stream holds a title that must not be read, and nothing else.
TEST_P(SummaryDamage, LeavesThePropertyOut) {
    tree::Metadata metadata;
    read_summary_properties(GetParam().stream, metadata);
    EXPECT_EQ(metadata.title, std::nullopt) << GetParam().what;
    EXPECT_EQ(metadata.created, std::nullopt) << GetParam().what;
}

Bytes cut(Bytes bytes, std::size_t drop) { return Bytes(bytes.begin(), bytes.end() - static_cast<std::ptrdiff_t>(drop)); }

Bytes with_byte(Bytes bytes, std::size_t index, std::uint8_t value) {
    bytes[index] = value;
    return bytes;
}

Bytes bad_length_title() {
    Bytes value;
    put_u32(value, 0x7FFFFFFF);
    put_utf16(value, u"title");
    return typed(31, value);
}

INSTANTIATE_TEST_SUITE_P(
    Assets, SummaryDamage,
    ::testing::Values(DamagedSet{"empty stream", {}},
                      DamagedSet{"another set", property_set({{2, lpwstr(u"title")}}, 0xE1)},
                      DamagedSet{"offsets past the end", property_set({{2, lpwstr(u"title")}}, 0xE0, 1000)},
                      DamagedSet{"length past the end", property_set({{2, bad_length_title()}})},
                      DamagedSet{"value cut short", cut(property_set({{2, lpwstr(u"title")}}), 4)},
                      DamagedSet{"wrong types", property_set({{2, filetime(kTicks2020)}, {12, lpwstr(u"x")}})},
                      DamagedSet{"empty and zero", property_set({{2, lpwstr(u"\0"sv)}, {12, filetime(0)}})},
                      DamagedSet{"past year 9999", property_set({{12, filetime(~std::uint64_t{0})}})},
                      DamagedSet{"unpaired surrogate", property_set({{2, lpwstr(u"\xD800x")}})},
                      DamagedSet{"byte order", with_byte(property_set({{2, lpwstr(u"title")}}), 0, 0xFF)}));

}  // namespace
}  // namespace marlune
