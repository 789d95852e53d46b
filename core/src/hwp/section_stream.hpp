// A compressed section's records read as it inflates, a window at a time,
// so that a large section is never held whole: its consumer takes the
// records it is done with and the window moves on past them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "marlune/error.hpp"
#include "marlune/records.hpp"

namespace marlune {

// Compressed sections stored in at least this many bytes are walked as they
// inflate; smaller ones (nearly every real section) are inflated whole in
// one call, the faster way.
inline constexpr std::size_t STREAMED_SECTION_STORED_BYTES = std::size_t{4} << 20;

// The stored size from which sections are streamed: the constant above
// unless set_streamed_section_bytes changed it for the process.
std::size_t streamed_section_bytes() noexcept;

// Told the complete records held (in order, each after those taken before)
// and whether the section ends with them, says how many, from the front,
// it is done with; the others come again, with those after them, next time.
using RecordWindow = std::function<std::size_t(std::span<const Record> records, bool last)>;

// Inflates raw DEFLATE data as inflate_raw does, handing its records to
// `take` as they come; the views are valid only during the call. The data
// ends as inflate_raw's output does (at the final block, or where the input
// runs out), and a record it cuts short ends the records as parse_records
// ends them. Fails, as inflate_raw fails, for corrupt data or data that
// inflates past the section bound: records may have been handed over by
// then, so a caller that must not act on a failing section reads it twice.
Result<void> inflate_records(std::span<const std::uint8_t> input, const RecordWindow& take);

}  // namespace marlune
