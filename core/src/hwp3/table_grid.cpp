// Cell information: column and row (bytes), then from offset 4 the cell's
// x, y, width and height (16 bits each, in the word processor's units).
// The grid's columns are the gaps between the distinct x edges of all
// cells, its rows those between the y edges; edges closer than a few units
// are one line, as cells drawn by hand rarely meet exactly.
#include "hwp3/table_grid.hpp"

#include <algorithm>
#include <cstdint>

#include "container/byte_reader.hpp"

namespace marlune::hwp3 {

namespace {

constexpr std::size_t CELL_INFO_BYTES = 27;
constexpr std::size_t CELL_COLUMN_OFFSET = 0;
constexpr std::size_t CELL_ROW_OFFSET = 1;
constexpr std::size_t CELL_X_OFFSET = 4;
constexpr std::size_t CELL_Y_OFFSET = 6;
constexpr std::size_t CELL_WIDTH_OFFSET = 8;
constexpr std::size_t CELL_HEIGHT_OFFSET = 10;
constexpr std::uint32_t EDGE_TOLERANCE = 3;

struct Box {
    std::uint32_t x = 0, y = 0, right = 0, bottom = 0;
};

// The distinct edges, those within the tolerance of the previous one merged.
std::vector<std::uint32_t> lines_of(std::vector<std::uint32_t> edges) {
    std::ranges::sort(edges);
    std::vector<std::uint32_t> lines;
    for (const std::uint32_t edge : edges) {
        if (lines.empty() || edge > lines.back() + EDGE_TOLERANCE) lines.push_back(edge);
    }
    return lines;
}

// The index of the line an edge lies on (the last one at or below it, within
// the tolerance).
std::uint32_t line_index(const std::vector<std::uint32_t>& lines, std::uint32_t edge) {
    const auto above = std::ranges::upper_bound(lines, edge + EDGE_TOLERANCE);
    return above == lines.begin() ? 0 : static_cast<std::uint32_t>(above - lines.begin() - 1);
}

// Cells at their stored column and row, one slot each: for tables whose
// geometry does not give a grid.
tree::Table by_stored_address(std::span<const std::uint8_t> infos, std::vector<std::vector<tree::Block>>& contents) {
    tree::Table table;
    for (std::size_t i = 0; i < contents.size(); ++i) {
        const auto info = infos.subspan(i * CELL_INFO_BYTES, CELL_INFO_BYTES);
        tree::Cell cell;
        cell.column = info[CELL_COLUMN_OFFSET];
        cell.row = info[CELL_ROW_OFFSET];
        cell.blocks = std::move(contents[i]);
        table.columns = std::max(table.columns, cell.column + 1);
        table.rows = std::max(table.rows, cell.row + 1);
        table.cells.push_back(std::move(cell));
    }
    return table;
}

}  // namespace

tree::Table grid_table(std::span<const std::uint8_t> cell_infos, std::vector<std::vector<tree::Block>> contents) {
    const std::size_t count = std::min(contents.size(), cell_infos.size() / CELL_INFO_BYTES);
    contents.resize(count);
    std::vector<Box> boxes(count);
    std::vector<std::uint32_t> xs, ys;
    bool sized = count > 0;
    for (std::size_t i = 0; i < count; ++i) {
        const auto info = cell_infos.subspan(i * CELL_INFO_BYTES, CELL_INFO_BYTES);
        Box& box = boxes[i];
        box.x = read_u16_at(info, CELL_X_OFFSET).value_or(0);
        box.y = read_u16_at(info, CELL_Y_OFFSET).value_or(0);
        box.right = box.x + read_u16_at(info, CELL_WIDTH_OFFSET).value_or(0);
        box.bottom = box.y + read_u16_at(info, CELL_HEIGHT_OFFSET).value_or(0);
        sized = sized && box.right > box.x + EDGE_TOLERANCE && box.bottom > box.y + EDGE_TOLERANCE;
        xs.insert(xs.end(), {box.x, box.right});
        ys.insert(ys.end(), {box.y, box.bottom});
    }
    if (!sized) return by_stored_address(cell_infos, contents);
    const auto columns = lines_of(std::move(xs));
    const auto rows = lines_of(std::move(ys));
    tree::Table table;
    table.columns = static_cast<std::uint32_t>(columns.size() - 1);
    table.rows = static_cast<std::uint32_t>(rows.size() - 1);
    for (std::size_t i = 0; i < count; ++i) {
        const Box& box = boxes[i];
        tree::Cell cell;
        cell.column = line_index(columns, box.x);
        cell.row = line_index(rows, box.y);
        cell.column_span = std::max(line_index(columns, box.right), cell.column + 1) - cell.column;
        cell.row_span = std::max(line_index(rows, box.bottom), cell.row + 1) - cell.row;
        cell.blocks = std::move(contents[i]);
        table.cells.push_back(std::move(cell));
    }
    return table;
}

}  // namespace marlune::hwp3
