#include "hwp/fields.hpp"

#include <algorithm>
#include <limits>

#include "container/byte_reader.hpp"
#include "marlune/markdown.hpp"

namespace marlune {

namespace {

// The key in a click-here command string that precedes the guide text:
// "Direction:wstring:" then a count of code units, a colon and the text.
constexpr std::u16string_view kDirectionKey = u"Direction:wstring:";

// Byte layout of a click-here control header.
constexpr std::size_t kPropertyHighByte = 5;
constexpr std::size_t kExtraPropertyOffset = 8;
constexpr std::uint8_t kExpectedExtraProperty = 9;
constexpr std::size_t kCommandLengthOffset = 9;
constexpr std::size_t kCommandOffset = 11;

// HWPTAG_CTRL_DATA: the first parameter item's string.
constexpr std::size_t kNameLengthOffset = 10;
constexpr std::size_t kNameOffset = 12;

// HWPTAG_EQEDIT: the script.
constexpr std::size_t kScriptLengthOffset = 4;
constexpr std::size_t kScriptOffset = 6;

std::uint16_t unit_at(std::span<const std::uint8_t> units, std::size_t k) noexcept {
    return read_u16_at(units, 2 * k).value_or(0);
}

// Index (in code units) of the first occurrence of key, or npos.
std::size_t find_units(std::span<const std::uint8_t> units, std::u16string_view key) noexcept {
    const std::size_t count = units.size() / 2;
    if (count < key.size()) return std::u16string_view::npos;
    for (std::size_t start = 0; start + key.size() <= count; ++start) {
        std::size_t k = 0;
        while (k < key.size() && unit_at(units, start + k) == key[k]) ++k;
        if (k == key.size()) return start;
    }
    return std::u16string_view::npos;
}

// The guide text that follows the key in a command string, or empty.
std::string read_direction(std::span<const std::uint8_t> command) {
    const std::size_t units = command.size() / 2;
    const std::size_t key = find_units(command, kDirectionKey);
    if (key == std::u16string_view::npos) return {};
    std::size_t k = key + kDirectionKey.size();
    std::uint64_t count = 0;
    const std::size_t digits_start = k;
    while (k < units && unit_at(command, k) >= u'0' && unit_at(command, k) <= u'9') {
        count = std::min<std::uint64_t>(count * 10 + (unit_at(command, k) - u'0'), units);
        ++k;
    }
    if (k == digits_start || k >= units || unit_at(command, k) != u':') return {};
    ++k;
    const std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(count), units - k);
    return utf16_to_utf8_strict(command.subspan(2 * k, 2 * take)).value_or(std::string());
}

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// A placeholder at the start of text: FIELD_MARK, a decimal number without
// leading zeros, FIELD_MARK. Yields the number and the placeholder's length.
std::optional<std::pair<std::size_t, std::size_t>> match_placeholder(std::string_view text) noexcept {
    if (!text.starts_with(FIELD_MARK_UTF8)) return std::nullopt;
    std::size_t pos = FIELD_MARK_UTF8.size();
    const std::size_t digits_start = pos;
    std::size_t number = 0;
    constexpr std::size_t kSaturated = std::numeric_limits<std::size_t>::max() / 10 - 10;
    while (pos < text.size() && is_digit(text[pos])) {
        number = std::min(number * 10 + static_cast<std::size_t>(text[pos] - '0'), kSaturated);
        ++pos;
    }
    const std::size_t digits = pos - digits_start;
    if (digits == 0 || (digits > 1 && text[digits_start] == '0')) return std::nullopt;
    if (!text.substr(pos).starts_with(FIELD_MARK_UTF8)) return std::nullopt;
    return std::pair{number, pos + FIELD_MARK_UTF8.size()};
}

}  // namespace

std::optional<std::string> utf16_to_utf8_strict(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    ByteReader reader(bytes);
    while (auto unit = reader.u16()) {
        const char32_t u = *unit;
        if (u >= 0xDC00 && u <= 0xDFFF) return std::nullopt;
        if (u >= 0xD800 && u <= 0xDBFF) {
            const auto low = reader.u16();
            if (!low || *low < 0xDC00 || *low > 0xDFFF) return std::nullopt;
            append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (char32_t{*low} - 0xDC00));
            continue;
        }
        append_utf8(out, u);
    }
    return out;
}

std::optional<FieldHeader> parse_field_header(std::span<const std::uint8_t> payload) {
    if (payload.size() < kCommandOffset || payload[kExtraPropertyOffset] != kExpectedExtraProperty) {
        return std::nullopt;
    }
    const std::size_t length = read_u16_at(payload, kCommandLengthOffset).value_or(0);
    if (kCommandOffset + 2 * length > payload.size()) return std::nullopt;
    FieldHeader header;
    header.modified = (payload[kPropertyHighByte] & 0x80) != 0;
    header.direction = read_direction(payload.subspan(kCommandOffset, 2 * length));
    return header;
}

