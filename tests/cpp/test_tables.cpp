// Tables: conversion of tbl control records into rows of cells, the cell
// text rules, and pipe-table rendering.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hwp/fields.hpp"
#include "marlune/markdown.hpp"
#include "marlune/records.hpp"
#include "record_builders.hpp"
#include "exact/tables.hpp"

namespace marlune {
namespace {

using namespace marlune::test_records;

using Grid = std::vector<std::vector<std::string>>;

// A paragraph whose records sit in a list at the given level.
Records paragraph(std::uint16_t level, std::u16string_view text) {
    return {rec(HWPTAG_PARA_HEADER, level), text_record(static_cast<std::uint16_t>(level + 1), text)};
}

Record list_header(std::uint16_t level) { return rec(HWPTAG_LIST_HEADER, level, Bytes(6, 0)); }

// An HWPTAG_TABLE payload: attributes, the row count at 4, the row sizes from 18.
Bytes table_payload(std::uint16_t row_count, const std::vector<std::uint16_t>& row_sizes) {
    Bytes data(18, 0);
    data[4] = static_cast<std::uint8_t>(row_count & 0xFF);
    data[5] = static_cast<std::uint8_t>(row_count >> 8);
    for (const std::uint16_t size : row_sizes) put_u16(data, size);
    return data;
}

Record table_record(std::uint16_t level, const std::vector<std::uint16_t>& row_sizes) {
    return rec(HWPTAG_TABLE, level, table_payload(static_cast<std::uint16_t>(row_sizes.size()), row_sizes));
}

// A whole table: the tbl control at level, its table record, then each cell's
// list header and one paragraph per text.
Records table(std::uint16_t level, const std::vector<std::uint16_t>& row_sizes,
              const std::vector<std::vector<std::u16string>>& cells) {
    const auto body = static_cast<std::uint16_t>(level + 1);
    Records records{control(level, CTRL_TABLE), table_record(body, row_sizes)};
    for (const auto& cell : cells) {
        records.push_back(list_header(body));
        for (const auto& text : cell) records = cat({records, paragraph(body, text)});
    }
    return records;
}

// An eqed control and its HWPTAG_EQEDIT record one level below.
Records equation(std::uint16_t level, std::u16string_view script) {
    Bytes data(4, 0);
    put_u16(data, static_cast<std::uint16_t>(script.size()));
    put_utf16(data, script);
    return {control(level, CTRL_EQUATION), rec(HWPTAG_EQEDIT, static_cast<std::uint16_t>(level + 1), std::move(data))};
}

// Paragraph text: before, a click-here field holding field_text, after.
Record field_text_record(std::uint16_t level, std::u16string_view before, std::u16string_view field_text,
                         std::u16string_view after) {
    Bytes data;
    put_utf16(data, before);
    put_u16(data, 3);  // field start
    put_u32(data, CTRL_CLICK_HERE);
    for (int k = 0; k < 5; ++k) put_u16(data, 0);
    put_utf16(data, field_text);
    put_u16(data, 4);  // field end
    for (int k = 0; k < 7; ++k) put_u16(data, 0);
    put_utf16(data, after);
    return rec(HWPTAG_PARA_TEXT, level, std::move(data));
}

// A %clk control header with a guide text, and its name record below it.
Records click_here(std::uint16_t level, std::u16string_view name, std::u16string_view direction) {
    std::u16string command = u"Clickhere:set:0:Direction:wstring:";
    command += std::u16string(1, static_cast<char16_t>(u'0' + direction.size()));
    command += u':';
    command += direction;
    Bytes header;
    put_u32(header, CTRL_CLICK_HERE);
    put_u32(header, 0);  // properties: not modified
    header.push_back(9);
    put_u16(header, static_cast<std::uint16_t>(command.size()));
    put_utf16(header, command);
    Bytes data(10, 0);
    put_u16(data, static_cast<std::uint16_t>(name.size()));
    put_utf16(data, name);
    return {rec(HWPTAG_CTRL_HEADER, level, std::move(header)),
            rec(HWPTAG_CTRL_DATA, static_cast<std::uint16_t>(level + 1), std::move(data))};
}

// Tables nested inside each other's only cell, count deep, the table at
// depth k holding the text "tk" before the next table.
Records nested_chain(std::uint16_t level, int count, int depth = 0) {
    const auto body = static_cast<std::uint16_t>(level + 1);
    std::u16string text = u"t";
    text += static_cast<char16_t>(u'0' + depth);
    Records records = cat({{control(level, CTRL_TABLE), table_record(body, {1}), list_header(body)},
                           paragraph(body, text)});
    if (count > 1) records = cat({records, nested_chain(static_cast<std::uint16_t>(body + 1), count - 1, depth + 1)});
    return records;
}

// The record that follows the table in the section: a paragraph at the top.
const Records kAfter{rec(HWPTAG_PARA_HEADER, 0)};

Grid grid_of(const std::vector<TableRow>& rows) {
    Grid grid;
    for (const TableRow& row : rows) {
        auto& texts = grid.emplace_back();
        for (const TableCell& cell : row.cells) texts.push_back(cell.text);
    }
    return grid;
}

struct ConvertCase {
    std::string name;
    Records records;  // records[0] is the tbl control header
    std::optional<Grid> expected;
    std::size_t consumed;  // counted from records[1]
};

class ConvertTable : public testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertTable, RowsAndConsumedCount) {
    const ConvertCase& c = GetParam();
    const TableResult result = convert_table(c.records, 1, c.records[0].level, 0);
    ASSERT_EQ(result.rows.has_value(), c.expected.has_value());
    if (c.expected) {
        EXPECT_EQ(grid_of(*result.rows), *c.expected);
    }
    EXPECT_EQ(result.consumed, c.consumed);
}

Records short_table_record() {
    Records records = table(1, {1}, {{u"a"}});
    records[1] = truncated(records[1], 17);
    return cat({records, kAfter});
}

Records table_with_row_count(std::uint16_t row_count, const std::vector<std::uint16_t>& row_sizes) {
    return {control(1, CTRL_TABLE), rec(HWPTAG_TABLE, 2, table_payload(row_count, row_sizes)), list_header(2),
            text_record(3, u"a"), rec(HWPTAG_PARA_HEADER, 0)};
}

// A cell paragraph x with a nested 2x2 table anchored in it, then y.
Records cell_with_nested_table() {
    return cat({{control(1, CTRL_TABLE), table_record(2, {1, 1}), list_header(2)},
                paragraph(2, u"pre"),
                table(3, {2, 2}, {{u"p"}, {u" q "}, {u"r"}, {}}),
                paragraph(2, u"post"),
                {list_header(2)},
                paragraph(2, u"next"),
                kAfter});
}

Records cell_with_equation(std::u16string_view before, std::u16string_view script) {
    Records cell{control(1, CTRL_TABLE), table_record(2, {1}), list_header(2)};
    if (!before.empty()) cell = cat({cell, paragraph(2, before)});
    // A stray paragraph inside the equation's subtree belongs to the equation.
    return cat({cell, equation(3, script), {text_record(5, u"inside")}, kAfter});
}

Records cell_with_field(std::uint16_t body) {
    const auto text_level = static_cast<std::uint16_t>(body + 1);
    return cat({{rec(HWPTAG_PARA_HEADER, body), field_text_record(text_level, u"x", u"D", u"y")},
                click_here(text_level, u"N", u"D")});
}

// A table of 32 rows whose first row declares first_row cells: at 32768 the
// grid is exactly MAX_TABLE_CELLS.
Records wide_table(std::uint16_t first_row) {
    std::vector<std::uint16_t> sizes(32, 0);
    sizes[0] = first_row;
    return cat({table(1, sizes, {{u"a"}}), kAfter});
}

Grid wide_grid() {
    Grid grid(32);
    grid[0].assign(32768, "");
    grid[0][0] = "a";
    return grid;
}

const std::vector<ConvertCase> kConvertCases{
    {"TwoByTwo", cat({table(1, {2, 2}, {{u"a"}, {u"b"}, {u"c"}, {u"d"}}), kAfter}), Grid{{"a", "b"}, {"c", "d"}}, 13},
    {"OneRow", cat({table(1, {2}, {{u"a"}, {u"b"}}), kAfter}), Grid{{"a", "b"}}, 7},
    {"MergedCellShortensRow", cat({table(1, {1, 2}, {{u"m"}, {u"c"}, {u"d"}}), kAfter}), Grid{{"m"}, {"c", "d"}},
     10},
    {"ParagraphsJoinedBlankOnesDropped", cat({table(1, {1}, {{u"x", u"  ", u" y "}}), kAfter}), Grid{{"x y"}}, 8},
    {"RecordsEndInsideTable", table(1, {1}, {{u"a"}}), Grid{{"a"}}, 4},
    {"CaptionListBeforeTableRecordSkipped",
     cat({{control(1, CTRL_TABLE), list_header(2)}, paragraph(2, u"caption"), {table_record(2, {1}), list_header(2)},
          paragraph(2, u"a"), kAfter}),
     Grid{{"a"}}, 7},
    {"CaptionListRunsToEnd", cat({{control(1, CTRL_TABLE), list_header(2)}, paragraph(2, u"caption")}), std::nullopt,
     3},
    {"NoTableRecordBeforeLevelDrops", cat({{control(1, CTRL_TABLE), rec(HWPTAG_PARA_HEADER, 3)}, kAfter}),
     std::nullopt, 1},
    {"TableRecordAtWrongLevelIgnored", cat({{control(1, CTRL_TABLE), table_record(3, {1})}, kAfter}), std::nullopt, 1},
    {"ShortTableRecordResumesAfterIt", short_table_record(), std::nullopt, 1},
    {"ZeroRowsConsumesTheCells", cat({table(1, {}, {}), {list_header(2)}, paragraph(2, u"a"), kAfter}),
     std::nullopt, 4},
    {"AllRowsEmpty", cat({table(1, {0, 0}, {}), kAfter}), Grid{{}, {}}, 1},
    {"RowSizePastPayloadIsZero", table_with_row_count(2, {1}), Grid{{"a"}, {}}, 3},
    {"MissingCellListsLeaveLaterCellsEmpty", cat({table(1, {2, 2}, {{u"a"}}), kAfter}), Grid{{"a", ""}, {"", ""}},
     4},
    {"FirstRecordNotAListHeader",
     cat({{control(1, CTRL_TABLE), table_record(2, {1, 1})}, paragraph(2, u"lost"), {list_header(2)},
          paragraph(2, u"also lost"), kAfter}),
     Grid{{""}, {""}}, 6},
    {"SurplusCellsPassedOver", cat({table(1, {1}, {{u"a"}, {u"b"}, {u"c"}}), kAfter}), Grid{{"a"}}, 10},
    {"GridAtCellLimitKept", wide_table(32768), wide_grid(), 4},
    {"GridOverCellLimitRefused", wide_table(32769), std::nullopt, 1},
    {"LargestGridRefused", cat({table(1, std::vector<std::uint16_t>(65535, 65535), {{u"a"}}), kAfter}),
     std::nullopt, 1},
    {"NestedTableFlattenedWithSpaces", cell_with_nested_table(), Grid{{"pre p q r post"}, {"next"}}, 21},
    {"NestingStopsBelowThreeLevels", cat({nested_chain(1, 5), kAfter}), Grid{{"t0 t1 t2 t3"}}, 24},
    {"NestingOfFourKeepsAll", cat({nested_chain(1, 4), kAfter}), Grid{{"t0 t1 t2 t3"}}, 19},
    {"EquationAfterText", cell_with_equation(u"x", u" a+b "), Grid{{"x $a+b$"}}, 7},
    {"EquationAlone", cell_with_equation(u"", u"y"), Grid{{"$y$"}}, 5},
    {"BlankEquationAddsNothing", cell_with_equation(u"x", u"  "), Grid{{"x"}}, 7},
    {"EquationWithoutScriptAddsNothing",
     cat({{control(1, CTRL_TABLE), table_record(2, {1}), list_header(2)}, paragraph(2, u"x"),
          {control(3, CTRL_EQUATION), text_record(4, u"inside")}, kAfter}),
     Grid{{"x"}}, 6},
    {"ClickHereFieldInCell",
     cat({{control(1, CTRL_TABLE), table_record(2, {1}), list_header(2)}, cell_with_field(2), kAfter}),
     Grid{{"x{{N: D}}y"}}, 6},
    {"ClickHereFieldInNestedCell",
     cat({{control(1, CTRL_TABLE), table_record(2, {1}), list_header(2), rec(HWPTAG_PARA_HEADER, 2),
           control(3, CTRL_TABLE), table_record(4, {1}), list_header(4)},
          cell_with_field(4), kAfter}),
     Grid{{"x{{N: D}}y"}}, 10},
    {"ClickHereWithoutParagraphIsPassedOver",
     cat({{control(1, CTRL_TABLE), table_record(2, {1}), list_header(2)}, click_here(3, u"N", u"D"),
          paragraph(2, u"a"), kAfter}),
     Grid{{"a"}}, 6},
    {"SecondClickHereFinishesParagraph",
     cat({{control(1, CTRL_TABLE), table_record(2, {1}), list_header(2)}, cell_with_field(2),
          click_here(3, u"M", u"E"), {text_record(4, u"hidden")}, kAfter}),
     Grid{{"x{{N: D}}y"}}, 9},
    {"ShapeInCellContributesNothing",
     cat({{control(1, CTRL_TABLE), table_record(2, {1}), list_header(2)}, paragraph(2, u"a"),
          {control(3, CTRL_SHAPE), rec(HWPTAG_SHAPE_COMPONENT, 4), list_header(5)}, paragraph(5, u"box"),
          paragraph(2, u"b"), kAfter}),
     Grid{{"a b"}}, 11},
    {"UnknownControlSubtreeSkipped",
     cat({{control(1, CTRL_TABLE), table_record(2, {1}), list_header(2)}, paragraph(2, u"a"),
          {rec(HWPTAG_CTRL_HEADER, 3, Bytes{1, 2}), text_record(4, u"hidden")}, kAfter}),
     Grid{{"a"}}, 6},
    {"ParagraphTextAtListLevelCollected",
     cat({{control(1, CTRL_TABLE), table_record(2, {1}), list_header(2), text_record(2, u"a")}, kAfter}),
     Grid{{"a"}}, 3},
};

INSTANTIATE_TEST_SUITE_P(Tables, ConvertTable, testing::ValuesIn(kConvertCases),
                         [](const auto& info) { return info.param.name; });

struct CellParagraphCase {
    std::string name;
    std::optional<PendingParagraph> pending;
    std::string cell_before;
    std::string cell_after;
};

class AppendCellParagraph : public testing::TestWithParam<CellParagraphCase> {};

TEST_P(AppendCellParagraph, FinishesIntoCellAndEmptiesSlot) {
    const CellParagraphCase& c = GetParam();
    std::optional<PendingParagraph> pending = c.pending;
    std::string cell = c.cell_before;
    append_cell_paragraph(pending, cell);
    EXPECT_EQ(cell, c.cell_after);
    EXPECT_FALSE(pending.has_value());
}

PendingParagraph pending_text(std::string text, std::vector<std::string> field_texts = {},
                              std::vector<FieldEntry> entries = {}) {
    return PendingParagraph{ParagraphText{std::move(text), std::move(field_texts)}, std::move(entries)};
}

const std::string kPlaceholder0 = std::string(FIELD_MARK_UTF8) + "0" + std::string(FIELD_MARK_UTF8);

const std::vector<CellParagraphCase> kCellParagraphCases{
    {"NoParagraph", std::nullopt, "x", "x"},
    {"IntoEmptyCellTrimmed", pending_text(" \t a b \n"), "", "a b"},
    {"AfterTextWithOneSpace", pending_text("y "), "x", "x y"},
    {"BlankParagraphLeavesCell", pending_text(" \u3000 "), "x", "x"},
    {"FieldWithEntryRendered", pending_text("a" + kPlaceholder0, {"T"}, {FieldEntry{"N", "D", false}}), "",
     "a{{N: D --> T}}"},
    {"FieldWithoutEntryShowsText", pending_text(kPlaceholder0 + " b", {"T"}), "", "T b"},
};

INSTANTIATE_TEST_SUITE_P(Tables, AppendCellParagraph, testing::ValuesIn(kCellParagraphCases),
                         [](const auto& info) { return info.param.name; });

struct EscapeCase {
    std::string name;
    std::string text;
    std::string expected;
};

class EscapeCellText : public testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeCellText, PipesAndLineFeeds) { EXPECT_EQ(escape_cell_text(GetParam().text), GetParam().expected); }

