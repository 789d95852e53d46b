// The faithful walk of an HWP 5.0 document (first cut: the exact walk's
// blocks carried over into the tree, cells in record order).
#include "faithful/hwp_tree.hpp"

#include <string>

#include "marlune/markdown.hpp"
#include "marlune/records.hpp"

namespace marlune {

namespace {

tree::Block paragraph_block(std::string text) {
    tree::Paragraph paragraph;
    paragraph.inlines.push_back(tree::Text{std::move(text)});
    return tree::Block{std::move(paragraph)};
}

tree::Block to_tree(Block block) {
    return std::visit(
        [](auto& value) -> tree::Block {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, block::Paragraph>) {
                return paragraph_block(std::move(value.text));
            } else if constexpr (std::is_same_v<T, block::Equation>) {
                return tree::Block{tree::Equation{std::move(value.script)}};
            } else if constexpr (std::is_same_v<T, block::Image>) {
                return tree::Block{tree::Image{std::move(value.caption), {}}};
            } else {
                tree::Table table;
                table.by_address = false;
                table.rows = static_cast<std::uint32_t>(value.rows.size());
                for (std::uint32_t r = 0; r < table.rows; ++r) {
                    auto& cells = value.rows[r].cells;
                    table.columns = std::max(table.columns, static_cast<std::uint32_t>(cells.size()));
                    for (std::uint32_t c = 0; c < cells.size(); ++c) {
                        tree::Cell cell{r, c, 1, 1, {}};
                        if (!cells[c].text.empty()) cell.blocks.push_back(paragraph_block(std::move(cells[c].text)));
                        table.cells.push_back(std::move(cell));
                    }
                }
                return tree::Block{std::move(table)};
            }
        },
        block);
}

std::string version_text(std::uint32_t version) {
    return std::to_string(version >> 24) + "." + std::to_string((version >> 16) & 0xFF) + "." +
           std::to_string((version >> 8) & 0xFF) + "." + std::to_string(version & 0xFF);
}

}  // namespace

Result<tree::Document> build_hwp_tree(const Document& document, const ConvertOptions&) {
    auto info = read_file_info(document);
    if (!info) return std::unexpected(std::move(info.error()));
    tree::Document out;
    out.metadata.format = "hwp";
    out.metadata.version = version_text(info->version);
    std::vector<Block> blocks;
    for_each_section(document, info->compressed, [&](ByteBuffer data) {
        const auto records = parse_records(data);
        convert_section(records, blocks);
        ++out.metadata.sections;
    });
    for (Block& block : blocks) out.body.push_back(to_tree(std::move(block)));
    return out;
}

}  // namespace marlune
