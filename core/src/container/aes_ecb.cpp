// AES-128 ECB decryption through Mbed TLS's AES module: the only part of the
// library the core links (its AES-NI path is taken where the processor has it).
#include "container/aes_ecb.hpp"

#include <mbedtls/aes.h>

namespace marlune {

namespace {

// The library's context, freed (and its round keys wiped) on every path.
class AesContext {
public:
    AesContext() noexcept { mbedtls_aes_init(&context_); }
    AesContext(const AesContext&) = delete;
    AesContext& operator=(const AesContext&) = delete;
    ~AesContext() { mbedtls_aes_free(&context_); }
    mbedtls_aes_context* get() noexcept { return &context_; }

private:
    mbedtls_aes_context context_;
};

}  // namespace

bool aes128_ecb_decrypt(std::span<const std::uint8_t, 16> key, std::span<std::uint8_t> data) noexcept {
    AesContext context;
    if (mbedtls_aes_setkey_dec(context.get(), key.data(), 128) != 0) return false;
    for (std::size_t offset = 0; data.size() - offset >= AES_BLOCK_BYTES; offset += AES_BLOCK_BYTES) {
        std::uint8_t* block = data.data() + offset;
        if (mbedtls_aes_crypt_ecb(context.get(), MBEDTLS_AES_DECRYPT, block, block) != 0) return false;
    }
    return true;
}

}  // namespace marlune