const std::vector<EscapeCase> kEscapeCases{
    {"Empty", "", ""},
    {"Pipe", "a|b", "a\\|b"},
    {"AdjacentPipes", "||", "\\|\\|"},
    {"BackslashBeforePipeNotDoubled", "a\\|", "a\\\\|"},
    {"LineFeedsBecomeSpaces", "a\nb\n", "a b "},
    {"CarriageReturnAndTabUnchanged", "a\r\tb", "a\r\tb"},
    {"OtherTextUnchanged", "표 *x* `y`", "표 *x* `y`"},
};

INSTANTIATE_TEST_SUITE_P(Tables, EscapeCellText, testing::ValuesIn(kEscapeCases),
                         [](const auto& info) { return info.param.name; });

struct RenderCase {
    std::string name;
    Grid rows;
    std::string expected;
};

class RenderTable : public testing::TestWithParam<RenderCase> {};

TEST_P(RenderTable, AppendsPipeTable) {
    const RenderCase& c = GetParam();
    block::Table table;
    for (const auto& texts : c.rows) {
        TableRow& row = table.rows.emplace_back();
        for (const auto& text : texts) row.cells.push_back(TableCell{text});
    }
    std::string out = "before\n";
    render_table(out, table);
    EXPECT_EQ(out, "before\n" + c.expected);
}

