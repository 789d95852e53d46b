// Table layout and escaping of the faithful conversion, on hand-built trees:
// tiling, normalisation, unwrapping, the pipe or HTML choice, captions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "faithful/escape.hpp"
#include "faithful/render.hpp"
#include "faithful/table_layout.hpp"

namespace marlune {
namespace {

tree::Block para(std::string text) {
    tree::Paragraph paragraph;
    paragraph.inlines.push_back(tree::Text{std::move(text)});
    return tree::Block{std::move(paragraph)};
}

// A cell at (row, column) with spans; "" is an empty cell.
tree::Cell cell(std::uint32_t row, std::uint32_t column, std::string text, std::uint32_t row_span = 1,
                std::uint32_t column_span = 1) {
    tree::Cell made{row, column, row_span, column_span, {}};
    if (!text.empty()) made.blocks.push_back(para(std::move(text)));
    return made;
}

tree::Table table(std::uint32_t rows, std::uint32_t columns, std::vector<tree::Cell> cells) {
    tree::Table made;
    made.rows = rows;
    made.columns = columns;
    made.cells = std::move(cells);
    return made;
}

tree::Cell holding(std::uint32_t row, std::uint32_t column, tree::Block block) {
    tree::Cell made{row, column, 1, 1, {}};
    made.blocks.push_back(std::move(block));
    return made;
}

std::string render(tree::Table table, TableMode mode = TableMode::Auto) {
    tree::Document document;
    document.body.push_back(tree::Block{std::move(table)});
    ConvertOptions options;
    options.tables = mode;
    return render_tree(document, options);
}

struct LayoutCase {
    const char* name;
    tree::Table table;
    TableMode mode;
    std::string expected;
};

std::vector<LayoutCase> layout_cases() {
    std::vector<LayoutCase> cases;
    cases.push_back({"plain grid is a pipe table",
                     table(2, 2, {cell(0, 0, "a"), cell(0, 1, "b"), cell(1, 0, "c"), cell(1, 1, "d")}),
                     TableMode::Auto, "|a|b|\n|---|---|\n|c|d|"});
    cases.push_back({"column span by address keeps later cells in place",
                     table(2, 3, {cell(0, 0, "wide", 1, 2), cell(0, 2, "x"), cell(1, 0, "a"), cell(1, 1, "b"),
                                  cell(1, 2, "c")}),
                     TableMode::Auto,
                     "<table>\n<tr><td colspan=\"2\">wide</td><td>x</td></tr>\n"
                     "<tr><td>a</td><td>b</td><td>c</td></tr>\n</table>"});
    cases.push_back({"row span",
                     table(2, 2, {cell(0, 0, "tall", 2), cell(0, 1, "a"), cell(1, 1, "b")}), TableMode::Auto,
                     "<table>\n<tr><td rowspan=\"2\">tall</td><td>a</td></tr>\n<tr><td>b</td></tr>\n</table>"});
    cases.push_back({"empty ruler row and fine columns are dropped",
                     table(3, 4, {cell(0, 0, ""), cell(0, 1, ""), cell(0, 2, ""), cell(0, 3, ""),
                                  cell(1, 0, "a", 1, 2), cell(1, 2, "b", 1, 2), cell(2, 0, "c", 1, 2),
                                  cell(2, 2, "d", 1, 2)}),
                     TableMode::Auto, "|a|b|\n|---|---|\n|c|d|"});
    cases.push_back({"one-by-one frame unwraps", table(1, 1, {cell(0, 0, "letter")}), TableMode::Auto, "letter"});
    cases.push_back({"one-column table unwraps", table(2, 1, {cell(0, 0, "one"), cell(1, 0, "two")}),
                     TableMode::Auto, "one\n\ntwo"});
    cases.push_back({"full-width row cuts the table",
                     table(3, 2, {cell(0, 0, "a"), cell(0, 1, "b"), cell(1, 0, "group", 1, 2), cell(2, 0, "c"),
                                  cell(2, 1, "d")}),
                     TableMode::Auto, "|a|b|\n|---|---|\n\ngroup\n\n|c|d|\n|---|---|"});
    cases.push_back({"full-width first row stands before the table",
                     table(2, 2, {cell(0, 0, "wide", 1, 2), cell(1, 0, "a"), cell(1, 1, "b")}), TableMode::Pipe,
                     "wide\n\n|a|b|\n|---|---|"});
    cases.push_back({"row span in forced pipe mode leaves covered slots empty",
                     table(2, 2, {cell(0, 0, "tall", 2), cell(0, 1, "a"), cell(1, 1, "b")}), TableMode::Pipe,
                     "|tall|a|\n|---|---|\n||b|"});
    cases.push_back({"forced HTML", table(1, 2, {cell(0, 0, "a"), cell(0, 1, "b")}), TableMode::Html,
                     "<table>\n<tr><td>a</td><td>b</td></tr>\n</table>"});
    cases.push_back({"uncaptioned picture keeps its row and column",
                     table(2, 2, {holding(0, 0, tree::Block{tree::Image{"", "BIN0001.png"}}), cell(0, 1, ""),
                                  cell(1, 0, "a"), cell(1, 1, "b")}),
                     TableMode::Auto, "|![](BIN0001.png)||\n|---|---|\n|a|b|"});
    cases.push_back({"row of screenshots under a header row stays",
                     table(2, 2, {cell(0, 0, "structure"), cell(0, 1, "data"),
                                  holding(1, 0, tree::Block{tree::Image{"", "BIN0001.png"}}),
                                  holding(1, 1, tree::Block{tree::Image{"", "BIN0002.png"}})}),
                     TableMode::Auto, "|structure|data|\n|---|---|\n|![](BIN0001.png)|![](BIN0002.png)|"});
    cases.push_back({"column of pictures in HTML cells as img",
                     table(2, 2, {cell(0, 0, "a"), holding(0, 1, tree::Block{tree::Image{"지도 \"1\"", "B&1.png"}}),
                                  cell(1, 0, "b"), holding(1, 1, tree::Block{tree::Image{"", "BIN0002.png"}})}),
                     TableMode::Html,
                     "<table>\n<tr><td>a</td><td><img src=\"B&amp;1.png\" alt=\"지도 &quot;1&quot;\"></td></tr>\n"
                     "<tr><td>b</td><td><img src=\"BIN0002.png\" alt=\"\"></td></tr>\n</table>"});
    cases.push_back({"picture merged across columns makes HTML in auto mode",
                     table(2, 3, {[] {
                                      tree::Cell wide{0, 0, 1, 2, {}};
                                      wide.blocks.push_back(tree::Block{tree::Image{"", "BIN0001.png"}});
                                      return wide;
                                  }(),
                                  cell(0, 2, "x"), cell(1, 0, "a"), cell(1, 1, "b"), cell(1, 2, "c")}),
                     TableMode::Auto,
                     "<table>\n<tr><td colspan=\"2\"><img src=\"BIN0001.png\" alt=\"\"></td><td>x</td></tr>\n"
                     "<tr><td>a</td><td>b</td><td>c</td></tr>\n</table>"});
    cases.push_back({"equation alone keeps its column",
                     table(1, 3, {cell(0, 0, "a"), holding(0, 1, tree::Block{tree::Equation{"x^2"}}),
                                  cell(0, 2, "")}),
                     TableMode::Auto, "|a|$x^{2}$|\n|---|---|"});
    cases.push_back({"linked picture names its file; caption on one line",
                     table(1, 2, {cell(0, 0, "a"),
                                  holding(0, 1, tree::Block{tree::Image{"사진\n설명", "", "C:\\사진\\a b.png"}})}),
                     TableMode::Pipe, "|a|![사진 설명](C:\\사진\\a%20b.png)|\n|---|---|"});
    cases.push_back({"picture without data or link leaves its caption",
                     table(1, 2, {cell(0, 0, "a"), holding(0, 1, tree::Block{tree::Image{"그림 1", ""}})}),
                     TableMode::Pipe, "|a|그림 1|\n|---|---|"});
    cases.push_back({"frame holding only a picture keeps it",
                     table(1, 1, {holding(0, 0, tree::Block{tree::Image{"", "BIN0001.png"}})}), TableMode::Auto,
                     "![](BIN0001.png)"});
    cases.push_back({"captioned picture is content",
                     table(1, 2, {holding(0, 0, tree::Block{tree::Image{"map", "BIN0001.png"}}), cell(0, 1, "b")}),
                     TableMode::Auto, "|![map](BIN0001.png)|b|\n|---|---|"});
    cases.push_back({"paragraphs in a cell join with br, pipes escaped",
                     [] {
                         tree::Cell two = cell(0, 0, "x|y");
                         two.blocks.push_back(para("line\nbreak"));
                         return table(1, 2, {std::move(two), cell(0, 1, "<br> &amp;")});
                     }(),
                     TableMode::Auto, "|x\\|y<br>line<br>break|\\<br> \\&amp;|\n|---|---|"});
    cases.push_back({"one-cell table nested in a cell is its text",
                     table(1, 2, {holding(0, 0, tree::Block{table(1, 1, {cell(0, 0, "inner")})}), cell(0, 1, "b")}),
                     TableMode::Auto, "|inner|b|\n|---|---|"});
    cases.push_back({"nested grid makes HTML",
                     table(1, 2, {holding(0, 0, tree::Block{table(1, 2, {cell(0, 0, "p"), cell(0, 1, "q")})}),
                                  cell(0, 1, "b")}),
                     TableMode::Auto,
                     "<table>\n<tr><td><table><tr><td>p</td><td>q</td></tr></table></td><td>b</td></tr>\n</table>"});
    cases.push_back({"nested grid in forced pipe mode is flattened",
                     table(2, 2, {holding(0, 0, tree::Block{table(2, 2, {cell(0, 0, "p"), cell(0, 1, "q"),
                                                                       cell(1, 0, "r"), cell(1, 1, "s")})}),
                                  cell(0, 1, "b"), cell(1, 0, "c"), cell(1, 1, "d")}),
                     TableMode::Pipe, "|p q<br>r s|b|\n|---|---|\n|c|d|"});
    cases.push_back({"table inside a frame stands on its own",
                     table(1, 1, {holding(0, 0, tree::Block{table(1, 2, {cell(0, 0, "p"), cell(0, 1, "q")})})}),
                     TableMode::Auto, "|p|q|\n|---|---|"});
    cases.push_back({"caption on top goes first",
                     [] {
                         tree::Table made = table(1, 2, {cell(0, 0, "a"), cell(0, 1, "b")});
                         made.caption.push_back(para("Table 1"));
                         made.caption_side = tree::CaptionSide::Top;
                         return made;
                     }(),
                     TableMode::Auto, "Table 1\n\n|a|b|\n|---|---|"});
    cases.push_back({"caption at the bottom goes last",
                     [] {
                         tree::Table made = table(1, 2, {cell(0, 0, "a"), cell(0, 1, "b")});
                         made.caption.push_back(para("Table 1"));
                         return made;
                     }(),
                     TableMode::Auto, "|a|b|\n|---|---|\n\nTable 1"});
    return cases;
}

TEST(TableLayout, RendersEachCase) {
    for (LayoutCase& item : layout_cases()) {
        EXPECT_EQ(render(std::move(item.table), item.mode), item.expected) << item.name;
    }
}

TEST(TableLayout, TilingNeedsEverySlotOnce) {
    struct Case {
        const char* name;
        tree::Table table;
        bool tiles;
    };
    Case cases[] = {
        {"exact tiling", table(2, 2, {cell(0, 0, "", 1, 2), cell(1, 0, ""), cell(1, 1, "")}), true},
        {"hole", table(2, 2, {cell(0, 0, "", 1, 2), cell(1, 0, "")}), false},
        {"overlap", table(1, 2, {cell(0, 0, "", 1, 2), cell(0, 1, "")}), false},
        {"outside the grid", table(1, 1, {cell(0, 0, "", 1, 2)}), false},
        {"zero span", table(1, 1, {cell(0, 0, "", 0, 1)}), false},
        {"empty grid", table(0, 0, {}), false},
    };
    for (const Case& item : cases) EXPECT_EQ(layout::tiles_grid(item.table), item.tiles) << item.name;
}

TEST(TableLayout, TableWithoutContentWritesNothing) {
    EXPECT_EQ(render(table(2, 2, {cell(0, 0, " "), cell(0, 1, ""), cell(1, 0, "\t"), cell(1, 1, "")})), "");
}

TEST(Escape, EscapesOnlyWhatEachPlaceMisreads) {
    struct Case {
        std::string_view text;
        unsigned sets;
        std::string_view expected;
    };
    constexpr unsigned kCell = escape::Markdown | escape::Pipe;
    constexpr unsigned kBody = escape::Markdown | escape::LineStarts;
    const Case cases[] = {
        {"<개정 2015.12.31.>", escape::Html, "<개정 2015.12.31.>"},
        {"<br> </p> <!-- <?x", escape::Html, "&lt;br> &lt;/p> &lt;!-- &lt;?x"},
        {"a < b, 1<2, <", escape::Html, "a < b, 1<2, <"},
        {"&amp; &#38; & &1 &", escape::Html, "&amp;amp; &amp;#38; & &1 &"},
        {"a|b [c] *d* \\e", escape::Html, "a|b [c] *d* \\e"},
        {"a\rb\r\nc", escape::Html, "a\nb\nc"},
        {"a|b", kCell, "a\\|b"},
        {"[c] <b>", kCell | escape::Brackets, "\\[c\\] \\<b>"},
        {"<b> &amp; &b=1 &#1 </b>", kCell, "\\<b> \\&amp; &b=1 &#1 <\\/b>"},
        {"a*b _c_ d_e ~f~ `g` x*. *y", kCell, "a\\*b \\_c_ d_e \\~f~ \\`g\\` x*. \\*y"},
        {"- a\r1. b\n  # c\n\n   > d", kBody, "\\- a\n1\\. b\n  \\# c\n\n\\> d"},
        // Marks at and across the eight-byte words passed over at once.
        {"한글 문서의 표|한 칸|<b>", kCell, "한글 문서의 표\\|한 칸\\|\\<b>"},
        {"1234567|89abcdef|", kCell, "1234567\\|89abcdef\\|"},
        {"12345678<i>", escape::Html, "12345678&lt;i>"},
        {"1234567*89abcdef`", kCell, "1234567\\*89abcdef\\`"},
        {"1234567\n- abcdef\n- x", kBody, "1234567\n\\- abcdef\n\\- x"},
        // ... and the sixteen-byte blocks before them.
        {"0123456789abcde|0123456789abcdef0123456789abcde|", kCell,
         "0123456789abcde\\|0123456789abcdef0123456789abcde\\|"},
        {"0123456789abcdef<b>0123456789abcdef01234567[x]&#1", kCell | escape::Brackets,
         "0123456789abcdef\\<b>0123456789abcdef01234567\\[x\\]&#1"},
        {"0123456789abcdef0123456789abcde`", kCell, "0123456789abcdef0123456789abcde\\`"},
    };
    for (const Case& item : cases) {
        std::string out;
        escape::append_text(out, item.text, item.sets);
        EXPECT_EQ(out, item.expected) << item.text;
    }
}

// What follows a piece of text decides a mark at its end: the paragraph's
// end, or something unknown (escaped).
TEST(Escape, PiecesOfOneParagraphShareTheirNeighbours) {
    struct Case {
        std::vector<std::string_view> pieces;
        std::string_view expected;
        char follows = escape::kBlockEnd;  // after the last piece
    };
    const Case cases[] = {
        {{"a *", " b"}, "a \\* b"},
        {{"a&cid"}, "a&cid", ']'},
        {{"a&cid"}, "a\\&cid", escape::kUnknown},
        {{"a&cid"}, "a\\&cid", ';'},
        {{"a <"}, "a <", '['},
        {{"a ["}, "a \\[", '^'},
        {{"a ]"}, "a \\]", '('},
        {{"a ]"}, "a ]", '<'},
        {{"a *"}, "a *"},
        {{"a *", "b"}, "a \\*b"},
        {{"a <", "b>"}, "a \\<b>"},
        {{"a <"}, "a <"},
        {{"x\n", "- y"}, "x\n\\- y"},
        {{"x\n", "  - y"}, "x\n  \\- y"},
        {{"x\n\n", "    y"}, "x\n\ny"},
        {{"변수_", "이름"}, "변수_이름"},
        {{"(_", "이름"}, "(\\_이름"},
    };
    for (const Case& item : cases) {
        std::string out;
        escape::Flow flow{escape::Markdown | escape::LineStarts};
        for (std::size_t k = 0; k < item.pieces.size(); ++k) {
            escape::append_text(out, item.pieces[k], flow, k + 1 == item.pieces.size() ? item.follows : escape::kUnknown);
        }
        EXPECT_EQ(out, item.expected) << item.expected;
    }
}

TEST(Escape, LinkTargetsKeepTheLinkWhole) {
    struct Case {
        std::string_view target;
        unsigned sets;
        std::string_view expected;
    };
    const Case cases[] = {
        {"http://a.kr/x?q=1&r=2", 0, "http://a.kr/x?q=1&r=2"},
        {"http://a.kr/a b(c)", 0, "http://a.kr/a%20b(c)"},
        {"http://a.kr/a)b(", 0, "http://a.kr/a\\)b\\("},
        {"<a>*_`[]", 0, "\\<a>*_`[]"},
        {"a&amp;b&c=1\\", 0, "a\\&amp;b&c=1\\\\"},
        {"file<|>\n", 0, "file<|>%0A"},
        {"file<|>\n", escape::Pipe, "file<\\|>%0A"},
    };
    for (const Case& item : cases) {
        std::string out;
        escape::append_target(out, item.target, item.sets);
        EXPECT_EQ(out, item.expected) << item.target;
    }
}

TEST(Escape, AttributeValuesStayInTheirQuotes) {
    std::string out;
    escape::append_attribute(out, "http://a.kr/?a=1&b=\"2\" c");
    EXPECT_EQ(out, "http://a.kr/?a=1&amp;b=&quot;2&quot;%20c");
}

}  // namespace
}  // namespace marlune
