#include "exact/convert.hpp"

#include "container/utf8.hpp"
#include "hwp/fields.hpp"
#include "hwp/document.hpp"
#include "marlune/markdown.hpp"
#include "hwp/para_text.hpp"
#include "exact/shapes.hpp"
#include "exact/tables.hpp"

namespace marlune {

namespace {

// The block a control handler produced, appended when there is one.
void append_block(std::vector<Block>& blocks, std::optional<Block> block) {
    if (block) blocks.push_back(std::move(*block));
}

// Dispatches a converted control whose header stands at index - 1; returns
// the number of records the handler consumed from index.
std::size_t convert_control(std::span<const Record> records, std::size_t index, std::uint32_t id,
                            std::uint32_t level, std::vector<Block>& blocks) {
    if (id == CTRL_EQUATION) {
        auto equation = convert_equation(records, index, level);
        if (equation.script) blocks.push_back(block::Equation{std::move(*equation.script)});
        return equation.consumed;
    }
    if (id == CTRL_SHAPE) {
        auto shape = convert_shape_object(records, index, level);
        append_block(blocks, std::move(shape.block));
        return shape.consumed;
    }
    auto table = convert_table(records, index, level, 0);
    if (table.rows) blocks.push_back(block::Table{std::move(*table.rows)});
    return table.consumed;
}

void render_paragraph(std::string& out, const block::Paragraph& paragraph) {
    const std::string_view text = trim(paragraph.text);
    if (text.empty()) return;
    out += text;
    out += "\n\n";
}

void render_equation(std::string& out, const block::Equation& equation) {
    out += "$$\n";
    out += trim(equation.script);
    out += "\n$$\n\n";
}

}  // namespace


void finish_paragraph(std::optional<PendingParagraph>& pending, std::vector<Block>& blocks) {
    if (!pending) return;
    std::string text = pending->text.field_texts.empty()
                           ? std::move(pending->text.text)
                           : substitute_fields(pending->text.text, pending->text.field_texts, pending->field_entries);
    pending.reset();
    if (!trim(text).empty()) blocks.push_back(block::Paragraph{std::move(text)});
}

void convert_section(std::span<const Record> records, std::vector<Block>& blocks) {
    std::optional<PendingParagraph> pending;
    std::size_t i = 0;
    while (i < records.size()) {
        const Record& record = records[i];
        if (record.tag_id == HWPTAG_CTRL_HEADER) {
            const std::uint32_t id = control_id(record);
            if (record.level == 1 && id == CTRL_CLICK_HERE && pending && pending->wants_field_entry()) {
                i = add_field_entry(*pending, records, i);
                continue;
            }
            finish_paragraph(pending, blocks);
            ++i;
            if (id == CTRL_EQUATION || id == CTRL_SHAPE || id == CTRL_TABLE) {
                i += convert_control(records, i, id, record.level, blocks);
            } else {
                // Controls that are not converted hide everything below them.
                i = skip_subtree(records, i, record.level);
            }
        } else if (record.tag_id == HWPTAG_PARA_TEXT && record.level == 1) {
            finish_paragraph(pending, blocks);
            pending.emplace(PendingParagraph{decode_para_text_with_fields(record.payload()), {}});
            ++i;
        } else {
            ++i;
        }
    }
    finish_paragraph(pending, blocks);
}

namespace {

// About how many bytes a block renders to: its text plus markup. The output
// is sized once from the sum, so a large document is not copied over and
// over as the string doubles.
std::size_t rendered_size_estimate(const Block& block) noexcept {
    constexpr std::size_t kMarkup = 16;
    return std::visit(
        [](const auto& value) -> std::size_t {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, block::Paragraph>) return value.text.size() + kMarkup;
            else if constexpr (std::is_same_v<T, block::Equation>) return value.script.size() + kMarkup;
            else if constexpr (std::is_same_v<T, block::Image>) return value.caption.size() + kMarkup;
            else {
                std::size_t size = kMarkup;
                for (const TableRow& row : value.rows) {
                    size += 2;
                    for (const TableCell& cell : row.cells) size += cell.text.size() + 4;
                }
                return size;
            }
        },
        block);
}

}  // namespace

std::string render_blocks(std::span<const Block> blocks) {
    std::size_t estimate = 0;
    for (const Block& block : blocks) estimate += rendered_size_estimate(block);
    std::string out;
    out.reserve(estimate);
    for (const Block& block : blocks) {
        std::visit(
            [&out](const auto& value) {
                using T = std::decay_t<decltype(value)>;
                if constexpr (std::is_same_v<T, block::Paragraph>) render_paragraph(out, value);
                else if constexpr (std::is_same_v<T, block::Equation>) render_equation(out, value);
                else if constexpr (std::is_same_v<T, block::Image>) render_image(out, value);
                else render_table(out, value);
            },
            block);
    }
    out.resize(trim_end(out).size());
    return out;
}

namespace {

// Converts every readable section of an open document into blocks.
Result<std::vector<Block>> collect_blocks(const Document& document) {
    auto compressed = read_file_header(document);
    if (!compressed) return std::unexpected(std::move(compressed.error()));
    std::vector<Block> blocks;
    for_each_section(document, *compressed, [&blocks](ByteBuffer data) {
        // The records view the section's data, which lives until the
        // section is converted.
        const auto records = parse_records(data);
        convert_section(records, blocks);
    });
    return blocks;
}

Result<std::string> render_document(Result<Document> opened) {
    if (!opened) return std::unexpected(std::move(opened.error()));
    auto blocks = [&] {
        // The container, and with it the file, is released before rendering.
        const Document document = std::move(*opened);
        return collect_blocks(document);
    }();
    if (!blocks) return std::unexpected(std::move(blocks.error()));
    return render_blocks(*blocks);
}

}  // namespace

Result<std::string> hwp_to_markdown(std::string_view path) { return render_document(open_document(path)); }

Result<std::string> hwp_bytes_to_markdown(std::span<const std::uint8_t> bytes) {
    return render_document(open_document_from_memory(bytes));
}

Result<std::vector<RecordInfo>> hwp_debug_records(std::string_view path) {
    std::vector<RecordInfo> listing;
    {
        auto document = open_document(path);
        if (!document) return std::unexpected(std::move(document.error()));
        auto compressed = read_file_header(*document);
        if (!compressed) return std::unexpected(std::move(compressed.error()));
        auto data = read_section_stream(*document, section_stream_name(0), *compressed);
        if (!data) return std::unexpected(std::move(data.error()));
        const auto records = parse_records(*data);
        listing.reserve(records.size());
        for (const Record& record : records) listing.push_back({record.tag_id, record.level, record.payload().size()});
    }
    return listing;
}

}  // namespace marlune
