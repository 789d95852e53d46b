// A zip archive read from its central directory: entry names, sizes and
// offsets as the directory states them, each entry inflated on request with
// its local header cross-checked, its declared size enforced and its CRC
// checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "container/inflate_stream.hpp"
#include "container/byte_buffer.hpp"
#include "container/inflate.hpp"
#include "marlune/error.hpp"

namespace marlune {

// Real packages hold a few dozen parts and at most a few hundred pictures; a
// directory claiming more is not a document's.
inline constexpr std::size_t MAX_ZIP_ENTRIES = 16384;

// One part may not inflate past what one HWP 5.0 section may.
inline constexpr std::size_t MAX_ENTRY_BYTES = MAX_SECTION_BYTES;

// All parts read for one document together: four sections at the cap.
inline constexpr std::size_t MAX_PACKAGE_INFLATED_BYTES = std::size_t{1} << 30;  // 1 GiB

// Real parts compress at most about 65:1 (XML, previews); deflate's ceiling
// is about 1032:1, reached only by long runs of one byte, so a large entry
// declaring more than this ratio is a bomb and is refused before anything is
// allocated for it.
inline constexpr std::uint64_t MAX_COMPRESSION_RATIO = 200;

// Entries below this inflated size cannot do harm whatever their ratio.
inline constexpr std::uint64_t RATIO_CHECKED_FROM_BYTES = std::uint64_t{1} << 20;  // 1 MiB

// The first `needle` in haystack at or after `from` (glibc's memmem: fast
// where the needle's first byte is frequent, as '<' and '"' are in XML).
std::size_t find_bytes(std::string_view haystack, std::string_view needle, std::size_t from = 0) noexcept;

struct ZipEntry {
    std::string name;  // as stored, backslashes turned into '/'
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressed_size = 0;
    std::uint64_t size = 0;
    std::uint64_t local_offset = 0;
};

// An entry coming out in order, as far as its reader asks, into a buffer of
// its declared size: for a part read only up to what is needed. Bytes come
// out unchecked; should the whole entry come out, its CRC is checked. A
// deflated entry that decodes in one call to its declared size and CRC is
// out whole from the start (libdeflate's one call costs less than zlib's
// inflating of even part of it): text() holds it all and pull() has no more.
class EntryStream {
public:
    EntryStream(const EntryStream&) = delete;
    EntryStream& operator=(const EntryStream&) = delete;

    // Up to `bytes` more of the entry; false once nothing more will come
    // (the entry ended, failed, or its CRC did not match).
    bool pull(std::size_t bytes);

    // Everything pulled so far.
    std::string_view text() const noexcept { return {reinterpret_cast<const char*>(out_.data()), produced_}; }

    // The whole entry came out, of its declared size, and matches its CRC
    // (computed on this call).
    bool complete() const;

private:
    friend class ZipArchive;
    EntryStream(std::span<const std::uint8_t> input, const ZipEntry& entry, bool deflated)
        : input_(input), size_(static_cast<std::size_t>(entry.size)), crc_(entry.crc), deflated_(deflated) {}
    bool next_piece(std::size_t bytes);

    std::span<const std::uint8_t> input_;
    std::size_t size_;
    std::uint32_t crc_;
    bool deflated_;
    ByteBuffer out_;
    std::size_t produced_ = 0;
    bool open_ = true;
    bool ended_ = false;    // the data ended at the declared size
    bool checked_ = false;  // decoded whole and found to match the CRC
    InflateStream inflater_;
};

class ZipArchive {
public:
    // Reads the central directory of the archive held in bytes, which must
    // outlive the archive.
    static Result<ZipArchive> open(std::span<const std::uint8_t> bytes);

    // The entry of that name, or null.
    const ZipEntry* find(std::string_view name) const noexcept;
    const std::vector<ZipEntry>& entries() const noexcept { return entries_; }

    // The entry's inflated bytes; every failure is a package error naming it.
    Result<ByteBuffer> read(const ZipEntry& entry);

    // The entry opened for reading piece by piece, under the same limits
    // (its whole declared size counts towards the package's at once); the
    // archive must outlive the stream.
    Result<std::unique_ptr<EntryStream>> stream(const ZipEntry& entry);

    // The entry's stored bytes as the archive holds them (no limits
    // applied, nothing inflated).
    Result<std::span<const std::uint8_t>> stored_data(const ZipEntry& entry) const;

private:
    ZipArchive(std::span<const std::uint8_t> bytes, std::vector<ZipEntry> entries) noexcept
        : bytes_(bytes), entries_(std::move(entries)) {}

    // The stored bytes of an entry the limits allow to be read.
    Result<std::span<const std::uint8_t>> readable_data(const ZipEntry& entry) const;

    std::span<const std::uint8_t> bytes_;
    std::vector<ZipEntry> entries_;  // sorted by name; of equal names the one stored first wins
    std::size_t inflated_total_ = 0;
};

}  // namespace marlune
