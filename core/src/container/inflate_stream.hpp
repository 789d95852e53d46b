// A zlib inflate state that ends itself: the one owner of z_stream for raw
// DEFLATE data in sections, DocInfo and zip entries.
#pragma once

#include <zlib.h>

namespace marlune {

struct InflateStream {
    z_stream z{};
    bool ready = false;  // set once inflateInit2 succeeded
    InflateStream() = default;

    // Starts inflating raw DEFLATE data (no zlib header); zlib's result code.
    int start_raw() noexcept {
        const int rc = inflateInit2(&z, -MAX_WBITS);
        ready = rc == Z_OK;
        return rc;
    }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;
    ~InflateStream() {
        if (ready) inflateEnd(&z);
    }
};

}  // namespace marlune
