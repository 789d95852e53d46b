// Form labels spread out to fill their cell ("본  부  장", "보 도 자 료"):
// the word processor pads them with spaces between single syllables, which
// a search for the word would miss. Such paragraphs are written joined.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "marlune/tree.hpp"

namespace marlune {

// Labels run from three syllables to this many; longer text is left alone.
inline constexpr std::size_t MAX_SPREAD_LABEL_SYLLABLES = 12;

// The syllables of text joined, when text is nothing but three or more (up
// to the maximum) single Hangul syllables with spaces between them (spaces
// around them allowed); otherwise empty.
std::string joined_spread_label(std::string_view text);

// Every paragraph of the document that is one run of such a label (in the
// body, tables, captions, notes, headers and footers) is joined in place.
void join_spread_labels(tree::Document& document);

}  // namespace marlune
