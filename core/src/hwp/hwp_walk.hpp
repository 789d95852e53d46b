// The faithful walk of one HWP 5.0 section: its records to blocks of the
// document tree, with notes, page headers and footers set aside in the
// document and the pictures' binary items noted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "hwp/doc_info.hpp"
#include "hwp/numbers.hpp"
#include "marlune/faithful.hpp"
#include "marlune/records.hpp"
#include "marlune/tree.hpp"

namespace marlune {

// Lists nested deeper than this (cells, text boxes, notes inside one another)
// are passed over; real documents stay below ten, and the renderer recurses
// as deep as the tree.
inline constexpr std::uint32_t MAX_LIST_DEPTH = 24;

struct WalkContext {
    const ConvertOptions& options;
    LazyDocInfo& doc_info;
    tree::Document& document;                 // body, notes, headers and footers are added here
    std::vector<std::uint16_t> picture_items;  // BinData ids pictures refer to, each once, in order
    std::vector<bool> picture_seen;            // by BinData id
    // The outline numbering of the section being walked (an index into the
    // document's numberings), from its section definition.
    std::uint32_t outline_numbering = UINT32_MAX;
    AutoNumbers auto_numbers;  // captions' and notes' numbers so far
};

// Appends the section's paragraphs to context.document.body.
void walk_section(std::span<const Record> records, WalkContext& context);

// A section walked in parts, as it inflates: start_section with the
// outline numbering its definition names (found over all of its records),
// then walk_section_part for each run of whole top-level groups in order. A
// group is a record at level 0 with the deeper records after it (the
// section's leading deeper records, if any, join the first group): nothing
// in the walk looks past the next record at level 0, so the parts give
// what walking the section whole gives.
std::optional<std::uint32_t> find_outline_numbering(std::span<const Record> records) noexcept;
void start_section(std::uint32_t outline_numbering, WalkContext& context);
void walk_section_part(std::span<const Record> records, WalkContext& context);

// How many records from the front make whole groups when more records
// follow: those before the last record at level 0 (none when that is the
// first).
std::size_t whole_groups(std::span<const Record> records) noexcept;

}  // namespace marlune
