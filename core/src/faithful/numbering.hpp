// Paragraph numbers and bullets as the word processor draws them: a level's
// format with its "^n" placeholders, each number in its level's shape, and
// the counters that run through the document in reading order.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hwp/numbers.hpp"
#include "marlune/tree.hpp"

namespace marlune {

// Levels a numbering can have (the word processor's 7, and 10 in newer files).
inline constexpr std::size_t MAX_NUMBERING_LEVELS = 10;

// Appends the format with each "^n" replaced by level n's number in level
// n's shape; a "^" that names no level stays as it is.
void append_formatted(std::string& out, std::string_view format, std::span<const std::uint32_t> values,
                      std::span<const tree::NumberingLevel> levels);

// The counters of every numbering, advanced once per numbered paragraph in
// reading order: a paragraph counts at its level and restarts every level
// below it; a level not yet counted shows its start number.
class ParagraphNumbers {
public:
    explicit ParagraphNumbers(const tree::Document& document) noexcept : document_(document) {}

    // The text of the paragraph's head ("1.", "가)", "○"); empty for none,
    // for an unknown numbering and for a level whose format is empty.
    const std::string& head(const tree::ParagraphHead& head);

private:
    struct Counters {
        std::array<std::uint32_t, MAX_NUMBERING_LEVELS> values{};
        std::array<bool, MAX_NUMBERING_LEVELS> counted{};
    };

    const tree::Document& document_;
    std::vector<Counters> counters_;  // by numbering index, grown as numberings are used
    std::string text_;
};

}  // namespace marlune
