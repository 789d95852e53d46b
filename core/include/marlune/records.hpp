// The HWP record stream: a section's data is a run of records, each a 32-bit
// header (tag, level, size) and its payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace marlune {

// One record: a view of its payload inside the section's data, which must
// outlive it (16 bytes each, so a section of millions of empty records does
// not cost a copy of every payload).
struct Record {
    Record() noexcept = default;
    Record(std::uint16_t tag, std::uint16_t record_level, std::span<const std::uint8_t> payload) noexcept
        : data_(payload.data()), size_(static_cast<std::uint32_t>(payload.size())), tag_id(tag), level(record_level) {}

    std::span<const std::uint8_t> payload() const noexcept { return {data_, size_}; }

    const std::uint8_t* data_ = nullptr;
    std::uint32_t size_ = 0;  // a record header holds at most a 32-bit size
    std::uint16_t tag_id = 0;  // 10 bits
    std::uint16_t level = 0;   // 10 bits
};

// Record tags of the body-text sections.
inline constexpr std::uint16_t HWPTAG_PARA_HEADER = 66;
inline constexpr std::uint16_t HWPTAG_PARA_TEXT = 67;
inline constexpr std::uint16_t HWPTAG_CTRL_HEADER = 71;
inline constexpr std::uint16_t HWPTAG_LIST_HEADER = 72;
inline constexpr std::uint16_t HWPTAG_SHAPE_COMPONENT = 76;
inline constexpr std::uint16_t HWPTAG_TABLE = 77;
inline constexpr std::uint16_t HWPTAG_SHAPE_COMPONENT_PICTURE = 85;
inline constexpr std::uint16_t HWPTAG_CTRL_DATA = 87;
inline constexpr std::uint16_t HWPTAG_EQEDIT = 88;

// Picture records shorter than this carry no picture.
inline constexpr std::size_t MIN_PICTURE_RECORD_BYTES = 73;

// A control id spells four characters, the first in the most significant byte.
constexpr std::uint32_t make_ctrl_id(char a, char b, char c, char d) noexcept {
    return (std::uint32_t{static_cast<unsigned char>(a)} << 24) | (std::uint32_t{static_cast<unsigned char>(b)} << 16) |
           (std::uint32_t{static_cast<unsigned char>(c)} << 8) | std::uint32_t{static_cast<unsigned char>(d)};
}

inline constexpr std::uint32_t CTRL_TABLE = make_ctrl_id('t', 'b', 'l', ' ');     // 0x74626C20
inline constexpr std::uint32_t CTRL_SHAPE = make_ctrl_id('g', 's', 'o', ' ');     // 0x67736F20
inline constexpr std::uint32_t CTRL_EQUATION = make_ctrl_id('e', 'q', 'e', 'd');  // 0x65716564
inline constexpr std::uint32_t CTRL_CLICK_HERE = make_ctrl_id('%', 'c', 'l', 'k');  // 0x25636C6B

// The control id of an HWPTAG_CTRL_HEADER payload: its first four bytes,
// little-endian, or 0 when the payload is shorter.
std::uint32_t control_id(const Record& record) noexcept;

// The complete record at offset in data, offset then moved past it; nothing
// (offset unchanged) when its header or payload is cut short.
std::optional<Record> next_record_at(std::span<const std::uint8_t> data, std::size_t& offset) noexcept;

// Splits a section's data into records, front to back. Stops quietly at the
// first record whose header or payload is cut short. The records view data,
// which must outlive them.
std::vector<Record> parse_records(std::span<const std::uint8_t> data);

}  // namespace marlune
