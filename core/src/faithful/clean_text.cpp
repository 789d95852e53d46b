// Control characters out of every string of a document tree: one scan that
// passes over eight bytes at a time, a rewrite in place only where one is.
#include "faithful/clean_text.hpp"

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <variant>

namespace marlune {

namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

// Whether any of the eight bytes is below 0x20.
bool holds_control(std::uint64_t bytes) noexcept { return ((bytes - kOnes * 0x20) & ~bytes & kHighs) != 0; }

bool is_kept(char c) noexcept { return static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n'; }

// The first byte of text that is a control character to clean, or its size.
std::size_t first_control(std::string_view text) noexcept {
    std::size_t k = 0;
    for (; text.size() - k >= sizeof(std::uint64_t); k += sizeof(std::uint64_t)) {
        std::uint64_t bytes = 0;
        std::memcpy(&bytes, text.data() + k, sizeof bytes);
        if (!holds_control(bytes)) continue;
        for (std::size_t i = k; i < k + sizeof bytes; ++i) {
            if (!is_kept(text[i])) return i;
        }
    }
    for (; k < text.size(); ++k) {
        if (!is_kept(text[k])) return k;
    }
    return text.size();
}

void clean_optional(std::optional<std::string>& text) {
    if (text) clean_controls(*text);
}

struct TreeCleaner {
    void blocks(std::span<tree::Block> items) {
        for (tree::Block& block : items) std::visit(*this, block.node);
    }

    void operator()(tree::Text& run) { clean_controls(run.text); }
    void operator()(tree::Link& link) {
        clean_controls(link.text);
        clean_controls(link.target);
    }
    void operator()(tree::NoteRef&) {}

    void operator()(tree::Paragraph& paragraph) {
        for (tree::Inline& item : paragraph.inlines) std::visit(*this, item);
    }

    void operator()(tree::Table& table) {
        blocks(table.caption);
        for (tree::Cell& cell : table.cells) blocks(cell.blocks);
    }

    void operator()(tree::Equation& equation) { clean_controls(equation.script); }

    void operator()(tree::Image& image) {
        clean_controls(image.caption);
        clean_controls(image.linked_path);
    }
};

}  // namespace

void clean_controls(std::string& text) {
    std::size_t read = first_control(text);
    if (read == text.size()) return;
    std::size_t write = read;
    for (; read < text.size(); ++read) {
        const char c = text[read];
        if (is_kept(c)) {
            text[write++] = c;
        } else if (c == '\r') {
            if (read + 1 == text.size() || text[read + 1] != '\n') text[write++] = '\n';
        } else if (c == '\v' || c == '\f') {
            text[write++] = ' ';
        }
    }
    text.resize(write);
}

void clean_tree_text(tree::Document& document) {
    TreeCleaner cleaner;
    cleaner.blocks(document.body);
    for (tree::Note& note : document.notes) cleaner.blocks(note.blocks);
    for (auto& list : document.headers) cleaner.blocks(list);
    for (auto& list : document.footers) cleaner.blocks(list);
    tree::Metadata& metadata = document.metadata;
    for (auto* text : {&metadata.title, &metadata.subject, &metadata.author, &metadata.keywords, &metadata.comments,
                       &metadata.last_saved_by}) {
        clean_optional(*text);
    }
    clean_controls(metadata.version);
    for (tree::Numbering& numbering : document.numberings) {
        for (tree::NumberingLevel& level : numbering.levels) clean_controls(level.format);
    }
    for (std::string& bullet : document.bullets) clean_controls(bullet);
}
}  // namespace marlune
