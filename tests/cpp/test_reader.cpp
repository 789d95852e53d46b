// The document reader: error texts, UTF-8 repair of system messages, the
// record stream parser, raw DEFLATE inflation and section stream names.
#include <gtest/gtest.h>

#include "record_builders.hpp"
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hwp/document.hpp"
#include "marlune/error.hpp"
#include "marlune/records.hpp"

namespace marlune {
namespace {

// DEFLATE's window: inputs past it exercise matches that reach back across
// what earlier inflate calls wrote.
constexpr std::size_t kWindowBytes = 32768;

using namespace marlune::test_records;


const std::string kCorruptText = "Parse error: 압축 해제 실패: corrupt deflate stream";
const std::string kTooLargeText = "Parse error: 압축 해제 실패: inflated section exceeds 256 MiB";

Bytes bytes_of(std::string_view text) { return Bytes(text.begin(), text.end()); }

// The bytes of any byte container, for comparison with expected data.
template <class Container>
Bytes to_bytes(const Container& data) {
    return Bytes(data.begin(), data.end());
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes pattern(std::size_t count, std::uint8_t seed) {
    Bytes data(count);
    for (std::size_t k = 0; k < count; ++k) data[k] = static_cast<std::uint8_t>(seed + k * 7 + (k >> 8));
    return data;
}

Bytes random_bytes(std::size_t count, std::uint32_t seed) {
    std::mt19937 engine(seed);
    Bytes data(count);
    for (auto& b : data) b = static_cast<std::uint8_t>(engine() & 0xFF);
    return data;
}

// ---------------------------------------------------------------------------
// Error texts

TEST(ErrorDisplayText, EveryKindRendersItsFixedText) {
    struct Case {
        const char* name;
        HwpError (*make)();
        HwpErrorKind kind;
        const char* expected;
    };
    const Case cases[] = {
        {"invalid signature, no trailing punctuation", [] { return HwpError::invalid_signature(); },
         HwpErrorKind::InvalidSignature, "Invalid HWP signature"},
        {"password protected", [] { return HwpError::password_protected(); }, HwpErrorKind::PasswordProtected,
         "Password-protected HWP files are not supported"},
        {"compound file with a message", [] { return HwpError::compound_file("bad sector chain"); },
         HwpErrorKind::CompoundFile, "Compound file error: bad sector chain"},
        {"compound file with an empty message keeps the blank", [] { return HwpError::compound_file(""); },
         HwpErrorKind::CompoundFile, "Compound file error: "},
        {"parse, short file header", [] { return HwpError::parse("FileHeader too short"); }, HwpErrorKind::Parse,
         "Parse error: FileHeader too short"},
        {"parse, Korean inflate message", [] { return HwpError::parse("압축 해제 실패: corrupt deflate stream"); },
         HwpErrorKind::Parse, "Parse error: 압축 해제 실패: corrupt deflate stream"},
        {"parse with an empty message keeps the blank", [] { return HwpError::parse(""); }, HwpErrorKind::Parse,
         "Parse error: "},
        {"distribution document", [] { return HwpError::distribution("the key record holds 8 bytes, not 256"); },
         HwpErrorKind::Distribution, "distribution document: the key record holds 8 bytes, not 256"},
        {"HWP 3.0 file", [] { return HwpError::hwp3(); }, HwpErrorKind::Hwp3, "HWP 3.0 documents are not supported"},
        {"io, NUL in the file name",
         [] {
             return HwpError::io(
                 IoErrorInfo::fixed(IoErrorKind::InvalidInput, "file name contained an unexpected NUL byte"));
         },
         HwpErrorKind::Io, "IO error: file name contained an unexpected NUL byte"},
        {"io, nested library message",
         [] { return HwpError::io(IoErrorInfo::nested(IoErrorKind::UnexpectedEof, "short read in /FileHeader")); },
         HwpErrorKind::Io, "IO error: short read in /FileHeader"},
        {"io, nested inflate message",
         [] { return HwpError::io(IoErrorInfo::nested(IoErrorKind::InvalidData, "corrupt deflate stream")); },
         HwpErrorKind::Io, "IO error: corrupt deflate stream"},
        {"io, nested empty message", [] { return HwpError::io(IoErrorInfo::nested(IoErrorKind::Other, "")); },
         HwpErrorKind::Io, "IO error: "},
        {"io, kind only: not found", [] { return HwpError::io(IoErrorInfo::from_kind(IoErrorKind::NotFound)); },
         HwpErrorKind::Io, "IO error: entity not found"},
        {"io, kind only: permission denied",
         [] { return HwpError::io(IoErrorInfo::from_kind(IoErrorKind::PermissionDenied)); }, HwpErrorKind::Io,
         "IO error: permission denied"},
        {"io, kind only: invalid input",
         [] { return HwpError::io(IoErrorInfo::from_kind(IoErrorKind::InvalidInput)); }, HwpErrorKind::Io,
         "IO error: invalid input parameter"},
        {"io, kind only: invalid data", [] { return HwpError::io(IoErrorInfo::from_kind(IoErrorKind::InvalidData)); },
         HwpErrorKind::Io, "IO error: invalid data"},
        {"io, kind only: unexpected end of file",
         [] { return HwpError::io(IoErrorInfo::from_kind(IoErrorKind::UnexpectedEof)); }, HwpErrorKind::Io,
         "IO error: unexpected end of file"},
        {"io, kind only: out of memory", [] { return HwpError::io(IoErrorInfo::from_kind(IoErrorKind::OutOfMemory)); },
         HwpErrorKind::Io, "IO error: out of memory"},
        {"io, kind only: other", [] { return HwpError::io(IoErrorInfo::from_kind(IoErrorKind::Other)); },
         HwpErrorKind::Io, "IO error: other error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const HwpError error = c.make();
        EXPECT_EQ(error.kind(), c.kind);
        EXPECT_EQ(display_text(error), c.expected);
    }
}

TEST(ErrorDisplayText, OsErrorsCarryTheSystemDescriptionAndNumber) {
    struct Case {
        const char* name;
        std::int32_t errnum;
        const char* suffix;
    };
    const Case cases[] = {
        {"no such file", ENOENT, " (os error 2)"},
        {"permission denied", EACCES, " (os error 13)"},
        {"is a directory", EISDIR, " (os error 21)"},
        {"negative number keeps its sign", -1, " (os error -1)"},
        {"number unknown to the system", 99999, " (os error 99999)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const IoErrorInfo info = IoErrorInfo::from_os(c.errnum);
        EXPECT_EQ(info.os_error(), c.errnum);
        const std::string text = display_text(HwpError::io(info));
        const std::string description = std::strerror(c.errnum);
        ASSERT_FALSE(description.empty());
        EXPECT_EQ(text, "IO error: " + description + c.suffix);
        EXPECT_TRUE(text.starts_with("IO error: " + description));
        EXPECT_TRUE(text.ends_with(c.suffix));
    }
}

// ---------------------------------------------------------------------------
// UTF-8 repair

TEST(RepairUtf8, IllFormedSequencesBecomeOneReplacementPerMaximalSubpart) {
    struct Case {
        const char* name;
        std::string_view input;
        std::string_view expected;
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"ASCII", "No such file", "No such file"},
        {"NUL byte is well formed", std::string_view("a\0b", 3), std::string_view("a\0b", 3)},
        {"two, three and four byte characters", "\xC3\xA9\xED\x95\x9C\xF0\x9F\x98\x80",
         "\xC3\xA9\xED\x95\x9C\xF0\x9F\x98\x80"},
        {"lowest and highest two byte", "\xC2\x80\xDF\xBF", "\xC2\x80\xDF\xBF"},
        {"lowest three byte", "\xE0\xA0\x80", "\xE0\xA0\x80"},
        {"last before the surrogates", "\xED\x9F\xBF", "\xED\x9F\xBF"},
        {"first after the surrogates", "\xEE\x80\x80", "\xEE\x80\x80"},
        {"U+FFFF", "\xEF\xBF\xBF", "\xEF\xBF\xBF"},
        {"lowest four byte", "\xF0\x90\x80\x80", "\xF0\x90\x80\x80"},
        {"U+10FFFF", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        {"lone continuation byte", "a\x80" "b", "a\xEF\xBF\xBD" "b"},
        {"two byte lead at the end", "a\xC3", "a\xEF\xBF\xBD"},
        {"three byte lead and one continuation at the end", "\xE4\xB8", "\xEF\xBF\xBD"},
        {"truncated three byte before ASCII", "\xE4\xB8" "A", "\xEF\xBF\xBD" "A"},
        {"truncated four byte at the end", "\xF0\x9F\x98", "\xEF\xBF\xBD"},
        {"truncated four byte before ASCII", "\xF0\x9F\x98" "A", "\xEF\xBF\xBD" "A"},
        {"overlong two byte C0", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"overlong two byte C1", "\xC1\xBF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"overlong three byte", "\xE0\x80\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"overlong four byte", "\xF0\x80\x80\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"high surrogate encoded", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"low surrogate encoded", "\xED\xBF\xBF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"lead F5 and its continuations", "\xF5\x80\x80\x80",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"bytes F5 to FF, one each", "\xF5\xF7\xF8\xFB\xFC\xFE\xFF",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"mixed truncations between letters", "a\xF1\x80\x80\xE1\x80\xC2" "b\x80" "c\x80\xBF" "d",
         "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c\xEF\xBF\xBD\xEF\xBF\xBD" "d"},
        {"non-shortest forms in a row", "\xC0\xAF\xE0\x80\xBF\xF0\x81\x82" "A",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" "A"},
        {"surrogates in a row", "\xED\xA0\x80\xED\xBF\xBF\xED\xAF" "A",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" "A"},
        {"other ill-formed bytes", "\xF4\x91\x92\x93\xFF" "A\x80\xBF" "B",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" "A\xEF\xBF\xBD\xEF\xBF\xBD" "B"},
        {"truncated sequences in a row", "\xE1\x80\xE2\xF0\x91\x92\xF1\xBF" "A",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" "A"},
        {"valid character after a bad lead", "\xFF\xC3\xA9", "\xEF\xBF\xBD\xC3\xA9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(repair_utf8(c.input), c.expected);
    }
}

// ---------------------------------------------------------------------------
// Record stream

struct ExpectedRecord {
    std::uint16_t tag_id;
    std::uint16_t level;
    Bytes data;
};

std::uint32_t header_word(std::uint32_t tag, std::uint32_t level, std::uint32_t size) {
    return tag | (level << 10) | (size << 20);
}

Bytes header(std::uint32_t tag, std::uint32_t level, std::uint32_t size) {
    Bytes out;
    put_u32(out, header_word(tag, level, size));
    return out;
}

Bytes extended_header(std::uint32_t tag, std::uint32_t level, std::uint32_t size) {
    Bytes out = header(tag, level, 0xFFF);
    put_u32(out, size);
    return out;
}

TEST(ParseRecords, SplitsHeadersAndPayloadsAndStopsAtTheFirstTruncation) {
    struct Case {
        const char* name;
        Bytes input;
        std::vector<ExpectedRecord> expected;
    };
    const Bytes p6 = pattern(6, 1);
    const Bytes p10 = pattern(10, 2);
    const Bytes p5000 = pattern(5000, 3);
    const Bytes p4094 = pattern(4094, 4);
    const Bytes p60 = pattern(60, 5);
    const Case cases[] = {
        {"empty data", {}, {}},
        {"one byte", {0x42}, {}},
        {"two bytes", {0x42, 0x00}, {}},
        {"three bytes", {0x42, 0x00, 0x00}, {}},
        {"example header 42 00 60 00", cat({{0x42, 0x00, 0x60, 0x00}, p6}), {{66, 0, p6}}},
        {"example header 43 04 A0 00", cat({{0x43, 0x04, 0xA0, 0x00}, p10}), {{67, 1, p10}}},
        {"example extended header 43 00 F0 FF 88 13 00 00",
         cat({{0x43, 0x00, 0xF0, 0xFF, 0x88, 0x13, 0x00, 0x00}, p5000}),
         {{67, 0, p5000}}},
        {"all-zero header is tag 0, level 0, empty", {0, 0, 0, 0}, {{0, 0, {}}}},
        {"size 0 is empty and parsing goes on", cat({header(66, 0, 0), header(67, 1, 2), {'h', 'i'}}),
         {{66, 0, {}}, {67, 1, {'h', 'i'}}}},
        {"size 4094 is a normal header", cat({header(67, 1, 0xFFE), p4094, header(68, 1, 0)}),
         {{67, 1, p4094}, {68, 1, {}}}},
        {"extended size 10 starts the payload after eight bytes",
         cat({extended_header(67, 1, 10), p10, header(69, 2, 1), {0x7F}}), {{67, 1, p10}, {69, 2, {0x7F}}}},
        {"extended size 0", cat({extended_header(70, 2, 0), header(71, 1, 1), {0x01}}),
         {{70, 2, {}}, {71, 1, {0x01}}}},
        {"extended size below 4095 is used unchanged", cat({extended_header(72, 3, 3), {1, 2, 3}}),
         {{72, 3, {1, 2, 3}}}},
        {"extended size 4095", cat({extended_header(73, 0, 4095), pattern(4095, 6)}), {{73, 0, pattern(4095, 6)}}},
        {"extended marker with no size word", cat({header(66, 0, 0), header(67, 1, 0xFFF)}), {{66, 0, {}}}},
        {"extended marker with one byte of size word", cat({header(66, 0, 0), header(67, 1, 0xFFF), {0x01}}),
         {{66, 0, {}}}},
        {"extended marker with two bytes of size word",
         cat({header(66, 0, 0), header(67, 1, 0xFFF), {0x01, 0x00}}), {{66, 0, {}}}},
        {"extended marker with three bytes of size word",
         cat({header(66, 0, 0), header(67, 1, 0xFFF), {0x01, 0x00, 0x00}}), {{66, 0, {}}}},
        {"declared 100 with 60 remaining ends the list",
         cat({header(66, 0, 1), {0xAA}, header(67, 1, 100), p60}), {{66, 0, {0xAA}}}},
        {"truncated extended payload ends the list", cat({header(66, 0, 0), extended_header(67, 1, 10), pattern(9, 7)}),
         {{66, 0, {}}}},
        {"nothing after a truncated record is looked at",
         cat({header(66, 0, 0), header(67, 1, 8), header(68, 1, 0)}), {{66, 0, {}}}},
        {"one trailing byte ignored", cat({header(66, 0, 1), {0x01}, {0xFF}}), {{66, 0, {0x01}}}},
        {"two trailing bytes ignored", cat({header(66, 0, 1), {0x01}, {0xFF, 0xFF}}), {{66, 0, {0x01}}}},
        {"three trailing bytes ignored", cat({header(66, 0, 1), {0x01}, {0xFF, 0xFF, 0xFF}}), {{66, 0, {0x01}}}},
        {"header word FFFFFFFF takes its size from the next word", cat({{0xFF, 0xFF, 0xFF, 0xFF}, {2, 0, 0, 0}, {9, 8}}),
         {{1023, 1023, {9, 8}}}},
        {"header word FFFFFFFF with an extended size past the end",
         cat({header(66, 0, 0), {0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFF}, pattern(32, 8)}), {{66, 0, {}}}},
        {"largest tag and level in a short header", cat({header(1023, 1023, 1), {0x5A}}), {{1023, 1023, {0x5A}}}},
        {"tags and levels pass through in stream order",
         cat({header(0, 5, 0), header(512, 0, 1), {1}, header(1023, 1, 0), header(67, 1000, 2), {2, 3},
              header(1, 2, 0)}),
         {{0, 5, {}}, {512, 0, {1}}, {1023, 1, {}}, {67, 1000, {2, 3}}, {1, 2, {}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Record> records = parse_records(c.input);
        ASSERT_EQ(records.size(), c.expected.size());
        for (std::size_t k = 0; k < records.size(); ++k) {
            SCOPED_TRACE("record " + std::to_string(k));
            EXPECT_EQ(records[k].tag_id, c.expected[k].tag_id);
            EXPECT_EQ(records[k].level, c.expected[k].level);
            EXPECT_EQ(to_bytes(records[k].payload()), c.expected[k].data);
        }
    }
}

TEST(ParseRecords, PayloadsAreViewsIntoTheSectionData) {
    const Bytes section = cat({header(67, 1, 3), {'a', 'b', 'c'}, header(66, 0, 0)});
    const std::vector<Record> records = parse_records(section);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].payload().data(), section.data() + 4);
    EXPECT_EQ(to_bytes(records[0].payload()), (Bytes{'a', 'b', 'c'}));
    EXPECT_TRUE(records[1].payload().empty());
}

// ---------------------------------------------------------------------------
// Raw DEFLATE inflation

// count zero bytes deflated without holding them all in memory.
Bytes deflate_zeros(std::size_t count) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY), Z_OK);
    const Bytes zeros(1 << 20, 0);
    Bytes out;
    Bytes buffer(1 << 16);
    std::size_t left = count;
    for (;;) {
        const std::size_t piece = std::min(left, zeros.size());
        z.next_in = const_cast<Bytef*>(zeros.data());
        z.avail_in = static_cast<uInt>(piece);
        left -= piece;
        const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        int rc;
        do {
            z.next_out = buffer.data();
            z.avail_out = static_cast<uInt>(buffer.size());
            rc = deflate(&z, flush);
            out.insert(out.end(), buffer.data(), buffer.data() + (buffer.size() - z.avail_out));
        } while (z.avail_out == 0);
        if (flush == Z_FINISH) {
            EXPECT_EQ(rc, Z_STREAM_END);
            break;
        }
    }
    deflateEnd(&z);
    return out;
}

Bytes repeated(const Bytes& block, int times) {
    Bytes out;
    for (int k = 0; k < times; ++k) out.insert(out.end(), block.begin(), block.end());
    return out;
}

TEST(InflateRaw, RoundTripsWhatZlibDeflates) {
    struct Case {
        const char* name;
        Bytes original;
        int level;
        int strategy;
    };
    const Bytes random_100k = random_bytes(100000, 1);
    const Bytes random_block = random_bytes(32000, 2);
    const Case cases[] = {
        {"no bytes at all", {}, 6, Z_DEFAULT_STRATEGY},
        {"one byte", {0x42}, 6, Z_DEFAULT_STRATEGY},
        {"short text", bytes_of("hello, 한글 world"), 6, Z_DEFAULT_STRATEGY},
        {"stored blocks, more than 32 KiB of input", random_bytes(200000, 3), 0, Z_DEFAULT_STRATEGY},
        {"incompressible, fed in many pieces", random_100k, 9, Z_DEFAULT_STRATEGY},
        {"matches at distances near 32 KiB need the full window", repeated(random_block, 8), 9,
         Z_DEFAULT_STRATEGY},
        {"fixed Huffman codes", repeated(bytes_of("abcabcabd "), 5000), 6, Z_FIXED},
        {"Huffman only", random_bytes(70000, 6), 6, Z_HUFFMAN_ONLY},
        {"run-length matches", Bytes(200000, 0x20), 6, Z_RLE},
        {"32 KiB of zeros", Bytes(kWindowBytes, 0), 1, Z_DEFAULT_STRATEGY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes compressed = deflate_raw(c.original, c.level, c.strategy);
        const auto inflated = inflate_raw(compressed);
        ASSERT_TRUE(inflated.has_value()) << display_text(inflated.error());
        EXPECT_EQ(inflated->size(), c.original.size());
        EXPECT_TRUE(to_bytes(*inflated) == c.original);
    }
}

TEST(InflateRaw, ExercisesChunkingAndGrowthOnLargeInput) {
    // The stream must span several input pieces and outgrow the first
    // output buffer; otherwise this case proves nothing about either.
    const Bytes original =
        cat({random_bytes(40000, 4), Bytes(1 << 20, 0), random_bytes(40000, 5), Bytes(300000, 'x')});
    const Bytes compressed = deflate_raw(original, 6);
    ASSERT_GT(compressed.size(), kWindowBytes);
    ASSERT_GT(original.size(), std::max<std::size_t>(compressed.size() * 4, 65536));
    const auto inflated = inflate_raw(compressed);
    ASSERT_TRUE(inflated.has_value());
    EXPECT_TRUE(to_bytes(*inflated) == original);
}

TEST(InflateRaw, HandWrittenBlocks) {
    struct Case {
        const char* name;
        Bytes input;
        std::optional<std::string> expected;  // nothing: fails as corrupt
    };
    const Case cases[] = {
        {"empty input is empty data", {}, ""},
        {"empty fixed block", {0x03, 0x00}, ""},
        {"final stored block", cat({{0x01, 0x05, 0x00, 0xFA, 0xFF}, bytes_of("hello")}), "hello"},
        {"stored block then final stored block",
         cat({{0x00, 0x02, 0x00, 0xFD, 0xFF}, bytes_of("he"), {0x01, 0x03, 0x00, 0xFC, 0xFF}, bytes_of("llo")}),
         "hello"},
        {"stored block cut inside its data yields the bytes before the cut",
         cat({{0x01, 0x05, 0x00, 0xFA, 0xFF}, bytes_of("hel")}), "hel"},
        {"non-final block and no more input", cat({{0x00, 0x02, 0x00, 0xFD, 0xFF}, bytes_of("he")}), "he"},
        {"cut inside the block header", {0x01}, ""},
        {"cut inside the length words", {0x01, 0x05, 0x00, 0xFA}, ""},
        {"a single zero byte", {0x00}, ""},
        {"bytes after the final block are ignored",
         cat({{0x01, 0x05, 0x00, 0xFA, 0xFF}, bytes_of("hello"), bytes_of("trailing garbage \x07\x06")}), "hello"},
        {"stored length check fails", cat({{0x01, 0x05, 0x00, 0xFB, 0xFF}, bytes_of("hello")}), std::nullopt},
        {"stored length check fails after a good block",
         cat({{0x00, 0x02, 0x00, 0xFD, 0xFF}, bytes_of("he"), {0x01, 0x03, 0x00, 0x00, 0x00}, bytes_of("llo")}),
         std::nullopt},
        {"reserved block type, final", {0x07, 0x00, 0x00}, std::nullopt},
        {"reserved block type, not final", {0x06, 0x00, 0x00}, std::nullopt},
        {"invalid dynamic code table", {0x05, 0xFF, 0xFF, 0xFF, 0xFF}, std::nullopt},
        {"zlib header in front of the data", {0x78, 0x9C, 0xCB, 0x48, 0xCD, 0xC9, 0xC9, 0x07, 0x00, 0x06, 0x2C,
                                              0x02, 0x15},
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto inflated = inflate_raw(c.input);
        if (c.expected) {
            ASSERT_TRUE(inflated.has_value()) << display_text(inflated.error());
            EXPECT_EQ(std::string(inflated->begin(), inflated->end()), *c.expected);
        } else {
            ASSERT_FALSE(inflated.has_value());
            EXPECT_EQ(inflated.error().kind(), HwpErrorKind::Parse);
            EXPECT_EQ(display_text(inflated.error()), kCorruptText);
        }
    }
}

TEST(InflateRaw, DeflatedStreamsCutShortOrFollowedByGarbage) {
    const Bytes original = cat({random_bytes(50000, 11), Bytes(50000, 'a'), random_bytes(50000, 12)});
    const Bytes compressed = deflate_raw(original, 6);
    ASSERT_GT(compressed.size(), 3 * kWindowBytes);
    struct Case {
        const char* name;
        Bytes input;
        bool whole;  // the full original is expected, else a non-empty proper prefix
    };
    const Case cases[] = {
        {"cut in the first input piece", Bytes(compressed.begin(), compressed.begin() + 1000), false},
        {"cut after several input pieces", Bytes(compressed.begin(), compressed.begin() + 70000), false},
        {"cut one byte before the end", Bytes(compressed.begin(), compressed.end() - 1), false},
        {"short garbage after the final block", cat({compressed, bytes_of("junk")}), true},
        {"garbage pieces after the final block", cat({compressed, random_bytes(100000, 13)}), true},
        {"a second stream after the final block", cat({compressed, deflate_raw(bytes_of("more"), 6)}), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto inflated = inflate_raw(c.input);
        ASSERT_TRUE(inflated.has_value()) << display_text(inflated.error());
        if (c.whole) {
            EXPECT_TRUE(to_bytes(*inflated) == original);
        } else {
            EXPECT_GT(inflated->size(), 0u);
            EXPECT_LT(inflated->size(), original.size());
            EXPECT_TRUE(std::equal(inflated->begin(), inflated->end(), original.begin()));
        }
    }
}

TEST(InflateRaw, ReferenceBeforeTheStartIsCorrupt) {
    // Deflated against a preset dictionary, the data refers to bytes that a
    // reader without the dictionary never saw.
    const Bytes dictionary = bytes_of("the quick brown fox jumps over the lazy dog");
    const Bytes compressed = deflate_raw(bytes_of("the lazy dog jumps over the quick brown fox"), 9,
                                         Z_DEFAULT_STRATEGY, dictionary);
    const auto inflated = inflate_raw(compressed);
    ASSERT_FALSE(inflated.has_value());
    EXPECT_EQ(display_text(inflated.error()), kCorruptText);
}

TEST(InflateRaw, InflatedSizeIsCappedAt256MiB) {
    struct Case {
        const char* name;
        std::size_t zeros;
        bool accepted;
    };
    const Case cases[] = {
        {"exactly the limit", MAX_SECTION_BYTES, true},
        {"one byte past the limit", MAX_SECTION_BYTES + 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes compressed = deflate_zeros(c.zeros);
        ASSERT_LT(compressed.size(), 1u << 20);
        const auto inflated = inflate_raw(compressed);
        if (c.accepted) {
            ASSERT_TRUE(inflated.has_value()) << display_text(inflated.error());
            EXPECT_EQ(inflated->size(), c.zeros);
            const Bytes zeros(1 << 20, 0);
            bool all_zero = true;
            for (std::size_t at = 0; at < inflated->size(); at += zeros.size()) {
                const std::size_t piece = std::min(zeros.size(), inflated->size() - at);
                all_zero = all_zero && std::memcmp(inflated->data() + at, zeros.data(), piece) == 0;
            }
            EXPECT_TRUE(all_zero);
        } else {
            ASSERT_FALSE(inflated.has_value());
            EXPECT_EQ(inflated.error().kind(), HwpErrorKind::Parse);
            EXPECT_EQ(display_text(inflated.error()), kTooLargeText);
        }
    }
}

// ---------------------------------------------------------------------------
// Section stream names

TEST(SectionStreamName, IndexInDecimalWithoutFill) {
    struct Case {
        const char* name;
        std::uint32_t index;
        const char* expected;
    };
    const Case cases[] = {
        {"first section", 0, "/BodyText/Section0"},
        {"last single digit", 9, "/BodyText/Section9"},
        {"first two digits, no zero fill", 10, "/BodyText/Section10"},
        {"largest index", 4294967295u, "/BodyText/Section4294967295"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(section_stream_name(c.index), c.expected);
    }
}

}  // namespace
}  // namespace marlune
