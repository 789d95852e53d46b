// Damaged DEFLATE streams: where libdeflate and zlib part ways (input cut
// short, reserved codes, distances before the start, bytes after the final
// block, trailers that do not match), the outcome is zlib's, byte for byte
// and error for error, for section streams and for zip entries alike.
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "container/inflate.hpp"
#include "container/zip_archive.hpp"
#include "record_builders.hpp"

namespace marlune {
namespace {

using namespace marlune::test_records;

Bytes bytes_of(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes text_like(std::size_t count, std::uint32_t seed) {
    static constexpr std::string_view kWords[] = {"한글 ", "문서 ", "the ", "record ", "표 ", "12 ", "\n"};
    std::mt19937 engine(seed);
    Bytes out;
    while (out.size() < count) {
        const std::string_view word = kWords[engine() % std::size(kWords)];
        out.insert(out.end(), word.begin(), word.end());
    }
    out.resize(count);
    return out;
}

std::uint32_t crc_of(std::span<const std::uint8_t> data) {
    return static_cast<std::uint32_t>(crc32_z(0, data.data(), data.size()));
}

// What the word processor writes after a stream: CRC-32 and size of `data`.
Bytes trailer_of(std::span<const std::uint8_t> data) {
    Bytes out;
    put_u32(out, crc_of(data));
    put_u32(out, static_cast<std::uint32_t>(data.size()));
    return out;
}

// DEFLATE bits, least significant first; Huffman codes go in from their
// first bit.
class BitWriter {
public:
    void bits(std::uint32_t value, int count) {
        for (int k = 0; k < count; ++k) bit((value >> k) & 1U);
    }
    void code(std::uint32_t value, int length) {
        for (int k = length - 1; k >= 0; --k) bit((value >> k) & 1U);
    }
    // A fixed-code literal/length symbol.
    void fixed_symbol(std::uint32_t symbol) {
        if (symbol < 144) code(0x30 + symbol, 8);
        else if (symbol < 256) code(0x190 + symbol - 144, 9);
        else if (symbol < 280) code(symbol - 256, 7);
        else code(0xC0 + symbol - 280, 8);
    }
    void fixed_distance(std::uint32_t symbol) { code(symbol, 5); }
    Bytes finish() {
        Bytes out = bytes_;
        if (used_ != 0) out.push_back(current_);
        return out;
    }

private:
    void bit(std::uint32_t value) {
        current_ |= static_cast<std::uint8_t>(value << used_);
        if (++used_ == 8) {
            bytes_.push_back(current_);
            current_ = 0;
            used_ = 0;
        }
    }
    Bytes bytes_;
    std::uint8_t current_ = 0;
    int used_ = 0;
};

// A non-final stored block holding data (at most 65535 bytes).
Bytes stored_block(std::span<const std::uint8_t> data) {
    const auto length = static_cast<std::uint16_t>(data.size());
    Bytes out{0x00, static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
              static_cast<std::uint8_t>(~length), static_cast<std::uint8_t>(~length >> 8)};
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// A final fixed-code block: 'a', then a match of length 3 + (symbol - 257)
// for length symbols, at the distance code given, then the end of block.
Bytes fixed_block_with_match(std::uint32_t length_symbol, std::uint32_t distance_symbol, int extra_bits = 0) {
    BitWriter writer;
    writer.bits(1, 1);  // final
    writer.bits(1, 2);  // fixed codes
    writer.fixed_symbol('a');
    writer.fixed_symbol(length_symbol);
    writer.fixed_distance(distance_symbol);
    writer.bits(0, extra_bits);
    writer.fixed_symbol(256);
    return writer.finish();
}

// zlib's outcome (today's inflating, taken with no caller to stop it early),
// as text: the error's text or the inflated bytes.
std::string zlib_outcome(std::span<const std::uint8_t> input) {
    const auto inflated = inflate_raw_until(input, nullptr);
    if (!inflated) return "error: " + display_text(inflated.error());
    return std::string(inflated->begin(), inflated->end());
}

std::string outcome(std::span<const std::uint8_t> input) {
    const auto inflated = inflate_raw(input);
    if (!inflated) return "error: " + display_text(inflated.error());
    return std::string(inflated->begin(), inflated->end());
}

// libdeflate's own outcome on the whole input: the data, or "failed".
std::string libdeflate_outcome(std::span<const std::uint8_t> input) {
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    std::string out(1 << 20, '\0');
    std::size_t produced = 0;
    const auto result = libdeflate_deflate_decompress(decompressor, input.data(), input.size(), out.data(),
                                                      out.size(), &produced);
    libdeflate_free_decompressor(decompressor);
    if (result != LIBDEFLATE_SUCCESS) return "failed";
    out.resize(produced);
    return out;
}

const std::string kCorrupt = "error: Parse error: 압축 해제 실패: corrupt deflate stream";

struct DamagedCase {
    const char* name;
    Bytes input;
    std::optional<std::string> zlib;  // zlib's outcome when the case pins it
    bool libdeflate_differs;          // libdeflate alone would give another outcome
};

std::vector<DamagedCase> damaged_cases() {
    const Bytes text = text_like(20000, 1);
    const Bytes stream = deflate_raw(text);
    const Bytes trailed = cat({stream, trailer_of(text)});
    const Bytes head = text_like(30000, 2);
    const Bytes reserved_length = fixed_block_with_match(286, 0);
    const Bytes reserved_distance = cat({stored_block(head), fixed_block_with_match(257, 30, 13)});
    const Bytes before_start = fixed_block_with_match(257, 1);
    const Bytes bad_block_after_good = cat({stored_block(bytes_of("good")), Bytes{0x07, 0x00}});
    const std::string whole(text.begin(), text.end());
    std::vector<DamagedCase> cases = {
        {"trailed stream cut in the middle", Bytes(trailed.begin(), trailed.begin() + trailed.size() / 2),
         std::nullopt, true},
        {"trailed stream cut inside its trailer", Bytes(trailed.begin(), trailed.end() - 3), whole, false},
        {"trailed stream cut one byte into the final block", Bytes(trailed.begin(), trailed.end() - 9),
         std::nullopt, true},
        {"length code 286 (reserved)", reserved_length, kCorrupt, true},
        {"length code 286 with the trailer of the intended data", cat({reserved_length, trailer_of(bytes_of("a"))}),
         kCorrupt, true},
        {"distance code 30 (reserved)", reserved_distance, kCorrupt, true},
        {"distance code 30 with the trailer of the intended data",
         cat({reserved_distance, trailer_of(cat({head, bytes_of("aaaa")}))}), kCorrupt, true},
        {"distance before the start of the data", cat({before_start, trailer_of(bytes_of("aaaa"))}), kCorrupt,
         false},
        {"reserved block type after a good block", cat({bad_block_after_good, trailer_of(bytes_of("good"))}),
         kCorrupt, false},
        {"garbage after the final block", cat({stream, bytes_of("garbage!")}), whole, false},
        {"garbage after the trailer", cat({trailed, bytes_of("garbage")}), whole, false},
        {"trailer with a wrong CRC", cat({stream, trailer_of(text_like(20000, 9))}), whole, false},
        {"trailer with a wrong size", cat({stream, Bytes(trailed.end() - 8, trailed.end() - 4), Bytes{1, 0, 0, 0}}),
         whole, false},
    };
    return cases;
}

TEST(DamagedStreams, InflateAsZlibDoes) {
    for (const DamagedCase& c : damaged_cases()) {
        SCOPED_TRACE(c.name);
        const std::string zlib = zlib_outcome(c.input);
        if (c.zlib) {
            EXPECT_EQ(zlib, *c.zlib);
        }
        EXPECT_EQ(outcome(c.input), zlib);
    }
}

TEST(DamagedStreams, LibdeflateAloneWouldDisagree) {
    // Most cases are worth having because libdeflate on its own would give
    // something other than zlib's outcome; the others, because it would not.
    for (const DamagedCase& c : damaged_cases()) {
        SCOPED_TRACE(c.name);
        const std::string zlib = zlib_outcome(c.input);
        const std::string zlib_data_or_failed = zlib.starts_with("error: ") ? "failed" : zlib;
        EXPECT_EQ(libdeflate_outcome(c.input) != zlib_data_or_failed, c.libdeflate_differs);
    }
}

TEST(DamagedStreams, TrailedStreamsInflateWhole) {
    const struct {
        const char* name;
        Bytes data;
        int strategy;
    } cases[] = {
        {"nothing", {}, Z_DEFAULT_STRATEGY},
        {"one byte", {0x42}, Z_DEFAULT_STRATEGY},
        {"text", text_like(100000, 3), Z_DEFAULT_STRATEGY},
        {"fixed codes", text_like(5000, 4), Z_FIXED},
        {"long runs", Bytes(300000, 0), Z_RLE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes input = cat({deflate_raw(c.data, 6, c.strategy), trailer_of(c.data)});
        const auto inflated = inflate_raw(input);
        ASSERT_TRUE(inflated.has_value());
        EXPECT_TRUE(Bytes(inflated->begin(), inflated->end()) == c.data);
    }
}

TEST(DamagedStreams, EveryByteDamagedInflatesAsZlibDoes) {
    // Each byte of a small trailed stream replaced in turn, and runs of
    // random bytes written over it: whatever zlib makes of the damage stands.
    const Bytes text = text_like(3000, 5);
    const Bytes trailed = cat({deflate_raw(text), trailer_of(text)});
    std::mt19937 engine(7);
    std::size_t compared = 0;
    for (std::size_t at = 0; at < trailed.size(); ++at) {
        for (int k = 0; k < 3; ++k) {
            Bytes damaged = trailed;
            damaged[at] = static_cast<std::uint8_t>(engine());
            for (std::size_t run = at; k == 2 && run < std::min(at + 8, damaged.size()); ++run) {
                damaged[run] = static_cast<std::uint8_t>(engine());
            }
            ASSERT_EQ(outcome(damaged), zlib_outcome(damaged)) << "byte " << at;
            ++compared;
        }
    }
    EXPECT_EQ(compared, trailed.size() * 3);
}

// A zip of one deflated entry with the CRC and size given.
std::string zip_of_deflated(std::string_view name, const Bytes& stored, std::uint32_t crc, std::uint32_t size) {
    Bytes out, directory, fields;
    put_u32(fields, crc), put_u32(fields, static_cast<std::uint32_t>(stored.size())), put_u32(fields, size);
    put_u16(fields, static_cast<std::uint16_t>(name.size())), put_u16(fields, 0);
    put_u32(out, 0x04034B50), put_u32(out, 20), put_u16(out, 8), put_u32(out, 0);  // version, flags, method, time
    out.insert(out.end(), fields.begin(), fields.end());
    out.insert(out.end(), name.begin(), name.end());
    out.insert(out.end(), stored.begin(), stored.end());
    put_u32(directory, 0x02014B50), put_u32(directory, 20), put_u16(directory, 0), put_u16(directory, 8);
    put_u32(directory, 0);  // time, date
    directory.insert(directory.end(), fields.begin(), fields.end());
    put_u32(directory, 0), put_u32(directory, 0), put_u16(directory, 0), put_u32(directory, 0);
    directory.insert(directory.end(), name.begin(), name.end());
    const auto directory_offset = static_cast<std::uint32_t>(out.size());
    out.insert(out.end(), directory.begin(), directory.end());
    put_u32(out, 0x06054B50), put_u32(out, 0), put_u16(out, 1), put_u16(out, 1);
    put_u32(out, static_cast<std::uint32_t>(directory.size())), put_u32(out, directory_offset), put_u16(out, 0);
    return std::string(out.begin(), out.end());
}

struct EntryCase {
    const char* name;
    Bytes stored;
    std::uint32_t crc;
    std::uint32_t size;
    std::optional<std::string> error;  // nothing: the text comes out
};

const Bytes& entry_text() {
    static const Bytes text = text_like(20000, 6);
    return text;
}

std::vector<EntryCase> entry_cases() {
    const Bytes& text = entry_text();
    const Bytes stream = deflate_raw(text);
    const std::uint32_t crc = crc_of(text);
    const auto size = static_cast<std::uint32_t>(text.size());
    return {
        {"whole", stream, crc, size, std::nullopt},
        {"bytes after the data", cat({stream, bytes_of("tail")}), crc, size, std::nullopt},
        {"cut short", Bytes(stream.begin(), stream.end() - 40), crc, size, "entry data corrupt or cut short"},
        {"declared one byte short", stream, crc, size - 1, "entry inflates past its declared size"},
        {"declared one byte long", stream, crc, size + 1, "entry data corrupt or cut short"},
        {"CRC does not match", stream, crc ^ 1, size, "entry CRC mismatch"},
        {"length code 286 (reserved)", fixed_block_with_match(286, 0), crc_of(bytes_of("a")), 1,
         "entry data corrupt or cut short"},
        {"bad block after a good one", cat({stored_block(bytes_of("good")), Bytes{0x07, 0x00}}),
         crc_of(bytes_of("good")), 4, "entry data corrupt or cut short"},
    };
}

TEST(DamagedStreams, ZipEntriesKeepTheirErrors) {
    const Bytes& text = entry_text();
    for (const EntryCase& c : entry_cases()) {
        SCOPED_TRACE(c.name);
        const std::string bytes = zip_of_deflated("Contents/section0.xml", c.stored, c.crc, c.size);
        auto zip = ZipArchive::open({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
        ASSERT_TRUE(zip.has_value());
        const auto data = zip->read(zip->entries().front());
        if (!c.error) {
            ASSERT_TRUE(data.has_value()) << display_text(data.error());
            EXPECT_TRUE(Bytes(data->begin(), data->end()) == text);
        } else {
            ASSERT_FALSE(data.has_value());
            EXPECT_NE(display_text(data.error()).find(*c.error), std::string::npos) << display_text(data.error());
        }
    }
}

}  // namespace
}  // namespace marlune

namespace marlune {
namespace {

// What zlib alone makes of an entry pulled piece by piece: the bytes it
// decodes before the data ends or fails, no more than the declared size.
std::string zlib_pieces(std::span<const std::uint8_t> stored, std::size_t size) {
    z_stream z{};
    inflateInit2(&z, -MAX_WBITS);
    std::string out(size + 1, '\0');
    z.next_in = const_cast<Bytef*>(stored.data());
    z.avail_in = static_cast<uInt>(stored.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    inflate(&z, Z_NO_FLUSH);
    out.resize(std::min<std::size_t>(z.total_out, size));
    inflateEnd(&z);
    return out;
}

TEST(DamagedStreams, EntryStreamsGiveWhatZlibGives) {
    // A part read as far as needed (the HWPX header) comes out whole at once
    // when it checks out; a damaged one gives what zlib decodes of it, and
    // is complete only when intact.
    for (const EntryCase& c : entry_cases()) {
        SCOPED_TRACE(c.name);
        const std::string bytes = zip_of_deflated("Contents/header.xml", c.stored, c.crc, c.size);
        auto zip = ZipArchive::open({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
        ASSERT_TRUE(zip.has_value());
        auto stream = zip->stream(zip->entries().front());
        ASSERT_TRUE(stream.has_value());
        int pulls = 0;
        while ((*stream)->pull(4096)) ++pulls;
        EXPECT_EQ((*stream)->text(), zlib_pieces(c.stored, c.size));
        EXPECT_EQ((*stream)->complete(), !c.error);
        if (!c.error) EXPECT_EQ(pulls, 0);  // all there from the start
    }
}

}  // namespace
}  // namespace marlune
