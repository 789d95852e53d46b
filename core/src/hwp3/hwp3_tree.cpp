// The faithful conversion of an HWP 3.0 file: the header checked, the
// summary read as metadata, the body's paragraph list walked into the tree,
// then the extra blocks after it read for the pictures the tree refers to.
// Pictures are named as the HWP 5.0 reader names binary items ("BIN0001.gif",
// numbered in hexadecimal in stored order), never by the name the file gives.
#include "hwp3/hwp3_tree.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <string>

#include "container/media_type.hpp"
#include "hwp3/extra_blocks.hpp"
#include "hwp3/hwp3_file.hpp"
#include "hwp3/paragraph_list.hpp"

namespace marlune {

namespace {

constexpr std::size_t MAX_EXTENSION = 8;

// The extension of a stored name (after its last dot), letters and digits
// only, its case kept.
std::string extension_of(std::string_view name) {
    const auto dot = name.rfind('.');
    std::string extension;
    if (dot == std::string_view::npos) return extension;
    for (const char c : name.substr(dot + 1)) {
        if (!std::isalnum(static_cast<unsigned char>(c)) || extension.size() == MAX_EXTENSION) return {};
        extension.push_back(c);
    }
    return extension;
}

std::string item_name(std::size_t index, std::string_view stored) {
    char number[16];
    std::snprintf(number, sizeof number, "BIN%04zX", index + 1);
    std::string name = number;
    const std::string extension = extension_of(stored);
    if (!extension.empty()) {
        name.push_back('.');
        name += extension;
    }
    return name;
}

// What the walk left for the extra blocks to settle: every picture gets its
// item's name, or none when the file holds no picture by the name it refers
// to; every hypertext its target, or none. Notes which items are used.
class Resolver {
public:
    explicit Resolver(const hwp3::ExtraBlocks& extra) : extra_(extra), used_(extra.pictures.size(), false) {}

    void document(tree::Document& document) {
        blocks(document.body);
        for (tree::Note& note : document.notes) blocks(note.blocks);
        for (auto& header : document.headers) blocks(header);
        for (auto& footer : document.footers) blocks(footer);
    }

    void collect(std::vector<tree::BinaryItem>& images) const {
        for (std::size_t i = 0; i < used_.size(); ++i) {
            if (!used_[i]) continue;
            const auto& picture = extra_.pictures[i];
            images.push_back(tree::BinaryItem{item_name(i, picture.name),
                                              std::string(sniff_media_type(picture.data, extension_of(picture.name))),
                                              std::string(picture.data.begin(), picture.data.end())});
        }
    }

private:
    void blocks(std::vector<tree::Block>& list) {
        for (tree::Block& block : list) {
            if (auto* image = std::get_if<tree::Image>(&block.node)) {
                name(*image);
            } else if (auto* paragraph = std::get_if<tree::Paragraph>(&block.node)) {
                for (tree::Inline& item : paragraph->inlines) {
                    if (auto* link = std::get_if<tree::Link>(&item)) target(*link);
                }
            } else if (auto* table = std::get_if<tree::Table>(&block.node)) {
                for (tree::Cell& cell : table->cells) blocks(cell.blocks);
                blocks(table->caption);
            }
        }
    }

    void name(tree::Image& image) {
        if (image.name.empty()) return;
        const auto& pictures = extra_.pictures;
        const auto found = std::ranges::find(pictures, std::string_view(image.name), &hwp3::EmbeddedPicture::name);
        if (found == pictures.end()) {
            image.name.clear();
            return;
        }
        const auto index = static_cast<std::size_t>(found - pictures.begin());
        used_[index] = true;
        image.name = item_name(index, found->name);
    }

    void target(tree::Link& link) {
        const std::string_view placeholder = link.target;
        std::uint32_t index = 0;
        const bool numbered = placeholder.size() > 1 && placeholder.front() == '\0' &&
                              std::from_chars(placeholder.data() + 1, placeholder.data() + placeholder.size(), index).ec ==
                                  std::errc();
        link.target = numbered && index < extra_.hyperlinks.size() ? extra_.hyperlinks[index] : std::string();
    }

    const hwp3::ExtraBlocks& extra_;
    std::vector<bool> used_;
};

}  // namespace

Result<tree::Document> build_hwp3_tree(std::span<const std::uint8_t> bytes, const ConvertOptions& options) {
    auto file = hwp3::open_hwp3(bytes);
    if (!file) return std::unexpected(std::move(file.error()));
    tree::Document out;
    out.metadata.format = "hwp3";
    out.metadata.version = "3.0";
    out.metadata.sections = 1;
    out.metadata.unmapped_characters = 0;
    if (options.metadata) hwp3::read_hwp3_summary(file->summary, out.metadata);
    const auto start = hwp3::paragraphs_offset(file->body);
    if (!start) return out;
    const hwp3::WalkSummary walked = hwp3::walk_body(file->body, *start, options, out);
    const hwp3::ExtraBlocks extra =
        walked.complete ? hwp3::read_extra_blocks(file->body, walked.end) : hwp3::ExtraBlocks{};
    Resolver resolver(extra);
    resolver.document(out);
    if (options.collect_images) resolver.collect(out.images);
    out.metadata.unmapped_characters = walked.unmapped + extra.unmapped;
    return out;
}

}  // namespace marlune
