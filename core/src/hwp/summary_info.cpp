// Reading the summary information property set: an OLE property set stream
// (byte order mark, format version, system id, class id, the sets' format
// ids and offsets; each set a size, a property count and (id, offset) pairs;
// each property a type word, then its value).
#include "hwp/summary_info.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "container/byte_reader.hpp"
#include "hwp/fields.hpp"

namespace marlune {

namespace {

constexpr std::uint16_t kByteOrderMark = 0xFFFE;
constexpr std::size_t kClassIdBytes = 16;

// The format ids the summary set is written under, as their bytes are
// stored: the common summary information set
// (F29F85E0-4FF9-1068-AB91-08002B27B3D9), and the word processor's own
// (9FA2B660-1061-11D4-B4C6-006097C09D8C), which every document in the
// corpus uses, with the same property ids.
using FormatId = std::array<std::uint8_t, 16>;
constexpr std::array<FormatId, 2> kSummaryFormatIds{
    FormatId{0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10, 0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9},
    FormatId{0x60, 0xB6, 0xA2, 0x9F, 0x61, 0x10, 0xD4, 0x11, 0xB4, 0xC6, 0x00, 0x60, 0x97, 0xC0, 0x9D, 0x8C},
};

bool is_summary_format(std::span<const std::uint8_t> format_id) noexcept {
    return std::ranges::any_of(kSummaryFormatIds, [&](const FormatId& known) {
        return std::ranges::equal(format_id, known);
    });
}

// Property ids of the summary information set.
constexpr std::uint32_t kTitle = 2;
constexpr std::uint32_t kSubject = 3;
constexpr std::uint32_t kAuthor = 4;
constexpr std::uint32_t kKeywords = 5;
constexpr std::uint32_t kComments = 6;
constexpr std::uint32_t kLastSavedBy = 8;
constexpr std::uint32_t kCreated = 12;
constexpr std::uint32_t kLastSaved = 13;

// Value types (the low word of the type; the high word is padding).
constexpr std::uint16_t VT_LPSTR = 30;
constexpr std::uint16_t VT_LPWSTR = 31;
constexpr std::uint16_t VT_FILETIME = 64;

// A FILETIME counts 100 ns ticks from 1601-01-01; the Unix epoch is this
// many microseconds later.
constexpr std::int64_t kFiletimeEpochOffsetMicros = 11'644'473'600'000'000;
// 9999-12-31T23:59:59.999999Z: later times are not dates any caller can
// represent (Python's datetime ends there), so they are taken as garbage.
constexpr std::int64_t kLatestTimeMicros = 253'402'300'799'999'999;

// The text of a stored string: up to its first NUL (the stored length counts
// the terminator, and some writers pad with more), without the line breaks
// and spaces around it (the word processor saves empty comment fields as
// "\r\n\r\n").
std::string_view stored_text(std::string_view text) noexcept {
    constexpr std::string_view kWhiteSpace = " \t\r\n";
    text = text.substr(0, text.find('\0'));
    const std::size_t first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kWhiteSpace) + 1 - first);
}

// A u32 count, then that many units of unit_bytes each, as a view.
std::optional<std::span<const std::uint8_t>> read_counted(ByteReader& reader, std::size_t unit_bytes) {
    const auto count = reader.u32();
    if (!count) return std::nullopt;
    return reader.bytes(std::size_t{*count} * unit_bytes);
}

// A VT_LPWSTR or VT_LPSTR value as UTF-8; nothing when it is empty or does
// not fit the set.
std::optional<std::string> read_string_value(ByteReader& reader, std::uint16_t type) {
    std::string text;
    if (type == VT_LPWSTR) {
        const auto units = read_counted(reader, 2);
        if (!units) return std::nullopt;
        auto decoded = utf16_to_utf8_strict(*units);
        if (!decoded) return std::nullopt;
        text = std::string(stored_text(*decoded));
    } else {
        const auto bytes = read_counted(reader, 1);
        if (!bytes) return std::nullopt;
        text = repair_utf8(stored_text({reinterpret_cast<const char*>(bytes->data()), bytes->size()}));
    }
    if (text.empty()) return std::nullopt;
    return text;
}

