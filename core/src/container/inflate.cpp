// Raw DEFLATE inflation. A whole stream whose outcome can be checked (by the
// size and CRC-32 written after it, or a zip entry's) is decoded by
// libdeflate in one call into a buffer of exactly its size; everything else,
// and everything that fails the check, goes through zlib into a buffer that
// grows by doubling up to the section bound.
//
// libdeflate decodes valid data as zlib does, about twice as fast, but takes
// some invalid data zlib refuses (the reserved length codes 286 and 287 and
// distance codes 30 and 31, the unused half of a one-codeword code, code
// length repeats that run past the table): a damaged stream could then come
// out as something instead of "corrupt deflate stream". Its output is
// therefore kept only when it matches the size and CRC-32 its writer
// recorded, which a decode gone astray cannot; zlib's outcome, with its
// errors and its partial output, stands for every other stream.
#include "container/inflate.hpp"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <string>

#include "container/byte_reader.hpp"
#include "container/inflate_stream.hpp"

namespace marlune {

namespace {

// inflate_raw_until hands zlib this many bytes of input at a time and asks
// its caller after each (a few hundred bytes to 1 KiB of output): DocInfo's
// records past the paragraph shapes are about 1 KiB in a typical document,
// so a coarser step would inflate them anyway. Steps are cut on the input,
// not the output, so that zlib keeps decoding on its fast path (which stops
// 258 bytes short of the end of the output room). Without a caller to ask,
// zlib is handed all the input and told to finish: a stream that fits the
// output room is then inflated in one call, without zlib copying its output
// into its own window as it must between calls.
constexpr std::size_t kEnoughCheckInputBytes = 128;

HwpError inflate_error(std::string_view text) {
    return HwpError::parse("압축 해제 실패: " + std::string(text));
}

}  // namespace

namespace {

struct DecompressorFree {
    void operator()(libdeflate_decompressor* decompressor) const noexcept {
        libdeflate_free_decompressor(decompressor);
    }
};

// One decompressor per thread, made on first use (its tables are rebuilt
// for every block, so nothing carries over from one stream to the next):
// setting one up for each stream cost about 1% of a conversion.
libdeflate_decompressor* thread_decompressor() {
    thread_local const std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor(
        libdeflate_alloc_decompressor());
    return decompressor.get();
}

// The word processor writes, after a stream's final block, what a gzip
// member's trailer holds: the CRC-32 of the inflated data and its size,
// both 32-bit little-endian.
constexpr std::size_t kTrailerBytes = 8;

// DEFLATE's densest coding, a 258-byte match in two bits, bounds what a
// stream can inflate to: a larger size in the trailer is no size at all.
constexpr std::uint64_t kMaxInflateRatio = 1032;

// libdeflate's decoding of the stream at the front of input, when it comes
// to exactly `size` bytes whose CRC-32 is `crc`; `consumed` is then the
// number of input bytes the stream took.
std::optional<ByteBuffer> decode_checked(std::span<const std::uint8_t> input, std::size_t size, std::uint32_t crc,
                                         std::size_t& consumed) {
    if (input.empty()) return std::nullopt;
    libdeflate_decompressor* decompressor = thread_decompressor();
    ByteBuffer out;
    // One byte of room at least: libdeflate is never handed a null buffer.
    if (decompressor == nullptr || !out.resize(std::max<std::size_t>(size, 1))) return std::nullopt;
    std::size_t produced = 0;
    const libdeflate_result result = libdeflate_deflate_decompress_ex(
        decompressor, input.data(), input.size(), out.data(), size, &consumed, &produced);
    if (result != LIBDEFLATE_SUCCESS || produced != size || libdeflate_crc32(0, out.data(), size) != crc) {
        return std::nullopt;
    }
    if (!out.resize(size)) return std::nullopt;
    return out;
}

}  // namespace

std::optional<ByteBuffer> inflate_trailed(std::span<const std::uint8_t> input) {
    if (input.size() <= kTrailerBytes) return std::nullopt;
    const std::size_t body = input.size() - kTrailerBytes;
    const std::uint32_t crc = read_u32_at(input, body).value_or(0);
    const std::uint32_t size = read_u32_at(input, body + 4).value_or(0);
    if (size > MAX_SECTION_BYTES || size > body * kMaxInflateRatio) return std::nullopt;
    std::size_t consumed = 0;
    auto out = decode_checked(input, size, crc, consumed);
    if (!out || consumed != body) return std::nullopt;
    return out;
}

std::optional<ByteBuffer> inflate_checked(std::span<const std::uint8_t> input, std::size_t size, std::uint32_t crc) {
    std::size_t consumed = 0;
    return decode_checked(input, size, crc, consumed);
}

Result<ByteBuffer> inflate_raw(std::span<const std::uint8_t> input) {
    if (auto checked = inflate_trailed(input)) return std::move(*checked);
    return inflate_raw_until(input, nullptr);
}

Result<ByteBuffer> inflate_raw_until(std::span<const std::uint8_t> input, const InflateEnough& enough) {
    static const std::string kCorrupt = "corrupt deflate stream";
    static const std::string kOutOfMemory = "out of memory";
    ByteBuffer out;
    if (input.empty()) return out;

    InflateStream stream;
    const int init = stream.start_raw();
    if (init != Z_OK) return std::unexpected(inflate_error(init == Z_MEM_ERROR ? kOutOfMemory : kCorrupt));

    // Room for one byte past the limit tells a bomb from a section that
    // inflates to exactly the limit.
    constexpr std::size_t kCapacityLimit = MAX_SECTION_BYTES + 1;
    std::size_t produced = 0;
    std::size_t consumed = 0;
    // Sections inflate to 2 to 5 times their stored size, rarely more than 8:
    // room that is never written costs address space, not memory.
    const std::size_t expected = input.size() * (enough ? 4 : 8);
    if (!out.resize(std::min<std::size_t>(std::max<std::size_t>(expected, 65536), kCapacityLimit))) {
        return std::unexpected(inflate_error(kOutOfMemory));
    }
    for (;;) {
        if (stream.z.avail_in == 0 && consumed < input.size()) {
            const std::size_t step = enough ? kEnoughCheckInputBytes : std::size_t{UINT32_MAX};
            const std::size_t piece = std::min(step, input.size() - consumed);
            stream.z.next_in = const_cast<Bytef*>(input.data() + consumed);
            stream.z.avail_in = static_cast<uInt>(piece);
            consumed += piece;
        }
        if (produced == out.size()) {
            if (out.size() >= kCapacityLimit) {
                return std::unexpected(inflate_error("inflated section exceeds 256 MiB"));
            }
            if (!out.resize(std::min(out.size() * 2, kCapacityLimit))) {
                return std::unexpected(inflate_error(kOutOfMemory));
            }
        }
        stream.z.next_out = out.data() + produced;
        stream.z.avail_out = static_cast<uInt>(std::min<std::size_t>(out.size() - produced, UINT32_MAX));
        const uInt before = stream.z.avail_out;
        const int rc = inflate(&stream.z, enough ? Z_NO_FLUSH : Z_FINISH);
        produced += before - stream.z.avail_out;
        if (rc == Z_STREAM_END) break;
        if (rc == Z_MEM_ERROR) return std::unexpected(inflate_error(kOutOfMemory));
        if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT || rc == Z_STREAM_ERROR) {
            return std::unexpected(inflate_error(kCorrupt));
        }
        // Asked after every piece, the caller sees its output grow in steps.
        if (enough && enough(std::span<const std::uint8_t>(out.data(), produced))) break;
        // Input that runs out before the final block ends the data once
        // everything decodable has been written out.
        if (stream.z.avail_in == 0 && consumed == input.size() && stream.z.avail_out > 0) break;
    }
    if (produced > MAX_SECTION_BYTES) return std::unexpected(inflate_error("inflated section exceeds 256 MiB"));
    if (!out.resize(produced)) return std::unexpected(inflate_error(kOutOfMemory));
    return out;
}

}  // namespace marlune
