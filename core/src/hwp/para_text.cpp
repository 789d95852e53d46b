#include "hwp/para_text.hpp"

#include <bit>
#include <cstring>

#include "container/byte_reader.hpp"

namespace marlune {

namespace {

constexpr std::uint16_t kFieldStart = 3;
constexpr std::uint16_t kTab = 9;
constexpr std::uint16_t kLineBreak = 10;
constexpr std::uint16_t kNonBreakingSpace = 30;
constexpr std::uint16_t kFixedWidthSpace = 31;
constexpr std::uint32_t kClickHereId = 0x25636C6B;  // "%clk"

// The plain character a layout control stands for, or 0 for none.
char layout_character(std::uint16_t unit) noexcept {
    switch (unit) {
        case kTab: return '\t';
        case kLineBreak: return '\n';
        case kNonBreakingSpace:
        case kFixedWidthSpace: return ' ';
        default: return 0;
    }
}

void append_placeholder(std::string& out, std::size_t number) {
    out += FIELD_MARK_UTF8;
    out += std::to_string(number);
    out += FIELD_MARK_UTF8;
}

// The click-here capture of the field-aware decoder: at most one field's
// text is collected at a time.
struct FieldCapture {
    std::vector<std::string>* field_texts;  // null: plain decoding
    bool active = false;
    std::string buffer;

    void start() {
        if (field_texts != nullptr && !active) {
            active = true;
            buffer.clear();
        }
    }
    void end(std::string& text) {
        if (!active) return;
        active = false;
        append_placeholder(text, field_texts->size());
        field_texts->push_back(std::move(buffer));
        buffer = std::string();
    }
    // An unfinished field's text stays in the paragraph as plain text.
    void flush(std::string& text) {
        if (active) text += buffer;
        active = false;
    }
};

// Characters that stand for themselves: neither control codes nor
// surrogates (0xD800-0xDFFF).
bool is_plain(std::uint16_t unit) noexcept {
    return unit >= 32 && static_cast<std::uint16_t>(unit - 0xD800) >= 0x800;
}

// Code unit `index` of little-endian UTF-16 (the caller keeps it in range).
std::uint16_t unit_at(std::span<const std::uint8_t> bytes, std::size_t index) noexcept {
    std::uint16_t unit;
    std::memcpy(&unit, bytes.subspan(2 * index, 2).data(), 2);
    if constexpr (std::endian::native == std::endian::big) unit = std::byteswap(unit);
    return unit;
}

// Appends the run of plain characters at the reader's position. A first
// pass over the code units measures the run and its UTF-8 length, so the
// text grows once, to exactly what is written.
void append_plain_run(ByteReader& reader, std::string& out) {
    const std::span<const std::uint8_t> rest = reader.rest();
    const std::size_t available = rest.size() / 2;
    std::size_t units = 0;
    std::size_t encoded = 0;
    for (; units < available; ++units) {
        const std::uint16_t unit = unit_at(rest, units);
        if (!is_plain(unit)) break;
        encoded += 1 + std::size_t{unit >= 0x80} + std::size_t{unit >= 0x800};
    }
    const std::size_t old_size = out.size();
    // The count is returned rather than the size handed in: libstdc++ 12
    // passes the grown capacity there, not the size asked for.
    out.resize_and_overwrite(old_size + encoded, [&](char* buffer, std::size_t) {
        char* p = buffer + old_size;
        for (std::size_t k = 0; k < units; ++k) {
            const std::uint16_t c = unit_at(rest, k);
            if (c < 0x80) {
                *p++ = static_cast<char>(c);
            } else if (c < 0x800) {
                *p++ = static_cast<char>(0xC0 | (c >> 6));
                *p++ = static_cast<char>(0x80 | (c & 0x3F));
            } else {
                *p++ = static_cast<char>(0xE0 | (c >> 12));
                *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                *p++ = static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        return old_size + encoded;
    });
    reader.skip(2 * units);
}

void decode(std::span<const std::uint8_t> payload, std::string& text, std::vector<std::string>* field_texts) {
    ByteReader reader(payload);
    FieldCapture capture{field_texts, false, {}};
    auto sink = [&]() -> std::string& { return capture.active ? capture.buffer : text; };

    while (auto next_unit = reader.peek_u16()) {
        if (is_plain(*next_unit)) {
            append_plain_run(reader, sink());
            continue;
        }
        const std::uint16_t u = *reader.u16();
        if (u < 32) {
            if (!is_wide_control(u)) {
                if (const char c = layout_character(u)) sink().push_back(c);
                continue;
            }
            // The code unit is read; seven more belong to the control.
            if (!reader.has(WIDE_CONTROL_BYTES - 2)) {
                if (u == FIELD_END) capture.end(text);
                break;
            }
            const std::size_t control_start = reader.position() - 2;
            if (u == kFieldStart) {
                if (read_u32_at(payload, control_start + 2) == kClickHereId) capture.start();
            } else if (u == FIELD_END) {
                capture.end(text);
            } else if (const char c = layout_character(u)) {
                sink().push_back(c);
            }
            reader.skip(WIDE_CONTROL_BYTES - 2);
            continue;
        }
        if (u >= 0xD800 && u <= 0xDBFF) {
            // A high surrogate counts only with a low one right after it.
            const auto next = read_u16_at(payload, reader.position());
            if (next && *next >= 0xDC00 && *next <= 0xDFFF) {
                reader.skip(2);
                append_utf8(sink(), 0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{*next} - 0xDC00));
            }
            continue;
        }
        // What is left is an unpaired low surrogate: dropped.
    }
    capture.flush(text);
}

}  // namespace

std::string decode_para_text(std::span<const std::uint8_t> payload) {
    std::string text;
    decode(payload, text, nullptr);
    return text;
}

void append_para_text(std::string& out, std::span<const std::uint8_t> payload) { decode(payload, out, nullptr); }

ParagraphText decode_para_text_with_fields(std::span<const std::uint8_t> payload) {
    ParagraphText result;
    decode(payload, result.text, &result.field_texts);
    return result;
}

}  // namespace marlune
