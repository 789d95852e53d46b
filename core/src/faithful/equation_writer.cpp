// Writing an equation's tree as LaTeX, one function per node kind. Arguments
// are always braced; a group standing as an item is written without braces
// unless it is empty or holds rows (then an aligned or gathered block). A
// space goes after a control word only where a letter follows it.
#include <algorithm>

#include "faithful/equation.hpp"
#include "faithful/equation_lexer.hpp"
#include "marlune/faithful.hpp"

namespace marlune {

namespace {

using equation::ArrayKind;
using equation::Font;
using equation::kNone;
using equation::Node;
using equation::NodeKind;

bool is_letter(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// What KaTeX reads on as part of a control word's name.
bool continues_word(char c) noexcept { return is_letter(c) || c == '@'; }

class Writer {
public:
    Writer(const std::vector<Node>& nodes, std::string& out) noexcept : nodes_(nodes), out_(out) {
        note_control_word();
    }

    void root(std::int32_t group) {
        std::int32_t first = node(group).a;
        std::int32_t last = node(group).b;
        while (first != kNone && is_space(first)) first = first == last ? kNone : node(first).next;
        while (first != kNone && is_space(last)) last = node(last).prev;
        if (first != kNone) items_in_block(first, last);
    }

private:
    const Node& node(std::int32_t index) const noexcept { return nodes_[static_cast<std::size_t>(index)]; }

    bool is_space(std::int32_t index) const noexcept {
        return node(index).kind == NodeKind::Space || node(index).kind == NodeKind::Thin;
    }

    // Appends LaTeX, with a space first where a control word would run on
    // into the letter it starts with.
    void put(std::string_view latex) {
        if (latex.empty()) return;
        if (out_.size() == word_end_ && continues_word(latex.front())) out_.push_back(' ');
        if (out_.size() == row_end_ && latex.front() == '[') out_ += "{}";  // not a row's spacing
        out_ += latex;
        note_control_word();
    }

    // Whether the output ends in a control word (\alpha), so that a letter
    // written next needs a space before it.
    void note_control_word() noexcept {
        std::size_t k = out_.size();
        while (k > 0 && continues_word(out_[k - 1])) --k;
        if (k == out_.size()) return;
        std::size_t slashes = 0;  // \\alpha is a row's end and letters
        while (k > slashes && out_[k - 1 - slashes] == '\\') ++slashes;
        if (slashes % 2 == 1) word_end_ = out_.size();
    }

    // The group's items, in an aligned (with &) or gathered block when it
    // holds rows or columns.
    void group(std::int32_t index) { items_in_block(node(index).a, node(index).b); }

    void items_in_block(std::int32_t first, std::int32_t last) {
        bool rows = false;
        bool columns = false;
        for (std::int32_t item = first; item != kNone; item = node(item).next) {
            rows = rows || node(item).kind == NodeKind::Row;
            columns = columns || node(item).kind == NodeKind::Column;
            if (item == last) break;
        }
        if (!rows && !columns) {
            items(first, last);
            return;
        }
        const std::string_view environment = columns ? "aligned" : "gathered";
        put("\\begin{");
        put(environment);
        put("}");
        items(first, last);
        put("\\end{");
        put(environment);
        put("}");
    }

    void items(std::int32_t first, std::int32_t last) {
        for (std::int32_t item = first; item != kNone; item = node(item).next) {
            write(item);
            if (item == last) break;
        }
    }

    // {…} around what a command or mark reads.
    void argument(std::int32_t index) {
        put("{");
        if (index != kNone) {
            if (node(index).kind == NodeKind::Group) group(index);
            else write(index);
        }
        put("}");
    }

    // What scripts attach to: an item that stays one atom as it is, anything
    // else braced.
    void base(std::int32_t index) {
        switch (node(index).kind) {
            case NodeKind::Latex:
            case NodeKind::Letters:
            case NodeKind::Number:
            case NodeKind::Text:
            case NodeKind::Fraction:
            case NodeKind::Root:
            case NodeKind::Accent:
            case NodeKind::Fenced:
            case NodeKind::Boxed: write(index); return;
            default: argument(index); return;
        }
    }

    void write(std::int32_t index) {
        const Node& item = node(index);
        switch (item.kind) {
            case NodeKind::Group:
                // An empty group only holds a place (lim _{x -> 0} {} f).
                if (item.a != kNone) group(index);
                return;
            case NodeKind::Latex: put(item.text); return;
            case NodeKind::Letters:
            case NodeKind::Number: in_font(item); return;
            case NodeKind::Text: text(item.text); return;
            case NodeKind::Private: private_character(item.text); return;
            case NodeKind::Space: put("\\ "); return;
            case NodeKind::Thin: put("\\,"); return;
            case NodeKind::Row:
                put("\\\\");
                row_end_ = out_.size();
                return;
            case NodeKind::Column: put("&"); return;
            case NodeKind::Scripts:
                base(item.a);
                if (item.b != kNone) {
                    put("_");
                    argument(item.b);
                }
                if (item.c != kNone) {
                    put("^");
                    argument(item.c);
                }
                return;
            case NodeKind::Fraction: fraction(item); return;
            case NodeKind::Root: root_sign(item); return;
            case NodeKind::Accent: accent(item); return;
            case NodeKind::Fenced:
                put("\\left");
                put(item.text);
                if (item.a != kNone) group(item.a);
                put("\\right");
                put(item.extra);
                return;
            case NodeKind::Array: array(item); return;
            case NodeKind::Boxed:
                put("\\boxed");
                argument(item.a);
                return;
        }
    }

    void in_font(const Node& item) {
        const bool letters = item.kind == NodeKind::Letters;
        std::string_view command;
        if (item.font == Font::Bold) command = "\\mathbf{";
        else if (item.font == Font::Roman && letters) command = "\\mathrm{";
        if (command.empty()) {
            put(item.text);
            return;
        }
        put(command);
        put(item.text);
        put("}");
    }

    void fraction(const Node& item) {
        if (item.text.size() == 4 && (item.text[0] | 0x20) == 'a') put("\\genfrac{}{}{0pt}{}");
        else if (item.text.size() == 6) put("\\binom");
        else put("\\frac");
        argument(item.a);
        argument(item.b);
    }

    void root_sign(const Node& item) {
        put("\\sqrt");
        if (item.a != kNone) {
            // The degree braced inside its brackets when it holds a bracket.
            const std::size_t start = out_.size();
            put("[");
            argument(item.a);
            if (out_.find(']', start) == std::string::npos) {
                out_.erase(start + 1, 1);
                out_.pop_back();
            }
            out_.push_back(']');
            word_end_ = std::string::npos;
        }
        argument(item.b);
    }

    // One letter, digit or symbol under a decoration.
    bool is_one_character(std::int32_t index) const noexcept {
        if (index == kNone) return false;
        const Node& value = node(index);
        if (value.kind == NodeKind::Letters || value.kind == NodeKind::Number) {
            return value.font == Font::Italic && value.text.size() == 1;
        }
        if (value.kind != NodeKind::Latex || value.text.size() < 2 || value.text[0] != '\\') return false;
        return std::all_of(value.text.begin() + 1, value.text.end(), is_letter);
    }

    // One character decorated: the short accent where a wide one has one.
    void accent(const Node& item) {
        std::string_view command = item.text;
        if (is_one_character(item.a)) {
            if (command == "\\overrightarrow") command = "\\vec";
            else if (command == "\\overline") command = "\\bar";
            else if (command == "\\widehat") command = "\\hat";
            else if (command == "\\widetilde") command = "\\tilde";
        }
        put(command);
        argument(item.a);
    }

    void array(const Node& item) {
        const auto kind = static_cast<ArrayKind>(item.detail);
        std::string_view begin = "\\begin{matrix}";
        std::string_view end = "\\end{matrix}";
        switch (kind) {
            case ArrayKind::Matrix: break;
            case ArrayKind::PMatrix: begin = "\\begin{pmatrix}", end = "\\end{pmatrix}"; break;
            case ArrayKind::BMatrix: begin = "\\begin{bmatrix}", end = "\\end{bmatrix}"; break;
            case ArrayKind::DMatrix: begin = "\\begin{vmatrix}", end = "\\end{vmatrix}"; break;
            case ArrayKind::Cases: begin = "\\begin{cases}", end = "\\end{cases}"; break;
            case ArrayKind::Pile: begin = "\\begin{array}{c}", end = "\\end{array}"; break;
            case ArrayKind::LPile: begin = "\\begin{array}{l}", end = "\\end{array}"; break;
            case ArrayKind::RPile: begin = "\\begin{array}{r}", end = "\\end{array}"; break;
            case ArrayKind::EqAlign: begin = "\\begin{aligned}", end = "\\end{aligned}"; break;
        }
        put(begin);
        // Piles have one column, cases two: further column marks are dropped.
        const bool piles = kind == ArrayKind::Pile || kind == ArrayKind::LPile || kind == ArrayKind::RPile;
        const int columns = piles ? 1 : kind == ArrayKind::Cases ? 2 : -1;
        int column = 1;
        const Node* cells = item.a == kNone ? nullptr : &node(item.a);
        if (cells != nullptr && cells->kind != NodeKind::Group) {
            write(item.a);
        } else if (cells != nullptr) {
            for (std::int32_t cell = cells->a; cell != kNone; cell = node(cell).next) {
                const NodeKind cell_kind = node(cell).kind;
                if (cell_kind == NodeKind::Row) column = 1;
                if (cell_kind == NodeKind::Column && columns > 0 && column++ >= columns) continue;
                write(cell);
            }
        }
        put(end);
    }

    // A private-use character (three UTF-8 bytes) by its code, which KaTeX
    // takes where it refuses the character itself.
    void private_character(std::string_view bytes) {
        if (bytes.size() != 3) return;
        const auto byte = [&](std::size_t k) { return static_cast<unsigned>(static_cast<unsigned char>(bytes[k])); };
        const unsigned code = ((byte(0) & 0x0FU) << 12) | ((byte(1) & 0x3FU) << 6) | (byte(2) & 0x3FU);
        static constexpr char kHex[] = "0123456789ABCDEF";
        put("{\\char\"");
        for (int shift = 12; shift >= 0; shift -= 4) out_.push_back(kHex[(code >> shift) & 0xFU]);
        out_.push_back('}');
    }

    // Text as \text{…}, LaTeX's special characters spelled as text
    // commands; characters KaTeX shows only in math written between pieces
    // of text.
    void text(std::string_view value) {
        bool open = false;
        const auto in_text = [&](std::string_view piece) {
            if (!open) put("\\text{");
            open = true;
            out_ += piece;
        };
        for (std::size_t k = 0; k < value.size();) {
            const char c = value[k];
            if (static_cast<unsigned char>(c) < 0x80) {
                in_text(spelled_in_text(c));
                ++k;
                continue;
            }
            char32_t code = 0;
            const std::size_t length = equation::decode_utf8(value.substr(k), code);
            if (length == 0) {
                ++k;
                continue;
            }
            const std::string_view bytes = value.substr(k, length);
            k += length;
            const equation::CharClass kind = equation::classify(code);
            if (kind == equation::CharClass::Skip) continue;
            if (equation::shows_in_text(code)) {
                in_text(bytes);
                continue;
            }
            if (open) out_.push_back('}');
            open = false;
            word_end_ = std::string::npos;
            if (kind == equation::CharClass::Private) private_character(bytes);
            else put(bytes);
        }
        if (open) out_.push_back('}');
        word_end_ = std::string::npos;
    }

    static std::string_view spelled_in_text(const char& c) noexcept {
        switch (c) {
            case '\\': return "\\textbackslash{}";
            case '{': return "\\{";
            case '}': return "\\}";
            case '$': return "\\textdollar{}";
            case '&': return "\\&";
            case '#': return "\\#";
            case '%': return "\\%";
            case '_': return "\\_";
            case '^': return "\\textasciicircum{}";
            case '~': return "\\textasciitilde{}";
            case '<': return "\\textless{}";
            case '>': return "\\textgreater{}";
            case '|': return "\\textbar{}";
            default: break;
        }
        if (static_cast<unsigned char>(c) < ' ' || c == 0x7F) return " ";
        return std::string_view(&c, 1);
    }

    const std::vector<Node>& nodes_;
    std::string& out_;
    std::size_t word_end_ = std::string::npos;  // where the last control word ended
    std::size_t row_end_ = std::string::npos;   // where the last row's \\\\ ended
};

}  // namespace

void EquationTranslator::append_latex(std::string& out, std::string_view script) {
    const std::int32_t root = equation::parse_script(script, nodes_);
    Writer(nodes_, out).root(root);
}

std::string equation_to_latex(std::string_view script) {
    std::string latex;
    EquationTranslator().append_latex(latex, script);
    return latex;
}

}  // namespace marlune
