// The HWP 3.0 reader's pieces: hchar to UTF-8 by class, kchar strings, and
// the table grid drawn from cell geometry (tolerance, spans, fallbacks).
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "hwp3/hchar.hpp"
#include "hwp3/table_grid.hpp"

namespace marlune::hwp3 {
namespace {

struct CharCase {
    std::uint16_t code;
    const char* expected;
    bool mapped;
};

class HcharTest : public ::testing::TestWithParam<CharCase> {};

TEST_P(HcharTest, DecodesByClass) {
    std::string out;
    EXPECT_EQ(append_hchar(out, GetParam().code), GetParam().mapped);
    EXPECT_EQ(out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Classes, HcharTest, ::testing::Values(
    CharCase{'A', "A", true},
    CharCase{0x8861, "가", true},         // initial ㄱ, medial ㅏ, no final
    CharCase{0xD3B7, "힝", true},         // last initial, ㅣ, ㅇ
    CharCase{0x8841, "ㄱ", true},         // initial alone: compatibility jamo
    CharCase{0xD461, "\uFFFD", false},    // initial code 21: none
    CharCase{0x3438, "※", true},          // KS X 1001 row 2
    CharCase{0x36E7, "①", true},          // row 8
    CharCase{0x37ED, "\uFFFD", false},    // row 11: the word processor's own, not KS X 1001
    CharCase{0x4000, "伽", true},         // first Hanja
    CharCase{0x4D91, "戰", true},
    CharCase{0x5317, "詰", true},         // last Hanja
    CharCase{0x5318, "\uFFFD", false},    // past the Hanja
    CharCase{0x0081, "\u201C", true},
    CharCase{0x301C, "\U000F080F", true},
    CharCase{0x2C40, "\uFFFD", false}));

TEST(Kchar, PairsAndAsciiToTheFirstNul) {
    const std::array<std::uint8_t, 9> bytes = {'a', 0xB0, 0xA1, '.', 0xFF, 0xA1, 0, 'x', 'y'};
    std::uint32_t unmapped = 0;
    EXPECT_EQ(kchar_text(bytes, unmapped), "a가.\uFFFD");
    EXPECT_EQ(unmapped, 1U);
    const std::array<std::uint8_t, 2> cut = {'b', 0xB0};
    EXPECT_EQ(kchar_text(cut, unmapped), "b\uFFFD");
}

// Cell informations: column, row, then x, y, width, height from offset 4.
std::vector<std::uint8_t> infos(std::initializer_list<std::array<std::uint16_t, 4>> boxes) {
    std::vector<std::uint8_t> bytes;
    for (const auto& box : boxes) {
        std::array<std::uint8_t, 27> info{};
        for (std::size_t i = 0; i < 4; ++i) {
            info[4 + 2 * i] = static_cast<std::uint8_t>(box[i] & 0xFF);
            info[5 + 2 * i] = static_cast<std::uint8_t>(box[i] >> 8);
        }
        bytes.insert(bytes.end(), info.begin(), info.end());
    }
    return bytes;
}

TEST(TableGrid, EdgesGiveSpansWithinTheTolerance) {
    // A merged top cell over two columns whose right edge misses by 2 units.
    const auto bytes = infos({{0, 0, 2002, 100}, {0, 100, 1000, 100}, {1000, 100, 1000, 100}});
    const tree::Table table = grid_table(bytes, std::vector<std::vector<tree::Block>>(3));
    ASSERT_EQ(table.cells.size(), 3U);
    EXPECT_EQ(table.columns, 2U);
    EXPECT_EQ(table.rows, 2U);
    EXPECT_EQ(table.cells[0].column_span, 2U);
    EXPECT_EQ(table.cells[2].column, 1U);
    EXPECT_EQ(table.cells[2].row, 1U);
}

TEST(TableGrid, CellsWithoutSizeKeepTheirStoredAddress) {
    auto bytes = infos({{0, 0, 0, 0}, {0, 0, 0, 0}});
    bytes[27] = 1;  // the second cell's column
    const tree::Table table = grid_table(bytes, std::vector<std::vector<tree::Block>>(2));
    EXPECT_EQ(table.columns, 2U);
    EXPECT_EQ(table.cells[1].column, 1U);
}

TEST(TableGrid, MoreContentsThanInformationsAreCut) {
    const auto bytes = infos({{0, 0, 100, 100}});
    EXPECT_EQ(grid_table(bytes, std::vector<std::vector<tree::Block>>(5)).cells.size(), 1U);
    EXPECT_TRUE(grid_table({}, {}).cells.empty());
}

}  // namespace
}  // namespace marlune::hwp3
