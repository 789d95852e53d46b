// Raw DEFLATE data for the C++ tests, as zlib itself writes it.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <span>
#include <vector>

namespace marlune::test_records {

// Raw DEFLATE (no zlib header or trailer) as zlib itself writes it.
inline std::vector<std::uint8_t> deflate_raw(std::span<const std::uint8_t> data, int level,
                                             int strategy = Z_DEFAULT_STRATEGY,
                                             std::span<const std::uint8_t> dictionary = {}) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
    if (!dictionary.empty()) {
        EXPECT_EQ(deflateSetDictionary(&z, dictionary.data(), static_cast<uInt>(dictionary.size())), Z_OK);
    }
    std::vector<std::uint8_t> out(deflateBound(&z, static_cast<uLong>(data.size())) + 64);
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
