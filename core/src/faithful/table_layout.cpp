// Table layout: the tiling check, normalisation (a grid row or column is kept
// only where a non-empty cell starts, which drops empty ruler rows and merges
// the narrow layout columns of forms) and unwrapping (a row that is one cell
// across all columns becomes ordinary blocks; each run of other rows is a
// table of its own, laid out again).
#include "faithful/table_layout.hpp"

#include <algorithm>


namespace marlune::layout {

namespace {

// The sorted distinct start coordinates of the cells with content.
template <class Coordinate>
std::vector<std::uint32_t> content_starts(std::span<const GridCell> cells, Coordinate coordinate) {
    std::vector<std::uint32_t> starts;
    for (const GridCell& cell : cells) {
        if (cell.content) starts.push_back(coordinate(cell));
    }
    std::ranges::sort(starts);
    starts.erase(std::ranges::unique(starts).begin(), starts.end());
    return starts;
}

// The index of start among the kept lines, and how many kept lines the span
// covers; nothing when the start line is not kept.
std::optional<std::pair<std::uint32_t, std::uint32_t>> map_span(const std::vector<std::uint32_t>& kept,
                                                                std::uint32_t start, std::uint32_t span) {
    const auto first = std::ranges::lower_bound(kept, start);
    if (first == kept.end() || *first != start) return std::nullopt;
    const std::uint64_t end = std::uint64_t{start} + std::max<std::uint32_t>(span, 1);
    const auto last = std::lower_bound(first, kept.end(), end, [](std::uint32_t line, std::uint64_t bound) {
        return line < bound;
    });
    return std::pair{static_cast<std::uint32_t>(first - kept.begin()), static_cast<std::uint32_t>(last - first)};
}

// Keeps a row (column) only where a non-empty cell starts; cells starting
// elsewhere go, the others' spans count only the lines kept.
Grid normalise(std::span<const GridCell> cells) {
    const auto rows = content_starts(cells, [](const GridCell& cell) { return cell.row; });
    const auto columns = content_starts(cells, [](const GridCell& cell) { return cell.column; });
    Grid grid{static_cast<std::uint32_t>(rows.size()), static_cast<std::uint32_t>(columns.size()), {}};
    grid.cells.reserve(cells.size());
    for (const GridCell& cell : cells) {
        const auto row = map_span(rows, cell.row, cell.row_span);
        const auto column = map_span(columns, cell.column, cell.column_span);
        if (!row || !column) continue;
        grid.cells.push_back(GridCell{cell.cell, row->first, column->first, row->second, column->second, cell.content});
    }
    // Cells come in address order in nearly every table: sorted already.
    const auto by_address = [](const GridCell& a, const GridCell& b) {
        return a.row != b.row ? a.row < b.row : a.column < b.column;
    };
    if (!std::ranges::is_sorted(grid.cells, by_address)) std::ranges::stable_sort(grid.cells, by_address);
    return grid;
}

bool is_full_width(const GridCell& cell, const Grid& grid) noexcept {
    return cell.column == 0 && cell.column_span >= grid.columns && cell.row_span == 1;
}

void split(Grid grid, std::vector<Part>& parts);

// The rows [first, last) of the grid as a table of their own, laid out again.
void split_run(const Grid& grid, std::uint32_t first, std::uint32_t last, std::vector<Part>& parts) {
    if (first >= last) return;
    // The grid's cells are in row order: those starting in the run are one stretch.
    const auto starts_before = [](const GridCell& cell, std::uint32_t row) { return cell.row < row; };
    const auto begin = std::lower_bound(grid.cells.begin(), grid.cells.end(), first, starts_before);
    const auto end = std::lower_bound(begin, grid.cells.end(), last, starts_before);
    std::vector<GridCell> run;
    run.reserve(static_cast<std::size_t>(end - begin));
    for (const GridCell& cell : std::span(begin, end)) {
        GridCell moved = cell;
        moved.row -= first;
        moved.row_span = std::min(moved.row_span, last - cell.row);
        run.push_back(moved);
    }
    split(normalise(run), parts);
}

void split(Grid grid, std::vector<Part>& parts) {
    if (grid.rows == 0) return;
    if (std::uint64_t{grid.rows} * grid.columns > MAX_GRID_SLOTS) {
        for (const GridCell& cell : grid.cells) {
            if (cell.content) parts.emplace_back(cell.cell);
        }
        return;
    }
    std::vector<const tree::Cell*> full_rows(grid.rows, nullptr);
    bool any_full = false;
    for (const GridCell& cell : grid.cells) {
        if (cell.content && is_full_width(cell, grid)) {
            full_rows[cell.row] = cell.cell;
            any_full = true;
        }
    }
    if (!any_full) {
        parts.emplace_back(std::move(grid));
        return;
    }
    std::uint32_t run_start = 0;
    for (std::uint32_t row = 0; row < grid.rows; ++row) {
        if (full_rows[row] == nullptr) continue;
        split_run(grid, run_start, row, parts);
        parts.emplace_back(full_rows[row]);
        run_start = row + 1;
    }
    split_run(grid, run_start, grid.rows, parts);
}

}  // namespace

std::vector<Part> lay_out(const tree::Table& table) {
    std::vector<GridCell> cells;
    cells.reserve(table.cells.size());
    for (const tree::Cell& cell : table.cells) {
        cells.push_back(GridCell{&cell, cell.row, cell.column, std::max<std::uint32_t>(cell.row_span, 1),
                                 std::max<std::uint32_t>(cell.column_span, 1), has_content(cell.blocks)});
    }
    std::vector<Part> parts;
    split(normalise(cells), parts);
    return parts;
}

bool has_merged_content(const Grid& grid) {
    return std::ranges::any_of(grid.cells, [](const GridCell& cell) {
        return cell.content && (cell.row_span > 1 || cell.column_span > 1);
    });
}

bool leaves_grid(const tree::Table& table) {
    for (const Part& part : lay_out(table)) {
        if (std::holds_alternative<Grid>(part)) return true;
        for (const tree::Block& block : std::get<const tree::Cell*>(part)->blocks) {
            const auto* nested = std::get_if<tree::Table>(&block.node);
            if (nested != nullptr && leaves_grid(*nested)) return true;
        }
    }
    return false;
}

}  // namespace marlune::layout
