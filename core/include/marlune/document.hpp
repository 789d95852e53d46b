// Opening an HWP document: the file, the Compound File Binary container over
// it, the file header, and the body-text section streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "marlune/error.hpp"

namespace marlune {

// Leaves elements uninitialised when a vector grows: stream and inflate
// buffers are written in full right after they are sized, so zero-filling
// them first would only cost time.
template <class T>
struct UninitializedAllocator : std::allocator<T> {
    using value_type = T;
    template <class U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() noexcept = default;
    template <class U>
    UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}

    template <class U>
    void construct(U* place) noexcept {
        ::new (static_cast<void*>(place)) U;
    }
    template <class U, class... Args>
    void construct(U* place, Args&&... args) {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};

// The bytes of a stream or an inflated section.
using ByteBuffer = std::vector<std::uint8_t, UninitializedAllocator<std::uint8_t>>;

// A section's inflated data may not pass this size; real sections stay far
// below it, so a larger one is a decompression bomb.
inline constexpr std::size_t MAX_SECTION_BYTES = std::size_t{1} << 28;  // 256 MiB

// Compressed input is handed to the inflater in pieces of this size.
inline constexpr std::size_t INFLATE_CHUNK_BYTES = 32768;

// An open container. It owns the file, which closes when the document is
// released. Streams are read whole; none outlives the call that opened it.
class Document {
public:
    struct Container;

    explicit Document(std::unique_ptr<Container> container) noexcept;
    Document(Document&&) noexcept;
    Document& operator=(Document&&) noexcept;
    ~Document();

    // The whole stream at an absolute container path such as "/FileHeader".
    Result<ByteBuffer> read_stream(std::string_view path) const;

private:
    std::unique_ptr<Container> container_;
};

// Opens the file read-only and the container over it.
Result<Document> open_document(std::string_view path);

// Opens a container held in memory (fuzzing, callers that already hold the
// file's bytes).
Result<Document> open_document_from_memory(std::span<const std::uint8_t> bytes);

// Reads and validates "/FileHeader"; yields whether sections are compressed.
Result<bool> read_file_header(const Document& document);

// "/BodyText/Section" followed by the index in decimal.
std::string section_stream_name(std::uint32_t index);

// Inflates raw DEFLATE data (no zlib header or trailer). Input that ends
// before the final block yields what was decoded; bytes after it are ignored.
Result<ByteBuffer> inflate_raw(std::span<const std::uint8_t> input);

// One section's record stream, inflated when the document is compressed.
Result<ByteBuffer> read_section_stream(const Document& document, std::string_view name,
                                                      bool compressed);

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
