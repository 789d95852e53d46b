// Questions about the document tree that its builders and its renderer both
// ask: whether a table's cells tile its grid, and which blocks carry content.
// Every format's walk and the faithful renderer sit above this.
#pragma once

#include <cstdint>
#include <span>

#include "marlune/tree.hpp"

namespace marlune::layout {

// True when the cells lie inside the rows x columns grid, overlap nowhere
// and cover every slot.
bool tiles_grid(const tree::Table& table);

// Content is text other than white space, a note reference, an equation, a
// picture (with or without a caption) or a table with content: a cell holding
// any of them is never empty, and only empty cells leave a row or column out.
bool has_content(std::span<const tree::Block> blocks);
bool has_content(const tree::Table& table);
bool has_content(const tree::Paragraph& paragraph);

// A normalised grid larger than this many slots is not written as a table:
// its cells stand as ordinary blocks instead. Real grids stay far below it;
// a crafted one would otherwise make the output grow with rows x columns.
inline constexpr std::uint64_t MAX_GRID_SLOTS = std::uint64_t{1} << 20;

}  // namespace marlune::layout
