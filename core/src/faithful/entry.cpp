// The faithful conversion's entry points: the file's bytes, the format told
// from its first bytes, the tree built by that format's reader, then rendered.
#include "hwpx/hwpx_tree.hpp"
#include "faithful/hwp_tree.hpp"
#include "faithful/render.hpp"
#include "marlune/document.hpp"
#include "marlune/faithful.hpp"

#include <cerrno>

namespace marlune {

namespace {

ConvertedDocument finish(tree::Document document, const ConvertOptions& options) {
    ConvertedDocument converted;
    converted.markdown = render_tree(document, options);
    converted.metadata = std::move(document.metadata);
    converted.images = std::move(document.images);
    return converted;
}

Result<ConvertedDocument> convert_buffer(ByteBuffer bytes, const ConvertOptions& options) {
    if (looks_like_zip(bytes)) {
        auto document = build_hwpx_tree(bytes, options);
        if (!document) return std::unexpected(std::move(document.error()));
        bytes = ByteBuffer();
        return finish(std::move(*document), options);
    }
    auto document = [&]() -> Result<tree::Document> {
        // The container and the file's bytes are released before rendering.
        auto opened = open_document_from_buffer(std::move(bytes));
        if (!opened) return std::unexpected(std::move(opened.error()));
        return build_hwp_tree(*opened, options);
    }();
    if (!document) return std::unexpected(std::move(document.error()));
    return finish(std::move(*document), options);
}

}  // namespace

Result<ConvertedDocument> convert_file(std::string_view path, const ConvertOptions& options) {
    auto bytes = read_file(path);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    return convert_buffer(std::move(*bytes), options);
}

Result<ConvertedDocument> convert_bytes(std::span<const std::uint8_t> bytes, const ConvertOptions& options) {
    ByteBuffer copy;
    if (!copy.assign(bytes)) return std::unexpected(HwpError::io(IoErrorInfo::from_os(ENOMEM)));
    return convert_buffer(std::move(copy), options);
}

}  // namespace marlune
