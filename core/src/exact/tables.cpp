// Tables: a tbl control is followed, one level below it, by an HWPTAG_TABLE
// record giving the row count and each row's cell count, then by one
// HWPTAG_LIST_HEADER per cell, each followed by the cell's paragraphs. Cells
// are placed by record order alone; their stored addresses and spans are not
// read, so merged cells just make a row shorter.
#include "exact/tables.hpp"

#include <algorithm>

#include "container/utf8.hpp"
#include "container/byte_reader.hpp"
#include "hwp/para_text.hpp"

namespace marlune {

namespace {

// HWPTAG_TABLE payload: row count at 4, the row sizes from 18, two bytes each.
constexpr std::size_t TABLE_ROW_COUNT_OFFSET = 4;
constexpr std::size_t TABLE_ROW_SIZES_OFFSET = 18;

// The dimensions an HWPTAG_TABLE record declares.
class TableRecord {
public:
    explicit TableRecord(std::span<const std::uint8_t> payload) noexcept
        : payload_(payload), row_count_(read_u16_at(payload, TABLE_ROW_COUNT_OFFSET).value_or(0)) {}

    std::size_t row_count() const noexcept { return row_count_; }

    // A size whose two bytes lie past the payload counts as 0 cells.
    std::size_t row_size(std::size_t row) const noexcept {
        return read_u16_at(payload_, TABLE_ROW_SIZES_OFFSET + 2 * row).value_or(0);
    }

    std::size_t largest_row() const noexcept {
        std::size_t largest = 0;
        for (std::size_t j = 0; j < row_count_; ++j) largest = std::max(largest, row_size(j));
        return largest;
    }

    // Rows times the longest row: the grid the record asks to be built.
    bool exceeds_cell_limit() const noexcept { return row_count_ * largest_row() > MAX_TABLE_CELLS; }

private:
    std::span<const std::uint8_t> payload_;
    std::size_t row_count_;
};

bool is_record(const Record& record, std::uint16_t tag, std::uint32_t level) noexcept {
    return record.tag_id == tag && record.level == level;
}

// Appends part to text, a single space apart when text already holds something.
void append_part(std::string& text, std::string_view part) {
    if (part.empty()) return;
    if (!text.empty()) text.push_back(' ');
    text.append(part);
}

// Index of the HWPTAG_TABLE record at level body_level, or the index at which
// the search gave up (a record above the table's level, or the end). Lists at
// the table's level before it, such as a caption, are passed over whole.
std::size_t find_table_record(std::span<const Record> records, std::size_t start, std::uint32_t body_level) {
    std::size_t i = start;
    while (i < records.size()) {
        const Record& record = records[i];
        if (record.level < body_level) break;
        if (is_record(record, HWPTAG_TABLE, body_level)) break;
        if (is_record(record, HWPTAG_LIST_HEADER, body_level)) {
            i = skip_subtree(records, i + 1, body_level);
        } else {
            ++i;
        }
    }
    return i;
}

// Adds a nested table's non-empty cell texts, row by row, to the cell's text.
void append_nested_table(std::string& text, const std::vector<TableRow>& rows) {
    for (const TableRow& row : rows) {
        for (const TableCell& cell : row.cells) append_part(text, cell.text);
    }
}

// An equation in a cell is written inline: $script$.
void append_inline_equation(std::string& text, const std::optional<std::string>& script) {
    if (!script) return;
    const std::string_view body = trim(*script);
    if (body.empty()) return;
    if (!text.empty()) text.push_back(' ');
    text.push_back('$');
    text.append(body);
    text.push_back('$');
}

// A control header inside a cell at index d. Click-here fields join the
// paragraph being read; nested tables are flattened into the text, equations
// written inline, and every other control (shapes included) passed over.
std::size_t collect_cell_control(std::span<const Record> records, std::size_t d, std::uint32_t depth,
                                 std::optional<PendingParagraph>& pending, std::string& text) {
    const Record& header = records[d];
    const std::uint32_t id = control_id(header);
    const std::uint32_t level = header.level;
    if (id == CTRL_CLICK_HERE && pending && pending->wants_field_entry()) {
        return add_field_entry(*pending, records, d);
    }
    append_cell_paragraph(pending, text);
    ++d;
    if (id == CTRL_TABLE && depth < MAX_TABLE_DEPTH) {
        TableResult nested = convert_table(records, d, level, depth + 1);
        if (nested.rows) append_nested_table(text, *nested.rows);
        return d + nested.consumed;
    }
    if (id == CTRL_EQUATION) {
        EquationResult equation = convert_equation(records, d, level);
        append_inline_equation(text, equation.script);
        return d + equation.consumed;
    }
    return skip_subtree(records, d, level);
}

// Reads one cell, from the record after its list header up to the next cell's
// list header or the first record above the table body; returns that index.
// Paragraphs of any level in the cell join its text, a single space apart.
std::size_t collect_cell(std::span<const Record> records, std::size_t d, std::uint32_t body_level,
                         std::uint32_t depth, std::string& text) {
    std::optional<PendingParagraph> pending;
    while (d < records.size()) {
        const Record& record = records[d];
        if (record.level < body_level || is_record(record, HWPTAG_LIST_HEADER, body_level)) break;
        if (record.tag_id == HWPTAG_PARA_TEXT) {
            append_cell_paragraph(pending, text);
            pending.emplace(PendingParagraph{decode_para_text_with_fields(record.payload()), {}});
            ++d;
        } else if (record.tag_id == HWPTAG_CTRL_HEADER) {
            d = collect_cell_control(records, d, depth, pending, text);
        } else {
            ++d;
        }
    }
    append_cell_paragraph(pending, text);
    return d;
}

// Fills the declared rows from the cell lists starting at index d. A missing
// list header leaves its cell, and every later one, empty. Returns the index
// after the last cell read.
std::size_t fill_rows(std::span<const Record> records, std::size_t d, std::uint32_t body_level,
                      std::uint32_t depth, const TableRecord& table, std::vector<TableRow>& rows) {
    rows.resize(table.row_count());
    for (std::size_t j = 0; j < rows.size(); ++j) {
        std::vector<TableCell>& cells = rows[j].cells;
        cells.resize(table.row_size(j));
        for (TableCell& cell : cells) {
            if (d >= records.size() || !is_record(records[d], HWPTAG_LIST_HEADER, body_level)) continue;
            d = collect_cell(records, d + 1, body_level, depth, cell.text);
        }
    }
    return d;
}

// Appends text with "|" escaped and line feeds turned into spaces.
void append_escaped(std::string& out, std::string_view text) {
    std::size_t plain = 0;  // start of the text not yet copied
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (text[k] != '|' && text[k] != '\n') continue;
        out.append(text.substr(plain, k - plain));
        out += text[k] == '|' ? "\\|" : " ";
        plain = k + 1;
    }
    out.append(text.substr(plain));
}

// One pipe-table line of width columns; missing cells are empty.
void render_row(std::string& out, const TableRow& row, std::size_t width) {
    out.push_back('|');
    for (std::size_t k = 0; k < width; ++k) {
        if (k < row.cells.size()) append_escaped(out, row.cells[k].text);
        out.push_back('|');
    }
    out.push_back('\n');
}

}  // namespace

