// The faithful conversion's entry points: the document opened (a compound
// file for HWP 5.0, else a zip package for HWPX, told by the first bytes),
// the tree built by that format's reader, then rendered.
#include "hwpx/hwpx_tree.hpp"
#include "faithful/hwp_tree.hpp"
#include "faithful/render.hpp"
#include "marlune/document.hpp"
#include "marlune/faithful.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <string>

namespace marlune {

namespace {

ConvertedDocument finish(tree::Document document, const ConvertOptions& options) {
    ConvertedDocument converted;
    converted.markdown = render_tree(document, options);
    converted.metadata = std::move(document.metadata);
    converted.images = std::move(document.images);
    return converted;
}

Result<ConvertedDocument> convert_package(ByteBuffer bytes, const ConvertOptions& options) {
    auto document = build_hwpx_tree(bytes, options);
    if (!document) return std::unexpected(std::move(document.error()));
    bytes = ByteBuffer();
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
    if (looks_like_zip(bytes)) return convert_package(std::move(bytes), options);
    return convert_opened(open_document_from_buffer(std::move(bytes)), options);
}

// False for a pipe or a device, which can be read only once: its bytes are
// read whole before the format is told. Paths that cannot be looked at are
// left to open_document, which reports why.
bool can_be_read_twice(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) return true;
    struct stat st{};
    const std::string c_path(path);
    return ::stat(c_path.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
}

}  // namespace

Result<ConvertedDocument> convert_file(std::string_view path, const ConvertOptions& options) {
    // Opened as the exact conversion opens it, so a large file is not read
    // whole; a file that is no compound file may still be a package.
    if (!can_be_read_twice(path)) {
        auto bytes = read_file(path);
        if (!bytes) return std::unexpected(std::move(bytes.error()));
        return convert_buffer(std::move(*bytes), options);
    }
    auto opened = open_document(path);
    if (opened) return convert_opened(std::move(opened), options);
    auto bytes = read_file(path);
    if (!bytes || !looks_like_zip(*bytes)) return std::unexpected(std::move(opened.error()));
    return convert_package(std::move(*bytes), options);
}

Result<ConvertedDocument> convert_bytes(std::span<const std::uint8_t> bytes, const ConvertOptions& options) {
    ByteBuffer copy;
    if (!copy.assign(bytes)) return std::unexpected(HwpError::io(IoErrorInfo::from_os(ENOMEM)));
    return convert_buffer(std::move(copy), options);
}

}  // namespace marlune
