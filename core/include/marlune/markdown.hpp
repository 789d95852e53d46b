// Markdown conversion: the blocks a section walk produces, their rendering,
// and the two whole-document operations the Python module exposes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "marlune/error.hpp"
#include "marlune/records.hpp"

namespace marlune {

struct TableCell {
    std::string text;
};

struct TableRow {
    std::vector<TableCell> cells;
};

namespace block {
struct Paragraph {
    std::string text;  // as finished, trimmed only when rendered
};
struct Table {
    std::vector<TableRow> rows;
};
struct Equation {
    std::string script;
};
struct Image {
    std::string caption;  // possibly empty
};
}  // namespace block

using Block = std::variant<block::Paragraph, block::Table, block::Equation, block::Image>;

// Walks one section's records and appends its blocks to the document's list.
void convert_section(std::span<const Record> records, std::vector<Block>& blocks);

// Renders the document's blocks as Markdown, trailing white space removed.
std::string render_blocks(std::span<const Block> blocks);

// One record of a section as the record listing reports it.
struct RecordInfo {
    std::uint16_t tag_id;
    std::uint16_t level;
    std::uint64_t size;
};

// The whole document at path (UTF-8 bytes, used as given) as Markdown.
Result<std::string> hwp_to_markdown(std::string_view path);

// The same for a document held in memory.
Result<std::string> hwp_bytes_to_markdown(std::span<const std::uint8_t> bytes);

// (tag_id, level, size) of every record of the first body-text section.
Result<std::vector<RecordInfo>> hwp_debug_records(std::string_view path);

}  // namespace marlune
