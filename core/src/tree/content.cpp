// Content and tiling of tree tables and blocks.
#include "tree/content.hpp"

#include <algorithm>
#include <vector>

#include "container/utf8.hpp"

namespace marlune::layout {

namespace {

bool inline_has_content(const tree::Inline& item) {
    if (const auto* text = std::get_if<tree::Text>(&item)) return !is_blank(text->text);
    if (const auto* link = std::get_if<tree::Link>(&item)) return !is_blank(link->text);
    if (const auto* equation = std::get_if<tree::Equation>(&item)) return !is_blank(equation->script);
    return true;  // a note reference
}

// A picture counts whatever it shows: a row of screenshots is the table's
// data, not its layout.
bool block_has_content(const tree::Block& block) {
    if (const auto* paragraph = std::get_if<tree::Paragraph>(&block.node)) {
        return has_content(*paragraph);
    }
    if (const auto* table = std::get_if<tree::Table>(&block.node)) return has_content(*table);
    if (const auto* equation = std::get_if<tree::Equation>(&block.node)) return !is_blank(equation->script);
    return true;  // a picture
}

}  // namespace

bool tiles_grid(const tree::Table& table) {
    const std::uint64_t slots = std::uint64_t{table.rows} * table.columns;
    if (slots == 0 || slots > MAX_GRID_SLOTS || table.cells.size() > slots) return false;
    std::vector<bool> covered(slots, false);
    std::uint64_t count = 0;
    for (const tree::Cell& cell : table.cells) {
        if (cell.row_span == 0 || cell.column_span == 0) return false;
        if (std::uint64_t{cell.row} + cell.row_span > table.rows) return false;
        if (std::uint64_t{cell.column} + cell.column_span > table.columns) return false;
        for (std::uint32_t r = cell.row; r < cell.row + cell.row_span; ++r) {
            for (std::uint32_t c = cell.column; c < cell.column + cell.column_span; ++c) {
                const std::uint64_t slot = std::uint64_t{r} * table.columns + c;
                if (covered[slot]) return false;
                covered[slot] = true;
                ++count;
            }
        }
    }
    return count == slots;
}

bool has_content(std::span<const tree::Block> blocks) { return std::ranges::any_of(blocks, block_has_content); }

bool has_content(const tree::Paragraph& paragraph) {
    return std::ranges::any_of(paragraph.inlines, inline_has_content);
}

bool has_content(const tree::Table& table) {
    return has_content(table.caption) ||
           std::ranges::any_of(table.cells, [](const tree::Cell& cell) { return has_content(cell.blocks); });
}

}  // namespace marlune::layout
