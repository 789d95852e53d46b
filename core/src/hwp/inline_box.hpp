// Drawing objects that stand in the line like a character: a box holding one
// short paragraph (a boxed word in a sentence, a name in a diagram) is read
// as part of the sentence it stands in, not as a block of its own.
#pragma once

#include <cstddef>
#include <variant>
#include <vector>

#include "marlune/tree.hpp"

namespace marlune {

// A box's text up to this many bytes (about forty Hangul syllables) reads
// as a word or a phrase; longer text is a block.
inline constexpr std::size_t MAX_INLINE_BOX_BYTES = 120;

// Whether the blocks a box holds are one short paragraph of one line.
inline bool is_inline_box(const std::vector<tree::Block>& blocks) noexcept {
    if (blocks.size() != 1) return false;
    const auto* paragraph = std::get_if<tree::Paragraph>(&blocks.front().node);
    if (paragraph == nullptr || paragraph->heading != 0) return false;
    std::size_t bytes = 0;
    for (const tree::Inline& item : paragraph->inlines) {
        const std::string* text = nullptr;
        if (const auto* run = std::get_if<tree::Text>(&item)) text = &run->text;
        if (const auto* link = std::get_if<tree::Link>(&item)) text = &link->text;
        if (text == nullptr) continue;
        if (text->find('\n') != std::string::npos) return false;
        bytes += text->size();
    }
    return bytes <= MAX_INLINE_BOX_BYTES;
}

}  // namespace marlune
