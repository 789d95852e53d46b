// The equation script's tokens: braces, letter runs (split where the editor
// splits them off a known word), numbers, operators, quoted text, the two
// spacing marks, script marks, and the row and column marks of arrays.
// Tokens are views into the script.
#pragma once

#include <cstdint>
#include <string_view>

namespace marlune::equation {

struct Token {
    enum class Kind : std::uint8_t {
        End,
        Open,    // {
        Close,   // }
        Letters, // a run of ASCII letters: a word or a variable's name
        Number,  // digits, with a decimal point between digits
        Symbol,  // an operator or punctuation; latex says how it is written
        Text,    // Hangul, CJK and other letters the formula shows as text
        Quoted,  // "…": text is what stands between the quotes
        Space,   // ~
        Thin,    // `
        Sup,     // ^
        Sub,     // _
        Row,     // #
        Column,  // &
        Prime,   // ' or ''
        Private, // a character of the private use area (symbol fonts)
    };
    Kind kind = Kind::End;
    std::string_view text;
    std::string_view latex;  // Symbol, Prime
};

// What a character outside ASCII is to the formula.
enum class CharClass : std::uint8_t {
    Text,     // a letter of Hangul, CJK and the like: shown as text
    Symbol,   // anything else shown: written as it is in math
    Private,  // the private use area (symbol fonts): written by its code
    Skip,     // combining marks, separators, C1 controls: passed over
};

// The length of the UTF-8 sequence at the start of text and its code
// point; 0 when the bytes are not one.
std::size_t decode_utf8(std::string_view text, char32_t& code) noexcept;

CharClass classify(char32_t code) noexcept;

// Whether KaTeX shows the character inside \text{} (letters of the scripts
// it knows, quotes, dashes); others are written in math beside the text.
bool shows_in_text(char32_t code) noexcept;

class Lexer {
public:
    explicit Lexer(std::string_view script) noexcept : script_(script) {}

    const Token& peek() noexcept {
        if (!ahead_) {
            token_ = scan();
            ahead_ = true;
        }
        return token_;
    }

    Token next() noexcept {
        peek();
        ahead_ = false;
        return token_;
    }

private:
    Token scan() noexcept;
    Token letters() noexcept;
    Token non_ascii() noexcept;

    std::string_view script_;
    std::size_t pos_ = 0;
    Token token_;
    bool ahead_ = false;
};

}  // namespace marlune::equation
