// Builders for the records and payloads the C++ tests feed to the converter.
#pragma once

#include <cstdint>
#include <deque>
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

// Records view their payloads; the tests' payloads are kept here for the
// whole run (a deque never moves what it holds).
inline const Bytes& keep_payload(Bytes data) {
    static std::deque<Bytes> payloads;
    return payloads.emplace_back(std::move(data));
}

inline Record rec(std::uint16_t tag, std::uint16_t level, const Bytes& data = {}) {
    return Record(tag, level, keep_payload(data));
}

// The record with its payload cut to its first size bytes.
inline Record truncated(const Record& record, std::size_t size) {
    return Record(record.tag_id, record.level, record.payload().first(size));
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
