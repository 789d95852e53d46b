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

#include "marlune/error.hpp"

namespace marlune {

// The bytes of a file, a stream or an inflated section. It grows without
// zero-filling (every byte is written right after) and through realloc, which
// moves a large buffer's pages instead of copying them, so an inflated
// section that doubles its way to tens of megabytes is not copied each time.
class ByteBuffer {
public:
    ByteBuffer() noexcept = default;
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    ByteBuffer(ByteBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    ByteBuffer& operator=(ByteBuffer&& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        return *this;
    }
    ~ByteBuffer() { std::free(data_); }

    // Makes the buffer size bytes long, keeping its first bytes; new bytes
    // are uninitialised. False, with the buffer unchanged, when memory cannot
    // be had.
    [[nodiscard]] bool resize(std::size_t size) noexcept {
        if (size == 0) {
            std::free(std::exchange(data_, nullptr));
            size_ = 0;
            return true;
        }
        void* grown = std::realloc(data_, size);
        if (grown == nullptr) return false;
        data_ = static_cast<std::uint8_t*>(grown);
        size_ = size;
        return true;
    }

    // A copy of bytes; false when memory cannot be had.
    [[nodiscard]] bool assign(std::span<const std::uint8_t> bytes) noexcept {
        if (!resize(bytes.size())) return false;
        if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
        return true;
    }

    std::uint8_t* data() noexcept { return data_; }
    const std::uint8_t* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::uint8_t* begin() noexcept { return data_; }
    std::uint8_t* end() noexcept { return data_ + size_; }
    const std::uint8_t* begin() const noexcept { return data_; }
    const std::uint8_t* end() const noexcept { return data_ + size_; }

private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// A section's inflated data may not pass this size; real sections stay far
// below it, so a larger one is a decompression bomb.
inline constexpr std::size_t MAX_SECTION_BYTES = std::size_t{1} << 28;  // 256 MiB

// A stream's bytes: a view into the file's bytes when its sectors lie in one
// run (as writers store most streams), else a copy of its chain. The view
// is valid while the document is open.
class StreamBytes {
public:
    explicit StreamBytes(std::span<const std::uint8_t> view) noexcept : view_(view) {}
    explicit StreamBytes(ByteBuffer copy) noexcept : copy_(std::move(copy)) {}

    std::span<const std::uint8_t> bytes() const noexcept {
        return copy_.empty() ? view_ : std::span<const std::uint8_t>(copy_.data(), copy_.size());
    }

private:
    std::span<const std::uint8_t> view_;
    ByteBuffer copy_;
};


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

class MappedFile;

// A zip package's bytes: read into memory, or a mapping of the file, whose
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
// zip package (HWPX) is handed back as its bytes instead (mapped as
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

// Inflates raw DEFLATE data (no zlib header or trailer). Input that ends
// before the final block yields what was decoded; bytes after it are ignored.
Result<ByteBuffer> inflate_raw(std::span<const std::uint8_t> input);

// Told the output inflated so far, says whether it is enough to stop.
using InflateEnough = std::function<bool(std::span<const std::uint8_t> produced)>;

// Inflates as inflate_raw does, asking `enough` after each small piece of
// input (up to about 1 KiB of output) and stopping once it says yes: the output
// then holds what was decoded so far, possibly more than was needed.
Result<ByteBuffer> inflate_raw_until(std::span<const std::uint8_t> input, const InflateEnough& enough);

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
