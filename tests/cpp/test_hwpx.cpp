// The HWPX reader's tree: note references where they stand, links across
// paragraphs, cells by address or in record order, captions, headings,
// headers and footers, the branch of a switch; and the zip reader's limits.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "hwpx/hwpx_tree.hpp"
#include "container/zip_archive.hpp"

namespace marlune {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

void put16(std::string& out, std::uint32_t v) { out += char(v & 0xFF), out += char((v >> 8) & 0xFF); }
void put32(std::string& out, std::uint32_t v) { put16(out, v & 0xFFFF), put16(out, v >> 16); }

// A zip of stored entries.
std::string zip_of(const Entries& entries) {
    std::string out, directory;
    for (const auto& [name, data] : entries) {
        const auto crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
        std::string fields;
        put32(fields, crc), put32(fields, std::uint32_t(data.size())), put32(fields, std::uint32_t(data.size()));
        put16(fields, std::uint32_t(name.size())), put16(fields, 0);
        const auto offset = std::uint32_t(out.size());
        put32(out, 0x04034B50), put32(out, 20), put32(out, 0), put16(out, 0);  // to the date
        out += fields + name + data;
        put32(directory, 0x02014B50), put32(directory, 20), put16(directory, 0), put32(directory, 0), put16(directory, 0);
        directory += fields;
        put32(directory, 0), put32(directory, 0), put16(directory, 0), put32(directory, offset);
        directory += name;
    }
    const auto directory_offset = std::uint32_t(out.size());
    out += directory;
    put32(out, 0x06054B50), put32(out, 0), put16(out, std::uint32_t(entries.size()));
    put16(out, std::uint32_t(entries.size())), put32(out, std::uint32_t(directory.size()));
    put32(out, directory_offset), put16(out, 0);
    return out;
}

const std::string kHeader =
    R"(<hh:head xmlns:hh="h"><hh:refList><hh:paraProperties><hh:paraPr id="3"><hh:heading type="OUTLINE" )"
    R"(level="1"/></hh:paraPr></hh:paraProperties></hh:refList></hh:head>)";

tree::Document tree_of(const std::string& paragraphs) {
    const std::string bytes = zip_of({{"mimetype", "application/hwp+zip"}, {"Contents/header.xml", kHeader},
                                      {"Contents/section0.xml", "<hs:sec xmlns:hs=\"s\" xmlns:hp=\"p\">" +
                                                                    paragraphs + "</hs:sec>"}});
    auto document = build_hwpx_tree({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, {});
    EXPECT_TRUE(document.has_value());
    return document ? std::move(*document) : tree::Document{};
}

std::string sub(const std::string& text) { return "<hp:subList><hp:p><hp:run><hp:t>" + text + "</hp:t></hp:run></hp:p></hp:subList>"; }

const tree::Paragraph& paragraph(const std::vector<tree::Block>& blocks, std::size_t k) {
    return std::get<tree::Paragraph>(blocks.at(k).node);
}

TEST(HwpxTree, NotesStandWhereTheirReferenceIs) {
    const auto document = tree_of("<hp:p><hp:run><hp:t>본문</hp:t><hp:ctrl><hp:footNote>" + sub("각주") +
                                  "</hp:footNote></hp:ctrl><hp:t>뒤</hp:t><hp:ctrl><hp:endNote>" + sub("미주") +
                                  "</hp:endNote></hp:ctrl></hp:run></hp:p>");
    const auto& inlines = paragraph(document.body, 0).inlines;
    ASSERT_EQ(inlines.size(), 4u);
    EXPECT_EQ(std::get<tree::NoteRef>(inlines[1]).note, 0u);
    EXPECT_EQ(std::get<tree::NoteRef>(inlines[3]).note, 1u);
    ASSERT_EQ(document.notes.size(), 2u);
    EXPECT_EQ(document.notes[1].kind, tree::NoteKind::Endnote);
    EXPECT_EQ(std::get<tree::Text>(paragraph(document.notes[0].blocks, 0).inlines[0]).text, "각주");
}

TEST(HwpxTree, HyperlinkAcrossParagraphsLinksEachPart) {
    const auto document = tree_of(
        R"(<hp:p><hp:run><hp:t>앞 </hp:t><hp:ctrl><hp:fieldBegin id="9" type="HYPERLINK"><hp:parameters>)"
        R"(<hp:stringParam name="Command">http\://a.kr|설명;1;0;0;</hp:stringParam></hp:parameters></hp:fieldBegin>)"
        R"(</hp:ctrl><hp:t>링크</hp:t></hp:run></hp:p><hp:p><hp:run><hp:t>계속</hp:t><hp:ctrl>)"
        R"(<hp:fieldEnd beginIDRef="9"/></hp:ctrl><hp:t> 뒤</hp:t></hp:run></hp:p>)");
    const auto& first = paragraph(document.body, 0).inlines;
    const auto& second = paragraph(document.body, 1).inlines;
    EXPECT_EQ(std::get<tree::Link>(first.at(1)).target, "http://a.kr");
    EXPECT_EQ(std::get<tree::Link>(first.at(1)).text, "링크");
    EXPECT_EQ(std::get<tree::Link>(second.at(0)).text, "계속");
    EXPECT_EQ(std::get<tree::Text>(second.at(1)).text, " 뒤");
}

std::string cell(int row, int column, int row_span, int column_span, const std::string& text) {
    return "<hp:tc>" + sub(text) + "<hp:cellAddr colAddr=\"" + std::to_string(column) + "\" rowAddr=\"" +
           std::to_string(row) + "\"/><hp:cellSpan colSpan=\"" + std::to_string(column_span) + "\" rowSpan=\"" +
           std::to_string(row_span) + "\"/></hp:tc>";
}

struct TableCase {
    const char* name;
    std::string rows;
    bool by_address;
    std::vector<std::uint32_t> placed;  // row, column, row span, column span of each cell
};

TEST(HwpxTree, TablesByAddressOrInRecordOrder) {
    const std::vector<TableCase> cases = {
        {"tiled", "<hp:tr>" + cell(0, 0, 2, 1, "a") + cell(0, 1, 1, 1, "b") + "</hp:tr><hp:tr>" +
                      cell(1, 1, 1, 1, "c") + "</hp:tr>", true, {0, 0, 2, 1, 0, 1, 1, 1, 1, 1, 1, 1}},
        {"overlap", "<hp:tr>" + cell(0, 0, 1, 2, "a") + cell(0, 1, 1, 1, "b") + "</hp:tr><hp:tr>" +
                        cell(1, 0, 1, 2, "c") + "</hp:tr>", false, {0, 0, 1, 1, 0, 1, 1, 1, 1, 0, 1, 1}},
        {"gap", "<hp:tr>" + cell(0, 0, 1, 1, "a") + "</hp:tr>", false, {0, 0, 1, 1}},
    };
    for (const auto& c : cases) {
        const auto document = tree_of(R"(<hp:p><hp:run><hp:tbl rowCnt="2" colCnt="2"><hp:caption side="TOP">)" +
                                      sub("캡션") + "</hp:caption>" + c.rows + "</hp:tbl></hp:run></hp:p>");
        const auto& table = std::get<tree::Table>(document.body.at(0).node);
        EXPECT_EQ(table.by_address, c.by_address) << c.name;
        EXPECT_EQ(table.caption_side, tree::CaptionSide::Top) << c.name;
        EXPECT_EQ(table.caption.size(), 1u) << c.name;
        std::vector<std::uint32_t> placed;
        for (const auto& x : table.cells) placed.insert(placed.end(), {x.row, x.column, x.row_span, x.column_span});
        EXPECT_EQ(placed, c.placed) << c.name;
    }
}

TEST(HwpxTree, HeadingsHeadersAndTheChosenBranch) {
    const auto document = tree_of(
        R"(<hp:p paraPrIDRef="3"><hp:run><hp:t>제목</hp:t><hp:ctrl><hp:header>)" + sub("머리") +
        R"(</hp:header><hp:footer>)" + sub("꼬리") + R"(</hp:footer></hp:ctrl><hp:switch><hp:case>)" +
        R"(<hp:rect><hp:drawText>)" + sub("새것") + R"(</hp:drawText></hp:rect></hp:case><hp:default><hp:rect>)" +
        R"(<hp:drawText>)" + sub("옛것") + "</hp:drawText></hp:rect></hp:default></hp:switch></hp:run></hp:p>");
    EXPECT_EQ(paragraph(document.body, 0).heading, 2);
    ASSERT_EQ(document.body.size(), 2u);
    EXPECT_EQ(std::get<tree::Text>(paragraph(document.body, 1).inlines.at(0)).text, "새것");
    ASSERT_EQ(document.headers.size(), 1u);
    ASSERT_EQ(document.footers.size(), 1u);
}

TEST(ZipArchive, FirstOfEqualNamesAndBackslashesNormalised) {
    const std::string bytes = zip_of({{"Contents\\a.xml", "one"}, {"Contents/a.xml", "two"}});
    auto zip = ZipArchive::open({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    ASSERT_TRUE(zip.has_value());
    const ZipEntry* entry = zip->find("Contents/a.xml");
    ASSERT_NE(entry, nullptr);
    auto data = zip->read(*entry);
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(data->data()), data->size()), "one");
}

}  // namespace
}  // namespace marlune

namespace marlune {
namespace {

// find_bytes at the edges: empty haystacks (no pointer to search), a start
// past the end, needles longer than what is left, the first of several.
TEST(FindBytes, EdgesOfTheSearch) {
    struct Case {
        std::string_view haystack, needle;
        std::size_t from, expected;
    };
    constexpr auto npos = std::string_view::npos;
    const Case cases[] = {
        {{}, "a", 0, npos},          {{}, {}, 0, 0},           {"abc", {}, 3, 3},     {"abc", "a", 4, npos},
        {"abc", "abcd", 0, npos},    {"abcabc", "bc", 0, 1},   {"abcabc", "bc", 2, 4}, {"abcabc", "bc", 5, npos},
        {"<a></a>", "a>", 0, 1},     {"xx", "xx", 1, npos},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(find_bytes(c.haystack, c.needle, c.from), c.expected) << c.haystack << " / " << c.needle << " @" << c.from;
    }
}

}  // namespace
}  // namespace marlune
