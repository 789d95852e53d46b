// The faithful conversion of a whole HWP 5.0 document: the file header and
// the summary stream for metadata, every section (ViewText's decrypted ones
// for a distribution document; a large compressed one as it inflates)
// walked into one tree
// (DocInfo's binary items and outline levels read as the walk needs them),
// then the pictures' bytes when the options ask for them.
#include "hwp/hwp_tree.hpp"

#include <optional>
#include <span>
#include <string>

#include "hwp/bin_data.hpp"
#include "hwp/distribution.hpp"
#include "hwp/doc_info.hpp"
#include "hwp/hwp_walk.hpp"
#include "hwp/section_stream.hpp"
#include "hwp/summary_info.hpp"
#include "marlune/records.hpp"

namespace marlune {

namespace {

std::string version_text(std::uint32_t version) {
    return std::to_string(version >> 24) + "." + std::to_string((version >> 16) & 0xFF) + "." +
           std::to_string((version >> 8) & 0xFF) + "." + std::to_string(version & 0xFF);
}

void collect_images(const Document& document, const DocInfo& doc_info, const WalkContext& context,
                    bool compressed, std::vector<tree::BinaryItem>& images) {
    for (const std::uint16_t id : context.picture_items) {
        auto item = read_binary_item(document, doc_info.bin_data[id - 1U], compressed);
        if (item) images.push_back(std::move(*item));
    }
}

// A large section walked as it inflates (a window of its records at a
// time), so that its inflated bytes and its records are never held whole
// beside the tree. A first pass reads what the walk needs from all of the
// records before it starts (the outline numbering, whether paragraphs use
// shapes) and whether the data inflates at all: a section that fails to
// inflate ends the document before any of it is walked, as a section read
// whole does. False when it fails.
bool walk_streamed_section(std::span<const std::uint8_t> stored, WalkContext& context) {
    std::optional<std::uint32_t> outline;
    bool shapes = false;
    const auto scanned = inflate_records(stored, [&](std::span<const Record> records, bool) {
        if (!outline) outline = find_outline_numbering(records);
        shapes = shapes || uses_shapes(records);
        return records.size();
    });
    if (!scanned) return false;
    if (shapes) context.doc_info.with_paragraph_shapes();
    start_section(outline.value_or(UINT32_MAX), context);
    const auto walked = inflate_records(stored, [&](std::span<const Record> records, bool last) {
        const std::size_t whole = last ? records.size() : whole_groups(records);
        walk_section_part(records.first(whole), context);
        return whole;
    });
    return walked.has_value();
}

// Each compressed section in index order: a large one walked as it
// inflates, the others inflated whole and handed to `walk`; the first
// section that cannot be read ends the document.
template <class Walk>
void for_each_compressed_section(const Document& document, WalkContext& context, Walk&& walk) {
    for (std::uint32_t index = 0;; ++index) {
        ByteBuffer data;
        {
            auto stored = document.stream_bytes(section_stream_name(index));
            if (!stored) return;
            if (stored->bytes().size() >= streamed_section_bytes()) {
                if (!walk_streamed_section(stored->bytes(), context)) return;
                ++context.document.metadata.sections;
                if (index == UINT32_MAX) return;
                continue;
            }
            auto inflated = inflate_raw(stored->bytes());
            if (!inflated) return;
            data = std::move(*inflated);
        }
        walk(std::move(data));
        if (index == UINT32_MAX) return;
    }
}

}  // namespace

Result<tree::Document> build_hwp_tree(const Document& document, const ConvertOptions& options) {
    auto info = read_file_info(document);
    if (!info) return std::unexpected(std::move(info.error()));
    tree::Document out;
    out.metadata.format = "hwp";
    out.metadata.version = version_text(info->version);
    if (options.metadata) read_summary_info(document, out.metadata);
    LazyDocInfo doc_info(document, info->compressed);
    WalkContext context{options, doc_info, out, {}, {}, UINT32_MAX, {}};
    const auto walk = [&](ByteBuffer data) {
        // The records view the section's bytes, which live until it is walked.
        const auto records = parse_records(data);
        if (uses_shapes(records)) doc_info.with_paragraph_shapes();
        walk_section(records, context);
        ++out.metadata.sections;
    };
    if ((info->properties & DISTRIBUTION_PROPERTY) != 0) {
        // BodyText holds only a notice; the body is in ViewText.
        out.metadata.distribution = true;
        auto read = for_each_distribution_section(document, info->compressed, walk);
        if (!read) return std::unexpected(std::move(read.error()));
    } else if (!info->compressed) {
        for_each_section(document, false, walk);
    } else {
        for_each_compressed_section(document, context, walk);
    }
    out.numberings = doc_info.current().numberings;
    out.bullets = doc_info.current().bullets;
    if (options.collect_images) collect_images(document, doc_info.current(), context, info->compressed, out.images);
    return out;
}

}  // namespace marlune
