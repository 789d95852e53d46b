// Builders for the records, payloads and deflated streams the C++ tests
// feed to the converter.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <span>
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

// Raw DEFLATE (no zlib header or trailer) as zlib itself writes it.
inline Bytes deflate_raw(std::span<const std::uint8_t> data, int level = 6, int strategy = Z_DEFAULT_STRATEGY,
                         std::span<const std::uint8_t> dictionary = {}) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
    if (!dictionary.empty()) {
        EXPECT_EQ(deflateSetDictionary(&z, dictionary.data(), static_cast<uInt>(dictionary.size())), Z_OK);
    }
    Bytes out(deflateBound(&z, static_cast<uLong>(data.size())) + 64);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

}  // namespace marlune::test_records