// A VT_FILETIME value in microseconds since the Unix epoch; nothing for the
// zero time (never set) and for times past year 9999.
std::optional<std::int64_t> read_filetime_value(ByteReader& reader) {
    const auto low = reader.u32();
    const auto high = reader.u32();
    if (!low || !high) return std::nullopt;
    const std::uint64_t ticks = (std::uint64_t{*high} << 32) | *low;
    if (ticks == 0) return std::nullopt;
    const std::int64_t micros = static_cast<std::int64_t>(ticks / 10) - kFiletimeEpochOffsetMicros;
    if (micros > kLatestTimeMicros) return std::nullopt;
    return micros;
}

std::optional<std::string>* string_slot(tree::Metadata& metadata, std::uint32_t id) noexcept {
    switch (id) {
        case kTitle: return &metadata.title;
        case kSubject: return &metadata.subject;
        case kAuthor: return &metadata.author;
        case kKeywords: return &metadata.keywords;
        case kComments: return &metadata.comments;
        case kLastSavedBy: return &metadata.last_saved_by;
        default: return nullptr;
    }
}

std::optional<std::int64_t>* time_slot(tree::Metadata& metadata, std::uint32_t id) noexcept {
    switch (id) {
        case kCreated: return &metadata.created;
        case kLastSaved: return &metadata.modified;
        default: return nullptr;
    }
}

// One property at offset within the set; a value of another type than the
// id calls for, or one that does not fit, leaves the property out.
void read_property(std::span<const std::uint8_t> set, std::uint32_t id, std::uint32_t offset,
                   tree::Metadata& metadata) {
    ByteReader reader(set);
    if (!reader.skip(offset)) return;
    const auto type_word = reader.u32();
    if (!type_word) return;
    const auto type = static_cast<std::uint16_t>(*type_word & 0xFFFF);
    if (auto* slot = string_slot(metadata, id); slot != nullptr && (type == VT_LPWSTR || type == VT_LPSTR)) {
        if (auto text = read_string_value(reader, type)) *slot = std::move(*text);
    } else if (auto* time = time_slot(metadata, id); time != nullptr && type == VT_FILETIME) {
        if (const auto micros = read_filetime_value(reader)) *time = *micros;
    }
}

// The summary information set's bytes: from its offset to its stated size,
// cut at the stream's end; nothing when the stream holds no such set.
std::optional<std::span<const std::uint8_t>> find_summary_set(std::span<const std::uint8_t> stream) {
    ByteReader reader(stream);
    if (reader.u16() != kByteOrderMark) return std::nullopt;
    if (!reader.skip(2 + 4 + kClassIdBytes)) return std::nullopt;  // version, system id, class id
    const auto set_count = reader.u32();
    if (!set_count) return std::nullopt;
    for (std::uint32_t k = 0; k < *set_count; ++k) {
        const auto format_id = reader.bytes(std::tuple_size_v<FormatId>);
        const auto offset = reader.u32();
        if (!format_id || !offset) return std::nullopt;
        if (!is_summary_format(*format_id)) continue;
        if (*offset > stream.size()) return std::nullopt;
        const auto rest = stream.subspan(*offset);
        const std::size_t size = read_u32_at(rest, 0).value_or(0);
        return rest.first(std::min(size, rest.size()));
    }
    return std::nullopt;
}

}  // namespace

void read_summary_properties(std::span<const std::uint8_t> stream, tree::Metadata& metadata) {
    const auto set = find_summary_set(stream);
    if (!set) return;
    // The (id, offset) pairs follow the size and the count; the loop stops
    // at the count or where the set ends, whichever comes first.
    ByteReader reader(*set);
    if (!reader.skip(4)) return;
    const auto property_count = reader.u32();
    if (!property_count) return;
    for (std::uint32_t k = 0; k < *property_count; ++k) {
        const auto id = reader.u32();
        const auto offset = reader.u32();
        if (!id || !offset) return;
        read_property(*set, *id, *offset, metadata);
    }
}

void read_summary_info(const Document& document, tree::Metadata& metadata) {
    const auto stream = document.read_stream("/\005HwpSummaryInformation");
    if (stream) read_summary_properties(*stream, metadata);
}

}  // namespace marlune
