// Click-here fields (%clk) and equations (eqed): what their control records
// say, and how they appear in the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "marlune/records.hpp"
#include "hwp/para_text.hpp"

namespace marlune {

struct FieldEntry {
    std::string name;       // from the HWPTAG_CTRL_DATA record after the control header
    std::string direction;  // the guide text
    bool modified = false;  // the user has typed into the field
};

// A decoded paragraph that is not finished yet.
struct PendingParagraph {
    ParagraphText text;
    std::vector<FieldEntry> field_entries;  // never longer than text.field_texts

    bool wants_field_entry() const noexcept { return field_entries.size() < text.field_texts.size(); }
};

// Strict UTF-16LE to UTF-8: nothing when any surrogate is unpaired. A last
// odd byte is ignored.
std::optional<std::string> utf16_to_utf8_strict(std::span<const std::uint8_t> bytes);

struct FieldHeader {
    std::string direction;
    bool modified = false;
};

// The guide text and modified flag of a %clk control header payload.
std::optional<FieldHeader> parse_field_header(std::span<const std::uint8_t> payload);

struct FieldName {
    std::string name;
    std::size_t next_index;
};

// The field's name from an HWPTAG_CTRL_DATA record at index with the given
// level; next_index is index + 1 when that record was taken, else index.
FieldName read_field_name(std::span<const Record> records, std::size_t index, std::uint32_t level);

// Accepts the %clk control header at header_index into the paragraph and
// returns the index at which the walk continues.
std::size_t add_field_entry(PendingParagraph& paragraph, std::span<const Record> records, std::size_t header_index);

// What replaces a field's placeholder: {{name: guide --> text}} with the
// parts that do not apply left out.
std::string render_field(const FieldEntry& entry, std::string_view text);

// The paragraph's finished text: every placeholder replaced, in one pass.
std::string substitute_fields(std::string_view text, std::span<const std::string> field_texts,
                              std::span<const FieldEntry> field_entries);

struct EquationResult {
    std::optional<std::string> script;
    std::size_t consumed;
};

// The script of the eqed control whose records start at index (the record
// after its control header, which has the given level).
EquationResult convert_equation(std::span<const Record> records, std::size_t index, std::uint32_t level);

// The index of the first record at or after index whose level is at most
// level (or the end): how a control's subtree is passed over.
std::size_t skip_subtree(std::span<const Record> records, std::size_t index, std::uint32_t level) noexcept;

}  // namespace marlune
