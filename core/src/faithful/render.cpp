// The faithful renderer (first cut: paragraphs, equations, pictures, and
// each table cell's blocks in turn).
#include "faithful/render.hpp"

#include "marlune/markdown.hpp"

namespace marlune {

namespace {

void render_blocks(std::string& out, const std::vector<tree::Block>& blocks, const ConvertOptions& options);

struct Renderer {
    std::string& out;
    const ConvertOptions& options;

    void operator()(const tree::Paragraph& paragraph) const {
        std::string text;
        for (const tree::Inline& item : paragraph.inlines) {
            if (const auto* run = std::get_if<tree::Text>(&item)) text += run->text;
            else if (const auto* link = std::get_if<tree::Link>(&item)) text += link->text;
        }
        const std::string_view trimmed = trim(text);
        if (trimmed.empty()) return;
        out += trimmed;
        out += "\n\n";
    }
    void operator()(const tree::Table& table) const {
        for (const tree::Cell& cell : table.cells) render_blocks(out, cell.blocks, options);
    }
    void operator()(const tree::Equation& equation) const {
        out += "$$\n";
        out += trim(equation.script);
        out += "\n$$\n\n";
    }
    void operator()(const tree::Image& image) const {
        out += "![";
        out += image.caption;
        out += "](";
        out += options.image_prefix;
        out += image.name;
        out += ")\n\n";
    }
};

void render_blocks(std::string& out, const std::vector<tree::Block>& blocks, const ConvertOptions& options) {
    for (const tree::Block& block : blocks) std::visit(Renderer{out, options}, block.node);
}

}  // namespace

std::string render_tree(const tree::Document& document, const ConvertOptions& options) {
    std::string out;
    render_blocks(out, document.body, options);
    out.resize(trim_end(out).size());
    return out;
}

}  // namespace marlune
