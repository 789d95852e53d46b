// The faithful conversion: HWP 5.0 or HWPX (told apart by the first bytes) to
// a document tree, then to Markdown with real table structure, notes, links,
// pictures and metadata. The exact conversion (markdown.hpp) is separate and
// unchanged by anything here.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "marlune/error.hpp"
#include "marlune/tree.hpp"

namespace marlune {

enum class TableMode : std::uint8_t { Auto, Html, Pipe };

// Equations as LaTeX translated from their scripts, or as the scripts.
enum class EquationMode : std::uint8_t { Latex, Script };

struct ConvertOptions {
    TableMode tables = TableMode::Auto;
    EquationMode equations = EquationMode::Latex;
    bool notes = true;            // footnote and endnote references and definitions
    bool emphasis = true;         // bold, italic, strike-through, superscript and subscript
    bool headers = false;         // page headers, footers and master pages
    bool collect_images = false;  // return the pictures' bytes
    std::string image_prefix;     // written before a picture's name in its link ("" keeps the bare name)
    // The document's own properties (title, author, times: the summary
    // stream, content.hpf's metadata); off, they are not read at all.
    // format, version and sections are always given.
    bool metadata = true;
    // Click-here fields nobody filled in show their guide text, as the form
    // does; off, they are left out (for indexing filled forms only).
    bool placeholders = true;
    // The text pieces the tree holds, for checking the Markdown against them.
    bool collect_texts = false;
};

struct ConvertedDocument {
    std::string markdown;
    tree::Metadata metadata;
    std::vector<tree::BinaryItem> images;  // empty unless collect_images
    std::vector<std::string> texts;        // empty unless collect_texts
};

// The document at path (bytes of the file name, used as given).
Result<ConvertedDocument> convert_file(std::string_view path, const ConvertOptions& options);

// The same for a document held in memory.
Result<ConvertedDocument> convert_bytes(std::span<const std::uint8_t> bytes, const ConvertOptions& options);

// For tests: compressed HWP sections stored in at least this many bytes
// are walked as they inflate, a window of records at a time, instead of
// inflated whole (0: every one). The output is the same either way; only
// the memory a large section takes differs. Returns the size it replaces.
std::size_t set_streamed_section_bytes(std::size_t bytes) noexcept;

// For tests: HWPX sections are parsed in runs of about this many bytes, an
// element larger than that as a skeleton whose rest is parsed as it is
// walked (smaller: more and smaller skeletons). The output is the same
// either way. Returns the size it replaces.
std::size_t set_hwpx_run_bytes(std::size_t bytes) noexcept;

// An equation editor script ("{a} over {b}") as LaTeX ("\\frac{a}{b}") on
// one line; empty for a script that shows nothing.
std::string equation_to_latex(std::string_view script);

}  // namespace marlune
