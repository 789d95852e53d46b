// Both paragraph-text decoders over arbitrary HWPTAG_PARA_TEXT payloads.
#include <cstddef>
#include <cstdint>
#include <span>

#include "hwp/fields.hpp"
#include "hwp/para_text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> payload(data, size);
    const auto plain = marlune::decode_para_text(payload);
    const auto with_fields = marlune::decode_para_text_with_fields(payload);
    // Each code unit yields at most four bytes of UTF-8 (placeholders aside).
    if (plain.size() > 2 * size) __builtin_trap();
    // Substitution stays linear: at most the text twice plus every field once.
    const auto finished = marlune::substitute_fields(with_fields.text, with_fields.field_texts, {});
    std::size_t fields = 0;
    for (const auto& field : with_fields.field_texts) fields += field.size();
    if (finished.size() > 2 * with_fields.text.size() + fields) __builtin_trap();
    return 0;
}
