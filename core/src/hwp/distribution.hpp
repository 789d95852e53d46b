// Distribution documents: HWP 5.0 files whose body sits encrypted in
// "/ViewText/SectionN" (BodyText holds only a notice to use the word
// processor). Each such stream starts with a DISTRIBUTE_DOC_DATA record of
// 256 bytes, masked by a pseudo-random sequence seeded from its first four
// bytes; unmasked, it holds the AES-128 key of the rest of the stream,
// which is the section's record data (raw deflate when the document is
// compressed) encrypted in ECB mode.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "hwp/document.hpp"

namespace marlune {

inline constexpr std::uint16_t HWPTAG_DISTRIBUTE_DOC_DATA = 28;
inline constexpr std::size_t DISTRIBUTION_DATA_BYTES = 256;
// The property flag of the file header that marks a distribution document.
inline constexpr std::uint32_t DISTRIBUTION_PROPERTY = 0x4;

using DistributionData = std::array<std::uint8_t, DISTRIBUTION_DATA_BYTES>;
using DistributionKey = std::array<std::uint8_t, 16>;

// XORs the record's data, past its four seed bytes, with the sequence its
// seed gives: unmasks stored data and masks plain data alike.
void mask_distribution_data(DistributionData& data) noexcept;

// The AES key in unmasked data: 16 bytes at (seed & 0x0F) + 4.
DistributionKey distribution_key(const DistributionData& unmasked) noexcept;

// "/ViewText/Section" followed by the index in decimal.
std::string view_text_stream_name(std::uint32_t index);

// One ViewText stream to the section's record data: the record read and
// unmasked, the rest decrypted, then inflated when the document is
// compressed. A short or misplaced record, a cut stream or a wrong key is a
// Distribution error.
Result<ByteBuffer> read_distribution_section(std::span<const std::uint8_t> stream, bool compressed);

// Hands each ViewText section's data, in index order, to the consumer; the
// first missing stream after Section0 ends the document. A missing Section0
// or any section that cannot be decrypted is the document's error.
template <class Consumer>
Result<void> for_each_distribution_section(const Document& document, bool compressed, Consumer&& consumer) {
    for (std::uint32_t index = 0;; ++index) {
        auto stored = document.stream_bytes(view_text_stream_name(index));
        if (!stored) {
            if (index == 0) return std::unexpected(HwpError::distribution("the body (ViewText/Section0) is missing"));
            return {};
        }
        auto data = read_distribution_section(stored->bytes(), compressed);
        if (!data) return std::unexpected(std::move(data.error()));
        consumer(std::move(*data));
        if (index == UINT32_MAX) return {};
    }
}

}  // namespace marlune
