// Equations as LaTeX: the word processor's equation script (the language of
// its equation editor, "{a} over {b}", "sqrt x", "LEFT ( x RIGHT )")
// translated for Markdown math. Every script gives LaTeX that renders: what
// cannot be read as structure is written as the characters it is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "faithful/equation_tree.hpp"

namespace marlune {

// Holds the tree's nodes from one equation to the next, so translating the
// equations of a document allocates only while the largest one grows it.
class EquationTranslator {
public:
    // Appends the script as LaTeX on one line, without space at either end;
    // nothing for a script that shows nothing.
    void append_latex(std::string& out, std::string_view script);

private:
    std::vector<equation::Node> nodes_;
};

}  // namespace marlune
