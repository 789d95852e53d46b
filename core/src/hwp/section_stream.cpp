// A section inflated through zlib into a window: each step fills the room
// left, splits what came into complete records, hands them over, then moves
// the records not taken (and the start of a record cut short) to the front.
// The window doubles only while what is kept fills it (one group of records
// larger than the window), so it holds about the largest such group.
#include "hwp/section_stream.hpp"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "container/byte_buffer.hpp"
#include "container/inflate.hpp"
#include "container/inflate_stream.hpp"
#include "marlune/faithful.hpp"

namespace marlune {

namespace {

std::atomic<std::size_t> g_streamed_section_bytes{STREAMED_SECTION_STORED_BYTES};

// Inflated bytes per step: enough that handing records over and moving the
// remainder cost nothing next to inflating them.
constexpr std::size_t kWindowBytes = std::size_t{1} << 20;

HwpError inflate_error(std::string_view text) { return HwpError::parse("압축 해제 실패: " + std::string(text)); }

// The complete records of window[parsed, filled), appended; parsed moves past them.
void split_records(const ByteBuffer& window, std::size_t filled, std::size_t& parsed, std::vector<Record>& records) {
    const std::span<const std::uint8_t> data(window.data(), filled);
    while (const auto record = next_record_at(data, parsed)) records.push_back(*record);
}

}  // namespace

std::size_t streamed_section_bytes() noexcept { return g_streamed_section_bytes.load(std::memory_order_relaxed); }

std::size_t set_streamed_section_bytes(std::size_t bytes) noexcept {
    return g_streamed_section_bytes.exchange(bytes, std::memory_order_relaxed);
}

Result<void> inflate_records(std::span<const std::uint8_t> input, const RecordWindow& take) {
    static const std::string kOutOfMemory = "out of memory";
    if (input.empty()) {
        take({}, true);
        return {};
    }
    InflateStream stream;
    const int init = stream.start_raw();
    if (init != Z_OK) {
        return std::unexpected(inflate_error(init == Z_MEM_ERROR ? kOutOfMemory : "corrupt deflate stream"));
    }
    ByteBuffer window;
    if (!window.resize(kWindowBytes)) return std::unexpected(inflate_error(kOutOfMemory));
    std::vector<Record> records;  // the complete records of window[0, parsed)
    std::size_t filled = 0;       // inflated bytes in the window
    std::size_t parsed = 0;
    std::size_t consumed = 0;     // input handed to zlib
    std::size_t total = 0;        // inflated bytes of the whole section
    bool last = false;
    while (!last) {
        if (filled == window.size()) {
            // What is kept fills the window: room for more of it. The
            // records are split again, since the bytes may have moved.
            if (!window.resize(window.size() * 2)) return std::unexpected(inflate_error(kOutOfMemory));
            records.clear();
            parsed = 0;
            split_records(window, filled, parsed, records);
        }
        // Fill the room left, as far as the data goes.
        while (filled < window.size()) {
            if (stream.z.avail_in == 0 && consumed < input.size()) {
                const std::size_t piece = std::min<std::size_t>(UINT32_MAX, input.size() - consumed);
                stream.z.next_in = const_cast<Bytef*>(input.data() + consumed);
                stream.z.avail_in = static_cast<uInt>(piece);
                consumed += piece;
            }
            stream.z.next_out = window.data() + filled;
            stream.z.avail_out = static_cast<uInt>(std::min<std::size_t>(window.size() - filled, UINT32_MAX));
            const uInt before = stream.z.avail_out;
            const int rc = inflate(&stream.z, Z_NO_FLUSH);
            const std::size_t produced = before - stream.z.avail_out;
            filled += produced;
            total += produced;
            if (total > MAX_SECTION_BYTES) return std::unexpected(inflate_error("inflated section exceeds 256 MiB"));
            if (rc == Z_STREAM_END) {
                last = true;
                break;
            }
            if (rc == Z_MEM_ERROR) return std::unexpected(inflate_error(kOutOfMemory));
            if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT || rc == Z_STREAM_ERROR) {
                return std::unexpected(inflate_error("corrupt deflate stream"));
            }
            // Input that runs out before the final block ends the data once
            // everything decodable has been written out.
            if (stream.z.avail_in == 0 && consumed == input.size() && stream.z.avail_out > 0) {
                last = true;
                break;
            }
        }
        split_records(window, filled, parsed, records);
        const std::size_t taken = std::min(take(records, last), records.size());
        if (last || taken == 0) continue;
        // Drop the records taken: the next one starts where the last taken
        // one's payload ends.
        const Record& end = records[taken - 1];
        const std::size_t drop = static_cast<std::size_t>(end.payload().data() - window.data()) + end.payload().size();
        std::memmove(window.data(), window.data() + drop, filled - drop);
        filled -= drop;
        parsed -= drop;
        records.erase(records.begin(), records.begin() + static_cast<std::ptrdiff_t>(taken));
        for (Record& record : records) {
            const auto payload = record.payload();
            record = Record(record.tag_id, record.level, {payload.data() - drop, payload.size()});
        }
    }
    return {};
}

}  // namespace marlune
