// Inflating raw DEFLATE data: whatever the input, inflate_raw gives zlib's
// outcome (the data, the data decoded before the input ran out, or the
// error). The input is tried as it is and once more followed by the trailer
// (CRC-32 and size) of what zlib made of it, which sends it down the
// one-call path. The one outcome allowed to differ is the one inflate_raw
// documents: a stream whose own trailer matches libdeflate's reading of it.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <zlib.h>

#include "container/inflate.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

void append_u32(Bytes& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

Bytes trailer_of(std::span<const std::uint8_t> data) {
    Bytes out;
    append_u32(out, static_cast<std::uint32_t>(crc32_z(0, data.data(), data.size())));
    append_u32(out, static_cast<std::uint32_t>(data.size()));
    return out;
}

std::string outcome(const marlune::Result<marlune::ByteBuffer>& inflated) {
    if (!inflated) return "error: " + marlune::display_text(inflated.error());
    return std::string(inflated->begin(), inflated->end());
}

void check(std::span<const std::uint8_t> input) {
    const auto checked = marlune::inflate_raw(input);
    const auto zlib = marlune::inflate_raw_until(input, nullptr);
    if (outcome(checked) == outcome(zlib)) return;
    // The documented exception: the input ends with the trailer of the data
    // inflate_raw returned.
    if (checked && input.size() >= 8) {
        const Bytes trailer = trailer_of(*checked);
        if (std::equal(trailer.begin(), trailer.end(), input.end() - 8)) return;
    }
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    check(input);
    const auto zlib = marlune::inflate_raw_until(input, nullptr);
    if (zlib) {
        Bytes trailed(input.begin(), input.end());
        const Bytes trailer = trailer_of(*zlib);
        trailed.insert(trailed.end(), trailer.begin(), trailer.end());
        check(trailed);
    }
    return 0;
}
