// Reading the DocInfo stream: the binary item entries (HWPTAG_BIN_DATA), the
// symbol fonts of the character shapes (HWPTAG_FACE_NAME, HWPTAG_CHAR_SHAPE),
// the numberings and bullets (HWPTAG_NUMBERING, HWPTAG_BULLET) and the outline
// level and head of each paragraph shape (HWPTAG_PARA_SHAPE).
#include "hwp/doc_info.hpp"

#include <algorithm>
#include <cstdio>

#include "container/byte_reader.hpp"
#include "hwp/fields.hpp"
#include "marlune/records.hpp"

namespace marlune {

namespace {

// DocInfo record tags (HWPTAG_BEGIN + 1, + 2, + 3, + 5, + 7, + 8 and + 9).
constexpr std::uint16_t HWPTAG_ID_MAPPINGS = 17;
constexpr std::uint16_t HWPTAG_BIN_DATA = 18;
constexpr std::uint16_t HWPTAG_FACE_NAME = 19;
constexpr std::uint16_t HWPTAG_CHAR_SHAPE = 21;
constexpr std::uint16_t HWPTAG_PARA_CHAR_SHAPE = 68;
constexpr std::uint16_t HWPTAG_NUMBERING = 23;
constexpr std::uint16_t HWPTAG_BULLET = 24;
constexpr std::uint16_t HWPTAG_PARA_SHAPE = 25;

// ID_MAPPINGS is a list of u32 counts, one per kind of DocInfo record:
// binary items first, then the faces of each of the seven languages,
// border fills, character shapes tenth, paragraph shapes fourteenth.
constexpr std::size_t kBinDataCountOffset = 0;
constexpr std::size_t kFaceCountOffset = 1 * 4;
constexpr std::size_t kCharShapeCountOffset = 9 * 4;
constexpr std::size_t kParaShapeCountOffset = 13 * 4;
// Faces per language beyond any real document's (a few dozen), so that a
// crafted count cannot make the face list huge.
constexpr std::uint32_t kMaxFaces = 1U << 16;

// FACE_NAME: u8 properties, then the name as a counted UTF-16 string.
// CHAR_SHAPE starts with one u16 face id per language, an index into that
// language's list.
constexpr std::size_t kFaceNameOffset = 1;

// BIN_DATA properties: bits 0-3 the kind, bits 4-5 the compression.
constexpr std::uint16_t kBinKindMask = 0x000F;
constexpr std::uint16_t kBinCompressionShift = 4;
constexpr std::uint16_t kBinCompressionMask = 0x3;

// PARA_SHAPE properties 1: bits 23-24 the heading type, bits 25-27 the level.
constexpr std::uint32_t kHeadingTypeShift = 23;
constexpr std::uint32_t kHeadingTypeMask = 0x3;
constexpr std::uint32_t kHeadingTypeOutline = 1;
constexpr std::uint32_t kHeadingLevelShift = 25;
constexpr std::uint32_t kHeadingLevelMask = 0x7;
// Outline levels run 1 to 7 in the word processor (stored 0 to 6).
constexpr std::uint32_t kMaxHeadingLevel = 6;
constexpr std::uint32_t kHeadingTypeNumber = 2;
constexpr std::uint32_t kHeadingTypeBullet = 3;
// PARA_SHAPE: the numbering or bullet id (1-based) after the properties,
// margins, indent, spacings and the tab definition id.
constexpr std::size_t kHeadIdOffset = 30;

// A paragraph head's description (numbering levels and bullets): u32
// properties (bits 5-8 the number shape), width adjustment, distance to the
// text, character shape id.
constexpr std::size_t kHeadInfoBytes = 12;
constexpr std::uint32_t kNumberShapeShift = 5;
constexpr std::uint32_t kNumberShapeMask = 0xF;
constexpr std::uint32_t kLastNumberShape = static_cast<std::uint32_t>(tree::NumberShape::IdeographStem);
// NUMBERING: seven levels, each its head and its format; a u16 start
// number, seven u32 level start numbers (newer files), then three further
// levels and their start numbers (newer still).
constexpr std::size_t kFirstLevels = 7;
constexpr std::size_t kExtraLevels = 3;

// A u16 count of UTF-16 code units, then the units; nothing when cut short
// or not valid UTF-16.
std::optional<std::string> read_counted_utf16(ByteReader& reader) {
    const auto units = reader.u16();
    if (!units) return std::nullopt;
    const auto bytes = reader.bytes(std::size_t{*units} * 2);
    if (!bytes) return std::nullopt;
    return utf16_to_utf8_strict(*bytes);
}

// One BIN_DATA record. Every record gives an entry, however damaged, since
// pictures refer to entries by position; fields cut short keep their
// defaults (an id of 0 names no stream).
BinDataEntry read_bin_data(std::span<const std::uint8_t> payload) {
    BinDataEntry entry;
    ByteReader reader(payload);
    const auto properties = reader.u16();
    if (!properties) return entry;
    switch (*properties & kBinKindMask) {
        case 0: entry.kind = BinDataEntry::Kind::Link; break;
        case 2: entry.kind = BinDataEntry::Kind::Storage; break;
        default: entry.kind = BinDataEntry::Kind::Embedding; break;
    }
    entry.compression = static_cast<std::uint8_t>((*properties >> kBinCompressionShift) & kBinCompressionMask);
    if (entry.kind == BinDataEntry::Kind::Link) {
        // Two file paths, absolute then relative; no stream.
        entry.linked_path = read_counted_utf16(reader).value_or(std::string());
        if (entry.linked_path.empty()) entry.linked_path = read_counted_utf16(reader).value_or(std::string());
        return entry;
    }
    entry.id = reader.u16().value_or(0);
    entry.extension = read_counted_utf16(reader).value_or(std::string());
    return entry;
}

// A paragraph shape's outline level: 0 for body text, n + 1 for level n.
std::uint8_t read_outline_level(std::span<const std::uint8_t> payload) {
    const auto properties = read_u32_at(payload, 0);
    if (!properties) return 0;
    if (((*properties >> kHeadingTypeShift) & kHeadingTypeMask) != kHeadingTypeOutline) return 0;
    const std::uint32_t level = std::min((*properties >> kHeadingLevelShift) & kHeadingLevelMask, kMaxHeadingLevel);
    return static_cast<std::uint8_t>(level + 1);
}

// CHAR_SHAPE: the properties after the fonts, their ratios, spacings,
// relative sizes and offsets (seven languages each) and the base size.
// Bit 0 italic, 1 bold, 15 superscript, 16 subscript, 18-20 the
// strike-through (0 for none).
constexpr std::size_t kCharPropertiesOffset = 46;
constexpr std::uint32_t kItalicBit = 1U << 0;
constexpr std::uint32_t kBoldBit = 1U << 1;
constexpr std::uint32_t kSuperscriptBit = 1U << 15;
constexpr std::uint32_t kSubscriptBit = 1U << 16;
constexpr std::uint32_t kStrikeMask = 7U << 18;

std::uint8_t read_char_emphasis(std::span<const std::uint8_t> payload) {
    const std::uint32_t properties = read_u32_at(payload, kCharPropertiesOffset).value_or(0);
    std::uint8_t bits = 0;
    if (properties & kBoldBit) bits |= tree::emphasis::Bold;
    if (properties & kItalicBit) bits |= tree::emphasis::Italic;
    if (properties & kStrikeMask) bits |= tree::emphasis::Strike;
    if (properties & kSuperscriptBit) bits |= tree::emphasis::Superscript;
    else if (properties & kSubscriptBit) bits |= tree::emphasis::Subscript;
    return bits;
}

// A paragraph shape's head: its kind and level, and for a number or bullet
// the 0-based index of the record it names.
tree::ParagraphHead read_paragraph_head(std::span<const std::uint8_t> payload) {
    tree::ParagraphHead head;
    const auto properties = read_u32_at(payload, 0);
    if (!properties) return head;
    const std::uint32_t type = (*properties >> kHeadingTypeShift) & kHeadingTypeMask;
    head.level = static_cast<std::uint8_t>((*properties >> kHeadingLevelShift) & kHeadingLevelMask);
    if (type == kHeadingTypeOutline) {
        head.kind = tree::ParagraphHead::Kind::Outline;
        return head;
    }
    const std::uint16_t id = read_u16_at(payload, kHeadIdOffset).value_or(0);
    if (id == 0 || (type != kHeadingTypeNumber && type != kHeadingTypeBullet)) return head;
    head.kind = type == kHeadingTypeNumber ? tree::ParagraphHead::Kind::Number : tree::ParagraphHead::Kind::Bullet;
    head.id = id - 1U;
    return head;
}

// Reads one level's head and format into level; false when cut short.
bool read_numbering_level(ByteReader& reader, tree::NumberingLevel& level) {
    const auto properties = reader.u32();
    if (!properties || !reader.skip(kHeadInfoBytes - 4)) return false;
    const std::uint32_t shape = (*properties >> kNumberShapeShift) & kNumberShapeMask;
    level.shape = shape <= kLastNumberShape ? static_cast<tree::NumberShape>(shape) : tree::NumberShape::Digit;
    const auto format = read_counted_utf16(reader);
    if (!format) return false;
    level.format = *format;
    return true;
}

// Start numbers of count levels from first on, as far as they are stored.
void read_level_starts(ByteReader& reader, std::span<tree::NumberingLevel> levels) {
    for (tree::NumberingLevel& level : levels) {
        const auto start = reader.u32();
        if (!start) return;
        level.start = *start;
    }
}

tree::Numbering read_numbering(std::span<const std::uint8_t> payload) {
    tree::Numbering numbering;
    ByteReader reader(payload);
    numbering.levels.resize(kFirstLevels);
    for (tree::NumberingLevel& level : numbering.levels) {
        if (!read_numbering_level(reader, level)) return numbering;
    }
    // The numbering's start number (0 in many files that store each
    // level's own start after it), then each level's own.
    if (const auto start = reader.u16(); start && *start != 0) numbering.levels.front().start = *start;
    read_level_starts(reader, numbering.levels);
    for (std::size_t k = 0; k < kExtraLevels; ++k) {
        tree::NumberingLevel level;
        if (!read_numbering_level(reader, level)) return numbering;
        numbering.levels.push_back(std::move(level));
    }
    read_level_starts(reader, std::span(numbering.levels).subspan(kFirstLevels));
    return numbering;
}

// A bullet's character after its head description; empty when it is a
// picture or not a character.
std::string read_bullet(std::span<const std::uint8_t> payload) {
    const auto bytes = payload.size() >= kHeadInfoBytes + 2 ? payload.subspan(kHeadInfoBytes, 2)
                                                           : std::span<const std::uint8_t>();
    return utf16_to_utf8_strict(bytes).value_or(std::string());
}

// A face name's symbol font; None when the record is cut short.
SymbolFont read_face(std::span<const std::uint8_t> payload) {
    ByteReader reader(payload);
    if (!reader.skip(kFaceNameOffset)) return SymbolFont::None;
    const auto name = read_counted_utf16(reader);
    return name ? symbol_font(*name) : SymbolFont::None;
}

}  // namespace

std::string BinDataEntry::stream_name() const {
    if (kind == Kind::Link || id == 0) return {};
    char digits[5];
    std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(id));
    std::string name = "BIN";
    name.append(digits, 4);
    name += '.';
    name += extension;
    return name;
}