FieldName read_field_name(std::span<const Record> records, std::size_t index, std::uint32_t level) {
    if (index >= records.size() || records[index].tag_id != HWPTAG_CTRL_DATA || records[index].level != level) {
        return {std::string(), index};
    }
    const auto payload = records[index].payload();
    FieldName result{std::string(), index + 1};
    const auto length = read_u16_at(payload, kNameLengthOffset);
    if (!length || payload.size() < kNameOffset) return result;
    std::size_t bytes = std::min<std::size_t>(2 * std::size_t{*length}, payload.size() - kNameOffset);
    bytes -= bytes % 2;
    result.name = utf16_to_utf8_strict(payload.subspan(kNameOffset, bytes)).value_or(std::string());
    return result;
}

std::size_t add_field_entry(PendingParagraph& paragraph, std::span<const Record> records, std::size_t header_index) {
    const Record& header = records[header_index];
    auto parsed = parse_field_header(header.payload()).value_or(FieldHeader{});
    auto name = read_field_name(records, header_index + 1, std::uint32_t{header.level} + 1);
    paragraph.field_entries.push_back(FieldEntry{std::move(name.name), std::move(parsed.direction), parsed.modified});
    return name.next_index;
}

std::string render_field(const FieldEntry& entry, std::string_view text) {
    const bool show_text =
        !text.empty() && (entry.modified || (!entry.direction.empty() && text != entry.direction));
    std::string out = "{{";
    out += entry.name;
    if (!entry.direction.empty()) {
        out += ": ";
        out += entry.direction;
    }
    if (show_text) {
        out += " --> ";
        out += text;
    }
    out += "}}";
    return out;
}

std::string substitute_fields(std::string_view text, std::span<const std::string> field_texts,
                              std::span<const FieldEntry> field_entries) {
    if (field_texts.empty()) return std::string(text);
    // Each field's replacement, made once: its rendering when the field's
    // control header was read, else its bare text.
    std::vector<std::string> replacements;
    replacements.reserve(field_texts.size());
    std::size_t budget = text.size();
    for (std::size_t n = 0; n < field_texts.size(); ++n) {
        replacements.push_back(n < field_entries.size() ? render_field(field_entries[n], field_texts[n])
                                                         : field_texts[n]);
        budget += replacements.back().size();
    }
    // The decoder puts one placeholder per field into the text; copies of a
    // placeholder that stand in the document's own text are replaced too, but
    // only while the inserted text stays within the budget (the paragraph's
    // size plus every replacement once). Without it, many copies naming one
    // long field would make the paragraph grow with the square of its size.
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t mark = text.find(FIELD_MARK_UTF8, pos);
        if (mark == std::string_view::npos) {
            out.append(text.substr(pos));
            break;
        }
        out.append(text.substr(pos, mark - pos));
        const auto placeholder = match_placeholder(text.substr(mark));
        if (placeholder && placeholder->first < replacements.size() &&
            replacements[placeholder->first].size() <= budget) {
            const std::string& replacement = replacements[placeholder->first];
            out += replacement;
            budget -= replacement.size();
            pos = mark + placeholder->second;
        } else {
            // Not a placeholder of this paragraph: the mark is ordinary text.
            out.append(FIELD_MARK_UTF8);
            pos = mark + FIELD_MARK_UTF8.size();
        }
    }
    return out;
}

std::size_t skip_subtree(std::span<const Record> records, std::size_t index, std::uint32_t level) noexcept {
    while (index < records.size() && records[index].level > level) ++index;
    return index;
}

EquationResult convert_equation(std::span<const Record> records, std::size_t index, std::uint32_t level) {
    std::size_t i = index;
    for (; i < records.size(); ++i) {
        const Record& record = records[i];
        if (record.level <= level) return {std::nullopt, i - index};
        if (record.level == level + 1 && record.tag_id == HWPTAG_EQEDIT) break;
    }
    if (i >= records.size()) return {std::nullopt, i - index};

    const auto payload = records[i].payload();
    std::optional<std::string> script;
    const std::size_t length = read_u16_at(payload, kScriptLengthOffset).value_or(0);
    if (payload.size() >= kScriptOffset && length != 0 && kScriptOffset + 2 * length <= payload.size()) {
        script = utf16_to_utf8_strict(payload.subspan(kScriptOffset, 2 * length));
    }
    const std::size_t end = skip_subtree(records, i + 1, level);
    return {std::move(script), end - index};
}

}  // namespace marlune
