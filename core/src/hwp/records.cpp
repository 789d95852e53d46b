#include "marlune/records.hpp"

#include "container/byte_reader.hpp"

namespace marlune {

namespace {

constexpr std::uint32_t kExtendedSize = 0xFFF;

struct RecordHeader {
    std::uint32_t word;
    std::span<const std::uint8_t> payload;
};

// The next complete record at the reader's position, or nothing when its
// header or payload is cut short.
std::optional<RecordHeader> next_record(ByteReader& reader) noexcept {
    const auto word = reader.u32();
    if (!word) return std::nullopt;
    std::uint32_t size = *word >> 20;
    if (size == kExtendedSize) {
        const auto extended = reader.u32();
        if (!extended) return std::nullopt;
        size = *extended;
    }
    const auto payload = reader.bytes(size);
    if (!payload) return std::nullopt;
    return RecordHeader{*word, *payload};
}

}  // namespace

static_assert(sizeof(Record) <= 16, "a record is a view: pointer, size, tag and level");

std::uint32_t control_id(const Record& record) noexcept { return read_u32_at(record.payload(), 0).value_or(0); }

std::optional<Record> next_record_at(std::span<const std::uint8_t> data, std::size_t& offset) noexcept {
    if (offset > data.size()) return std::nullopt;
    ByteReader reader(data.subspan(offset));
    const auto record = next_record(reader);
    if (!record) return std::nullopt;
    offset += reader.position();
    return Record(static_cast<std::uint16_t>(record->word & 0x3FF), static_cast<std::uint16_t>((record->word >> 10) & 0x3FF),
                  record->payload);
}

std::vector<Record> parse_records(std::span<const std::uint8_t> data) {
    // Counting first (headers only) sizes the list once: a large section's
    // list is not copied each time it would double.
    std::size_t count = 0;
    for (ByteReader counter(data); next_record(counter); ++count) {
    }
    std::vector<Record> records;
    records.reserve(count);
    ByteReader reader(data);
    while (const auto record = next_record(reader)) {
        records.emplace_back(static_cast<std::uint16_t>(record->word & 0x3FF),
                             static_cast<std::uint16_t>((record->word >> 10) & 0x3FF), record->payload);
    }
    return records;
}

}  // namespace marlune
