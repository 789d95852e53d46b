// Builders for the records and payloads the C++ tests feed to the converter.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "marlune/records.hpp"

namespace marlune::test_records {

using Bytes = std::vector<std::uint8_t>;
using Records = std::vector<Record>;

inline void put_u16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

inline void put_u32(Bytes& out, std::uint32_t value) {
    put_u16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    put_u16(out, static_cast<std::uint16_t>(value >> 16));
}

inline void put_utf16(Bytes& out, std::u16string_view text) {
    for (const char16_t unit : text) put_u16(out, unit);
}

inline Records cat(std::initializer_list<Records> parts) {
    Records all;
    for (const Records& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline Record rec(std::uint16_t tag, std::uint16_t level, const Bytes& data = {}) {
    return Record{tag, level, {data.begin(), data.end()}};
}

// An HWPTAG_PARA_TEXT record holding the code units of text.
inline Record text_record(std::uint16_t level, std::u16string_view text) {
    Bytes data;
    put_utf16(data, text);
    return rec(HWPTAG_PARA_TEXT, level, data);
}

// An HWPTAG_CTRL_HEADER record whose payload is just the control id.
inline Record control(std::uint16_t level, std::uint32_t id) {
    Bytes data;
    put_u32(data, id);
    return rec(HWPTAG_CTRL_HEADER, level, data);
}

}  // namespace marlune::test_records
