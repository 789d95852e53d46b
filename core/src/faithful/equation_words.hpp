// The words of the equation editor's script language: commands that build
// structure (over, sqrt, left, matrix), fonts, decorations, big operators,
// and the names of letters, symbols and functions with the LaTeX they stand
// for. Words match without regard to case except where the editor tells
// the cases apart (alpha and ALPHA, rarrow and RARROW, lim and Lim).
#pragma once

#include <cstdint>
#include <string_view>

namespace marlune::equation {

enum class Word : std::uint8_t {
    Symbol,    // a letter, symbol or function name: its LaTeX
    BigOp,     // an operator whose limits follow with _ ^ or from / to
    Accent,    // a decoration over or under the next item: its LaTeX command
    Postfix,   // a mark raised on the item before it (prime, degree)
    Font,      // rm, it, bold: the letters after it in the group
    Sqrt,
    Root,
    Of,
    Over,
    Atop,
    Choose,
    Sup,
    Sub,
    From,
    To,
    Left,
    Right,
    Box,
    Array,     // matrix, cases, pile, eqalign: the environment
};

enum class Font : std::uint8_t { Italic, Roman, Bold };

enum class ArrayKind : std::uint8_t { Matrix, PMatrix, BMatrix, DMatrix, Cases, Pile, LPile, RPile, EqAlign };

struct WordInfo {
    Word kind = Word::Symbol;
    std::string_view latex;  // Symbol, BigOp, Accent, Postfix
    std::uint8_t detail = 0; // Font or ArrayKind as a number
};

// The word the editor knows by this name, if any.
bool look_up_word(std::string_view name, WordInfo& info) noexcept;

// The length of the longest known word a letter run starts with that the
// editor splits off (it reads "rmA" as rm A, "LEQX" as LEQ X); 0 if none.
std::size_t known_prefix(std::string_view letters) noexcept;

// A delimiter after left or right given as a word (langle, lfloor); empty
// if the word is none.
std::string_view delimiter_word(std::string_view name) noexcept;

}  // namespace marlune::equation
