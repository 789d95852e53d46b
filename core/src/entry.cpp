// The faithful conversion's entry points: the document opened (a compound
// file for HWP 5.0, else a zip package for HWPX or the bytes of an HWP 3.x
// file, told by the first bytes),
// the tree built by that format's reader, then rendered.
#include "hwpx/hwpx_tree.hpp"
#include "hwp3/hwp3_tree.hpp"
#include "hwp/hwp_tree.hpp"
#include "faithful/clean_text.hpp"
#include "faithful/picture_names.hpp"
#include "faithful/render.hpp"
#include "faithful/spread_labels.hpp"
#include "faithful/tree_text.hpp"
#include "hwp/document.hpp"
#include "marlune/faithful.hpp"

#include <cerrno>

namespace marlune {

namespace {

ConvertedDocument finish(tree::Document document, const ConvertOptions& options) {
    clean_tree_text(document);
    join_spread_labels(document);
    name_pictures(document);
    ConvertedDocument converted;
    if (options.collect_texts) converted.texts = tree_texts(document, options);
    converted.markdown = render_tree(document, options);
    converted.metadata = std::move(document.metadata);
    converted.images = std::move(document.images);
    return converted;
}

// A zip package (HWPX) or an HWP 3.x file, held as its bytes.
Result<ConvertedDocument> convert_package(PackageBytes package, const ConvertOptions& options) {
    auto document = starts_like_hwp3(package.bytes()) ? build_hwp3_tree(package.bytes(), options)
                                                      : build_hwpx_tree(package.bytes(), options);
    if (!document) return std::unexpected(std::move(document.error()));
    package = PackageBytes(ByteBuffer());
    return finish(std::move(*document), options);
}

Result<ConvertedDocument> convert_opened(Result<Document> opened, const ConvertOptions& options) {
    if (!opened) return std::unexpected(std::move(opened.error()));
    auto document = [&]() -> Result<tree::Document> {
        // The container and the file's bytes are released before rendering.
        const Document held = std::move(*opened);
        return build_hwp_tree(held, options);
    }();
    if (!document) return std::unexpected(std::move(document.error()));
    return finish(std::move(*document), options);
}

Result<ConvertedDocument> convert_buffer(ByteBuffer bytes, const ConvertOptions& options) {
    if (starts_like_package(bytes) || starts_like_hwp3(bytes)) {
        return convert_package(PackageBytes(std::move(bytes)), options);
    }
    return convert_opened(open_document_from_buffer(std::move(bytes)), options);
}

}  // namespace

Result<ConvertedDocument> convert_file(std::string_view path, const ConvertOptions& options) {
    // Opened as the exact conversion opens it, so a large file is not read
    // whole, unless it starts like a package: then its bytes, read once.
    auto opened = open_document_or_package(path);
    if (!opened) return std::unexpected(std::move(opened.error()));
    if (auto* package = std::get_if<PackageBytes>(&*opened)) return convert_package(std::move(*package), options);
    return convert_opened(std::move(std::get<Document>(*opened)), options);
}

Result<ConvertedDocument> convert_bytes(std::span<const std::uint8_t> bytes, const ConvertOptions& options) {
    ByteBuffer copy;
    if (!copy.assign(bytes)) return std::unexpected(HwpError::io(IoErrorInfo::from_os(ENOMEM)));
    return convert_buffer(std::move(copy), options);
}

}  // namespace marlune