const std::vector<RenderCase> kRenderCases{
    {"TwoByTwo", {{"a", "b"}, {"c", "d"}}, "|a|b|\n|---|---|\n|c|d|\n\n"},
    {"HeaderOnly", {{"a", "b"}}, "|a|b|\n|---|---|\n\n"},
    {"MergedHeaderPadded", {{"m"}, {"c", "d"}}, "|m||\n|---|---|\n|c|d|\n\n"},
    {"RowSpanShiftsLeftAndPads", {{"a", "b"}, {"c", "d"}, {"e"}}, "|a|b|\n|---|---|\n|c|d|\n|e||\n\n"},
    {"LongerBodyRowWidensAll", {{"a"}, {"b", "c", "d"}}, "|a|||\n|---|---|---|\n|b|c|d|\n\n"},
    {"EmptyCells", {{"", "x"}, {"", ""}}, "||x|\n|---|---|\n|||\n\n"},
    {"EmptyFirstRow", {{}, {"a"}}, "||\n|---|\n|a|\n\n"},
    {"CellsEscaped", {{"a|b", "x\ny"}, {"c\rd", "e\tf"}}, "|a\\|b|x y|\n|---|---|\n|c\rd|e\tf|\n\n"},
    {"AllRowsEmpty", {{}, {}}, "\n"},
    {"NoRows", {}, ""},
};

