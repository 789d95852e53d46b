// Record splitting over arbitrary section data.
#include <cstddef>
#include <cstdint>
#include <span>

#include "marlune/records.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto records = marlune::parse_records(std::span<const std::uint8_t>(data, size));
    std::size_t total = 0;
    for (const auto& record : records) total += record.payload().size() + 4;
    if (total > size + 4 * records.size()) __builtin_trap();  // payloads never exceed the input
    return 0;
}
