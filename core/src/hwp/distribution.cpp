// Reading the encrypted body of a distribution document (see distribution.hpp).
#include "hwp/distribution.hpp"

#include <algorithm>
#include <string>

#include "container/aes_ecb.hpp"
#include "container/byte_reader.hpp"
#include "container/inflate.hpp"
#include "marlune/records.hpp"

namespace marlune {

namespace {

constexpr std::size_t kSeedBytes = 4;

// The C runtime's rand() of the word processor's platform: a linear
// congruential generator whose results are bits 16 to 30 of its state.
class CRuntimeRand {
public:
    explicit CRuntimeRand(std::uint32_t seed) noexcept : state_(seed) {}
    std::uint32_t next() noexcept {
        state_ = state_ * 214013U + 2531011U;
        return (state_ >> 16) & 0x7FFFU;
    }

private:
    std::uint32_t state_;
};

std::uint32_t seed_of(const DistributionData& data) noexcept {
    return read_u32_at(data, 0).value_or(0);
}

HwpError cannot_decrypt() {
    return HwpError::distribution("the body cannot be decrypted (a wrong key or a damaged stream)");
}

// The record that opens the stream: its data, or the reason it is unusable.
Result<DistributionData> read_distribution_record(ByteReader& reader) {
    std::size_t offset = 0;
    const auto record = next_record_at(reader.rest(), offset);
    if (!record || record->tag_id != HWPTAG_DISTRIBUTE_DOC_DATA) {
        return std::unexpected(HwpError::distribution("the stream does not start with its key record"));
    }
    if (record->payload().size() != DISTRIBUTION_DATA_BYTES) {
        return std::unexpected(HwpError::distribution("the key record holds " +
                                                      std::to_string(record->payload().size()) +
                                                      " bytes, not 256"));
    }
    DistributionData data;
    std::copy(record->payload().begin(), record->payload().end(), data.begin());
    reader.skip(offset);
    return data;
}

// Decrypted record data always opens with a paragraph header at level 0:
// anything else means the key or the bytes were wrong.
bool starts_with_paragraph(std::span<const std::uint8_t> data) {
    std::size_t offset = 0;
    const auto first = next_record_at(data, offset);
    return first && first->tag_id == HWPTAG_PARA_HEADER && first->level == 0;
}

}  // namespace

void mask_distribution_data(DistributionData& data) noexcept {
    // Runs of 1 to 16 bytes share one mask byte: each run draws its byte,
    // then its length.
    CRuntimeRand rand(seed_of(data));
    std::size_t position = 0;
    while (position < data.size()) {
        const auto mask = static_cast<std::uint8_t>(rand.next() & 0xFFU);
        const std::size_t run = (rand.next() & 0x0FU) + 1;
        for (std::size_t i = 0; i < run && position < data.size(); ++i, ++position) {
            if (position >= kSeedBytes) data[position] ^= mask;
        }
    }
}

DistributionKey distribution_key(const DistributionData& unmasked) noexcept {
    const std::size_t offset = (seed_of(unmasked) & 0x0FU) + kSeedBytes;
    DistributionKey key;
    std::copy_n(unmasked.begin() + static_cast<std::ptrdiff_t>(offset), key.size(), key.begin());
    return key;
}

std::string view_text_stream_name(std::uint32_t index) { return "/ViewText/Section" + std::to_string(index); }

Result<ByteBuffer> read_distribution_section(std::span<const std::uint8_t> stream, bool compressed) {
    ByteReader reader(stream);
    auto data = read_distribution_record(reader);
    if (!data) return std::unexpected(std::move(data.error()));
    const auto encrypted = reader.rest();
    if (encrypted.empty() || encrypted.size() % AES_BLOCK_BYTES != 0) {
        return std::unexpected(HwpError::distribution("the encrypted body is cut short (" +
                                                      std::to_string(encrypted.size()) + " bytes)"));
    }
    mask_distribution_data(*data);
    const DistributionKey key = distribution_key(*data);
    ByteBuffer plain;
    if (!plain.assign(encrypted)) {
        return std::unexpected(HwpError::io(IoErrorInfo::from_kind(IoErrorKind::OutOfMemory)));
    }
    if (!aes128_ecb_decrypt(key, std::span<std::uint8_t>(plain.data(), plain.size()))) {
        return std::unexpected(cannot_decrypt());
    }
    if (compressed) {
        auto inflated = inflate_raw(plain);
        if (!inflated) return std::unexpected(cannot_decrypt());
        plain = std::move(*inflated);
    }
    if (!starts_with_paragraph(plain)) return std::unexpected(cannot_decrypt());
    return plain;
}

}  // namespace marlune
