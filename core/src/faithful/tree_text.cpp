// The text pieces of a document tree, one visitor over the node kinds.
#include "faithful/tree_text.hpp"

#include <span>
#include <variant>

namespace marlune {

namespace {

struct TextCollector {
    std::vector<std::string>& pieces;

    void blocks(std::span<const tree::Block> items) {
        for (const tree::Block& block : items) std::visit(*this, block.node);
    }

    void piece(std::string& text) {
        if (!text.empty()) pieces.push_back(std::move(text));
        text.clear();
    }

    void operator()(const tree::Paragraph& paragraph) {
        std::string text;
        for (const tree::Inline& item : paragraph.inlines) {
            if (const auto* run = std::get_if<tree::Text>(&item)) {
                text += run->text;
            } else if (const auto* link = std::get_if<tree::Link>(&item)) {
                text += link->text;
            } else {
                piece(text);
            }
        }
        piece(text);
    }

    void operator()(const tree::Table& table) {
        blocks(table.caption);
        for (const tree::Cell& cell : table.cells) blocks(cell.blocks);
    }

    void operator()(const tree::Equation&) {}

    void operator()(const tree::Image& image) {
        std::string caption = image.caption;
        piece(caption);
    }
};

}  // namespace

std::vector<std::string> tree_texts(const tree::Document& document, const ConvertOptions& options) {
    std::vector<std::string> pieces;
    TextCollector collector{pieces};
    collector.blocks(document.body);
    if (options.notes) {
        for (const tree::Note& note : document.notes) collector.blocks(note.blocks);
    }
    if (options.headers) {
        for (const auto& list : document.headers) collector.blocks(list);
        for (const auto& list : document.footers) collector.blocks(list);
    }
    return pieces;
}

}  // namespace marlune