bool DocInfoReader::feed(std::span<const std::uint8_t> records) {
    while (!complete()) {
        const auto record = next_record_at(records, next_);
        if (!record) break;
        if (record->tag_id == HWPTAG_BIN_DATA) {
            info_.bin_data.push_back(read_bin_data(record->payload()));
        } else if (record->tag_id == HWPTAG_FACE_NAME && want_char_shapes_) {
            if (faces_.size() < face_count_) {
                faces_.push_back(read_face(record->payload()));
                symbol_faces_ = symbol_faces_ || faces_.back() != SymbolFont::None;
            }
        } else if (record->tag_id == HWPTAG_CHAR_SHAPE && want_char_shapes_) {
            read_char_shape(record->payload());
            if (want_outline_levels_) info_.char_emphasis.push_back(read_char_emphasis(record->payload()));
        } else if (!want_outline_levels_) {
            // The paragraph shapes, numberings and bullets are read only
            // when asked for, though a stream without counts is read whole.
        } else if (record->tag_id == HWPTAG_PARA_SHAPE) {
            info_.outline_levels.push_back(read_outline_level(record->payload()));
            info_.heads.push_back(read_paragraph_head(record->payload()));
        } else if (record->tag_id == HWPTAG_NUMBERING) {
            info_.numberings.push_back(read_numbering(record->payload()));
        } else if (record->tag_id == HWPTAG_BULLET) {
            info_.bullets.push_back(read_bullet(record->payload()));
        }
        if (record->tag_id == HWPTAG_ID_MAPPINGS && !counted_) read_counts(record->payload());
    }
    return complete();
}

