// Spread-out labels joined: one check per paragraph that is a single run,
// rejected at its first characters unless it starts like a label.
#include "faithful/spread_labels.hpp"

#include <span>
#include <variant>

namespace marlune {

namespace {

// A precomposed Hangul syllable (U+AC00 to U+D7A3) is three UTF-8 bytes,
// EA B0 80 to ED 9E A3.
constexpr std::size_t SYLLABLE_BYTES = 3;

bool is_syllable_at(std::string_view text, std::size_t at) noexcept {
    if (text.size() - at < SYLLABLE_BYTES) return false;
    const auto lead = static_cast<unsigned char>(text[at]);
    const auto second = static_cast<unsigned char>(text[at + 1]);
    const auto third = static_cast<unsigned char>(text[at + 2]);
    if ((second & 0xC0) != 0x80 || (third & 0xC0) != 0x80) return false;
    const char32_t code = ((lead & 0x0FU) << 12) | ((second & 0x3FU) << 6) | (third & 0x3FU);
    return lead >= 0xEA && lead <= 0xED && code >= 0xAC00 && code <= 0xD7A3;
}

void join_blocks(std::span<tree::Block> blocks);

struct LabelJoiner {
    void operator()(tree::Paragraph& paragraph) const {
        if (paragraph.inlines.size() != 1) return;
        auto* run = std::get_if<tree::Text>(&paragraph.inlines.front());
        if (run == nullptr) return;
        std::string joined = joined_spread_label(run->text);
        if (!joined.empty()) run->text = std::move(joined);
    }

    void operator()(tree::Table& table) const {
        join_blocks(table.caption);
        for (tree::Cell& cell : table.cells) join_blocks(cell.blocks);
    }

    void operator()(tree::Equation&) const {}
    void operator()(tree::Image&) const {}
};

void join_blocks(std::span<tree::Block> blocks) {
    for (tree::Block& block : blocks) std::visit(LabelJoiner{}, block.node);
}

}  // namespace

std::string joined_spread_label(std::string_view text) {
    std::size_t at = text.find_first_not_of(' ');
    // The shortest label, "가 나 다", is eleven bytes.
    if (at == std::string_view::npos || text.size() - at < 3 * SYLLABLE_BYTES + 2) return {};
    std::string joined;
    while (at < text.size()) {
        if (!is_syllable_at(text, at) || joined.size() == MAX_SPREAD_LABEL_SYLLABLES * SYLLABLE_BYTES) return {};
        joined.append(text.substr(at, SYLLABLE_BYTES));
        at += SYLLABLE_BYTES;
        const std::size_t next = text.find_first_not_of(' ', at);
        if (next == at) return {};  // two characters side by side: a word, not a label
        at = next == std::string_view::npos ? text.size() : next;
    }
    return joined.size() >= 3 * SYLLABLE_BYTES ? joined : std::string();
}

void join_spread_labels(tree::Document& document) {
    join_blocks(document.body);
    for (tree::Note& note : document.notes) join_blocks(note.blocks);
    for (auto& list : document.headers) join_blocks(list);
    for (auto& list : document.footers) join_blocks(list);
}

}  // namespace marlune
