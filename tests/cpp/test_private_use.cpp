// Private-use characters in their standard form: old-Hangul syllables to
// conjoining jamo, symbol-font codes (both forms) to Unicode by font, and
// everything without a mapping kept as it is.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "container/private_use.hpp"

namespace marlune {
namespace {

struct Case {
    const char* name;
    std::string_view text;
    SymbolFont font;
    std::string_view expected;
};

// UTF-8 spelled out: the tables' own data is not what is tested here, but
// that each kind of code reaches the right entry and nothing else moves.
constexpr Case kCases[] = {
    // Old Hangul, whatever the font: one code, up to three jamo.
    {"syllable-with-final", "\xEF\x94\xBA\xEA\xB8\x80", SymbolFont::None,           // U+F53A 글
     "\xE1\x84\x92\xE1\x86\x9E\xE1\x86\xAB\xEA\xB8\x80"},                           // ᄒ ᆞ ᆫ 글
    {"lone-medial", "\xEA\xB0\x80\xEF\xA1\x9E\xEB\x82\x98", SymbolFont::None,       // 가 U+F85E 나
     "\xEA\xB0\x80\xE1\x86\x9E\xEB\x82\x98"},
    {"first-code", "\xEE\x82\xBC", SymbolFont::None, "\xE1\x85\x9F\xE1\x85\xA1\xE1\x86\xAE"},  // U+E0BC
    {"extended-b-final", "\xEE\x82\xBD", SymbolFont::None,                          // U+E0BD
     "\xE1\x85\x9F\xE1\x85\xA1\xED\x9F\x8D"},                                       // ... U+D7CD
    {"lone-initial", "\xEF\x9E\x85", SymbolFont::None, "\xE1\x84\x80"},              // U+F785 -> U+1100
    {"old-hangul-in-symbol-font", "\xEF\x94\xBA", SymbolFont::Wingdings, "\xE1\x84\x92\xE1\x86\x9E\xE1\x86\xAB"},
    // Outside the tables: kept.
    {"below-old-hangul", "\xEE\x82\xBB", SymbolFont::None, "\xEE\x82\xBB"},          // U+E0BB
    {"gap-in-old-hangul", "\xEF\xA0\x81", SymbolFont::None, "\xEF\xA0\x81"},         // U+F801
    {"plane-15", "\xF3\xB0\x8A\xB1", SymbolFont::None, "\xF3\xB0\x8A\xB1"},          // U+F02B1
    {"symbol-area-without-font", "\xEF\x83\xBE", SymbolFont::None, "\xEF\x83\xBE"},  // U+F0FE
    {"compatibility-ideograph", "\xEF\xA4\x80", SymbolFont::None, "\xEF\xA4\x80"},   // U+F900
    {"full-width", "\xEF\xBC\x88", SymbolFont::None, "\xEF\xBC\x88"},                // U+FF08
    {"not-utf8", "a\xFF\xEF\x94", SymbolFont::None, "a\xFF\xEF\x94"},
    // Symbol fonts: U+F0xx and the 8-bit code alike, by font.
    {"wingdings-area", "\xEF\x83\xBE", SymbolFont::Wingdings, "\xF0\x9F\x97\xB9"},   // U+F0FE -> U+1F5F9
    {"wingdings-8-bit", "l", SymbolFont::Wingdings, "\xE2\x9A\xAB"},                  // 0x6C -> U+26AB
    {"wingdings-latin-1", "\xC2\xA1", SymbolFont::Wingdings, "\xE2\xAD\x98"},         // 0xA1 -> U+2B58
    {"wingdings-2", "\xEF\x81\x90", SymbolFont::Wingdings2, "\xF0\x9F\x97\xB8"},     // U+F050 -> U+1F5F8
    {"wingdings-3", "u", SymbolFont::Wingdings3, "\xE2\x96\xB6"},                     // 0x75 -> U+25B6
    {"webdings", "a", SymbolFont::Webdings, "\xE2\x9C\x94"},                          // 0x61 -> U+2714
    {"symbol-greek", "ab", SymbolFont::Symbol, "\xCE\xB1\xCE\xB2"},                   // α β
    {"symbol-bullet", "\xEF\x82\xB7", SymbolFont::Symbol, "\xE2\x80\xA2"},           // U+F0B7 -> •
    {"unmapped-code-kept", "\x7F", SymbolFont::Symbol, "\x7F"},
    {"control-kept", "\t\n", SymbolFont::Wingdings, "\t\n"},
    {"hangul-in-symbol-font", "\xEA\xB0\x80", SymbolFont::Wingdings, "\xEA\xB0\x80"},
    {"space-in-symbol-font", " ", SymbolFont::Wingdings, " "},
};

class StandardForm : public testing::TestWithParam<Case> {};

TEST_P(StandardForm, MapsWhatIsKnownAndKeepsTheRest) {
    const Case& c = GetParam();
    std::string out = "<";
    append_standard_text(out, c.text, RunFonts::all(c.font));
    EXPECT_EQ(out, "<" + std::string(c.expected));
    // The in-place form gives the same, and leaves what precedes alone.
    std::string tail = "<" + std::string(c.text);
    standardize_tail(tail, 1, RunFonts::all(c.font));
    EXPECT_EQ(tail, out);
}

INSTANTIATE_TEST_SUITE_P(Cases, StandardForm, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) {
                             std::string name = info.param.name;
                             for (char& c : name) {
                                 if (c == '-') c = '_';
                             }
                             return name;
                         });

TEST(StandardForm, PlainTextNeedsNothing) {
    EXPECT_FALSE(needs_standard_form("plain 한글 text（）", RunFonts{}));
    EXPECT_TRUE(needs_standard_form("\xEF\x94\xBA", RunFonts{}));
    EXPECT_TRUE(needs_standard_form("a", RunFonts::all(SymbolFont::Symbol)));
    EXPECT_FALSE(needs_standard_form("", RunFonts::all(SymbolFont::Symbol)));
}

// 8-bit codes show in the Latin face, symbol-area codes in the run's symbol
// face, whichever language list it came from.
TEST(StandardForm, EightBitCodesFollowTheLatinFace) {
    const RunFonts area_only{SymbolFont::None, SymbolFont::Wingdings};
    std::string out;
    append_standard_text(out, "l\xEF\x81\xAC", area_only);  // 'l', U+F06C
    EXPECT_EQ(out, "l\xE2\x9A\xAB");
    out.clear();
    append_standard_text(out, "l\xEF\x81\xAC", RunFonts{SymbolFont::Symbol, SymbolFont::Wingdings});
    EXPECT_EQ(out, "\xCE\xBB\xE2\x9A\xAB");  // λ, ⚫
}

TEST(SymbolFontNames, FaceNamesByCaseAndSpaces) {
    struct Face {
        std::string_view face;
        SymbolFont font;
    };
    for (const Face& face : {Face{"Wingdings", SymbolFont::Wingdings}, Face{"WINGDINGS 2", SymbolFont::Wingdings2},
                             Face{" Wingdings 3 ", SymbolFont::Wingdings3}, Face{"webdings", SymbolFont::Webdings},
                             Face{"Symbol", SymbolFont::Symbol}, Face{"Symbol Sans", SymbolFont::None},
                             Face{"맑은 고딕", SymbolFont::None}, Face{"", SymbolFont::None}}) {
        EXPECT_EQ(symbol_font(face.face), face.font) << face.face;
    }
}

}  // namespace
}  // namespace marlune
