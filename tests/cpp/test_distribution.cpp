// Distribution documents' encrypted sections: the key record's mask and key
// placement pinned by a published document, and streams written here (seed,
// key, AES, deflate) read back, or refused with the clear error.
#include <gtest/gtest.h>
#include <mbedtls/aes.h>

#include <string>
#include <vector>

#include "hwp/distribution.hpp"
#include "record_builders.hpp"

namespace marlune {
namespace {

using namespace marlune::test_records;

// The key record of Section0 of the HWP 5.0 format description as its maker
// publishes it (a distribution document), as stored.
constexpr const char* kPublishedRecord =
    "06183d4de2e2e2e25555145562550d387a387938003862546554165415e3efd7e4d792d792d7e5155615251525152d1521152c152d1"
    "551c185c185c1f2c1f0c1e3dbeddbe3db9edb99b1f0b184b184b1cd7a397a3f7a3f7a3b7a7afa7a7ae5e5e5e5e5e5e5e5e5e5e5e5e5"
    "e5e5e5d4464646465151515151515151515151515f5f5f5f5f5f5f5f929292929292929292929292f8f8f8f8f8f8f8babababababa6c"
    "6c6c6c6c6c6c6c6c6c6c6c232323232323232323232323232323230000000000000000000000000050505050505050505050505050505"
    "073737373737373232323232323232323232323d7d7d7d7d7d7d7d7d7d7d75050505050505050505050";

DistributionData from_hex(std::string_view hex) {
    DistributionData data{};
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(2 * i, 2)), nullptr, 16));
    }
    return data;
}

TEST(DistributionKey, PublishedDocumentsRecordGivesItsKey) {
    DistributionData data = from_hex(kPublishedRecord);
    mask_distribution_data(data);
    // Seed 0x4D3D1806: the key starts at 6 + 4 and spells "A75BA861" in UTF-16.
    const DistributionKey expected = {'A', 0, '7', 0, '5', 0, 'B', 0, 'A', 0, '8', 0, '6', 0, '1', 0};
    EXPECT_EQ(distribution_key(data), expected);
}

// ---------------------------------------------------------------------------
// A writer of ViewText streams

void encrypt(const DistributionKey& key, Bytes& data) {
    mbedtls_aes_context context;
    mbedtls_aes_init(&context);
    ASSERT_EQ(mbedtls_aes_setkey_enc(&context, key.data(), 128), 0);
    for (std::size_t offset = 0; offset + 16 <= data.size(); offset += 16) {
        mbedtls_aes_crypt_ecb(&context, MBEDTLS_AES_ENCRYPT, data.data() + offset, data.data() + offset);
    }
    mbedtls_aes_free(&context);
}

Bytes record_bytes(std::uint16_t tag, std::span<const std::uint8_t> payload) {
    Bytes out;
    put_u32(out, tag | (static_cast<std::uint32_t>(payload.size()) << 20));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

// A section's record data as a ViewText stream: the key record (the seed,
// filler, the key where the seed puts it, masked), then the data, deflated
// when compressed, padded to whole blocks and encrypted.
Bytes view_text_stream(std::span<const std::uint8_t> section, std::uint32_t seed, const DistributionKey& key,
                       bool compressed) {
    DistributionData data;
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    for (std::size_t i = 0; i < 4; ++i) data[i] = static_cast<std::uint8_t>(seed >> (8 * i));
    std::copy(key.begin(), key.end(), data.begin() + static_cast<std::ptrdiff_t>((seed & 0x0F) + 4));
    mask_distribution_data(data);
    Bytes body = compressed ? deflate_raw(section, Z_DEFAULT_COMPRESSION) : Bytes(section.begin(), section.end());
    body.resize((body.size() + 15) / 16 * 16, 0);
    encrypt(key, body);
    Bytes stream = record_bytes(HWPTAG_DISTRIBUTE_DOC_DATA, data);
    stream.insert(stream.end(), body.begin(), body.end());
    return stream;
}

// A paragraph header and its text: what a section's data starts with.
Bytes section_data(std::u16string_view text) {
    Bytes header(22, 0);
    Bytes units;
    put_utf16(units, text);
    Bytes data = record_bytes(HWPTAG_PARA_HEADER, header);
    const Bytes text_record = record_bytes(HWPTAG_PARA_TEXT, units);
    data.insert(data.end(), text_record.begin(), text_record.end());
    return data;
}

const DistributionKey kKey = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

TEST(DistributionSection, WrittenStreamsReadBackForEveryKeyPlacement) {
    const Bytes section = section_data(u"배포용 문서의 본문 text");
    for (const bool compressed : {true, false}) {
        // Seeds 0x...0 to 0x...F: every key offset from 4 to 19.
        for (std::uint32_t low = 0; low < 16; ++low) {
            const std::uint32_t seed = 0x4D3D1800U + low * 0x1001U;
            SCOPED_TRACE(testing::Message() << "seed " << seed << (compressed ? " compressed" : " stored"));
            const auto read = read_distribution_section(view_text_stream(section, seed, kKey, compressed), compressed);
            ASSERT_TRUE(read.has_value()) << display_text(read.error());
            // Stored data comes back with its padding to a whole block.
            ASSERT_GE(read->size(), section.size());
            EXPECT_TRUE(std::equal(section.begin(), section.end(), read->begin()));
        }
    }
}

TEST(DistributionSection, DamagedStreamsGiveTheClearError) {
    const Bytes section = section_data(u"본문");
    const Bytes good = view_text_stream(section, 0x12345678U, kKey, true);
    struct Case {
        const char* name;
        Bytes stream;
        const char* expected;
    };
    Bytes wrong_key = good;
    wrong_key[4 + ((0x12345678U & 0x0F) + 4)] ^= 0x01;  // one key byte, as stored
    Bytes short_record = record_bytes(HWPTAG_DISTRIBUTE_DOC_DATA, std::span(good).subspan(4, 200));
    short_record.insert(short_record.end(), good.begin() + 260, good.end());
    Bytes other_tag = good;
    other_tag[0] = HWPTAG_PARA_HEADER;
    const Case cases[] = {
        {"a wrong key", wrong_key,
         "distribution document: the body cannot be decrypted (a wrong key or a damaged stream)"},
        {"a short key record", short_record, "distribution document: the key record holds 200 bytes, not 256"},
        {"a stream that does not start with the key record", other_tag,
         "distribution document: the stream does not start with its key record"},
        {"a record cut short", Bytes(good.begin(), good.begin() + 100),
         "distribution document: the stream does not start with its key record"},
        {"a stream cut inside a block", Bytes(good.begin(), good.end() - 5),
         "distribution document: the encrypted body is cut short"},
        {"the key record alone", Bytes(good.begin(), good.begin() + 260),
         "distribution document: the encrypted body is cut short (0 bytes)"},
        {"the stored data read as compressed", view_text_stream(section, 7, kKey, false),
         "distribution document: the body cannot be decrypted (a wrong key or a damaged stream)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto read = read_distribution_section(c.stream, true);
        ASSERT_FALSE(read.has_value());
        EXPECT_EQ(read.error().kind(), HwpErrorKind::Distribution);
        EXPECT_TRUE(display_text(read.error()).starts_with(c.expected)) << display_text(read.error());
    }
}

}  // namespace
}  // namespace marlune
