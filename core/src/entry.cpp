// The faithful conversion's entry points: the document opened (a compound
// file for HWP 5.0, else a zip package for HWPX, told by the first bytes),
// the tree built by that format's reader, then rendered.
#include "hwpx/hwpx_tree.hpp"
#include "hwp/hwp_tree.hpp"
#include "faithful/clean_text.hpp"
#include "faithful/picture_names.hpp"
#include "faithful/render.hpp"
#include "faithful/spread_labels.hpp"
#include "faithful/tree_text.hpp"
#include "hwp/document.hpp"
#include "marlune/faithful.hpp"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

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

Result<ConvertedDocument> convert_package(PackageBytes package, const ConvertOptions& options) {
    auto document = build_hwpx_tree(package.bytes(), options);
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

// HWP 3.0 files (the 1990s format) are named for what they are rather than
// refused as damaged compound files.
constexpr std::string_view kHwp3Signature = "HWP Document File V3.00";

bool starts_like_hwp3(std::span<const std::uint8_t> bytes) noexcept {
    return bytes.size() >= kHwp3Signature.size() &&
           std::memcmp(bytes.data(), kHwp3Signature.data(), kHwp3Signature.size()) == 0;
}

// Whether the file at path starts with that signature (its first bytes
// alone are read).
bool file_starts_like_hwp3(std::string_view path) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(std::string(path).c_str(), "rb"),
                                                              &std::fclose);
    if (!file) return false;
    std::array<std::uint8_t, kHwp3Signature.size()> head{};
    const std::size_t read = std::fread(head.data(), 1, head.size(), file.get());
    return starts_like_hwp3(std::span<const std::uint8_t>(head.data(), read));
}

Result<ConvertedDocument> convert_buffer(ByteBuffer bytes, const ConvertOptions& options) {
    if (starts_like_hwp3(bytes)) return std::unexpected(HwpError::hwp3());
    if (starts_like_package(bytes)) return convert_package(PackageBytes(std::move(bytes)), options);
    return convert_opened(open_document_from_buffer(std::move(bytes)), options);
}

}  // namespace

Result<ConvertedDocument> convert_file(std::string_view path, const ConvertOptions& options) {
    // Opened as the exact conversion opens it, so a large file is not read
    // whole, unless it starts like a package: then its bytes, read once.
    auto opened = open_document_or_package(path);
    if (!opened && opened.error().kind() == HwpErrorKind::CompoundFile && file_starts_like_hwp3(path)) {
        return std::unexpected(HwpError::hwp3());
    }
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
