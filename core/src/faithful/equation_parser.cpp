// Parsing an equation script the way the editor reads it. A group is a run
// of items; marks that act on the item before them (^ _ sup sub, from and
// to after a big operator, primes, over and atop) turn that item, in place,
// into the structure holding it. Commands before an item (sqrt, root, the
// decorations, left, the arrays) read the items after them. Nothing is an
// error: an unclosed group ends with the script, a stray closing brace or
// right is written as the character it is, a mark without an item acts on
// an empty one.
#include <algorithm>

#include "faithful/equation_lexer.hpp"
#include "faithful/equation_tree.hpp"

namespace marlune::equation {

namespace {

using Kind = Token::Kind;

// How deep commands and groups may nest, and how tall a chain of marks on
// one item (x^1^2^3…, a over b over c…) may grow; past that the rest is
// read flat, so writing the tree back never recurses deeper.
constexpr int kMaxDepth = 48;
constexpr std::uint16_t kMaxHeight = 96;

class Parser {
public:
    Parser(std::string_view script, std::vector<Node>& nodes) noexcept : lexer_(script), nodes_(nodes) {}

    std::int32_t root() { return group(Until::End, 0); }

private:
    enum class Until : std::uint8_t { End, Close, Right };

    std::int32_t add(const Node& node) {
        nodes_.push_back(node);
        return static_cast<std::int32_t>(nodes_.size() - 1);
    }

    std::int32_t add(NodeKind kind, std::string_view text = {}) {
        Node node;
        node.kind = kind;
        node.text = text;
        node.font = font_;
        return add(node);
    }

    std::uint16_t height(std::int32_t node) const noexcept {
        return node == kNone ? 0 : nodes_[static_cast<std::size_t>(node)].height;
    }

    Node& at(std::int32_t index) noexcept { return nodes_[static_cast<std::size_t>(index)]; }

    void set_height(std::int32_t node, std::initializer_list<std::int32_t> children) noexcept {
        std::uint16_t tallest = 0;
        for (const std::int32_t child : children) tallest = std::max(tallest, height(child));
        at(node).height = static_cast<std::uint16_t>(tallest + 1);
    }

    // The group's height after its item grew.
    void grew(std::int32_t group, std::int32_t item) noexcept {
        at(group).height = std::max(at(group).height, static_cast<std::uint16_t>(height(item) + 1));
    }

    void append(std::int32_t group, std::int32_t item) noexcept {
        Node& list = at(group);
        if (list.b == kNone) {
            list.a = item;
        } else {
            at(list.b).next = item;
            at(item).prev = list.b;
        }
        at(group).b = item;
        grew(group, item);
    }

    // The last item of the group that a mark can act on: spaces are passed
    // over, a row or column mark ends the search.
    std::int32_t last_item(std::int32_t group) const noexcept {
        for (std::int32_t item = nodes_[static_cast<std::size_t>(group)].b; item != kNone;
             item = nodes_[static_cast<std::size_t>(item)].prev) {
            const NodeKind kind = nodes_[static_cast<std::size_t>(item)].kind;
            if (kind == NodeKind::Space || kind == NodeKind::Thin) continue;
            if (kind == NodeKind::Row || kind == NodeKind::Column) return kNone;
            return item;
        }
        return kNone;
    }

    // The item a mark acts on: the last one, or a new empty one when there
    // is none or when it is already as tall as it may grow.
    std::int32_t operand(std::int32_t group) {
        const std::int32_t item = last_item(group);
        if (item != kNone && height(item) < kMaxHeight) return item;
        const std::int32_t empty = add(NodeKind::Group);
        append(group, empty);
        return empty;
    }

    // Moves the node at index to a new place and makes index a node of the
    // given kind holding it (as a), keeping index's place in its group.
    void wrap(std::int32_t index, NodeKind kind) {
        Node moved = at(index);
        moved.next = kNone;
        moved.prev = kNone;
        const std::int32_t inner = add(moved);
        Node& outer = at(index);
        const std::int32_t next = outer.next;
        const std::int32_t prev = outer.prev;
        outer = Node{};
        outer.kind = kind;
        outer.a = inner;
        outer.next = next;
        outer.prev = prev;
    }

