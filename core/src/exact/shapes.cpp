// Drawing objects: a gso control is followed by an optional caption list, then
// an HWPTAG_SHAPE_COMPONENT record one level below the control, then the
// records describing the shape (text-box paragraphs, a picture record, nested
// objects). A picture becomes a placeholder; otherwise the shape's text, or
// failing that its caption, becomes a paragraph.
#include "exact/shapes.hpp"

#include <string_view>

#include "container/utf8.hpp"
#include "hwp/para_text.hpp"

namespace marlune {

namespace {

// The paragraph's text, trimmed, added to the collected text with the
// separator before it; blank paragraphs add nothing.
void collect_text(std::string& collected, const Record& record, char separator) {
    const std::string decoded = decode_para_text(record.payload());
    const std::string_view text = trim(decoded);
    if (text.empty()) return;
    if (!collected.empty()) collected.push_back(separator);
    collected.append(text);
}

bool is_shape_component(const Record& record, std::uint32_t level) noexcept {
    return record.tag_id == HWPTAG_SHAPE_COMPONENT && record.level == level + 1;
}

// The caption paragraphs before the shape component, joined by spaces.
// Returns the index of the shape component, or where the object ended
// without one.
std::size_t read_caption(std::span<const Record> records, std::size_t j, std::uint32_t level,
                         std::string& caption) {
    for (; j < records.size(); ++j) {
        const Record& record = records[j];
        if (record.level <= level || is_shape_component(record, level)) break;
        if (record.tag_id == HWPTAG_PARA_TEXT) collect_text(caption, record, ' ');
    }
    return j;
}

struct ShapeBody {
    std::string text;  // text-box lines joined by line feeds
    bool picture = false;
    std::size_t end;  // first record above the object
};

// Everything below the control after the shape component. Paragraphs at any
// depth (nested tables and shapes included) become lines; the last picture
// record decides whether the object is a picture.
ShapeBody read_shape_body(std::span<const Record> records, std::size_t j, std::uint32_t level) {
    ShapeBody body;
    for (; j < records.size() && records[j].level > level; ++j) {
        const Record& record = records[j];
        if (record.tag_id == HWPTAG_PARA_TEXT) {
            collect_text(body.text, record, '\n');
        } else if (record.tag_id == HWPTAG_SHAPE_COMPONENT_PICTURE) {
            body.picture = record.payload().size() >= MIN_PICTURE_RECORD_BYTES;
        }
    }
    body.end = j;
    return body;
}

}  // namespace

ShapeResult convert_shape_object(std::span<const Record> records, std::size_t start, std::uint32_t level) {
    std::string caption;
    const std::size_t component = read_caption(records, start, level, caption);
    if (component >= records.size() || !is_shape_component(records[component], level)) {
        return {std::nullopt, component - start};
    }
    ShapeBody body = read_shape_body(records, component + 1, level);
    const std::size_t consumed = body.end - start;
    if (body.picture) return {Block{block::Image{std::move(caption)}}, consumed};
    if (!body.text.empty()) return {Block{block::Paragraph{std::move(body.text)}}, consumed};
    if (!caption.empty()) return {Block{block::Paragraph{std::move(caption)}}, consumed};
    return {std::nullopt, consumed};
}

std::string join(std::span<const std::string> parts, char separator) {
    std::string joined;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        if (k > 0) joined.push_back(separator);
        joined.append(parts[k]);
    }
    return joined;
}

void render_image(std::string& out, const block::Image& image) {
    if (image.caption.empty()) {
        out += "[이미지]\n\n";
        return;
    }
    out += "[이미지: ";
    out += image.caption;
    out += "]\n\n";
}

}  // namespace marlune
