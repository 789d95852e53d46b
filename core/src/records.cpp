#include "marlune/records.hpp"

#include "byte_reader.hpp"

namespace marlune {

namespace {
constexpr std::uint32_t kExtendedSize = 0xFFF;
}

std::uint32_t control_id(const Record& record) noexcept { return read_u32_at(record.payload(), 0).value_or(0); }

std::vector<Record> parse_records(std::span<const std::uint8_t> data) {
    std::vector<Record> records;
    ByteReader reader(data);
    while (auto header = reader.u32()) {
        std::uint32_t size = *header >> 20;
        if (size == kExtendedSize) {
            auto extended = reader.u32();
            if (!extended) break;
            size = *extended;
        }
        auto payload = reader.bytes(size);
        if (!payload) break;
        records.push_back(Record{static_cast<std::uint16_t>(*header & 0x3FF),
                                 static_cast<std::uint16_t>((*header >> 10) & 0x3FF),
                                 std::vector<std::uint8_t>(payload->begin(), payload->end())});
    }
    return records;
}

}  // namespace marlune
