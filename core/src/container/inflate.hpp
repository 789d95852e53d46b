// Inflating raw DEFLATE data (no zlib header or trailer) into an owned
// buffer, whole or until the caller has enough, never past a size bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "container/byte_buffer.hpp"
#include "marlune/error.hpp"

namespace marlune {

// A section's inflated data may not pass this size; real sections stay far
// below it, so a larger one is a decompression bomb.
inline constexpr std::size_t MAX_SECTION_BYTES = std::size_t{1} << 28;  // 256 MiB

// Inflates raw DEFLATE data (no zlib header or trailer). Input that ends
// before the final block yields what was decoded; bytes after it are ignored.
// A stream followed by its inflated size and CRC-32 (as the word processor
// writes them) is decoded in one call into a buffer of that size.
Result<ByteBuffer> inflate_raw(std::span<const std::uint8_t> input);

// The stream decoded in one call, when it is followed by its inflated size
// and CRC-32 and the decoded data matches them; nothing otherwise, when
// inflating through zlib gives the outcome (data, partial data or error).
std::optional<ByteBuffer> inflate_trailed(std::span<const std::uint8_t> input);

// The whole stream decoded in one call into exactly `size` bytes, when it
// comes to exactly that many and their CRC-32 is `crc` (a zip entry's
// declared size and CRC); nothing otherwise, when the caller's own inflating
// gives the outcome (and the error) to report.
std::optional<ByteBuffer> inflate_checked(std::span<const std::uint8_t> input, std::size_t size, std::uint32_t crc);

// Told the output inflated so far, says whether it is enough to stop.
using InflateEnough = std::function<bool(std::span<const std::uint8_t> produced)>;

// Inflates through zlib, asking `enough` after each small piece of input (up
// to about 1 KiB of output) and stopping once it says yes: the output then
// holds what was decoded so far, possibly more than was needed. Without
// `enough`, zlib inflates the whole stream: the outcome (data, partial data
// or error) that inflate_raw gives for every stream it cannot check.
Result<ByteBuffer> inflate_raw_until(std::span<const std::uint8_t> input, const InflateEnough& enough);

}  // namespace marlune
