// A distribution document's ViewText stream through the decrypting reader.
// The first byte chooses: bit 0, whether the document is compressed; bit 1,
// whether the rest is taken as a stored stream or as key-record data (256
// bytes) and a plain body, which is encrypted here with the key that record
// gives, so that mutations reach the inflating and record side as well as
// the record checks.
#include <mbedtls/aes.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "hwp/distribution.hpp"
#include "marlune/records.hpp"

namespace {

std::vector<std::uint8_t> encrypted_stream(std::span<const std::uint8_t> input) {
    marlune::DistributionData data{};
    const std::size_t record = std::min(input.size(), data.size());
    std::copy_n(input.begin(), record, data.begin());
    std::vector<std::uint8_t> stream = {marlune::HWPTAG_DISTRIBUTE_DOC_DATA, 0, 0, 0x10};  // 256 bytes, level 0
    stream.insert(stream.end(), data.begin(), data.end());
    marlune::mask_distribution_data(data);
    const marlune::DistributionKey key = marlune::distribution_key(data);
    std::vector<std::uint8_t> body(input.begin() + static_cast<std::ptrdiff_t>(record), input.end());
    body.resize((body.size() + 15) / 16 * 16, 0);
    mbedtls_aes_context context;
    mbedtls_aes_init(&context);
    mbedtls_aes_setkey_enc(&context, key.data(), 128);
    for (std::size_t offset = 0; offset < body.size(); offset += 16) {
        mbedtls_aes_crypt_ecb(&context, MBEDTLS_AES_ENCRYPT, body.data() + offset, body.data() + offset);
    }
    mbedtls_aes_free(&context);
    stream.insert(stream.end(), body.begin(), body.end());
    return stream;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool compressed = (data[0] & 1) != 0;
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    const auto read = (data[0] & 2) != 0
                          ? marlune::read_distribution_section(encrypted_stream(rest), compressed)
                          : marlune::read_distribution_section(rest, compressed);
    if (read) {
        const auto records = marlune::parse_records(*read);
        if (records.empty() || records.front().tag_id != marlune::HWPTAG_PARA_HEADER) __builtin_trap();
    }
    return 0;
}
