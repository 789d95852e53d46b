// An HWP 3.0 table's grid from its cells' geometry: the cell information
// gives each cell's position and size on the page, and the distinct edges
// of all cells are the grid's lines, so a merged cell spans the lines it
// covers.
#pragma once

#include <span>
#include <vector>

#include "marlune/tree.hpp"

namespace marlune::hwp3 {

// The table of the cells whose 27-byte informations are cell_infos, with
// their contents in the same order.
tree::Table grid_table(std::span<const std::uint8_t> cell_infos, std::vector<std::vector<tree::Block>> contents);

}  // namespace marlune::hwp3
