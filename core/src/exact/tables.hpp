// Tables (tbl controls): rows of plain-text cells, rendered as pipe tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hwp/fields.hpp"
#include "marlune/markdown.hpp"

namespace marlune {

// Tables nested deeper than this inside cells are passed over.
inline constexpr std::uint32_t MAX_TABLE_DEPTH = 3;
// A declared grid (rows times the longest row) larger than this is refused.
inline constexpr std::size_t MAX_TABLE_CELLS = std::size_t{1} << 20;

struct TableResult {
    std::optional<std::vector<TableRow>> rows;
    std::size_t consumed;
};

// start: the record after the tbl control header; level: that header's level.
TableResult convert_table(std::span<const Record> records, std::size_t start, std::uint32_t level,
                          std::uint32_t depth);

// Finishes the cell's pending paragraph, if any, into the cell's text.
void append_cell_paragraph(std::optional<PendingParagraph>& pending, std::string& cell_text);

// "|" becomes "\|", then every line feed a space.
std::string escape_cell_text(std::string_view text);

void render_table(std::string& out, const block::Table& table);

}  // namespace marlune
