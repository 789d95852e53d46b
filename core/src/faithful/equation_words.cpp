// The equation editor's vocabulary as one table, looked up by the word in
// lower case. An entry with an upper form is told apart by case: the word
// all in lower case takes the first form, any other spelling the second
// (alpha α, Alpha and ALPHA Α; rarrow →, RARROW ⇒).
#include "faithful/equation_words.hpp"

#include <algorithm>
#include <array>

namespace marlune::equation {

namespace {

struct Entry {
    std::string_view name;  // lower case
    Word kind;
    std::string_view lower;
    std::string_view upper = {};
    std::uint8_t detail = 0;
};

constexpr std::uint8_t array_kind(ArrayKind kind) { return static_cast<std::uint8_t>(kind); }
constexpr std::uint8_t font(Font kind) { return static_cast<std::uint8_t>(kind); }

constexpr Entry kEntries[] = {
    // Structure.
    {"sqrt", Word::Sqrt, {}},
    {"root", Word::Root, {}},
    {"of", Word::Of, {}},
    {"over", Word::Over, {}},
    {"atop", Word::Atop, {}},
    {"choose", Word::Choose, {}},
    {"sup", Word::Sup, {}},
    {"sub", Word::Sub, {}},
    {"from", Word::From, {}},
    {"to", Word::To, {}},
    {"left", Word::Left, {}},
    {"right", Word::Right, {}},
    {"box", Word::Box, {}},
    {"rm", Word::Font, {}, {}, font(Font::Roman)},
    {"it", Word::Font, {}, {}, font(Font::Italic)},
    {"bold", Word::Font, {}, {}, font(Font::Bold)},
    {"matrix", Word::Array, {}, {}, array_kind(ArrayKind::Matrix)},
    {"ladder", Word::Array, {}, {}, array_kind(ArrayKind::Matrix)},
    {"pmatrix", Word::Array, {}, {}, array_kind(ArrayKind::PMatrix)},
    {"bmatrix", Word::Array, {}, {}, array_kind(ArrayKind::BMatrix)},
    {"dmatrix", Word::Array, {}, {}, array_kind(ArrayKind::DMatrix)},
    {"cases", Word::Array, {}, {}, array_kind(ArrayKind::Cases)},
    {"pile", Word::Array, {}, {}, array_kind(ArrayKind::Pile)},
    {"lpile", Word::Array, {}, {}, array_kind(ArrayKind::LPile)},
    {"rpile", Word::Array, {}, {}, array_kind(ArrayKind::RPile)},
    {"eqalign", Word::Array, {}, {}, array_kind(ArrayKind::EqAlign)},
    // Decorations.
    {"bar", Word::Accent, "\\overline"},
    {"overline", Word::Accent, "\\overline"},
    {"under", Word::Accent, "\\underline"},
    {"underline", Word::Accent, "\\underline"},
    {"hat", Word::Accent, "\\widehat"},
    {"vec", Word::Accent, "\\overrightarrow"},
    {"dyad", Word::Accent, "\\overleftrightarrow"},
    {"arch", Word::Accent, "\\overgroup"},
    {"tilde", Word::Accent, "\\widetilde"},
    {"dot", Word::Accent, "\\dot"},
    {"ddot", Word::Accent, "\\ddot"},
    {"acute", Word::Accent, "\\acute"},
    {"grave", Word::Accent, "\\grave"},
    {"check", Word::Accent, "\\check"},
    {"prime", Word::Postfix, "\\prime"},
    {"deg", Word::Postfix, "\\circ"},
    // Big operators.
    {"sum", Word::BigOp, "\\sum"},
    {"prod", Word::BigOp, "\\prod"},
    {"coprod", Word::BigOp, "\\coprod"},
    {"int", Word::BigOp, "\\int"},
    {"dint", Word::BigOp, "\\iint"},
    {"tint", Word::BigOp, "\\iiint"},
    {"oint", Word::BigOp, "\\oint"},
    {"odint", Word::BigOp, "\\oiint"},
    {"otint", Word::BigOp, "\\oiiint"},
    {"union", Word::BigOp, "\\bigcup"},
    {"bigcup", Word::BigOp, "\\bigcup"},
    {"inter", Word::BigOp, "\\bigcap"},
    {"bigcap", Word::BigOp, "\\bigcap"},
    {"bigsqcup", Word::BigOp, "\\bigsqcup"},
    {"bigoplus", Word::BigOp, "\\bigoplus"},
    {"bigotimes", Word::BigOp, "\\bigotimes"},
    {"bigodot", Word::BigOp, "\\bigodot"},
    {"biguplus", Word::BigOp, "\\biguplus"},
    {"bigvee", Word::BigOp, "\\bigvee"},
    {"bigwedge", Word::BigOp, "\\bigwedge"},
    {"smallsum", Word::BigOp, "\\sum"},
    {"smallprod", Word::BigOp, "\\prod"},
    {"smallcoprod", Word::BigOp, "\\coprod"},
    {"lim", Word::BigOp, "\\lim", "\\operatorname*{Lim}"},
    {"max", Word::BigOp, "\\max"},
    {"min", Word::BigOp, "\\min"},
    // Functions.
    {"sin", Word::Symbol, "\\sin"},
    {"cos", Word::Symbol, "\\cos"},
    {"tan", Word::Symbol, "\\tan"},
    {"cot", Word::Symbol, "\\cot"},
    {"sec", Word::Symbol, "\\sec"},
    {"csc", Word::Symbol, "\\csc"},
    {"arcsin", Word::Symbol, "\\arcsin"},
    {"arccos", Word::Symbol, "\\arccos"},
    {"arctan", Word::Symbol, "\\arctan"},
    {"sinh", Word::Symbol, "\\sinh"},
    {"cosh", Word::Symbol, "\\cosh"},
    {"tanh", Word::Symbol, "\\tanh"},
    {"coth", Word::Symbol, "\\coth"},
    {"log", Word::Symbol, "\\log"},
    {"ln", Word::Symbol, "\\ln"},
    {"lg", Word::Symbol, "\\lg"},
    {"exp", Word::Symbol, "\\exp"},
    {"det", Word::Symbol, "\\det"},
    {"dim", Word::Symbol, "\\dim"},
    {"ker", Word::Symbol, "\\ker"},
    {"hom", Word::Symbol, "\\hom"},
    {"arg", Word::Symbol, "\\arg"},
    {"gcd", Word::Symbol, "\\gcd"},
    {"mod", Word::Symbol, "\\operatorname{mod}"},
    // Greek letters; capitals LaTeX has no command for are the Latin ones.
    {"alpha", Word::Symbol, "\\alpha", "\\mathrm{A}"},
    {"beta", Word::Symbol, "\\beta", "\\mathrm{B}"},
    {"gamma", Word::Symbol, "\\gamma", "\\Gamma"},
    {"delta", Word::Symbol, "\\delta", "\\Delta"},
    {"epsilon", Word::Symbol, "\\epsilon", "\\mathrm{E}"},
    {"zeta", Word::Symbol, "\\zeta", "\\mathrm{Z}"},
    {"eta", Word::Symbol, "\\eta", "\\mathrm{H}"},
    {"theta", Word::Symbol, "\\theta", "\\Theta"},
    {"iota", Word::Symbol, "\\iota", "\\mathrm{I}"},
    {"kappa", Word::Symbol, "\\kappa", "\\mathrm{K}"},
    {"lambda", Word::Symbol, "\\lambda", "\\Lambda"},
    {"mu", Word::Symbol, "\\mu", "\\mathrm{M}"},
    {"nu", Word::Symbol, "\\nu", "\\mathrm{N}"},
    {"xi", Word::Symbol, "\\xi", "\\Xi"},
    {"omicron", Word::Symbol, "o", "\\mathrm{O}"},
    {"pi", Word::Symbol, "\\pi", "\\Pi"},
    {"rho", Word::Symbol, "\\rho", "\\mathrm{P}"},
    {"sigma", Word::Symbol, "\\sigma", "\\Sigma"},
    {"tau", Word::Symbol, "\\tau", "\\mathrm{T}"},
    {"upsilon", Word::Symbol, "\\upsilon", "\\Upsilon"},
    {"phi", Word::Symbol, "\\phi", "\\Phi"},
    {"chi", Word::Symbol, "\\chi", "\\mathrm{X}"},
    {"psi", Word::Symbol, "\\psi", "\\Psi"},
    {"omega", Word::Symbol, "\\omega", "\\Omega"},
    {"varepsilon", Word::Symbol, "\\varepsilon"},
    {"vartheta", Word::Symbol, "\\vartheta"},
    {"varpi", Word::Symbol, "\\varpi"},
    {"varrho", Word::Symbol, "\\varrho"},
    {"varsigma", Word::Symbol, "\\varsigma"},
    {"varphi", Word::Symbol, "\\varphi"},
    // Operators and relations.
    {"times", Word::Symbol, "\\times"},
    {"div", Word::Symbol, "\\div"},
    {"pm", Word::Symbol, "\\pm"},
    {"mp", Word::Symbol, "\\mp"},
    {"cdot", Word::Symbol, "\\cdot"},
    {"bullet", Word::Symbol, "\\bullet"},
    {"circ", Word::Symbol, "\\circ"},
    {"bigcirc", Word::Symbol, "\\bigcirc"},
    {"star", Word::Symbol, "\\star"},
    {"ast", Word::Symbol, "\\ast"},
    {"oplus", Word::Symbol, "\\oplus"},
    {"ominus", Word::Symbol, "\\ominus"},
    {"otimes", Word::Symbol, "\\otimes"},
    {"odot", Word::Symbol, "\\odot"},
    {"oslash", Word::Symbol, "\\oslash"},
    {"wedge", Word::Symbol, "\\wedge"},
    {"vee", Word::Symbol, "\\vee"},
    {"cup", Word::Symbol, "\\cup"},
    {"cap", Word::Symbol, "\\cap"},
    {"smallunion", Word::Symbol, "\\cup"},
    {"smallinter", Word::Symbol, "\\cap"},
    {"sqcup", Word::Symbol, "\\sqcup"},
    {"sqcap", Word::Symbol, "\\sqcap"},
    {"uplus", Word::Symbol, "\\uplus"},
    {"leq", Word::Symbol, "\\leq"},
    {"le", Word::Symbol, "\\leq"},
    {"geq", Word::Symbol, "\\geq"},
    {"ge", Word::Symbol, "\\geq"},
    {"neq", Word::Symbol, "\\neq"},
    {"ll", Word::Symbol, "\\ll"},
    {"gg", Word::Symbol, "\\gg"},
    {"approx", Word::Symbol, "\\approx"},
    {"sim", Word::Symbol, "\\sim"},
    {"simeq", Word::Symbol, "\\simeq"},
    {"cong", Word::Symbol, "\\cong"},
    {"equiv", Word::Symbol, "\\equiv"},
    {"asymp", Word::Symbol, "\\asymp"},
    {"propto", Word::Symbol, "\\propto"},
    {"doteq", Word::Symbol, "\\doteq"},
    {"lll", Word::Symbol, "\\lll"},
    {"ggg", Word::Symbol, "\\ggg"},
    {"vdash", Word::Symbol, "\\vdash"},
    {"dashv", Word::Symbol, "\\dashv"},
    {"models", Word::Symbol, "\\models"},
    {"smile", Word::Symbol, "\\smile"},
    {"frown", Word::Symbol, "\\frown"},
    {"prec", Word::Symbol, "\\prec"},
    {"succ", Word::Symbol, "\\succ"},
    {"in", Word::Symbol, "\\in"},
    {"notin", Word::Symbol, "\\notin"},
    {"ni", Word::Symbol, "\\ni"},
    {"owns", Word::Symbol, "\\ni"},
    {"subset", Word::Symbol, "\\subset"},
    {"supset", Word::Symbol, "\\supset"},
    {"superset", Word::Symbol, "\\supset"},
    {"subseteq", Word::Symbol, "\\subseteq"},
    {"supseteq", Word::Symbol, "\\supseteq"},
    {"sqsubset", Word::Symbol, "\\sqsubset"},
    {"sqsupset", Word::Symbol, "\\sqsupset"},
    {"perp", Word::Symbol, "\\perp"},
    {"bot", Word::Symbol, "\\bot"},
    {"top", Word::Symbol, "\\top"},
    {"parallel", Word::Symbol, "\\parallel"},
    {"vert", Word::Symbol, "\\vert", "\\Vert"},
    {"mid", Word::Symbol, "\\mid"},
    {"image", Word::Symbol, "\\imageof"},
    {"reimage", Word::Symbol, "\\origof"},
    {"and", Word::Symbol, "\\wedge"},
    {"or", Word::Symbol, "\\vee"},
    {"not", Word::Symbol, "\\neg"},
    {"lnot", Word::Symbol, "\\neg"},
    // Arrows: the lower-case word a single arrow, otherwise a double one.
    {"rarrow", Word::Symbol, "\\rightarrow", "\\Rightarrow"},
    {"larrow", Word::Symbol, "\\leftarrow", "\\Leftarrow"},
    {"lrarrow", Word::Symbol, "\\leftrightarrow", "\\Leftrightarrow"},
    {"rightarrow", Word::Symbol, "\\rightarrow", "\\Rightarrow"},
    {"leftarrow", Word::Symbol, "\\leftarrow", "\\Leftarrow"},
    {"leftrightarrow", Word::Symbol, "\\leftrightarrow", "\\Leftrightarrow"},
    {"uparrow", Word::Symbol, "\\uparrow", "\\Uparrow"},
    {"downarrow", Word::Symbol, "\\downarrow", "\\Downarrow"},
    {"udarrow", Word::Symbol, "\\updownarrow", "\\Updownarrow"},
    {"nearrow", Word::Symbol, "\\nearrow"},
    {"nwarrow", Word::Symbol, "\\nwarrow"},
    {"searrow", Word::Symbol, "\\searrow"},
    {"swarrow", Word::Symbol, "\\swarrow"},
    {"mapsto", Word::Symbol, "\\mapsto"},
    {"hookleft", Word::Symbol, "\\hookleftarrow"},
    {"hookright", Word::Symbol, "\\hookrightarrow"},
    // Symbols.
    {"cdots", Word::Symbol, "\\cdots"},
    {"ldots", Word::Symbol, "\\ldots"},
    {"vdots", Word::Symbol, "\\vdots"},
    {"ddots", Word::Symbol, "\\ddots"},
    {"inf", Word::Symbol, "\\infty"},
    {"infty", Word::Symbol, "\\infty"},
    {"infinity", Word::Symbol, "\\infty"},
    {"partial", Word::Symbol, "\\partial"},
    {"nabla", Word::Symbol, "\\nabla"},
    {"therefore", Word::Symbol, "\\therefore"},
    {"because", Word::Symbol, "\\because"},
    {"forall", Word::Symbol, "\\forall"},
    {"exist", Word::Symbol, "\\exists"},
    {"exists", Word::Symbol, "\\exists"},
    {"emptyset", Word::Symbol, "\\emptyset"},
    {"angle", Word::Symbol, "\\angle"},
    {"triangle", Word::Symbol, "\\triangle"},
    {"diamond", Word::Symbol, "\\diamond"},
    {"square", Word::Symbol, "\\square"},
    {"aleph", Word::Symbol, "\\aleph"},
    {"hbar", Word::Symbol, "\\hbar"},
    {"ell", Word::Symbol, "\\ell"},
    {"liter", Word::Symbol, "\\ell"},
    {"wp", Word::Symbol, "\\wp"},
    {"imag", Word::Symbol, "\\Im"},
    {"real", Word::Symbol, "\\Re"},
    {"dagger", Word::Symbol, "\\dagger"},
    {"ddagger", Word::Symbol, "\\ddagger"},
    {"centigrade", Word::Symbol, "{}^{\\circ}\\mathrm{C}"},
    {"fahrenheit", Word::Symbol, "{}^{\\circ}\\mathrm{F}"},
    {"angstrom", Word::Symbol, "\\text{\\AA}"},
    {"ohm", Word::Symbol, "\\Omega"},
    {"mho", Word::Symbol, "\\mho"},
    {"yen", Word::Symbol, "\\yen"},
};

constexpr std::size_t kLongestName = 16;

const std::array<Entry, std::size(kEntries)>& sorted_entries() {
    static const auto entries = [] {
        std::array<Entry, std::size(kEntries)> sorted{};
        std::copy(std::begin(kEntries), std::end(kEntries), sorted.begin());
        std::ranges::sort(sorted, {}, &Entry::name);
        return sorted;
    }();
    return entries;
}

// The entry named by the word in any case; nullptr if none.
const Entry* find_entry(std::string_view word) noexcept {
    if (word.empty() || word.size() > kLongestName) return nullptr;
    char lower[kLongestName];
    for (std::size_t k = 0; k < word.size(); ++k) {
        const char c = word[k];
        lower[k] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const std::string_view key(lower, word.size());
    const auto& entries = sorted_entries();
    const auto found = std::ranges::lower_bound(entries, key, {}, &Entry::name);
    return found != entries.end() && found->name == key ? &*found : nullptr;
}

bool all_lower(std::string_view word) noexcept {
    return std::ranges::none_of(word, [](char c) { return c >= 'A' && c <= 'Z'; });
}

}  // namespace

bool look_up_word(std::string_view name, WordInfo& info) noexcept {
    const Entry* entry = find_entry(name);
    if (entry == nullptr) return false;
    info.kind = entry->kind;
    info.latex = entry->upper.empty() || all_lower(name) ? entry->lower : entry->upper;
    info.detail = entry->detail;
    return true;
}

std::size_t known_prefix(std::string_view letters) noexcept {
    if (letters.size() < 3) return 0;
    for (std::size_t length = std::min(letters.size() - 1, kLongestName); length >= 2; --length) {
        const Entry* entry = find_entry(letters.substr(0, length));
        // Words that only mean something beside another word stay letters.
        if (entry != nullptr && entry->kind != Word::Of && entry->kind != Word::To && entry->kind != Word::From) {
            return length;
        }
    }
    return 0;
}

std::string_view delimiter_word(std::string_view name) noexcept {
    struct Delimiter {
        std::string_view name;
        std::string_view latex;
    };
    static constexpr Delimiter kDelimiters[] = {
        {"langle", "\\langle"}, {"rangle", "\\rangle"}, {"lfloor", "\\lfloor"}, {"rfloor", "\\rfloor"},
        {"lceil", "\\lceil"},   {"rceil", "\\rceil"},   {"vert", "|"},          {"uparrow", "\\uparrow"},
        {"downarrow", "\\downarrow"}, {"lbrace", "\\{"}, {"rbrace", "\\}"},     {"lbrack", "["},
        {"rbrack", "]"},          {"lslant", "/"},          {"rslant", "\\backslash"},
    };
    for (const Delimiter& delimiter : kDelimiters) {
        if (delimiter.name.size() != name.size()) continue;
        bool same = true;
        for (std::size_t k = 0; k < name.size() && same; ++k) {
            const char c = name[k] >= 'A' && name[k] <= 'Z' ? static_cast<char>(name[k] - 'A' + 'a') : name[k];
            same = c == delimiter.name[k];
        }
        if (same) return delimiter.latex;
    }
    return {};
}

}  // namespace marlune::equation
