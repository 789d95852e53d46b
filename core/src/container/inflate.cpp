// Raw DEFLATE inflation through zlib into a buffer that grows by doubling up
// to the section bound.
#include "container/inflate.hpp"

#include <zlib.h>

#include <algorithm>
#include <string>

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

Result<ByteBuffer> inflate_raw(std::span<const std::uint8_t> input) { return inflate_raw_until(input, nullptr); }

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
