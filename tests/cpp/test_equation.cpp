// The equation script's tokens and the tree's bounds: how letter runs split
// at known words, operators, text runs and bytes that are not UTF-8; and
// hostile scripts (deep nesting, long chains of marks) giving bounded LaTeX
// without deep recursion, under the sanitizers.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "faithful/equation.hpp"
#include "faithful/equation_lexer.hpp"

namespace marlune {
namespace {

using equation::Lexer;
using equation::Token;

// The script's tokens as "kind:text" strings.
std::vector<std::string> tokens(std::string_view script) {
    static constexpr std::string_view kNames[] = {"end", "{", "}", "letters", "number", "symbol", "text",
                                                  "quoted", "~", "`", "^", "_", "#", "&", "prime"};
    std::vector<std::string> out;
    Lexer lexer(script);
    for (Token token = lexer.next(); token.kind != Token::Kind::End; token = lexer.next()) {
        out.push_back(std::string(kNames[static_cast<int>(token.kind)]) + ":" + std::string(token.text));
    }
    return out;
}

struct LexCase {
    std::string_view script;
    std::vector<std::string> expected;
};

TEST(EquationLexer, SplitsTokensAsTheEditorReadsThem) {
    const LexCase cases[] = {
        {"rmAB", {"letters:rm", "letters:AB"}},
        {"rmbarCP", {"letters:rm", "letters:bar", "letters:CP"}},
        {"LEQX", {"letters:LEQ", "letters:X"}},
        {"xdx", {"letters:xdx"}},
        {"tomb offer", {"letters:tomb", "letters:offer"}},  // to, of: no split
        {"1over3", {"number:1", "letters:over", "number:3"}},
        {"2.5x 1.", {"number:2.5", "letters:x", "number:1", "symbol:."}},
        {"a<=>b<-c", {"letters:a", "symbol:<=>", "letters:b", "symbol:<-", "letters:c"}},
        {"f''`~", {"letters:f", "prime:''", "`:`", "~:~"}},
        {"\"a b\"\"", {"quoted:a b", "quoted:"}},
        {"평균값 x", {"text:평균값", "letters:x"}},
        {"\xE2\x88\x9E\xFF\xC3(", {"symbol:\xE2\x88\x9E", "symbol:("}},
        {"x_{1}^#&", {"letters:x", "_:_", "{:{", "number:1", "}:}", "^:^", "#:#", "&:&"}},
    };
    for (const LexCase& test : cases) EXPECT_EQ(tokens(test.script), test.expected) << test.script;
}

TEST(EquationTranslator, HostileScriptsStayBoundedAndValid) {
    EquationTranslator translator;
    const std::string scripts[] = {
        std::string(100000, '{'),
        std::string(100000, '}'),
        "x" + [] { std::string s; for (int k = 0; k < 50000; ++k) s += "^1"; return s; }(),
        [] { std::string s; for (int k = 0; k < 50000; ++k) s += "a over "; return s; }(),
        [] { std::string s; for (int k = 0; k < 50000; ++k) s += "left ( sqrt "; return s; }(),
        [] { std::string s; for (int k = 0; k < 50000; ++k) s += "bar rm matrix{"; return s; }(),
    };
    for (const std::string& script : scripts) {
        std::string latex;
        translator.append_latex(latex, script);
        EXPECT_EQ(latex.find('\n'), std::string::npos);
        EXPECT_LT(latex.size(), 40 * script.size());
        int depth = 0;
        bool balanced = true;
        for (std::size_t k = 0; k < latex.size(); ++k) {
            if (latex[k] == '\\') ++k;  // \{ and \} are characters
            else if (latex[k] == '{') ++depth;
            else if (latex[k] == '}') balanced = balanced && --depth >= 0;
        }
        EXPECT_TRUE(balanced && depth == 0) << script.substr(0, 40);
    }
}

TEST(EquationTranslator, AppendsToWhatIsThere) {
    EquationTranslator translator;
    std::string out = "a";
    translator.append_latex(out, "alpha");
    translator.append_latex(out, "x");
    EXPECT_EQ(out, "a\\alpha x");
}

}  // namespace
}  // namespace marlune
