// A section's records handed over as it inflates: whatever its consumer takes
// at a time and however the records fall across windows, it gets the records
// (and the error) that splitting the section inflated whole gives.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "container/inflate.hpp"
#include "hwp/section_stream.hpp"
#include "record_builders.hpp"

namespace marlune {
namespace {

using namespace marlune::test_records;

// A record's bytes: header (an extended size from 4095 bytes on), then a
// payload of size bytes of fill.
void put_record(Bytes& out, std::uint16_t tag, std::uint16_t level, std::size_t size, std::uint8_t fill) {
    const std::uint32_t word = tag | (std::uint32_t{level} << 10);
    if (size >= 0xFFF) {
        put_u32(out, word | (0xFFFU << 20));
        put_u32(out, static_cast<std::uint32_t>(size));
    } else {
        put_u32(out, word | (static_cast<std::uint32_t>(size) << 20));
    }
    out.insert(out.end(), size, fill);
}

// Paragraph-like groups of records, one of them larger than several windows.
Bytes section_data() {
    Bytes out;
    for (std::uint32_t k = 0; k < 12000; ++k) {
        put_record(out, HWPTAG_PARA_HEADER, 0, 22, static_cast<std::uint8_t>(k));
        put_record(out, HWPTAG_PARA_TEXT, 1, k % 7 == 0 ? 5000 : 40 + k % 50, static_cast<std::uint8_t>(k >> 3));
        if (k == 6000) put_record(out, HWPTAG_LIST_HEADER, 2, std::size_t{3} << 20, 0x5A);
        if (k % 3 == 0) put_record(out, HWPTAG_CTRL_HEADER, 1, 0, 0);
    }
    return out;
}

// The records as text (tag, level, a digest of the payload), or the error.
std::string describe(std::span<const Record> records) {
    std::string out;
    for (const Record& record : records) {
        std::uint32_t digest = 0;
        for (const std::uint8_t byte : record.payload()) digest = digest * 31 + byte;
        out += std::to_string(record.tag_id) + "/" + std::to_string(record.level) + "/" +
               std::to_string(record.payload().size()) + "/" + std::to_string(digest) + " ";
    }
    return out;
}

std::string whole_outcome(std::span<const std::uint8_t> input) {
    const auto inflated = inflate_raw(input);
    if (!inflated) return "error: " + display_text(inflated.error());
    return describe(parse_records(*inflated));
}

// take(records, last) keeps this many of the records it is handed.
enum class Taking { All, Half, NoneUntilLast };

std::string streamed_outcome(std::span<const std::uint8_t> input, Taking taking) {
    std::string out;
    bool ended = false;
    const auto result = inflate_records(input, [&](std::span<const Record> records, bool last) {
        EXPECT_FALSE(ended);
        ended = last;
        std::size_t count = records.size();
        if (!last && taking == Taking::Half) count /= 2;
        if (!last && taking == Taking::NoneUntilLast) count = 0;
        out += describe(records.first(count));
        return count;
    });
    if (!result) return "error: " + display_text(result.error());
    EXPECT_TRUE(ended);
    return out;
}

// Raw DEFLATE of first, then of `rest` repeated `times`: finished, or
// flushed to a byte boundary without a final block.
Bytes deflate_run(const Bytes& first, const Bytes& rest, std::size_t times, bool finish) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes out;
    Bytes piece(std::size_t{1} << 16);
    for (std::size_t k = 0; k <= times; ++k) {
        const Bytes& input = k == 0 ? first : rest;
        z.next_in = const_cast<Bytef*>(input.data());
        z.avail_in = static_cast<uInt>(input.size());
        do {
            z.next_out = piece.data();
            z.avail_out = static_cast<uInt>(piece.size());
            deflate(&z, k < times ? Z_NO_FLUSH : finish ? Z_FINISH : Z_FULL_FLUSH);
            out.insert(out.end(), piece.begin(), piece.end() - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out;
}

TEST(SectionStream, RecordsAsTheWholeSectionGivesThem) {
    const Bytes data = section_data();
    const Bytes stream = deflate_raw(data);
    // A third of the data, then a final block of the reserved type.
    Bytes damaged = deflate_run(Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(data.size() / 3)), {}, 0,
                                false);
    damaged.insert(damaged.end(), {0x07, 0x00});
    const Bytes cases[] = {{}, stream, Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(stream.size() / 2)),
                           deflate_raw(Bytes(data.begin(), data.end() - 3)), damaged};
    for (const Bytes& input : cases) {
        SCOPED_TRACE(input.size());
        const std::string whole = whole_outcome(input);
        for (const Taking taking : {Taking::All, Taking::Half, Taking::NoneUntilLast}) {
            EXPECT_EQ(streamed_outcome(input, taking), whole);
        }
    }
    EXPECT_TRUE(whole_outcome(damaged).starts_with("error: "));
}

TEST(SectionStream, DataPastTheSectionBoundFails) {
    // A record claiming the largest size, then zeros past the bound.
    const Bytes zeros(std::size_t{1} << 20, 0);
    Bytes head;
    put_u32(head, HWPTAG_PARA_TEXT | (0xFFFU << 20));
    put_u32(head, UINT32_MAX);
    const Bytes bomb = deflate_run(head, zeros, (MAX_SECTION_BYTES >> 20) + 1, true);
    EXPECT_EQ(streamed_outcome(bomb, Taking::All), "error: Parse error: 압축 해제 실패: inflated section exceeds 256 MiB");
}

}  // namespace
}  // namespace marlune
