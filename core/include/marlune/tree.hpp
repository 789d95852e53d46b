// The document tree of the faithful conversion: what the HWP 5.0 walk and the
// HWPX reader build and the one faithful renderer writes. Plain structs, every
// string owned, so the tree outlives the file, the container and the section
// buffers it was read from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace marlune::tree {

struct Block;

// Emphasis of a run from its character shape, as bits.
namespace emphasis {
inline constexpr std::uint8_t Bold = 1;
inline constexpr std::uint8_t Italic = 2;
inline constexpr std::uint8_t Strike = 4;
inline constexpr std::uint8_t Superscript = 8;
inline constexpr std::uint8_t Subscript = 16;
}  // namespace emphasis

// A run of text. '\n' is a line break inside the paragraph, '\t' a tab.
struct Text {
    std::string text;
    std::uint8_t emphasis = 0;  // emphasis:: bits
};

// A hyperlink: its visible text and its target as stored (a web or mail
// address, a bookmark, a file); the renderer decides what to make of it.
struct Link {
    std::string text;
    std::string target;
};

// Where a footnote or an endnote stands: an index into Document::notes.
struct NoteRef {
    std::uint32_t note = 0;
};

// An equation's script in the word processor's own equation language:
// inline where it stands in a paragraph's text, or a block of its own.
struct Equation {
    std::string script;
};

using Inline = std::variant<Text, Link, NoteRef, Equation>;

// The number or bullet the word processor draws before a paragraph, not
// stored in its text: which numbering or bullet of the document, at which
// level (0-based). Outline headings count with their section's outline
// numbering.
struct ParagraphHead {
    enum class Kind : std::uint8_t { None, Number, Bullet, Outline };
    Kind kind = Kind::None;
    std::uint8_t level = 0;
    std::uint32_t id = 0;  // index into Document::numberings (Number, Outline) or Document::bullets
};

struct Paragraph {
    std::vector<Inline> inlines;
    // 0 for body text; n (1..6) for a heading of level n.
    std::uint8_t heading = 0;
    ParagraphHead head;
};

// One cell as stored: its address and spans on the table's grid, and its
// content. Covered slots of a merged cell have no Cell of their own.
struct Cell {
    std::uint32_t row = 0;
    std::uint32_t column = 0;
    std::uint32_t row_span = 1;
    std::uint32_t column_span = 1;
    std::vector<Block> blocks;
};

enum class CaptionSide : std::uint8_t { Left, Right, Top, Bottom };

// A table as stored, before any layout decision: rows x columns grid, cells
// in the order read. by_address is false when the cells' own addresses did
// not tile the grid and the builder placed them in record order instead
// (row by row, each row's cells left to right).
struct Table {
    std::uint32_t rows = 0;
    std::uint32_t columns = 0;
    std::vector<Cell> cells;
    bool by_address = true;
    std::vector<Block> caption;
    CaptionSide caption_side = CaptionSide::Bottom;
};

// A picture: its caption (possibly empty) and the name of its binary item
// as stored ("BIN0001.jpg"), empty when the item is unknown or the picture
// is linked to a file outside the document; then linked_path holds that
// file's path as the document names it ("C:\\사진\\a.png"), if any.
struct Image {
    std::string caption;
    std::string name;
    std::string linked_path;
};

struct Block {
    std::variant<Paragraph, Table, Equation, Image> node;
};

// How a numbering level writes its number, in the order the HWP format
// numbers the shapes (the same list as HWPX's numFormat names).
enum class NumberShape : std::uint8_t {
    Digit,                  // 1, 2, 3
    CircledDigit,           // ①, ②, ③
    UpperRoman,             // Ⅰ, Ⅱ, Ⅲ
    LowerRoman,             // ⅰ, ⅱ, ⅲ
    UpperLatin,             // A, B, C
    LowerLatin,             // a, b, c
    CircledUpperLatin,      // Ⓐ, Ⓑ, Ⓒ
    CircledLowerLatin,      // ⓐ, ⓑ, ⓒ
    HangulSyllable,         // 가, 나, 다
    CircledHangulSyllable,  // ㉮, ㉯, ㉰
    HangulJamo,             // ㄱ, ㄴ, ㄷ
    CircledHangulJamo,      // ㉠, ㉡, ㉢
    HangulNumeral,          // 일, 이, 삼
    Ideograph,              // 一, 二, 三
    CircledIdeograph,       // ㊀, ㊁, ㊂
    HangulStem,             // 갑, 을, 병
    IdeographStem,          // 甲, 乙, 丙
};

// One level of a numbering: its format, where "^n" stands for the number
// of level n (1-based) written in that level's shape ("^1.", "(^2)",
// "^1.^2."), its shape and the number its count starts at.
struct NumberingLevel {
    std::string format;
    NumberShape shape = NumberShape::Digit;
    std::uint32_t start = 1;
};

// A paragraph numbering of the document: up to ten levels.
struct Numbering {
    std::vector<NumberingLevel> levels;
};

enum class NoteKind : std::uint8_t { Footnote, Endnote };

struct Note {
    NoteKind kind = NoteKind::Footnote;
    std::vector<Block> blocks;
};

// What the document says about itself. Times are microseconds since the
// Unix epoch, UTC.
struct Metadata {
    std::optional<std::string> title;
    std::optional<std::string> subject;
    std::optional<std::string> author;
    std::optional<std::string> keywords;
    std::optional<std::string> comments;
    std::optional<std::string> last_saved_by;
    std::optional<std::int64_t> created;
    std::optional<std::int64_t> modified;
    std::uint32_t sections = 0;
    std::string version;  // "5.0.3.4" for HWP 5.0; the package's version for HWPX
    std::string format;   // "hwp", "hwpx" or "hwp3"
    // HWP 3.0: characters with no Unicode character, written as U+FFFD.
    std::optional<std::uint32_t> unmapped_characters;
    bool distribution = false;  // an HWP 5.0 distribution document, read from its encrypted body
};

// A binary item (picture) of the document with its bytes.
struct BinaryItem {
    std::string name;        // as stored, "BIN0001.jpg"
    std::string media_type;  // from the content, "image/png"; "application/octet-stream" when unknown
    std::string data;
};

struct Document {
    std::vector<Block> body;
    std::vector<Note> notes;                  // in the order their references stand
    std::vector<std::vector<Block>> headers;  // page headers, in document order (repeats allowed)
    std::vector<std::vector<Block>> footers;  // page footers and master-page text
    Metadata metadata;
    std::vector<BinaryItem> images;           // filled only when the options ask for them
    std::vector<Numbering> numberings;        // what ParagraphHead ids refer to
    std::vector<std::string> bullets;         // each bullet's character, UTF-8 (may be empty)
};

}  // namespace marlune::tree
