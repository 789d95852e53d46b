// Table layout on the document tree: whether a table's cells tile its grid,
// which cells carry content, and how a table splits into ordinary blocks
// (full-width one-cell rows: frames, one-column tables) and normalised grids
// (only the rows and columns where a non-empty cell starts). Works on any
// tree, so tables read from HWP 5.0 and from HWPX are laid out alike.
#pragma once

#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "marlune/tree.hpp"
#include "tree/content.hpp"

namespace marlune::layout {

// A cell placed on a normalised grid; the content stays in the tree.
struct GridCell {
    const tree::Cell* cell = nullptr;
    std::uint32_t row = 0;
    std::uint32_t column = 0;
    std::uint32_t row_span = 1;
    std::uint32_t column_span = 1;
    bool content = false;  // has_content(cell->blocks)
};

// A table that stays a table: cells in row-major order of their top-left
// slots. Slots no cell covers are empty.
struct Grid {
    std::uint32_t rows = 0;
    std::uint32_t columns = 0;
    std::vector<GridCell> cells;
};

// One part of a laid-out table, in order: a cell whose blocks stand as
// ordinary blocks, or a grid.
using Part = std::variant<const tree::Cell*, Grid>;

// The table's parts after normalisation and unwrapping.
std::vector<Part> lay_out(const tree::Table& table);

// True when some non-empty cell of the grid spans more than one slot.
bool has_merged_content(const Grid& grid);

// True when laying out the table leaves a grid somewhere (in its own parts
// or in a table standing in an unwrapped cell).
bool leaves_grid(const tree::Table& table);

}  // namespace marlune::layout
