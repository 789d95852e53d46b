// Paragraph text: decoding of HWPTAG_PARA_TEXT code units, click-here field
// capture and substitution, field and equation records, white-space trimming.
#include <gtest/gtest.h>

#include "container/utf8.hpp"
#include "record_builders.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hwp/fields.hpp"
#include "marlune/markdown.hpp"
#include "marlune/records.hpp"
#include "hwp/para_text.hpp"

namespace marlune {
namespace {

using namespace marlune::test_records;

using Strings = std::vector<std::string>;

constexpr std::uint32_t kHyperlinkId = make_ctrl_id('%', 'h', 'l', 'k');
constexpr std::uint16_t kFiller = u'Z';  // letters inside controls show up if a width is wrong

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes txt(std::u16string_view text) {
    Bytes out;
    for (const char16_t unit : text) put_u16(out, unit);
    return out;
}

Bytes unit(std::uint16_t value) {
    Bytes out;
    put_u16(out, value);
    return out;
}

// An eight-unit control: its code, a control id in units 1 and 2, filler.
Bytes wide(std::uint16_t code, std::uint32_t id = (std::uint32_t{kFiller} << 16) | kFiller) {
    Bytes out;
    put_u16(out, code);
    put_u32(out, id);
    for (int k = 0; k < 4; ++k) put_u16(out, kFiller);
    put_u16(out, code);
    return out;
}

// An eight-unit control cut after count of its units (1 to 7).
Bytes cut_wide(std::uint16_t code, int count, std::uint32_t id = CTRL_CLICK_HERE) {
    Bytes out = wide(code, id);
    out.resize(static_cast<std::size_t>(2 * count));
    return out;
}

// All of data but its last count bytes.
Bytes drop_last(Bytes data, std::size_t count) {
    data.resize(data.size() - count);
    return data;
}

Bytes field_start(std::uint32_t id = CTRL_CLICK_HERE) { return wide(3, id); }
Bytes field_end() { return wide(4); }

std::string ph(std::size_t n) { return "\xEE\x80\x80" + std::to_string(n) + "\xEE\x80\x80"; }

// ---------------------------------------------------------------------------
// Paragraph text decoding

// Payloads without click-here fields decode the same in both decoders.
TEST(DecodeParaText, SharedRulesOfBothDecoders) {
    struct Case {
        const char* name;
        Bytes payload;
        std::string expected;
    };
    const Case cases[] = {
        {"two letters", cat({unit(0x0048), unit(0x0069)}), "Hi"},
        {"empty payload", {}, ""},
        {"one byte", {0x41}, ""},
        {"odd last byte ignored", {0x41, 0x00, 0x42}, "A"},
        {"Korean", txt(u"한글 문서"), "한글 문서"},
        {"tab is an eight-unit control that yields a tab", cat({txt(u"a"), wide(9), txt(u"b")}), "a\tb"},
        {"line break", cat({txt(u"a"), unit(10), txt(u"b")}), "a\nb"},
        {"trailing paragraph end", cat({txt(u"ab"), unit(13)}), "ab"},
        {"non-breaking space", cat({txt(u"a"), unit(30), txt(u"b")}), "a b"},
        {"fixed-width space", cat({txt(u"a"), unit(31), txt(u"b")}), "a b"},
        {"hyphen yields nothing", cat({txt(u"a"), unit(24), txt(u"b")}), "ab"},
        {"extended control cut short drops the rest", cat({txt(u"ab"), cut_wide(11, 5), txt(u"cd")}), "ab"},
        {"extended control one byte short", cat({txt(u"ab"), drop_last(wide(11), 1)}), "ab"},
        {"extended control ending exactly at the end", cat({txt(u"ab"), wide(11)}), "ab"},
        {"tab cut short yields nothing", cat({txt(u"a"), cut_wide(9, 7)}), "a"},
        {"tab ending exactly at the end", cat({txt(u"a"), wide(9)}), "a\t"},
        {"surrogate pair", txt(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80"},
        {"surrogate pair between letters", txt(u"a\xD83D\xDE00" u"b"), "a\xF0\x9F\x98\x80" "b"},
        {"lowest surrogate pair", txt(u"\xD800\xDC00"), "\xF0\x90\x80\x80"},
        {"highest surrogate pair", txt(u"\xDBFF\xDFFF"), "\xF4\x8F\xBF\xBF"},
        {"high surrogate then a letter", txt(u"\xD83D" u"A"), "A"},
        {"high surrogate then U+E000", txt(u"\xDBFF\xE000"), "\xEE\x80\x80"},
        {"highest low surrogate alone", txt(u"a\xDFFF"), "a"},
        {"highest high surrogate at the end", txt(u"a\xDBFF"), "a"},
        {"U+D7FF before the surrogates", txt(u"\xD7FF"), "\xED\x9F\xBF"},
        {"lone low surrogate", txt(u"a\xDC00" u"b"), "ab"},
        {"high surrogate in the last unit", txt(u"a\xD83D"), "a"},
        {"high surrogate then an odd byte", cat({txt(u"a\xD83D"), {0xDE}}), "a"},
        {"two high surrogates then a low one", txt(u"\xD83D\xD83D\xDE00"), "\xF0\x9F\x98\x80"},
        {"low then high surrogate", txt(u"\xDE00\xD83D"), ""},
        {"high surrogate then a line break", cat({txt(u"\xD83D"), unit(10), txt(u"x")}), "\nx"},
        {"high surrogate then a tab control", cat({txt(u"\xD83D"), wide(9)}), "\t"},
        {"space is no control", txt(u" "), " "},
        {"characters from U+007F up pass through",
         txt(u"\x007F\x0080\x00A0\x07FF\x0800\x3000\xE000\xFEFF\xFFFE\xFFFF"),
         "\x7F\xC2\x80\xC2\xA0\xDF\xBF\xE0\xA0\x80\xE3\x80\x80\xEE\x80\x80\xEF\xBB\xBF\xEF\xBF\xBE\xEF\xBF\xBF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decode_para_text(c.payload), c.expected);
        const ParagraphText fields = decode_para_text_with_fields(c.payload);
        EXPECT_EQ(fields.text, c.expected);
        EXPECT_TRUE(fields.field_texts.empty());
    }
}

TEST(DecodeParaText, CharControlsOccupyOneUnit) {
    struct Case {
        const char* name;
        std::uint16_t code;
        const char* expected;
    };
    const Case cases[] = {
        {"code 0", 0, "abc"},          {"line break", 10, "a\nbc"},     {"paragraph end", 13, "abc"},
        {"hyphen", 24, "abc"},         {"code 25", 25, "abc"},          {"code 26", 26, "abc"},
        {"code 27", 27, "abc"},        {"code 28", 28, "abc"},          {"code 29", 29, "abc"},
        {"non-breaking space", 30, "a bc"}, {"fixed-width space", 31, "a bc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes payload = cat({txt(u"a"), unit(c.code), txt(u"bc")});
        EXPECT_EQ(decode_para_text(payload), c.expected);
        EXPECT_EQ(decode_para_text_with_fields(payload).text, c.expected);
    }
}

TEST(DecodeParaText, InlineAndExtendedControlsOccupyEightUnits) {
    struct Case {
        const char* name;
        std::uint16_t code;
        const char* expected;
    };
    const Case cases[] = {
        {"extended 1", 1, "ab"},   {"extended 2", 2, "ab"},   {"field start, other id", 3, "ab"},
        {"field end, no capture", 4, "ab"}, {"inline 5", 5, "ab"}, {"inline 6", 6, "ab"},
        {"inline 7", 7, "ab"},     {"inline 8", 8, "ab"},     {"tab", 9, "a\tb"},
        {"extended 11", 11, "ab"}, {"extended 12", 12, "ab"}, {"extended 14", 14, "ab"},
        {"extended 15", 15, "ab"}, {"extended 16", 16, "ab"}, {"extended 17", 17, "ab"},
        {"extended 18", 18, "ab"}, {"inline 19", 19, "ab"},   {"inline 20", 20, "ab"},
        {"extended 21", 21, "ab"}, {"extended 22", 22, "ab"}, {"extended 23", 23, "ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes whole = cat({txt(u"a"), wide(c.code), txt(u"b")});
        EXPECT_EQ(decode_para_text(whole), c.expected);
        EXPECT_EQ(decode_para_text_with_fields(whole).text, c.expected);
        // Cut after seven of its eight units, the control ends the text.
        const Bytes cut = cat({txt(u"a"), cut_wide(c.code, 7, (std::uint32_t{kFiller} << 16) | kFiller)});
        EXPECT_EQ(decode_para_text(cut), "a");
        EXPECT_EQ(decode_para_text_with_fields(cut).text, "a");
    }
}

TEST(DecodeParaText, ClickHereFieldsAreLiftedIntoPlaceholders) {
    struct Case {
        const char* name;
        Bytes payload;
        std::string text;
        Strings field_texts;
        std::string plain;
    };
    const auto eleven_fields = [] {
        Bytes out;
        for (char16_t k = 0; k < 11; ++k) {
            const char16_t letter[] = {static_cast<char16_t>(u'a' + k), 0};
            out = cat({out, field_start(), txt(letter), field_end()});
        }
        return out;
    }();
    std::string eleven_text;
    for (std::size_t k = 0; k < 11; ++k) eleven_text += ph(k);
    const Case cases[] = {
        {"one field", cat({txt(u"x"), field_start(), txt(u"abc"), field_end(), txt(u"y")}), "x" + ph(0) + "y",
         {"abc"}, "xabcy"},
        {"two fields numbered in order",
         cat({txt(u"x"), field_start(), txt(u"a"), field_end(), txt(u"-"), field_start(), txt(u"b"), field_end()}),
         "x" + ph(0) + "-" + ph(1), {"a", "b"}, "xa-b"},
        {"eleven fields, the last numbered 10", eleven_fields, eleven_text,
         {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"}, "abcdefghijk"},
        {"another kind of field keeps its text",
         cat({txt(u"x"), field_start(kHyperlinkId), txt(u"abc"), field_end(), txt(u"y")}), "xabcy", {}, "xabcy"},
        {"click-here id with its bytes reversed is another field",
         cat({txt(u"x"), field_start(0x6B6C6325), txt(u"abc"), field_end(), txt(u"y")}), "xabcy", {}, "xabcy"},
        {"start that never ends", cat({txt(u"x"), field_start(), txt(u"abc")}), "xabc", {}, "xabc"},
        {"end without a capture", cat({txt(u"x"), field_end(), txt(u"y")}), "xy", {}, "xy"},
        {"end right after the start", cat({txt(u"x"), field_start(), field_end(), txt(u"y")}), "x" + ph(0) + "y",
         {""}, "xy"},
        {"click-here start inside a capture is ignored",
         cat({txt(u"x"), field_start(), txt(u"a"), field_start(), txt(u"b"), field_end(), txt(u"c"), field_end(),
              txt(u"y")}),
         "x" + ph(0) + "cy", {"ab"}, "xabcy"},
        {"nested field's end closes the capture",
         cat({txt(u"x"), field_start(), txt(u"a"), field_start(kHyperlinkId), txt(u"b"), field_end(), txt(u"c"),
              field_end(), txt(u"y")}),
         "x" + ph(0) + "cy", {"ab"}, "xabcy"},
        {"field end cut short still closes the capture",
         cat({txt(u"x"), field_start(), txt(u"abc"), cut_wide(4, 3), txt(u"y")}), "x" + ph(0), {"abc"}, "xabc"},
        {"field end of one unit at the very end closes the capture",
         cat({txt(u"x"), field_start(), txt(u"abc"), unit(4)}), "x" + ph(0), {"abc"}, "xabc"},
        {"field start cut short", cat({txt(u"x"), cut_wide(3, 4), txt(u"abc")}), "x", {}, "x"},
        {"unfinished capture flushed at a cut control",
         cat({txt(u"x"), field_start(), txt(u"abc"), cut_wide(11, 2)}), "xabc", {}, "xabc"},
        {"unfinished capture after a finished field",
         cat({txt(u"x"), field_start(), txt(u"a"), field_end(), txt(u"y"), field_start(), txt(u"b")}),
         "x" + ph(0) + "yb", {"a"}, "xayb"},
        {"layout characters inside a capture",
         cat({field_start(), txt(u"a"), wide(9), txt(u"b"), unit(10), unit(30), unit(31), unit(24), unit(13),
              txt(u"c"), field_end()}),
         ph(0), {"a\tb\n  c"}, "a\tb\n  c"},
        {"surrogates inside a capture",
         cat({field_start(), txt(u"\xD83D\xDE00\xDC00\xD83D" u"a"), field_end()}), ph(0),
         {"\xF0\x9F\x98\x80" "a"}, "\xF0\x9F\x98\x80" "a"},
        {"mark character in the text passes through",
         cat({txt(u"\xE000" u"0\xE000"), field_start(), txt(u"v"), field_end()}), "\xEE\x80\x80" "0\xEE\x80\x80" + ph(0),
         {"v"}, "\xEE\x80\x80" "0\xEE\x80\x80" "v"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ParagraphText result = decode_para_text_with_fields(c.payload);
        EXPECT_EQ(result.text, c.text);
        EXPECT_EQ(result.field_texts, c.field_texts);
        EXPECT_EQ(decode_para_text(c.payload), c.plain);
    }
}

// Every field text is kept until the paragraph is finished, so what each one
// holds must follow its own length, not the length of the rest of the payload.
TEST(DecodeParaText, FieldTextsHoldMemoryInProportionToThePayload) {
    struct Case {
        const char* name;
        int fields;
        std::u16string_view text;
    };
    const Case cases[] = {
        {"two thousand one-letter fields", 2000, u"a"},
        {"five hundred fields of forty letters", 500, u"0123456789012345678901234567890123456789"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes payload;
        const Bytes one_field = cat({field_start(), txt(c.text), field_end()});
        for (int k = 0; k < c.fields; ++k) payload.insert(payload.end(), one_field.begin(), one_field.end());
        const ParagraphText result = decode_para_text_with_fields(payload);
        ASSERT_EQ(result.field_texts.size(), static_cast<std::size_t>(c.fields));
        std::size_t held = 0;
        for (const std::string& text : result.field_texts) held += text.capacity();
        EXPECT_LE(held, 4 * payload.size());
    }
}

// ---------------------------------------------------------------------------
// Strict UTF-16

TEST(Utf16ToUtf8Strict, AnyUnpairedSurrogateFailsTheWholeString) {
    struct Case {
        const char* name;
        Bytes input;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"empty", {}, ""},
        {"ASCII", txt(u"abc"), "abc"},
        {"Korean", txt(u"이름"), "이름"},
        {"surrogate pair", txt(u"a\xD83D\xDE00"), "a\xF0\x9F\x98\x80"},
        {"control units are ordinary characters", txt(std::u16string_view(u"a\t\0b", 4)), std::string("a\t\0b", 4)},
        {"U+E000 and U+FFFF", txt(u"\xE000\xFFFF"), "\xEE\x80\x80\xEF\xBF\xBF"},
        {"odd last byte ignored", cat({txt(u"ab"), {0x63}}), "ab"},
        {"lowest and highest surrogate pairs", txt(u"\xD800\xDC00\xDBFF\xDFFF"),
         "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        {"U+D7FF before the surrogates", txt(u"\xD7FF"), "\xED\x9F\xBF"},
        {"lone high surrogate at the end", txt(u"ab\xD83D"), std::nullopt},
        {"highest high surrogate then U+E000", txt(u"\xDBFF\xE000"), std::nullopt},
        {"highest low surrogate alone", txt(u"\xDFFF"), std::nullopt},
        {"high surrogate then a letter", txt(u"\xD83D" u"a"), std::nullopt},
        {"high surrogate then an odd byte", cat({txt(u"\xD83D"), {0x00}}), std::nullopt},
        {"two high surrogates", txt(u"\xD83D\xD83D\xDE00"), std::nullopt},
        {"lone low surrogate", txt(u"a\xDC00" u"b"), std::nullopt},
        {"low before high", txt(u"\xDE00\xD83D"), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(utf16_to_utf8_strict(c.input), c.expected);
    }
}

// ---------------------------------------------------------------------------
// Click-here control header

// A %clk control header payload: id, property word, extra byte, command
// length (the command's own unless given), command, and whatever follows.
Bytes field_header(std::uint32_t properties, std::u16string_view command, std::uint8_t extra = 9,
                   std::optional<std::uint16_t> declared = std::nullopt, const Bytes& tail = {}) {
    Bytes out;
    put_u32(out, CTRL_CLICK_HERE);
    put_u32(out, properties);
    out.push_back(extra);
    put_u16(out, declared.value_or(static_cast<std::uint16_t>(command.size())));
    return cat({out, txt(command), tail});
}

TEST(ParseFieldHeader, GuideTextAndModifiedFlag) {
    struct Case {
        const char* name;
        Bytes payload;
        bool parsed;
        std::string direction;
        bool modified;
    };
    const std::u16string_view usual = u"Clickhere:set:40:Direction:wstring:5:이름 입력 HelpState:wstring:0: ";
    const Case cases[] = {
        {"usual command", field_header(0, usual), true, "이름 입력", false},
        {"empty payload", {}, false, "", false},
        {"ten bytes", drop_last(field_header(0, u""), 1), false, "", false},
        {"eleven bytes with an empty command", field_header(0, u""), true, "", false},
        {"byte 8 is 8", field_header(0, usual, 8), false, "", false},
        {"byte 8 is 0x89", field_header(0, usual, 0x89), false, "", false},
        {"command one unit longer than the payload", field_header(0x8000, u"Direction:wstring:1:a", 9, 22), false,
         "", false},
        {"command exactly fills the payload", field_header(0x8000, u"Direction:wstring:1:a", 9, 21), true, "a",
         true},
        {"modified bit", field_header(0x00008000, usual), true, "이름 입력", true},
        {"every other property bit", field_header(0xFFFF7FFF, usual), true, "이름 입력", false},
        {"no key", field_header(0, u"Clickhere:set:0:"), true, "", false},
        {"key in other letter case", field_header(0, u"direction:wstring:2:ab"), true, "", false},
        {"key after a partial key", field_header(0, u"DDirection:Direction:wstring:2:ab"), true, "ab", false},
        {"count past the end runs to the end", field_header(0, u"Direction:wstring:9:abc"), true, "abc", false},
        {"huge count runs to the end", field_header(0, u"Direction:wstring:99999999999999999999999:ab"), true, "ab",
         false},
        {"count of two digits", field_header(0, u"Direction:wstring:10:0123456789xyz"), true, "0123456789", false},
        {"count with leading zeros", field_header(0, u"Direction:wstring:002:abc"), true, "ab", false},
        {"count 0", field_header(0, u"Direction:wstring:0:abc"), true, "", false},
        {"guide text holds colons and digits", field_header(0, u"Direction:wstring:5:a:1:b tail"), true, "a:1:b",
         false},
        {"no digits", field_header(0, u"Direction:wstring::abc"), true, "", false},
        {"digits run to the end", field_header(0, u"Direction:wstring:12"), true, "", false},
        {"key at the very end", field_header(0, u"Direction:wstring:"), true, "", false},
        {"no colon after the digits", field_header(0, u"Direction:wstring:3;abc"), true, "", false},
        {"first occurrence malformed, later one fine",
         field_header(0, u"Direction:wstring:x Direction:wstring:2:ab"), true, "", false},
        {"text after the command is not searched",
         field_header(0, u"Clickhere:", 9, std::nullopt, txt(u"Direction:wstring:2:ab")), true, "", false},
        {"key cut by the end of the command", field_header(0, u"Direction:wstr", 9, std::nullopt, txt(u"ing:2:ab")),
         true, "", false},
        {"count stops at the command's end", field_header(0, u"Direction:wstring:5:ab", 9, std::nullopt, txt(u"cdef")),
         true, "ab", false},
        {"surrogate pair counts two units", field_header(0, u"Direction:wstring:2:\xD83D\xDE00!"), true,
         "\xF0\x9F\x98\x80", false},
        {"count splitting a pair", field_header(0, u"Direction:wstring:1:\xD83D\xDE00"), true, "", false},
        {"unpaired surrogate in the guide text", field_header(0x8000, u"Direction:wstring:3:a\xDC00" u"b"), true, "",
         true},
        {"unpaired surrogate after the guide text", field_header(0, u"Direction:wstring:2:ab\xDC00"), true, "ab",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto header = parse_field_header(c.payload);
        ASSERT_EQ(header.has_value(), c.parsed);
        if (!header) continue;
        EXPECT_EQ(header->direction, c.direction);
        EXPECT_EQ(header->modified, c.modified);
    }
}

// ---------------------------------------------------------------------------
// Field name record

// An HWPTAG_CTRL_DATA payload whose first item's string is name.
Bytes name_payload(std::u16string_view name, std::optional<std::uint16_t> declared = std::nullopt,
                   const Bytes& tail = {}) {
    Bytes out = {0x1B, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00, 0x40, 0x01, 0x00};
    put_u16(out, declared.value_or(static_cast<std::uint16_t>(name.size())));
    return cat({out, txt(name), tail});
}

TEST(ReadFieldName, TakesTheDataRecordAtTheExpectedLevel) {
    struct Case {
        const char* name;
        Records records;
        std::size_t index;
        std::uint32_t level;
        std::string expected;
        std::size_t next;
    };
    const Record header = rec(HWPTAG_CTRL_HEADER, 1, field_header(0, u""));
    const Case cases[] = {
        {"name found", {header, rec(HWPTAG_CTRL_DATA, 2, name_payload(u"이름"))}, 1, 2, "이름", 2},
        {"index at the end", {header}, 1, 2, "", 1},
        {"index past the end", {header}, 5, 2, "", 5},
        {"another tag", {header, rec(HWPTAG_CTRL_DATA - 1, 2, name_payload(u"x"))}, 1, 2, "", 1},
        {"a paragraph text record", {header, rec(HWPTAG_PARA_TEXT, 2, name_payload(u"x"))}, 1, 2, "", 1},
        {"level one deeper", {header, rec(HWPTAG_CTRL_DATA, 3, name_payload(u"x"))}, 1, 2, "", 1},
        {"level one shallower", {header, rec(HWPTAG_CTRL_DATA, 1, name_payload(u"x"))}, 1, 2, "", 1},
        {"empty payload is consumed", {header, rec(HWPTAG_CTRL_DATA, 2)}, 1, 2, "", 2},
        {"eleven bytes are consumed", {header, rec(HWPTAG_CTRL_DATA, 2, Bytes(11, 0x01))}, 1, 2, "", 2},
        {"length 0", {header, rec(HWPTAG_CTRL_DATA, 2, name_payload(u""))}, 1, 2, "", 2},
        {"declared length past the payload", {header, rec(HWPTAG_CTRL_DATA, 2, name_payload(u"abc", 10))}, 1, 2,
         "abc", 2},
        {"declared length past the payload, odd byte dropped",
         {header, rec(HWPTAG_CTRL_DATA, 2, name_payload(u"abc", 10, {0x64}))}, 1, 2, "abc", 2},
        {"declared length shorter than the string", {header, rec(HWPTAG_CTRL_DATA, 2, name_payload(u"abc", 2))}, 1,
         2, "ab", 2},
        {"unpaired surrogate is consumed", {header, rec(HWPTAG_CTRL_DATA, 2, name_payload(u"a\xD800"))}, 1, 2, "", 2},
        {"surrogate pair", {header, rec(HWPTAG_CTRL_DATA, 2, name_payload(u"\xD83D\xDE00"))}, 1, 2,
         "\xF0\x9F\x98\x80", 2},
        {"deeper level inside a cell",
         {rec(HWPTAG_PARA_TEXT, 3), header, rec(HWPTAG_CTRL_DATA, 5, name_payload(u"셀"))}, 2, 5, "셀", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FieldName result = read_field_name(c.records, c.index, c.level);
        EXPECT_EQ(result.name, c.expected);
        EXPECT_EQ(result.next_index, c.next);
    }
}

// ---------------------------------------------------------------------------
// Field rendering and substitution

TEST(RenderField, NameGuideAndTextShownByTheirRules) {
    struct Case {
        const char* name;
        FieldEntry entry;
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"guide text kept", {"N", "D", false}, "D", "{{N: D}}"},
        {"typed text", {"N", "D", false}, "T", "{{N: D --> T}}"},
        {"modified, text equals guide", {"N", "D", true}, "D", "{{N: D --> D}}"},
        {"no guide, not modified", {"N", "", false}, "T", "{{N}}"},
        {"no guide, modified", {"N", "", true}, "T", "{{N --> T}}"},
        {"no name", {"", "D", false}, "T", "{{: D --> T}}"},
        {"modified, empty text", {"N", "D", true}, "", "{{N: D}}"},
        {"all empty", {"", "", false}, "", "{{}}"},
        {"no name, guide kept", {"", "D", false}, "D", "{{: D}}"},
        {"no guide, modified, empty text", {"N", "", true}, "", "{{N}}"},
        {"text differs from guide by a trailing blank", {"N", "D", false}, "D ", "{{N: D --> D }}"},
        {"nothing escaped", {"a}}|*", "<b>", false}, "_x_", "{{a}}|*: <b> --> _x_}}"},
        {"Korean", {"성명", "이름을 입력하세요", false}, "홍길동", "{{성명: 이름을 입력하세요 --> 홍길동}}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(render_field(c.entry, c.text), c.expected);
    }
}

TEST(SubstituteFields, ReplacesEachPlaceholderOfThisParagraphOnce) {
    struct Case {
        const char* name;
        std::string text;
        Strings texts;
        std::vector<FieldEntry> entries;
        std::string expected;
    };
    const std::string mark = "\xEE\x80\x80";
    const Case cases[] = {
        {"no fields leaves the text alone", "x" + ph(0) + "y", {}, {}, "x" + ph(0) + "y"},
        {"guide text kept", "x" + ph(0) + "y", {"D"}, {{"N", "D", false}}, "x{{N: D}}y"},
        {"typed text", "x" + ph(0) + "y", {"T"}, {{"N", "D", false}}, "x{{N: D --> T}}y"},
        {"no entries: bare text", "x" + ph(0) + "y", {"T"}, {}, "xTy"},
        {"fewer entries than texts", ph(0) + "," + ph(1), {"D", "T"}, {{"N", "D", false}}, "{{N: D}},T"},
        {"placeholders out of order", ph(1) + ph(0), {"a", "b"}, {}, "ba"},
        {"placeholder twice", ph(0) + "-" + ph(0), {"a"}, {}, "a-a"},
        {"number past the field count stays", ph(0) + ph(2), {"a", "b"}, {}, "a" + ph(2)},
        {"number equal to the field count stays", ph(1), {"a"}, {}, ph(1)},
        {"leading zero stays", mark + "00" + mark + mark + "01" + mark, {"a", "b"}, {}, mark + "00" + mark + mark + "01" + mark},
        {"no digits stays", mark + mark + "x", {"a"}, {}, mark + mark + "x"},
        {"no closing mark stays", "a" + mark + "0b", {"a"}, {}, "a" + mark + "0b"},
        {"mark before a placeholder", mark + ph(0), {"a"}, {}, mark + "a"},
        {"digits then a letter stay", mark + "0x" + mark, {"a"}, {}, mark + "0x" + mark},
        {"huge number stays", mark + "99999999999999999999999999" + mark, {"a"}, {},
         mark + "99999999999999999999999999" + mark},
        {"full-width digit stays", mark + "\xEF\xBC\x90" + mark, {"a"}, {}, mark + "\xEF\xBC\x90" + mark},
        {"two-digit number", ph(10), Strings(11, "t"), {}, "t"},
        {"field text holding a placeholder stays literal", ph(0), {"A" + ph(1) + "B", "Z"}, {}, "A" + ph(1) + "B"},
        {"rendered name holding a placeholder stays literal", ph(0), {"a", "Z"}, {{ph(1), "", false}},
         "{{" + ph(1) + "}}"},
        {"rendered guide holding a placeholder stays literal", ph(0), {"T", "Z"}, {{"N", ph(1), false}},
         "{{N: " + ph(1) + " --> T}}"},
        {"text around stays byte for byte", "한 " + ph(0) + " 글", {"v"}, {}, "한 v 글"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(substitute_fields(c.text, c.texts, c.entries), c.expected);
    }
}

TEST(SubstituteFields, InsertedTextIsNeverScannedAgain) {
    // Each field text names the next placeholder twice; rescanning would
    // double the output thirty times over.
    constexpr std::size_t kFields = 30;
    Strings texts;
    for (std::size_t k = 0; k + 1 < kFields; ++k) texts.push_back(ph(k + 1) + ph(k + 1));
    texts.push_back("end");
    std::vector<FieldEntry> entries(kFields);
    std::string all;
    std::string expected_bare;
    std::string expected_rendered;
    for (std::size_t k = 0; k < kFields; ++k) {
        all += ph(k);
        expected_bare += texts[k];
        expected_rendered += render_field(entries[k], texts[k]);
    }
    struct Case {
        const char* name;
        std::string text;
        bool with_entries;
        std::string expected;
    };
    const Case cases[] = {
        {"first placeholder only, bare texts", ph(0), false, texts[0]},
        {"every placeholder, bare texts", all, false, expected_bare},
        {"every placeholder, rendered", all, true, expected_rendered},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out =
            substitute_fields(c.text, texts, c.with_entries ? std::span<const FieldEntry>(entries)
                                                           : std::span<const FieldEntry>());
        EXPECT_LT(out.size(), 4096u);
        EXPECT_EQ(out, c.expected);
    }
}

// ---------------------------------------------------------------------------
// Equations

// An HWPTAG_EQEDIT payload: property word, script length (the script's own
// unless given), script, and whatever follows.
Bytes eqedit_payload(std::u16string_view script, std::optional<std::uint16_t> declared = std::nullopt,
                     const Bytes& tail = {}) {
    Bytes out;
    put_u32(out, 0);
    put_u16(out, declared.value_or(static_cast<std::uint16_t>(script.size())));
    return cat({out, txt(script), tail});
}

Record eqedit(std::uint16_t level, std::u16string_view script) {
    return rec(HWPTAG_EQEDIT, level, eqedit_payload(script));
}

TEST(ConvertEquation, ScriptOfTheFirstEqeditDirectlyBelowAndTheWholeSubtree) {
    struct Case {
        const char* name;
        Records records;
        std::size_t index;
        std::uint32_t level;
        std::optional<std::string> script;
        std::size_t consumed;
    };
    const Bytes font_tail = cat({{0xE8, 0x03, 0, 0, 0, 0, 0, 0, 0x56, 0}, txt(u"HancomEQN")});
    const Record next_paragraph = rec(HWPTAG_PARA_HEADER, 0);
    const Case cases[] = {
        {"script found", {eqedit(2, u"a over b"), next_paragraph}, 0, 1, "a over b", 1},
        {"script keeps its white space", {eqedit(2, u" x \n"), next_paragraph}, 0, 1, " x \n", 1},
        {"fields after the script are not read", {rec(HWPTAG_EQEDIT, 2, eqedit_payload(u"1+1", std::nullopt, font_tail))},
         0, 1, "1+1", 1},
        {"deeper records after the script are consumed",
         {eqedit(2, u"x"), rec(90, 3), rec(91, 2), rec(HWPTAG_PARA_TEXT, 1), rec(92, 2)}, 0, 1, "x", 3},
        {"script two levels down is ignored", {eqedit(3, u"x"), next_paragraph}, 0, 1, std::nullopt, 1},
        {"script two levels down, then one level down", {eqedit(3, u"deep"), eqedit(2, u"top"), next_paragraph}, 0,
         1, "top", 2},
        {"another tag first", {rec(HWPTAG_CTRL_DATA, 2, {1, 2}), eqedit(2, u"x^2"), next_paragraph}, 0, 1, "x^2", 2},
        {"only the first eqedit counts", {eqedit(2, u"a"), eqedit(2, u"b"), next_paragraph}, 0, 1, "a", 2},
        {"first eqedit malformed, second fine",
         {rec(HWPTAG_EQEDIT, 2, eqedit_payload(u"", 0)), eqedit(2, u"b"), next_paragraph}, 0, 1, std::nullopt, 2},
        {"zero length", {rec(HWPTAG_EQEDIT, 2, eqedit_payload(u"abc", 0)), next_paragraph}, 0, 1, std::nullopt, 1},
        {"length past the payload", {rec(HWPTAG_EQEDIT, 2, eqedit_payload(u"abc", 4)), next_paragraph}, 0, 1,
         std::nullopt, 1},
        {"length past the payload by one byte",
         {rec(HWPTAG_EQEDIT, 2, cat({eqedit_payload(u"ab", 3), {0x63}})), next_paragraph}, 0, 1, std::nullopt, 1},
        {"length exactly filling the payload", {rec(HWPTAG_EQEDIT, 2, eqedit_payload(u"abc", 3))}, 0, 1, "abc", 1},
        {"five-byte payload", {rec(HWPTAG_EQEDIT, 2, {0, 0, 0, 0, 1})}, 0, 1, std::nullopt, 1},
        {"empty payload", {rec(HWPTAG_EQEDIT, 2)}, 0, 1, std::nullopt, 1},
        {"unpaired surrogate", {eqedit(2, u"a\xD800"), rec(90, 3), next_paragraph}, 0, 1, std::nullopt, 2},
        {"surrogate pair", {eqedit(2, u"\xD835\xDC65")}, 0, 1, "\xF0\x9D\x91\xA5", 1},
        {"subtree runs to the end of the records", {eqedit(2, u"x"), rec(90, 3), rec(91, 4)}, 0, 1, "x", 3},
        {"no eqedit before the records end", {rec(90, 2), rec(91, 3)}, 0, 1, std::nullopt, 2},
        {"no eqedit before a sibling", {rec(90, 2), rec(91, 3), rec(HWPTAG_CTRL_HEADER, 1), eqedit(2, u"x")}, 0, 1,
         std::nullopt, 2},
        {"sibling right away", {rec(HWPTAG_CTRL_HEADER, 1), eqedit(2, u"x")}, 0, 1, std::nullopt, 0},
        {"paragraph header right away", {next_paragraph, eqedit(2, u"x")}, 0, 1, std::nullopt, 0},
        {"no records", {}, 0, 1, std::nullopt, 0},
        {"index at the end", {next_paragraph}, 1, 1, std::nullopt, 0},
        {"index inside the list",
         {next_paragraph, rec(HWPTAG_CTRL_HEADER, 1), eqedit(2, u"y"), rec(90, 3), rec(HWPTAG_PARA_TEXT, 1)}, 2, 1,
         "y", 2},
        {"inside a table cell", {eqedit(5, u"z"), rec(90, 6), rec(HWPTAG_PARA_HEADER, 3)}, 0, 4, "z", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const EquationResult result = convert_equation(c.records, c.index, c.level);
        EXPECT_EQ(result.script, c.script);
        EXPECT_EQ(result.consumed, c.consumed);
    }
}

// ---------------------------------------------------------------------------
// White space

TEST(Trim, RemovesEveryWhiteSpaceCharacterAtTheEnds) {
    struct Case {
        const char* name;
        const char* ch;
    };
    const Case cases[] = {
        {"U+0009 tab", "\t"},
        {"U+000A line feed", "\n"},
        {"U+000B line tabulation", "\v"},
        {"U+000C form feed", "\f"},
        {"U+000D carriage return", "\r"},
        {"U+0020 space", " "},
        {"U+0085 next line", "\xC2\x85"},
        {"U+00A0 no-break space", "\xC2\xA0"},
        {"U+1680 ogham space mark", "\xE1\x9A\x80"},
        {"U+2000 en quad", "\xE2\x80\x80"},
        {"U+2001 em quad", "\xE2\x80\x81"},
        {"U+2002 en space", "\xE2\x80\x82"},
        {"U+2003 em space", "\xE2\x80\x83"},
        {"U+2004 three-per-em space", "\xE2\x80\x84"},
        {"U+2005 four-per-em space", "\xE2\x80\x85"},
        {"U+2006 six-per-em space", "\xE2\x80\x86"},
        {"U+2007 figure space", "\xE2\x80\x87"},
        {"U+2008 punctuation space", "\xE2\x80\x88"},
        {"U+2009 thin space", "\xE2\x80\x89"},
        {"U+200A hair space", "\xE2\x80\x8A"},
        {"U+2028 line separator", "\xE2\x80\xA8"},
        {"U+2029 paragraph separator", "\xE2\x80\xA9"},
        {"U+202F narrow no-break space", "\xE2\x80\xAF"},
        {"U+205F medium mathematical space", "\xE2\x81\x9F"},
        {"U+3000 ideographic space", "\xE3\x80\x80"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string ws = c.ch;
        const std::string text = ws + ws + "a" + ws + "b" + ws;
        EXPECT_EQ(trim(text), "a" + ws + "b");
        EXPECT_EQ(trim_end(text), ws + ws + "a" + ws + "b");
        EXPECT_EQ(trim(ws), "");
        EXPECT_EQ(trim_end(ws + ws), "");
        EXPECT_EQ(trim("한" + ws), "한");
        EXPECT_EQ(trim(ws + "\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
        EXPECT_EQ(trim_end("\xF0\x9F\x98\x80" + ws), "\xF0\x9F\x98\x80");
    }
}

TEST(Trim, KeepsCharactersWithoutTheWhiteSpaceProperty) {
    struct Case {
        const char* name;
        const char* ch;
    };
    const Case cases[] = {
        {"U+200B zero width space", "\xE2\x80\x8B"},
        {"U+FEFF byte order mark", "\xEF\xBB\xBF"},
        {"U+180E Mongolian vowel separator", "\xE1\xA0\x8E"},
        {"U+2060 word joiner", "\xE2\x81\xA0"},
        {"U+001C file separator", "\x1C"},
        {"U+001F unit separator", "\x1F"},
        {"U+0008 backspace", "\x08"},
        {"U+000E shift out", "\x0E"},
        {"U+E000 private use", "\xEE\x80\x80"},
        {"U+0105 ends in byte 85", "\xC4\x85"},
        {"U+0120 ends in byte A0", "\xC4\xA0"},
        {"U+2020 shares its first bytes with U+2000", "\xE2\x80\xA0"},
        {"U+3001 shares its first bytes with U+3000", "\xE3\x80\x81"},
        {"U+1F600", "\xF0\x9F\x98\x80"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string ch = c.ch;
        EXPECT_EQ(trim(ch), ch);
        EXPECT_EQ(trim_end(ch), ch);
        EXPECT_EQ(trim(" " + ch + "a" + ch + " "), ch + "a" + ch);
        EXPECT_EQ(trim_end(" " + ch + " \t"), " " + ch);
    }
}

TEST(Trim, WholeStrings) {
    struct Case {
        const char* name;
        std::string_view text;
        std::string_view trimmed;
        std::string_view end_trimmed;
    };
    const Case cases[] = {
        {"empty", "", "", ""},
        {"no white space", "abc", "abc", "abc"},
        {"inner white space kept", " a \t\xE3\x80\x80 b ", "a \t\xE3\x80\x80 b", " a \t\xE3\x80\x80 b"},
        {"only white space of many kinds", " \t\n\xC2\xA0\xE3\x80\x80\xE2\x80\xA9\xC2\x85", "", ""},
        {"leading only", "\n\n# 제목", "# 제목", "\n\n# 제목"},
        {"trailing only", "끝\n\n", "끝", "끝"},
        {"markdown block ending", "$$\nx\n$$\n\n", "$$\nx\n$$", "$$\nx\n$$"},
        {"zero width space shields white space", " \xE2\x80\x8B ", "\xE2\x80\x8B", " \xE2\x80\x8B"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(trim(c.text), c.trimmed);
        EXPECT_EQ(trim_end(c.text), c.end_trimmed);
    }
}

}  // namespace
}  // namespace marlune
