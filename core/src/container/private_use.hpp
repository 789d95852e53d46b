// Private-use characters in their standard form. Documents write old-Hangul
// syllables in the Hanyang private-use area (U+E0BC..U+F8F7), which stands
// for sequences of conjoining jamo; and text set in a symbol font (Symbol,
// Wingdings 1-3, Webdings) holds the font's own character codes, either as
// 8-bit codes or moved to U+F020..U+F0FF, which mean a Unicode symbol only
// through that font. Characters without a known mapping stay as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace marlune {

// Both formats set text in seven faces at once, one per language of the
// text: Hangul, Latin, Hanja, Japanese, other, symbols, user characters.
inline constexpr std::size_t FACE_LANGUAGES = 7;

// The symbol fonts whose codes are mapped, in the order of the tables.
enum class SymbolFont : std::uint8_t { None, Symbol, Wingdings, Wingdings2, Wingdings3, Webdings };

// The symbol fonts a run of text is set in: the face of its Latin letters,
// in which the 8-bit codes show, and the first symbol font among all its
// faces, in which the codes at U+F020..U+F0FF show.
struct RunFonts {
    SymbolFont latin = SymbolFont::None;
    SymbolFont area = SymbolFont::None;

    static constexpr RunFonts all(SymbolFont font) noexcept { return {font, font}; }
    constexpr bool any() const noexcept { return latin != SymbolFont::None || area != SymbolFont::None; }
    constexpr bool operator==(const RunFonts&) const noexcept = default;
};

// The fonts of a run set in face(list) of each language list (0..6): the
// Latin list's for 8-bit codes; for the symbol area the first symbol font
// among the symbol, user, Latin, other, Hangul, Hanja and Japanese lists.
template <class Face>
RunFonts run_fonts(Face face) {
    constexpr std::size_t kLatin = 1;
    constexpr std::size_t kSymbolAreaLists[FACE_LANGUAGES] = {5, 6, 1, 4, 0, 2, 3};
    RunFonts fonts{face(kLatin), SymbolFont::None};
    for (const std::size_t list : kSymbolAreaLists) {
        if ((fonts.area = face(list)) != SymbolFont::None) break;
    }
    return fonts;
}

// The symbol font a face name names ("Wingdings 2", "symbol"; case and
// surrounding spaces aside), None for any other face.
SymbolFont symbol_font(std::string_view face) noexcept;

// The standard form of one character in text set in `fonts`: appended to
// out, as a jamo sequence, the font's Unicode character, or c itself.
void append_standard(std::string& out, char32_t c, RunFonts fonts);

// Whether UTF-8 text holds anything append_standard_text would change:
// a private-use character, or in a symbol font any character up to U+00FF.
bool needs_standard_form(std::string_view utf8, RunFonts fonts) noexcept;

// Appends UTF-8 text with every character in its standard form.
void append_standard_text(std::string& out, std::string_view utf8, RunFonts fonts);

// Rewrites out[from..] in its standard form when it needs one.
void standardize_tail(std::string& out, std::size_t from, RunFonts fonts);

}  // namespace marlune
