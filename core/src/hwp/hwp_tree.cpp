// The faithful conversion of a whole HWP 5.0 document: the file header and
// the summary stream for metadata, every section (ViewText's decrypted ones
// for a distribution document) walked into one tree
// (DocInfo's binary items and outline levels read as the walk needs them),
// then the pictures' bytes when the options ask for them.
#include "hwp/hwp_tree.hpp"

#include <string>

#include "hwp/bin_data.hpp"
#include "hwp/distribution.hpp"
#include "hwp/doc_info.hpp"
#include "hwp/hwp_walk.hpp"
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
    } else {
        for_each_section(document, info->compressed, walk);
    }
    out.numberings = doc_info.current().numberings;
    out.bullets = doc_info.current().bullets;
    if (options.collect_images) collect_images(document, doc_info.current(), context, info->compressed, out.images);
    return out;
}

}  // namespace marlune
