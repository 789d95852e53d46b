// The section walk's paragraph slot.
#pragma once

#include <optional>
#include <vector>

#include "hwp/fields.hpp"
#include "marlune/markdown.hpp"

namespace marlune {

// Finishes the pending paragraph, if any, into a block::Paragraph (when its
// text is not blank) and empties the slot.
void finish_paragraph(std::optional<PendingParagraph>& pending, std::vector<Block>& blocks);

}  // namespace marlune