void DocInfoReader::read_counts(std::span<const std::uint8_t> payload) {
    counted_ = true;
    bin_data_count_ = read_u32_at(payload, kBinDataCountOffset).value_or(0);
    std::uint32_t start = 0;
    for (std::size_t language = 0; language < FACE_LANGUAGES; ++language) {
        face_starts_[language] = start;
        start += std::min(read_u32_at(payload, kFaceCountOffset + 4 * language).value_or(0), kMaxFaces);
    }
    face_count_ = start;
    char_shape_count_ = read_u32_at(payload, kCharShapeCountOffset).value_or(0);
    para_shape_count_ = read_u32_at(payload, kParaShapeCountOffset).value_or(0);
}

// A character shape's symbol fonts, kept only once some face is a symbol
// font (until then every shape has none, and the list stays empty).
void DocInfoReader::read_char_shape(std::span<const std::uint8_t> payload) {
    const std::uint32_t id = char_shapes_read_++;
    if (!symbol_faces_) return;
    const auto face = [&](std::size_t language) {
        const auto index = read_u16_at(payload, 2 * language);
        if (!index) return SymbolFont::None;
        const std::size_t at = std::size_t{face_starts_[language]} + *index;
        return at < faces_.size() ? faces_[at] : SymbolFont::None;
    };
    info_.char_shape_fonts.resize(id, RunFonts{});
    info_.char_shape_fonts.push_back(run_fonts(face));
}