INSTANTIATE_TEST_SUITE_P(Tables, RenderTable, testing::ValuesIn(kRenderCases),
                         [](const auto& info) { return info.param.name; });

// Tables as the section walk sees them, rendered as the document's Markdown.
struct SectionCase {
    std::string name;
    Records records;
    std::string expected;
};

class TableInSection : public testing::TestWithParam<SectionCase> {};

TEST_P(TableInSection, RendersDocument) {
    std::vector<Block> blocks;
    convert_section(GetParam().records, blocks);
    EXPECT_EQ(render_blocks(blocks), GetParam().expected);
}

// A top-level paragraph with text, anchoring the given control records.
Records anchored(std::u16string_view text, const Records& controls) {
    return cat({{rec(HWPTAG_PARA_HEADER, 0), text_record(1, text)}, controls});
}

Records short_table_with_equation_in_cell() {
    Records records = cat({table(1, {1}, {{u"hidden"}}), equation(3, u"z")});
    records[1] = truncated(records[1], 17);
    return anchored(u"p", records);
}

const std::vector<SectionCase> kSectionCases{
    {"ParagraphThenTable", cat({anchored(u"before", table(1, {2, 2}, {{u"a"}, {u"b"}, {u"c"}, {u"d"}})),
                                anchored(u"after", {})}),
     "before\n\n|a|b|\n|---|---|\n|c|d|\n\nafter"},
    {"ShortTableRecordLeavesCellsToTheWalk", short_table_with_equation_in_cell(), "p\n\n$$\nz\n$$"},
    {"ZeroRowTableWritesNothing", cat({anchored(u"a", table(1, {}, {})), anchored(u"b", {})}), "a\n\nb"},
    {"EmptyRowsWriteALineFeed", cat({anchored(u"a", table(1, {0}, {})), anchored(u"b", {})}), "a\n\n\nb"},
};

INSTANTIATE_TEST_SUITE_P(Tables, TableInSection, testing::ValuesIn(kSectionCases),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace marlune