    bool is_big_operator(std::int32_t item) const noexcept {
        if (item == kNone) return false;
        const Node& node = nodes_[static_cast<std::size_t>(item)];
        if (node.kind == NodeKind::Scripts) return is_big_operator(node.a);
        return node.kind == NodeKind::Latex && node.big_operator;
    }

    static bool is_word(const Token& token, Word kind) noexcept {
        if (token.kind != Kind::Letters) return false;
        WordInfo info;
        return look_up_word(token.text, info) && info.kind == kind;
    }

    std::int32_t group(Until until, int depth);
    void script(std::int32_t group, bool sup, int depth);
    void postfix(std::int32_t group, std::string_view latex);
    void fraction(std::int32_t group, std::string_view kind, int depth);
    std::int32_t atom(int depth);
    bool at_stop() noexcept;
    std::int32_t argument(int depth);
    std::int32_t item(int depth);
    std::int32_t word(const Token& token, int depth);
    std::int32_t fenced(int depth);
    std::string_view delimiter();

    Lexer lexer_;
    std::vector<Node>& nodes_;
    Font font_ = Font::Italic;
};

std::int32_t Parser::group(Until until, int depth) {
    const std::int32_t list = add(NodeKind::Group);
    const Font outer_font = font_;
    for (;;) {
        const Token& token = lexer_.peek();
        if (token.kind == Kind::End) break;
        if (token.kind == Kind::Close) {
            lexer_.next();
            if (until == Until::Close) break;
            append(list, add(NodeKind::Latex, "\\}"));  // a brace nothing opened
            continue;
        }
        WordInfo info;
        const bool known = token.kind == Kind::Letters && look_up_word(token.text, info);
        if (known && info.kind == Word::Right && until == Until::Right) break;
        switch (token.kind) {
            case Kind::Row:
            case Kind::Column:
                append(list, add(token.kind == Kind::Row ? NodeKind::Row : NodeKind::Column));
                lexer_.next();
                continue;
            case Kind::Sup:
            case Kind::Sub:
                lexer_.next();
                script(list, token.kind == Kind::Sup, depth);
                continue;
            case Kind::Prime:
                postfix(list, lexer_.next().latex);
                continue;
            default: break;
        }
        if (known) {
            switch (info.kind) {
                case Word::Sup:
                case Word::Sub:
                    lexer_.next();
                    script(list, info.kind == Word::Sup, depth);
                    continue;
                case Word::From:
                case Word::To:
                    if (!is_big_operator(last_item(list))) break;
                    lexer_.next();
                    script(list, info.kind == Word::To, depth);
                    continue;
                case Word::Over:
                case Word::Atop:
                case Word::Choose:
                    fraction(list, lexer_.next().text, depth);
                    continue;
                case Word::Postfix:
                    lexer_.next();
                    postfix(list, info.latex);
                    continue;
                case Word::Font:
                    lexer_.next();
                    font_ = static_cast<Font>(info.detail);
                    continue;
                default: break;
            }
        }
        if (const std::int32_t item = atom(depth); item != kNone) append(list, item);
    }
    font_ = outer_font;
    return list;
}

// ^ _ sup sub (and from / to after a big operator): the next item becomes
// the subscript or superscript of the item before; a second one of the
// same kind raises the whole again.
void Parser::script(std::int32_t group, bool sup, int depth) {
    const std::int32_t value = argument(depth + 1);
    std::int32_t base = operand(group);
    if (at(base).kind != NodeKind::Scripts || (sup ? at(base).c : at(base).b) != kNone) {
        wrap(base, NodeKind::Scripts);
    }
    (sup ? at(base).c : at(base).b) = value;
    set_height(base, {at(base).a, at(base).b, at(base).c});
    grew(group, base);
}

// A prime or degree mark: a superscript of the item before, added to a
// superscript it already has.
void Parser::postfix(std::int32_t group, std::string_view latex) {
    const std::int32_t mark = add(NodeKind::Latex, latex);
    std::int32_t base = operand(group);
    if (at(base).kind == NodeKind::Scripts && at(base).c != kNone && at(at(base).c).kind == NodeKind::Group) {
        append(at(base).c, mark);
        return;
    }
    if (at(base).kind != NodeKind::Scripts || at(base).c != kNone) wrap(base, NodeKind::Scripts);
    at(base).c = mark;
    set_height(base, {at(base).a, at(base).b, at(base).c});
    grew(group, base);
}

// over, atop, choose: the item before over the item after.
void Parser::fraction(std::int32_t group, std::string_view kind, int depth) {
    const std::int32_t below = item(depth + 1);
    const std::int32_t above = operand(group);
    wrap(above, NodeKind::Fraction);
    at(above).text = kind;
    at(above).b = below;
    set_height(above, {at(above).a, below});
    grew(group, above);
}

// Whether the next token ends the group or is a mark on what came before,
// so no argument stands here.
bool Parser::at_stop() noexcept {
    const Token& token = lexer_.peek();
    switch (token.kind) {
        case Kind::End:
        case Kind::Close:
        case Kind::Row:
        case Kind::Column:
        case Kind::Sup:
        case Kind::Sub: return true;
        case Kind::Letters: {
            WordInfo info;
            if (!look_up_word(token.text, info)) return false;
            return info.kind == Word::Over || info.kind == Word::Atop || info.kind == Word::Choose ||
                   info.kind == Word::Right || info.kind == Word::Sup || info.kind == Word::Sub;
        }
        default: return false;
    }
}

// What a command or mark reads: the next item, or an empty group where the
// group ends or another mark follows.
std::int32_t Parser::argument(int depth) {
    while (lexer_.peek().kind == Kind::Space || lexer_.peek().kind == Kind::Thin) lexer_.next();
    const std::int32_t value = at_stop() ? kNone : atom(depth);
    return value != kNone ? value : add(NodeKind::Group);
}

// An argument with the marks that follow it (the part below over).
std::int32_t Parser::item(int depth) {
    const std::int32_t holder = add(NodeKind::Group);
    append(holder, argument(depth));
    for (;;) {
        const Token& token = lexer_.peek();
        WordInfo info;
        const bool word = token.kind == Kind::Letters && look_up_word(token.text, info);
        if (token.kind == Kind::Sup || token.kind == Kind::Sub) {
            lexer_.next();
            script(holder, token.kind == Kind::Sup, depth);
        } else if (word && (info.kind == Word::Sup || info.kind == Word::Sub)) {
            lexer_.next();
            script(holder, info.kind == Word::Sup, depth);
        } else if (token.kind == Kind::Prime) {
            postfix(holder, lexer_.next().latex);
        } else if (word && info.kind == Word::Postfix) {
            lexer_.next();
            postfix(holder, info.latex);
        } else {
            break;
        }
    }
    const std::int32_t only = at(holder).a;
    return at(only).next == kNone ? only : holder;
}

// One item; kNone when the token makes none (a font change at the end).
std::int32_t Parser::atom(int depth) {
    const Token token = lexer_.next();
    switch (token.kind) {
        case Kind::Open:
            if (depth >= kMaxDepth) return add(NodeKind::Latex, "\\{");
            return group(Until::Close, depth + 1);
        case Kind::Number: return add(NodeKind::Number, token.text);
        case Kind::Symbol:
        case Kind::Prime: return add(NodeKind::Latex, token.latex);
        case Kind::Text:
        case Kind::Quoted: return add(NodeKind::Text, token.text);
        case Kind::Private: return add(NodeKind::Private, token.text);
        case Kind::Space: return add(NodeKind::Space);
        case Kind::Thin: return add(NodeKind::Thin);
        case Kind::Letters: return word(token, depth);
        default: return kNone;
    }
}

std::int32_t Parser::word(const Token& token, int depth) {
    WordInfo info;
    if (!look_up_word(token.text, info) || depth >= kMaxDepth) return add(NodeKind::Letters, token.text);
    switch (info.kind) {
        case Word::Symbol:
        case Word::Postfix: return add(NodeKind::Latex, info.latex);
        case Word::BigOp: {
            const std::int32_t node = add(NodeKind::Latex, info.latex);
            at(node).big_operator = true;
            return node;
        }
        case Word::Accent: {
            const std::int32_t value = argument(depth + 1);
            const std::int32_t node = add(NodeKind::Accent, info.latex);
            at(node).a = value;
            set_height(node, {value});
            return node;
        }
        case Word::Box: {
            const std::int32_t value = argument(depth + 1);
            const std::int32_t node = add(NodeKind::Boxed);
            at(node).a = value;
            set_height(node, {value});
            return node;
        }
        case Word::Sqrt:
        case Word::Root: {
            // sqrt x and root x; root n of x (and sqrt n of x) the n-th root.
            std::int32_t degree = kNone;
            std::int32_t radicand = argument(depth + 1);
            if (is_word(lexer_.peek(), Word::Of)) {
                lexer_.next();
                degree = radicand;
                radicand = argument(depth + 1);
            }
            const std::int32_t node = add(NodeKind::Root);
            at(node).a = degree;
            at(node).b = radicand;
            set_height(node, {degree, radicand});
            return node;
        }
        case Word::Left: return fenced(depth + 1);
        case Word::Right: {
            // A right nothing opened: its delimiter as a character.
            const std::string_view latex = delimiter();
            return latex.empty() || latex == "." ? kNone : add(NodeKind::Latex, latex);
        }
        case Word::Array: {
            std::int32_t cells = kNone;
            if (lexer_.peek().kind == Kind::Open) {
                lexer_.next();
                cells = group(Until::Close, depth + 1);
            } else {
                cells = argument(depth + 1);
            }
            const std::int32_t node = add(NodeKind::Array);
            at(node).a = cells;
            at(node).detail = info.detail;
            set_height(node, {cells});
            return node;
        }
        case Word::Font:
            // A font where an argument stands: the font, then the argument.
            font_ = static_cast<Font>(info.detail);
            return at_stop() ? kNone : atom(depth + 1);
        default: return add(NodeKind::Letters, token.text);
    }
}

// left D … right D: the group between, each delimiter as LaTeX ("." for
// none: a left without its right closes invisibly at the group's end).
std::int32_t Parser::fenced(int depth) {
    std::string_view opening = delimiter();
    if (opening.empty()) opening = ".";
    const std::int32_t body = group(Until::Right, depth);
    std::string_view closing = ".";
    if (is_word(lexer_.peek(), Word::Right)) {
        lexer_.next();
        closing = delimiter();
        if (closing.empty()) closing = ".";
    }
    const std::int32_t node = add(NodeKind::Fenced, opening);
    at(node).extra = closing;
    at(node).a = body;
    set_height(node, {body});
    return node;
}

// The delimiter after left or right, read when the next token is one.
std::string_view Parser::delimiter() {
    const Token& token = lexer_.peek();
    std::string_view latex;
    if (token.kind == Kind::Open) {
        latex = "\\{";
    } else if (token.kind == Kind::Close) {
        latex = "\\}";
    } else if (token.kind == Kind::Letters) {
        latex = delimiter_word(token.text);
    } else if (token.kind == Kind::Symbol && token.text.size() == 1) {
        switch (token.text[0]) {
            case '(': case ')': case '[': case ']': case '.': case '/': case '|': latex = token.text; break;
            case '<': latex = "\\langle"; break;
            case '>': latex = "\\rangle"; break;
            case '\\': latex = "\\backslash"; break;
            default: break;
        }
    }
    if (latex.empty()) return {};
    const char* end = token.text.data() + token.text.size();
    lexer_.next();
    // || as one double bar.
    if (latex == "|" && lexer_.peek().kind == Kind::Symbol && lexer_.peek().text == "|" &&
        lexer_.peek().text.data() == end) {
        lexer_.next();
        return "\\Vert";
    }
    return latex;
}

}  // namespace

std::int32_t parse_script(std::string_view script, std::vector<Node>& nodes) {
    nodes.clear();
    return Parser(script, nodes).root();
}

}  // namespace marlune::equation
