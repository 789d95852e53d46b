// The zip reader over zlib: the end-of-directory record, the central
// directory, and one entry at a time inflated into a buffer of exactly its
// declared size (plus one byte that tells a longer stream), CRC checked.
#include "container/zip_archive.hpp"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>

#include "container/byte_reader.hpp"
#include "container/inflate_stream.hpp"

namespace marlune {

namespace {

constexpr std::uint32_t kEndOfDirectorySignature = 0x06054B50;
constexpr std::uint32_t kDirectoryEntrySignature = 0x02014B50;
constexpr std::uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr std::size_t kEndOfDirectorySize = 22;
constexpr std::size_t kDirectoryEntrySize = 46;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kMaxCommentSize = 0xFFFF;
constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::uint32_t kZip64Marker = 0xFFFFFFFF;
constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;
// Entry names quoted in error texts are cut to this many bytes.
constexpr std::size_t kQuotedNameBytes = 200;

HwpError package_error(std::string_view phrase) { return HwpError::package(std::string(phrase)); }

HwpError entry_error(std::string_view phrase, const ZipEntry& entry) {
    return HwpError::package(std::string(phrase) + ": " +
                             repair_utf8(std::string_view(entry.name).substr(0, kQuotedNameBytes)));
}

// The end-of-directory record's offset: searched backwards, since a comment
// of up to 64 KiB may follow it.
std::optional<std::size_t> find_end_of_directory(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kEndOfDirectorySize) return std::nullopt;
    const std::size_t last = bytes.size() - kEndOfDirectorySize;
    const std::size_t first = last > kMaxCommentSize ? last - kMaxCommentSize : 0;
    for (std::size_t at = last + 1; at-- > first;) {
        if (read_u32_at(bytes, at) == kEndOfDirectorySignature) return at;
    }
    return std::nullopt;
}

std::string normalised_name(std::span<const std::uint8_t> raw) {
    std::string name(raw.begin(), raw.end());
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

// Sizes and offset given as 0xFFFFFFFF in the directory live in the zip64
// extra field, in this order, each present only when marked.
void apply_zip64_extra(std::span<const std::uint8_t> extra, ZipEntry& entry, bool size, bool compressed,
                       bool offset) {
    ByteReader reader(extra);
    while (reader.remaining() >= 4) {
        const auto id = reader.u16();
        const auto length = reader.u16();
        auto body = reader.bytes(*length);
        if (!body) return;
        if (*id != kZip64ExtraId) continue;
        ByteReader fields(*body);
        if (size) entry.size = fields.u64().value_or(entry.size);
        if (compressed) entry.compressed_size = fields.u64().value_or(entry.compressed_size);
        if (offset) entry.local_offset = fields.u64().value_or(entry.local_offset);
        return;
    }
}

// One central-directory record at the reader's position.
std::optional<ZipEntry> read_directory_entry(ByteReader& reader) {
    if (reader.remaining() < kDirectoryEntrySize || reader.u32() != kDirectoryEntrySignature) return std::nullopt;
    ZipEntry entry;
    reader.skip(4);  // versions
    entry.flags = *reader.u16();
    entry.method = *reader.u16();
    reader.skip(4);  // time, date
    entry.crc = *reader.u32();
    entry.compressed_size = *reader.u32();
    entry.size = *reader.u32();
    const std::uint16_t name_length = *reader.u16();
    const std::uint16_t extra_length = *reader.u16();
    const std::uint16_t comment_length = *reader.u16();
    reader.skip(8);  // disk, attributes
    entry.local_offset = *reader.u32();
    const auto name = reader.bytes(name_length);
    const auto extra = reader.bytes(extra_length);
    if (!name || !extra || !reader.skip(comment_length)) return std::nullopt;
    entry.name = normalised_name(*name);
    apply_zip64_extra(*extra, entry, entry.size == kZip64Marker, entry.compressed_size == kZip64Marker,
                      entry.local_offset == kZip64Marker);
    return entry;
}

// zlib decodes with its fast loop only while this much output room is left;
// the last bytes before a full buffer go through its slow, symbol-at-a-time path.
constexpr std::size_t kFastLoopRoom = 258;

// Inflates raw deflate data into exactly `size` bytes. The buffer holds
// kFastLoopRoom bytes more, so that the end of the entry is decoded by
// zlib's fast loop, and a stream that goes on past the declared size is
// caught within them instead of being followed.
Result<ByteBuffer> inflate_exactly(std::span<const std::uint8_t> input, std::size_t size, const ZipEntry& entry) {
    ByteBuffer out;
    if (!out.resize(size + kFastLoopRoom)) return std::unexpected(entry_error("out of memory inflating entry", entry));
    InflateStream stream;
    if (stream.start_raw() != Z_OK) return std::unexpected(entry_error("out of memory inflating entry", entry));
    std::size_t consumed = 0;
    std::size_t produced = 0;
    int rc = Z_OK;
    while (rc == Z_OK && produced <= size) {
        if (stream.z.avail_in == 0) {
            const std::size_t piece = std::min<std::size_t>(input.size() - consumed, UINT_MAX);
            if (piece == 0) break;
            stream.z.next_in = const_cast<Bytef*>(input.data() + consumed);
            stream.z.avail_in = static_cast<uInt>(piece);
            consumed += piece;
        }
        stream.z.next_out = out.data() + produced;
        stream.z.avail_out = static_cast<uInt>(size + kFastLoopRoom - produced);
        const uInt before = stream.z.avail_out;
        // With all input and all output room given at once, Z_FINISH lets
        // zlib inflate straight into the buffer without keeping a window.
        rc = inflate(&stream.z, consumed == input.size() ? Z_FINISH : Z_NO_FLUSH);
        produced += before - stream.z.avail_out;
        if (rc == Z_BUF_ERROR && stream.z.avail_out > 0) rc = Z_OK;  // more input needed
    }
    if (produced > size) return std::unexpected(entry_error("entry inflates past its declared size", entry));
    if (rc != Z_STREAM_END || produced != size) {
        return std::unexpected(entry_error("entry data corrupt or cut short", entry));
    }
    if (!out.resize(size)) return std::unexpected(entry_error("out of memory inflating entry", entry));
    return out;
}

bool crc_matches([[maybe_unused]] std::span<const std::uint8_t> data, [[maybe_unused]] std::uint32_t crc) {
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // (Fuzzing builds skip the check, so mutated stored XML reaches the walk.)
    return true;
#else
    return crc32_z(0, data.data(), data.size()) == crc;
#endif
}

}  // namespace

std::size_t find_bytes(std::string_view haystack, std::string_view needle, std::size_t from) noexcept {
    if (from > haystack.size()) return std::string_view::npos;
    if (needle.empty()) return from;
    if (needle.size() > haystack.size() - from) return std::string_view::npos;  // also an empty haystack
    const void* found = memmem(haystack.data() + from, haystack.size() - from, needle.data(), needle.size());
    return found == nullptr ? std::string_view::npos : static_cast<std::size_t>(static_cast<const char*>(found) - haystack.data());
}

Result<ZipArchive> ZipArchive::open(std::span<const std::uint8_t> bytes) {
    const auto end = find_end_of_directory(bytes);
    if (!end) return std::unexpected(package_error("not a zip archive (no end of central directory)"));
    ByteReader record(bytes.subspan(*end + 10));
    const std::uint16_t count = *record.u16();
    const std::uint32_t directory_size = *record.u32();
    const std::uint32_t directory_offset = *record.u32();
    if (count > MAX_ZIP_ENTRIES) return std::unexpected(package_error("too many entries"));
    if (directory_offset > *end || directory_size > *end - directory_offset) {
        return std::unexpected(package_error("central directory out of bounds"));
    }
    ByteReader reader(bytes.subspan(directory_offset, directory_size));
    std::vector<ZipEntry> entries;
    // The count is trusted only as far as the directory's bytes back it.
    entries.reserve(std::min<std::size_t>(count, directory_size / kDirectoryEntrySize));
    for (std::uint16_t k = 0; k < count; ++k) {
        auto entry = read_directory_entry(reader);
        if (!entry) return std::unexpected(package_error("central directory entry damaged"));
        entries.push_back(std::move(*entry));
    }
    std::sort(entries.begin(), entries.end(), [](const ZipEntry& a, const ZipEntry& b) {
        return a.name != b.name ? a.name < b.name : a.local_offset < b.local_offset;
    });
    return ZipArchive(bytes, std::move(entries));
}

const ZipEntry* ZipArchive::find(std::string_view name) const noexcept {
    const auto it = std::lower_bound(entries_.begin(), entries_.end(), name,
                                     [](const ZipEntry& entry, std::string_view key) { return entry.name < key; });
    return it != entries_.end() && it->name == name ? &*it : nullptr;
}

// The entry's stored bytes, found through its local header, which must agree
// with the directory on signature, method and name length.
Result<std::span<const std::uint8_t>> ZipArchive::stored_data(const ZipEntry& entry) const {
    if (entry.local_offset > bytes_.size()) return std::unexpected(entry_error("local header out of bounds", entry));
    ByteReader reader(bytes_.subspan(entry.local_offset));
    if (reader.remaining() < kLocalHeaderSize || reader.u32() != kLocalHeaderSignature) {
        return std::unexpected(entry_error("local header missing", entry));
    }
    reader.skip(4);  // version, flags
    const std::uint16_t method = *reader.u16();
    reader.skip(16);  // time, date, CRC, sizes (bit 3 entries leave them zero)
    const std::uint16_t name_length = *reader.u16();
    const std::uint16_t extra_length = *reader.u16();
    if (method != entry.method || name_length != entry.name.size()) {
        return std::unexpected(entry_error("local header does not match the central directory", entry));
    }
    if (!reader.skip(std::size_t{name_length} + extra_length) || entry.compressed_size > reader.remaining()) {
        return std::unexpected(entry_error("entry data out of bounds", entry));
    }
    return *reader.bytes(static_cast<std::size_t>(entry.compressed_size));
}

Result<std::span<const std::uint8_t>> ZipArchive::readable_data(const ZipEntry& entry) const {
    if (entry.flags & kFlagEncrypted) return std::unexpected(entry_error("encrypted entry", entry));
    if (entry.size > MAX_ENTRY_BYTES) return std::unexpected(entry_error("entry exceeds 256 MiB", entry));
    if (entry.size >= RATIO_CHECKED_FROM_BYTES && entry.size / std::max<std::uint64_t>(entry.compressed_size, 1) >
                                                      MAX_COMPRESSION_RATIO) {
        return std::unexpected(entry_error("entry compression ratio above 200:1", entry));
    }
    if (entry.size > MAX_PACKAGE_INFLATED_BYTES - inflated_total_) {
        return std::unexpected(entry_error("package inflates past 1 GiB", entry));
    }
    if (entry.method != kMethodStored && entry.method != kMethodDeflated) {
        return std::unexpected(entry_error("unsupported compression method", entry));
    }
    return stored_data(entry);
}

Result<ByteBuffer> ZipArchive::read(const ZipEntry& entry) {
    auto stored = readable_data(entry);
    if (!stored) return std::unexpected(std::move(stored.error()));
    const auto size = static_cast<std::size_t>(entry.size);
    // readable_data let through only stored and deflated entries.
    Result<ByteBuffer> data = ByteBuffer();
    if (entry.method == kMethodDeflated) {
        // Decoded in one call and checked against the entry's CRC; what
        // fails goes through zlib, whose outcome names the fault.
        if (auto checked = inflate_checked(*stored, size, entry.crc)) {
            inflated_total_ += size;
            return std::move(*checked);
        }
        data = inflate_exactly(*stored, size, entry);
        if (!data) return data;
    } else {
        if (stored->size() != size) return std::unexpected(entry_error("stored entry size mismatch", entry));
        if (!data->assign(*stored)) return std::unexpected(entry_error("out of memory reading entry", entry));
    }
    inflated_total_ += data->size();
    if (!crc_matches(*data, entry.crc)) return std::unexpected(entry_error("entry CRC mismatch", entry));
    return data;
}

Result<std::unique_ptr<EntryStream>> ZipArchive::stream(const ZipEntry& entry) {
    auto stored = readable_data(entry);
    if (!stored) return std::unexpected(std::move(stored.error()));
    if (entry.method == kMethodStored && stored->size() != entry.size) {
        return std::unexpected(entry_error("stored entry size mismatch", entry));
    }
    std::unique_ptr<EntryStream> stream(new EntryStream(*stored, entry, entry.method == kMethodDeflated));
    if (stream->deflated_) {
        if (auto checked = inflate_checked(*stored, stream->size_, entry.crc)) {
            stream->out_ = std::move(*checked);
            stream->produced_ = stream->size_;
            stream->open_ = false;
            stream->ended_ = true;
            stream->checked_ = true;
            inflated_total_ += stream->size_;
            return stream;
        }
    }
    if (!stream->out_.resize(static_cast<std::size_t>(entry.size) + 1)) {
        return std::unexpected(entry_error("out of memory inflating entry", entry));
    }
    if (stream->deflated_) {
        if (stream->inflater_.start_raw() != Z_OK) {
            return std::unexpected(entry_error("out of memory inflating entry", entry));
        }
        stream->inflater_.z.next_in = const_cast<Bytef*>(stored->data());
    }
    inflated_total_ += stream->size_;
    return stream;
}

bool EntryStream::pull(std::size_t bytes) {
    if (!open_) return false;
    const std::size_t before = produced_;
    open_ = next_piece(std::min(bytes, size_ + 1 - produced_));
    if (produced_ > size_) {
        // Past the declared size: the entry is damaged and ends here.
        produced_ = size_;
        open_ = false;
    }
    return open_ || produced_ > before;
}

bool EntryStream::complete() const { return checked_ || (ended_ && crc_matches({out_.data(), produced_}, crc_)); }

// Inflates (or copies) the next `bytes` of output; false once the entry
// has ended or failed.
bool EntryStream::next_piece(std::size_t bytes) {
    if (!deflated_) {
        const std::size_t piece = std::min(bytes, input_.size() - produced_);
        if (piece > 0) std::memcpy(out_.data() + produced_, input_.data() + produced_, piece);
        produced_ += piece;
        ended_ = produced_ == size_;
        return !ended_;
    }
    z_stream& z = inflater_.z;
    // Input is given as the inflater takes it, in pieces zlib's counters hold.
    const std::size_t consumed = static_cast<std::size_t>(z.next_in - input_.data());
    if (z.avail_in == 0) z.avail_in = static_cast<uInt>(std::min<std::size_t>(input_.size() - consumed, UINT_MAX));
    z.next_out = out_.data() + produced_;
    z.avail_out = static_cast<uInt>(std::min<std::size_t>(bytes, UINT_MAX));
    const uInt room = z.avail_out;
    const int rc = inflate(&z, Z_NO_FLUSH);
    produced_ += room - z.avail_out;
    if (rc == Z_STREAM_END) {
        ended_ = produced_ == size_;
        return false;
    }
    // Z_BUF_ERROR: all input used up before the end of the data.
    return rc == Z_OK;
}

}  // namespace marlune