// The character shapes are in once all are read, or once every face is
// read and none is a symbol font.
bool DocInfoReader::char_shapes_complete() const noexcept {
    if (!want_char_shapes_) return true;
    if (faces_.size() >= face_count_ && !symbol_faces_) return true;
    return char_shape_count_ > 0 && char_shapes_read_ >= char_shape_count_;
}

bool DocInfoReader::complete() const noexcept {
    // Without counts (or with none of the shapes, when they are wanted) the
    // whole stream is read.
    if (!counted_ || info_.bin_data.size() < bin_data_count_ || !char_shapes_complete()) return false;
    return !want_outline_levels_ || (para_shape_count_ > 0 && info_.outline_levels.size() >= para_shape_count_);
}

DocInfo parse_doc_info(std::span<const std::uint8_t> records) {
    DocInfoReader reader(true, true);
    reader.feed(records);
    return reader.take();
}

DocInfo read_doc_info(const Document& document, bool compressed, bool char_shapes, bool outline_levels) {
    // The records come in a fixed order: the binary items first, the
    // paragraph shapes after the fonts, borders and character shapes, and
    // the styles, memos and layout data last; inflating stops once the last
    // record wanted is in.
    DocInfoReader reader(char_shapes, outline_levels);
    const auto stream = read_stream_until(document, "/DocInfo", compressed,
                                          [&reader](std::span<const std::uint8_t> produced) { return reader.feed(produced); });
    if (!stream) return {};
    reader.feed(*stream);
    return reader.take();
}

namespace {

// The whole DocInfo stream in one piece: stored as is, or decoded in one call
// and checked by the size and CRC-32 after it; nothing when neither holds.
std::optional<ByteBuffer> whole_doc_info(const Document& document, bool compressed) {
    if (!compressed) {
        auto stream = document.read_stream("/DocInfo");
        return stream ? std::optional<ByteBuffer>(std::move(*stream)) : std::nullopt;
    }
    const auto stored = document.stream_bytes("/DocInfo");
    return stored ? inflate_trailed(stored->bytes()) : std::nullopt;
}

}  // namespace

const DocInfo& LazyDocInfo::read(Read level) {
    if (read_ >= level) return info_;
    // The needs from which DocInfo is decoded whole rather than inflated as
    // far as they go.
    constexpr Read kWholeFrom = Read::OutlineLevels;
    const bool char_shapes = level >= Read::CharShapes;
    const bool outline_levels = level >= Read::OutlineLevels;
    if (!whole_tried_ && level >= kWholeFrom) {
        whole_tried_ = true;
        whole_ = whole_doc_info(document_, compressed_);
    }
    if (whole_) {
        DocInfoReader reader(char_shapes, outline_levels);
        reader.feed(*whole_);
        info_ = reader.take();
    } else {
        info_ = read_doc_info(document_, compressed_, char_shapes, outline_levels);
    }
    read_ = level;
    // No need goes further than the paragraph shapes.
    if (read_ == Read::OutlineLevels) whole_.reset();
    return info_;
}

const DocInfo& LazyDocInfo::with_binary_items() { return read(Read::BinaryItems); }

const DocInfo& LazyDocInfo::with_char_shapes() { return read(Read::CharShapes); }

const DocInfo& LazyDocInfo::with_paragraph_shapes() { return read(Read::OutlineLevels); }

bool uses_shapes(std::span<const Record> records) noexcept {
    // PARA_HEADER: u32 character count, u32 control mask, u16 paragraph
    // shape id, u8 style id. PARA_CHAR_SHAPE: (u32 position, u32 character
    // shape id) pairs.
    constexpr std::size_t kShapeOffset = 8;
    constexpr std::size_t kStyleOffset = 10;
    for (const Record& record : records) {
        const auto payload = record.payload();
        if (record.tag_id == HWPTAG_PARA_CHAR_SHAPE) {
            for (std::size_t at = 4; at + 4 <= payload.size(); at += 8) {
                if (read_u32_at(payload, at).value_or(0) != 0) return true;
            }
            continue;
        }
        if (record.tag_id != HWPTAG_PARA_HEADER || payload.size() <= kStyleOffset) continue;
        if (payload[kStyleOffset] != 0 || payload[kShapeOffset] != 0 || payload[kShapeOffset + 1] != 0) return true;
    }
    return false;
}

}  // namespace marlune
