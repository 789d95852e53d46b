// The script read one token at a time. White space only separates tokens;
// letters, digits and operators end each other's runs, so "2x" is 2 and x.
// Characters outside ASCII are Korean, Chinese or Japanese text (a run of
// them is one token) or symbols written as they are.
#include "faithful/equation_lexer.hpp"

#include "faithful/equation_words.hpp"

namespace marlune::equation {

namespace {

bool is_letter(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// Operators of more than one character, longest first where one begins
// another.
struct Operator {
    std::string_view text;
    std::string_view latex;
};
constexpr Operator kOperators[] = {
    {"<=>", "\\Leftrightarrow"}, {"<->", "\\leftrightarrow"}, {"...", "\\ldots"}, {"->", "\\rightarrow"},
    {"<-", "\\leftarrow"},       {"=>", "\\Rightarrow"},      {"<=", "\\leq"},     {">=", "\\geq"},
    {"!=", "\\neq"},             {"==", "\\equiv"},           {"+-", "\\pm"},      {"-+", "\\mp"},
    {"<<", "\\ll"},              {">>", "\\gg"},
};

// One ASCII character as LaTeX: most stand for themselves; those LaTeX or
// the Markdown around an equation would read as markup are spelled out.
std::string_view ascii_symbol(char c) noexcept {
    switch (c) {
        case '<': return "\\lt";
        case '>': return "\\gt";
        case '\\': return "\\backslash";
        case '%': return "\\%";
        case '$': return "\\text{\\textdollar}";
        case '|': return "|";
        default: return {};
    }
}

}  // namespace

std::size_t decode_utf8(std::string_view text, char32_t& code) noexcept {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || length > text.size() || lead >= 0xF8) return 0;
    code = lead & (0x3FU >> (length - 1));
    for (std::size_t k = 1; k < length; ++k) {
        const auto byte = static_cast<unsigned char>(text[k]);
        if ((byte & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte & 0x3FU);
    }
    return length;
}

namespace {

// Marks that combine with the character before them, line and paragraph
// separators and C1 controls: KaTeX refuses them where they would stand
// alone, so they are passed over like white space.
bool is_passed_over(char32_t code) noexcept {
    return code <= 0x9F || (code >= 0x0300 && code <= 0x036F) || (code >= 0x1AB0 && code <= 0x1AFF) ||
           (code >= 0x1DC0 && code <= 0x1DFF) || (code >= 0x20D0 && code <= 0x20FF) || code == 0x2028 ||
           code == 0x2029 || (code >= 0xFE20 && code <= 0xFE2F);
}

// Scripts the formula shows as text: Hangul, CJK ideographs, kana, and the
// enclosed and full-width forms used with them.
bool is_text_letter(char32_t code) noexcept {
    return (code >= 0x1100 && code <= 0x11FF) || (code >= 0x2460 && code <= 0x24FF) ||
           (code >= 0x2E80 && code <= 0x9FFF) || (code >= 0xA960 && code <= 0xA97F) ||
           (code >= 0xAC00 && code <= 0xD7FF) || (code >= 0xF900 && code <= 0xFAFF) ||
           (code >= 0xFF00 && code <= 0xFFEF);
}

}  // namespace

CharClass classify(char32_t code) noexcept {
    if (is_text_letter(code)) return CharClass::Text;
    if (is_passed_over(code)) return CharClass::Skip;
    if (code >= 0xE000 && code <= 0xF8FF) return CharClass::Private;
    return CharClass::Symbol;
}

bool shows_in_text(char32_t code) noexcept {
    return is_text_letter(code) || (code >= 0xC0 && code <= 0x24F && code != 0xD7 && code != 0xF7) ||
           (code >= 0x370 && code <= 0x52F) || (code >= 0x2010 && code <= 0x2027) ||
           (code >= 0x2030 && code <= 0x205E) || code == 0xA0;
}

Token Lexer::scan() noexcept {
    while (pos_ < script_.size()) {
        const char c = script_[pos_];
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F) {
            ++pos_;  // white space and control characters separate tokens
            continue;
        }
        if (is_letter(c)) return letters();
        if (static_cast<unsigned char>(c) >= 0x80) {
            Token token = non_ascii();
            if (token.kind != Token::Kind::End) return token;
            continue;
        }
        const std::size_t start = pos_;
        if (is_digit(c)) {
            while (pos_ < script_.size() &&
                   (is_digit(script_[pos_]) ||
                    (script_[pos_] == '.' && pos_ + 1 < script_.size() && is_digit(script_[pos_ + 1])))) {
                ++pos_;
            }
            return {Token::Kind::Number, script_.substr(start, pos_ - start), {}};
        }
        if (c == '"') {
            const std::size_t close = script_.find('"', start + 1);
            const std::size_t end = close == std::string_view::npos ? script_.size() : close;
            pos_ = close == std::string_view::npos ? end : end + 1;
            return {Token::Kind::Quoted, script_.substr(start + 1, end - start - 1), {}};
        }
        const std::string_view rest = script_.substr(start);
        for (const Operator& op : kOperators) {
            if (rest.starts_with(op.text)) {
                pos_ += op.text.size();
                return {Token::Kind::Symbol, op.text, op.latex};
            }
        }
        ++pos_;
        const std::string_view one = script_.substr(start, 1);
        switch (c) {
            case '{': return {Token::Kind::Open, one, {}};
            case '}': return {Token::Kind::Close, one, {}};
            case '~': return {Token::Kind::Space, one, {}};
            case '`': return {Token::Kind::Thin, one, {}};
            case '^': return {Token::Kind::Sup, one, {}};
            case '_': return {Token::Kind::Sub, one, {}};
            case '#': return {Token::Kind::Row, one, {}};
            case '&': return {Token::Kind::Column, one, {}};
            case '\'':
                if (pos_ < script_.size() && script_[pos_] == '\'') {
                    ++pos_;
                    return {Token::Kind::Prime, script_.substr(start, 2), "\\prime\\prime"};
                }
                return {Token::Kind::Prime, one, "\\prime"};
            default: break;
        }
        const std::string_view spelled = ascii_symbol(c);
        return {Token::Kind::Symbol, one, spelled.empty() ? one : spelled};
    }
    return {};
}

// A letter run, or the known word the editor splits off its front.
Token Lexer::letters() noexcept {
    const std::size_t start = pos_;
    while (pos_ < script_.size() && is_letter(script_[pos_])) ++pos_;
    std::string_view run = script_.substr(start, pos_ - start);
    WordInfo info;
    if (!look_up_word(run, info)) {
        if (const std::size_t prefix = known_prefix(run); prefix > 0) {
            run = run.substr(0, prefix);
            pos_ = start + prefix;
        }
    }
    return {Token::Kind::Letters, run, {}};
}

// A run of text letters, or one other character as it is; End for bytes
// that are not UTF-8 (skipped).
Token Lexer::non_ascii() noexcept {
    const std::size_t start = pos_;
    char32_t code = 0;
    std::size_t length = decode_utf8(script_.substr(pos_), code);
    if (length == 0) {
        ++pos_;
        return {};
    }
    if (const CharClass kind = classify(code); kind != CharClass::Text) {
        pos_ += length;
        const std::string_view one = script_.substr(start, length);
        if (kind == CharClass::Skip) return {};
        if (kind == CharClass::Private) return {Token::Kind::Private, one, {}};
        return {Token::Kind::Symbol, one, one};
    }
    while (length > 0 && is_text_letter(code)) {
        pos_ += length;
        if (pos_ >= script_.size()) break;
        length = decode_utf8(script_.substr(pos_), code);
    }
    return {Token::Kind::Text, script_.substr(start, pos_ - start), {}};
}

}  // namespace marlune::equation
