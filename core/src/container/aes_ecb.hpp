// AES-128 in ECB mode, decryption only, by Mbed TLS: the cipher that
// distribution documents encrypt their body with.
#pragma once

#include <cstdint>
#include <span>

namespace marlune {

inline constexpr std::size_t AES_BLOCK_BYTES = 16;

// Decrypts data in place, block by block, with the 16-byte key. Only whole
// blocks are decrypted: a shorter tail is left as it is. False when the
// library refuses the key (it takes every 16-byte key).
bool aes128_ecb_decrypt(std::span<const std::uint8_t, 16> key, std::span<std::uint8_t> data) noexcept;

}  // namespace marlune
