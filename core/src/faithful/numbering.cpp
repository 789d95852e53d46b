// Formats with their "^n" placeholders, and the counters of numbered
// paragraphs.
#include "faithful/numbering.hpp"

#include <algorithm>

namespace marlune {

void append_formatted(std::string& out, std::string_view format, std::span<const std::uint32_t> values,
                      std::span<const tree::NumberingLevel> levels) {
    const std::size_t count = std::min(values.size(), levels.size());
    for (std::size_t k = 0; k < format.size(); ++k) {
        std::size_t level = 0;
        std::size_t width = 0;
        if (format[k] == '^' && k + 1 < format.size() && format[k + 1] >= '1' && format[k + 1] <= '9') {
            level = static_cast<std::size_t>(format[k + 1] - '0');
            width = 1;
            // "^10" names the tenth level only where there is one.
            if (level == 1 && count >= 10 && k + 2 < format.size() && format[k + 2] == '0') {
                level = 10;
                width = 2;
            }
        }
        if (level == 0 || level > count) {
            out.push_back(format[k]);
            continue;
        }
        append_number(out, values[level - 1], levels[level - 1].shape);
        k += width;
    }
}

const std::string& ParagraphNumbers::head(const tree::ParagraphHead& head) {
    text_.clear();
    using Kind = tree::ParagraphHead::Kind;
    if (head.kind == Kind::Bullet) {
        if (head.id < document_.bullets.size()) text_ = document_.bullets[head.id];
        return text_;
    }
    if (head.kind == Kind::None || head.id >= document_.numberings.size()) return text_;
    const auto& levels = document_.numberings[head.id].levels;
    const std::size_t count = std::min(levels.size(), MAX_NUMBERING_LEVELS);
    if (head.level >= count) return text_;
    if (counters_.size() <= head.id) counters_.resize(std::size_t{head.id} + 1);
    Counters& counters = counters_[head.id];
    const std::size_t level = head.level;
    counters.values[level] = counters.counted[level] ? counters.values[level] + 1 : levels[level].start;
    counters.counted[level] = true;
    for (std::size_t below = level + 1; below < count; ++below) counters.counted[below] = false;
    // Levels above that were never counted show their start.
    std::array<std::uint32_t, MAX_NUMBERING_LEVELS> values{};
    for (std::size_t k = 0; k < count; ++k) values[k] = counters.counted[k] ? counters.values[k] : levels[k].start;
    append_formatted(text_, levels[level].format, std::span(values).first(count), std::span(levels).first(count));
    return text_;
}

}  // namespace marlune
