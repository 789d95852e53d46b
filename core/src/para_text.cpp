#include "para_text.hpp"

#include "byte_reader.hpp"

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

bool is_surrogate(std::uint16_t unit) noexcept { return unit >= 0xD800 && unit <= 0xDFFF; }

// Characters that stand for themselves: neither control codes nor surrogates.
bool is_plain(std::uint16_t unit) noexcept { return unit >= 32 && !is_surrogate(unit); }

// The number of plain characters from the reader's position on.
std::size_t plain_run_length(ByteReader scan) noexcept {
    std::size_t units = 0;
    for (auto unit = scan.peek_u16(); unit && is_plain(*unit); unit = scan.peek_u16()) {
        scan.skip(2);
        ++units;
    }
    return units;
}

// Appends the run of plain characters at the reader's position, at most
// room_units of them, in one go: the output grows once and the string is
// cut back to what was written.
void append_plain_run(ByteReader& reader, std::string& out, std::size_t room_units) {
    const std::size_t old_size = out.size();
    out.resize_and_overwrite(old_size + 3 * room_units, [&](char* buffer, std::size_t) {
        char* p = buffer + old_size;
        for (std::size_t k = 0; k < room_units; ++k) {
            const auto unit = reader.peek_u16();
            if (!unit || !is_plain(*unit)) break;
            reader.skip(2);
            const char32_t c = *unit;
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
        return static_cast<std::size_t>(p - buffer);
    });
}

void decode(std::span<const std::uint8_t> payload, std::string& text, std::vector<std::string>* field_texts) {
    ByteReader reader(payload);
    FieldCapture capture{field_texts, false, {}};
    auto sink = [&]() -> std::string& { return capture.active ? capture.buffer : text; };

    while (auto next_unit = reader.peek_u16()) {
        if (is_plain(*next_unit)) {
            // Measuring the run first lets the text grow once per run and
            // keep no more memory than it holds.
            append_plain_run(reader, sink(), plain_run_length(reader));
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

ParagraphText decode_para_text_with_fields(std::span<const std::uint8_t> payload) {
    ParagraphText result;
    decode(payload, result.text, &result.field_texts);
    return result;
}

}  // namespace marlune
