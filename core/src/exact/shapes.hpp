// Drawing objects (gso controls): pictures become placeholders, text boxes
// and captions become paragraphs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "marlune/markdown.hpp"

namespace marlune {

struct ShapeResult {
    std::optional<Block> block;  // block::Image or block::Paragraph
    std::size_t consumed;
};

// start: the record after the gso control header; level: that header's level.
ShapeResult convert_shape_object(std::span<const Record> records, std::size_t start, std::uint32_t level);

// The strings joined with one separator byte between neighbours.
std::string join(std::span<const std::string> parts, char separator);

void render_image(std::string& out, const block::Image& image);

}  // namespace marlune
