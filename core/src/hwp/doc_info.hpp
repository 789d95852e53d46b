// The DocInfo stream of an HWP 5.0 document, as far as the faithful walk
// needs it: the binary items (pictures), the symbol fonts of the character
// shapes, the numberings and bullets, and the paragraph shapes' outline
// levels and heads.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "container/private_use.hpp"
#include "hwp/document.hpp"
#include "marlune/records.hpp"
#include "marlune/tree.hpp"

namespace marlune {

// One HWPTAG_BIN_DATA record.
struct BinDataEntry {
    enum class Kind : std::uint8_t { Link, Embedding, Storage };
    Kind kind = Kind::Embedding;
    std::uint16_t id = 0;      // the item's BinData id (pictures refer to it)
    std::string extension;     // "jpg", as stored (may be empty)
    // 0: as the document (compressed when the file header says so),
    // 1: compressed, 2: stored as is.
    std::uint8_t compression = 0;
    // A link's file as the document names it: the absolute path, else the
    // relative one (may be empty).
    std::string linked_path;

    // The stream name under /BinData: "BIN" + id in four upper-case hex
    // digits + "." + extension ("BIN0001.jpg"); empty for a link, and for
    // an entry whose id could not be read (ids start at 1).
    std::string stream_name() const;
};

struct DocInfo {
    std::vector<BinDataEntry> bin_data;  // in record order; a picture's id 1 is entry 0
    // Per paragraph shape id: 0 for body text, n + 1 for outline level n
    // (heading type "outline" in the shape's properties).
    std::vector<std::uint8_t> outline_levels;
    // Per paragraph shape id: the number or bullet it draws. Number and
    // bullet ids index numberings and bullets; an outline shape's id is left
    // for the walk to set from its section's outline numbering.
    std::vector<tree::ParagraphHead> heads;
    std::vector<tree::Numbering> numberings;  // NUMBERING records in order (id n is entry n - 1)
    std::vector<std::string> bullets;         // BULLET records' characters in order
    std::vector<std::uint8_t> char_emphasis;  // per character shape id: tree::emphasis bits
    // Per character shape id, the symbol fonts of its faces; empty when no
    // face of the document is a symbol font.
    std::vector<RunFonts> char_shape_fonts;
};

// Collects the entries from DocInfo's records as they arrive, and tells
// when ID_MAPPINGS's counts of binary items (and, when asked for, of
// character shapes and of paragraph shapes) are all in.
class DocInfoReader {
public:
    DocInfoReader(bool char_shapes, bool outline_levels) noexcept
        : want_char_shapes_(char_shapes || outline_levels), want_outline_levels_(outline_levels) {}

    // Reads the complete records of `records` past those already read (the
    // same stream, grown since the last call); true once nothing further
    // is needed.
    bool feed(std::span<const std::uint8_t> records);
    DocInfo take() { return std::move(info_); }

private:
    bool complete() const noexcept;
    bool char_shapes_complete() const noexcept;
    void read_counts(std::span<const std::uint8_t> payload);
    void read_char_shape(std::span<const std::uint8_t> payload);

    DocInfo info_;
    bool want_char_shapes_;
    bool want_outline_levels_;
    std::size_t next_ = 0;  // offset of the first record not yet read
    bool counted_ = false;  // ID_MAPPINGS read
    std::uint32_t bin_data_count_ = 0;
    std::uint32_t face_count_ = 0;  // of all seven languages
    std::uint32_t char_shape_count_ = 0;
    std::uint32_t para_shape_count_ = 0;
    std::array<std::uint32_t, FACE_LANGUAGES> face_starts_{};  // each language's first face
    std::vector<SymbolFont> faces_;                             // in record order
    bool symbol_faces_ = false;                                 // a face is a symbol font
    std::uint32_t char_shapes_read_ = 0;
};

// Collects the entries from DocInfo's record stream (already inflated).
DocInfo parse_doc_info(std::span<const std::uint8_t> records);

// Reads /DocInfo (inflated when compressed) up to its binary items, on to
// its character shapes when char_shapes is set, and on to its paragraph
// shapes when outline_levels is set. Lenient: a missing or damaged stream
// gives an empty DocInfo, never an error.
DocInfo read_doc_info(const Document& document, bool compressed, bool char_shapes, bool outline_levels);

// DocInfo read on first need, so that a document with neither pictures nor
// shaped paragraphs inflates none of it: the binary items when the walk
// meets a picture, on to the paragraph shapes (and the numberings and
// bullets before them) when a section's paragraphs use any but the first.
// A stream that can be had whole (stored, or followed by the size and CRC-32
// its writer records) is decoded once in one call and read again from
// memory when a later need goes further; any other is inflated through zlib
// only as far as each need goes.
class LazyDocInfo {
public:
    LazyDocInfo(const Document& document, bool compressed) noexcept : document_(document), compressed_(compressed) {}

    const DocInfo& with_binary_items();
    // On to the character shapes' symbol fonts (only as far as the faces
    // when none is a symbol font).
    const DocInfo& with_char_shapes();
    const DocInfo& with_paragraph_shapes();
    // What has been read so far (empty lists before any need).
    const DocInfo& current() const noexcept { return info_; }

private:
    enum class Read : std::uint8_t { Nothing, BinaryItems, CharShapes, OutlineLevels };
    const DocInfo& read(Read level);
    const Document& document_;
    bool compressed_;
    Read read_ = Read::Nothing;
    DocInfo info_;
    std::optional<ByteBuffer> whole_;  // the stream's records, once decoded whole
    bool whole_tried_ = false;
};

// Whether a paragraph of the section is in a style, a paragraph shape or
// a character shape other than the first (the default body style and
// shapes). Headings, numbers, bullets and emphasis come with other shapes,
// so the shapes, most of DocInfo, are read only for a document that uses
// them.
bool uses_shapes(std::span<const Record> records) noexcept;

}  // namespace marlune
