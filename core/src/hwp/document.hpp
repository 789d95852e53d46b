// Opening an HWP document: the file, the Compound File Binary container over
// it, the file header, and the body-text section streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "container/byte_buffer.hpp"
#include "container/inflate.hpp"
#include "marlune/error.hpp"

namespace marlune {

// An open container. It owns the file's bytes, released with the document. Streams are read whole; none outlives the call that opened it.
class Document {
public:
    struct Container;

    explicit Document(std::unique_ptr<Container> container) noexcept;
    Document(Document&&) noexcept;
    Document& operator=(Document&&) noexcept;
    ~Document();

    // The whole stream at an absolute container path such as "/FileHeader".
    Result<ByteBuffer> read_stream(std::string_view path) const;
    // The same stream, in place when it can be (read-only uses such as
    // inflating it).
    Result<StreamBytes> stream_bytes(std::string_view path) const;

    // The names of the streams and storages in the storage at path ("/" for
    // the root, "/BinData"), in directory order; empty when there is no
    // such storage.
    std::vector<std::string> list_storage(std::string_view path) const;

private:
    std::unique_ptr<Container> container_;
};

// Opens the file read-only and the container over it.
Result<Document> open_document(std::string_view path);

// Whether the bytes start like a zip package (HWPX): a local file header.
bool starts_like_package(std::span<const std::uint8_t> bytes) noexcept;

// Whether the bytes start like an HWP 3.x file: its signature, no container.
bool starts_like_hwp3(std::span<const std::uint8_t> bytes) noexcept;

class MappedFile;

// A zip package's (or an HWP 3.x file's) bytes: read into memory, or a mapping of the file, whose
// pages are read only as the package's parts are (pictures a conversion
// never opens stay on disk). Released with the object.
class PackageBytes {
public:
    explicit PackageBytes(ByteBuffer bytes) noexcept;
    explicit PackageBytes(std::unique_ptr<MappedFile> mapping) noexcept;
    PackageBytes(PackageBytes&&) noexcept;
    PackageBytes& operator=(PackageBytes&&) noexcept;
    ~PackageBytes();

    std::span<const std::uint8_t> bytes() const noexcept { return view_; }

private:
    ByteBuffer buffer_;
    std::unique_ptr<MappedFile> mapping_;
    std::span<const std::uint8_t> view_;  // into whichever owner holds the bytes
};

// Opens the file as open_document does, except that a file starting like a
// zip package (HWPX) or an HWP 3.x file is handed back as its bytes instead (mapped as
// open_document maps a large file): the file is opened and read once
// whichever format it holds.
Result<std::variant<Document, PackageBytes>> open_document_or_package(std::string_view path);

// The whole file at path (UTF-8 bytes, used as given), with the same errors
// as open_document for a path that cannot be read.
Result<ByteBuffer> read_file(std::string_view path);

// Opens a container over file bytes it takes ownership of (no copy).
Result<Document> open_document_from_buffer(ByteBuffer bytes);

// Opens a container held in memory (fuzzing, callers that already hold the
// file's bytes).
Result<Document> open_document_from_memory(std::span<const std::uint8_t> bytes);

// Reads and validates "/FileHeader"; yields whether sections are compressed.
Result<bool> read_file_header(const Document& document);

// What the file header says, for callers that need more than compression.
struct FileInfo {
    bool compressed = false;
    std::uint32_t version = 0;     // 0xMMnnPPrr: 5.0.3.4 is 0x05000304
    std::uint32_t properties = 0;  // bit 0 compressed, bit 1 password, bit 2 distribution ...
};

// Reads and validates "/FileHeader" as read_file_header does.
Result<FileInfo> read_file_info(const Document& document);

// "/BodyText/Section" followed by the index in decimal.
std::string section_stream_name(std::uint32_t index);

// One section's record stream, inflated when the document is compressed.
Result<ByteBuffer> read_section_stream(const Document& document, std::string_view name,
                                                      bool compressed);

// A stream read as read_section_stream reads it, inflated only until
// `enough` says yes; a stored stream comes whole.
Result<ByteBuffer> read_stream_until(const Document& document, std::string_view name, bool compressed,
                                     const InflateEnough& enough);

// Hands each section's data, in index order, to the consumer, which owns it
// from then on; the first section that cannot be read, for whatever reason,
// ends the document.
template <class Consumer>
void for_each_section(const Document& document, bool compressed, Consumer&& consumer) {
    for (std::uint32_t index = 0;; ++index) {
        auto data = read_section_stream(document, section_stream_name(index), compressed);
        if (!data) return;
        consumer(std::move(*data));
        if (index == UINT32_MAX) return;
    }
}

}  // namespace marlune