TableResult convert_table(std::span<const Record> records, std::size_t start, std::uint32_t level,
                          std::uint32_t depth) {
    const std::uint32_t body_level = level + 1;
    const std::size_t i = find_table_record(records, start, body_level);
    if (i >= records.size() || records[i].level < body_level) return {std::nullopt, i - start};

    const std::span<const std::uint8_t> payload = records[i].payload();
    if (payload.size() < TABLE_ROW_SIZES_OFFSET) return {std::nullopt, i - start + 1};
    const TableRecord table(payload);
    if (table.exceeds_cell_limit()) return {std::nullopt, i - start + 1};

    std::vector<TableRow> rows;
    std::size_t d = fill_rows(records, i + 1, body_level, depth, table, rows);
    // Surplus cells and whatever else still belongs to the table.
    d = skip_subtree(records, d, level);
    if (rows.empty()) return {std::nullopt, d - start};
    return {std::move(rows), d - start};
}

void append_cell_paragraph(std::optional<PendingParagraph>& pending, std::string& cell_text) {
    if (!pending) return;
    const std::string finished = substitute_fields(pending->text.text, pending->text.field_texts, pending->field_entries);
    pending.reset();
    append_part(cell_text, trim(finished));
}

std::string escape_cell_text(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    append_escaped(escaped, text);
    return escaped;
}

void render_table(std::string& out, const block::Table& table) {
    if (table.rows.empty()) return;
    std::size_t width = 0;
    for (const TableRow& row : table.rows) width = std::max(width, row.cells.size());
    if (width == 0) {
        out.push_back('\n');
        return;
    }
    render_row(out, table.rows.front(), width);
    out.push_back('|');
    for (std::size_t k = 0; k < width; ++k) out += "---|";
    out.push_back('\n');
    for (std::size_t j = 1; j < table.rows.size(); ++j) render_row(out, table.rows[j], width);
    out.push_back('\n');
}

}  // namespace marlune
