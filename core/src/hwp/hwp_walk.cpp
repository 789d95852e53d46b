// The faithful walk: a paragraph list is a run of HWPTAG_PARA_HEADER records
// at one level, each followed one level deeper by its text and by one
// HWPTAG_CTRL_HEADER per extended control in the text, in text order, each
// control's own records deeper still. Tables keep their cells' addresses,
// drawing objects give every paragraph list and picture they hold (at any
// depth of a group), notes and page headers go to the document's own lists.
#include "hwp/hwp_walk.hpp"

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>

#include "container/utf8.hpp"
#include "container/byte_reader.hpp"
#include "container/private_use.hpp"
#include "hwp/para_pieces.hpp"
#include "tree/content.hpp"
#include "hwp/fields.hpp"
#include "hwp/inline_box.hpp"
#include "marlune/markdown.hpp"
#include "hwp/para_text.hpp"

namespace marlune {

namespace {

constexpr std::uint32_t CTRL_FOOTNOTE = make_ctrl_id('f', 'n', ' ', ' ');
constexpr std::uint32_t CTRL_ENDNOTE = make_ctrl_id('e', 'n', ' ', ' ');
constexpr std::uint32_t CTRL_HEADER_TEXT = make_ctrl_id('h', 'e', 'a', 'd');
constexpr std::uint32_t CTRL_FOOTER_TEXT = make_ctrl_id('f', 'o', 'o', 't');
constexpr std::uint32_t CTRL_SECTION = make_ctrl_id('s', 'e', 'c', 'd');
constexpr std::uint32_t CTRL_HYPERLINK = make_ctrl_id('%', 'h', 'l', 'k');
constexpr std::uint32_t CTRL_AUTO_NUMBER = make_ctrl_id('a', 't', 'n', 'o');
constexpr std::uint32_t CTRL_NEW_NUMBER = make_ctrl_id('n', 'w', 'n', 'o');

// Automatic and new-number controls: u32 properties (bits 0-3 the kind,
// bits 4-11 the number shape), u16 number; an automatic number then holds
// its user symbol, prefix and suffix characters (u16 each).
constexpr std::size_t NUMBER_PROPERTIES_OFFSET = 4;
constexpr std::size_t NUMBER_OFFSET = 8;
constexpr std::size_t NUMBER_PREFIX_OFFSET = 12;
constexpr std::size_t NUMBER_SUFFIX_OFFSET = 14;
constexpr std::uint32_t NUMBER_KIND_MASK = 0xF;
constexpr std::uint32_t NUMBER_SHAPE_SHIFT = 4;
constexpr std::uint32_t NUMBER_SHAPE_MASK = 0xFF;

// A drawing object's CTRL_HEADER: properties after the control id, bit 0
// set when it stands in the line like a character.
constexpr std::size_t OBJECT_PROPERTIES_OFFSET = 4;
constexpr std::uint32_t OBJECT_AS_CHARACTER = 1;

// PARA_HEADER: the paragraph shape id.
constexpr std::size_t PARA_SHAPE_OFFSET = 8;
// SECTION_DEF control: the outline numbering id (1-based) after the
// properties, column gap, grids and default tab stop.
constexpr std::size_t SECTION_OUTLINE_NUMBERING_OFFSET = 18;
// LIST_HEADER of a cell: column, row, column span, row span (u16 each).
constexpr std::size_t CELL_ADDRESS_OFFSET = 8;
// LIST_HEADER of a caption: properties, the side in the low two bits.
constexpr std::size_t CAPTION_PROPERTIES_OFFSET = 8;
// TABLE: row and column counts, then one cell count per row.
constexpr std::size_t TABLE_ROWS_OFFSET = 4;
constexpr std::size_t TABLE_COLUMNS_OFFSET = 6;
constexpr std::size_t TABLE_ROW_SIZES_OFFSET = 18;
// SHAPE_COMPONENT_PICTURE: the BinData id after border, corners, crop,
// margins and brightness, contrast, effect.
constexpr std::size_t PICTURE_ITEM_OFFSET = 71;
// A field control's command string: u16 length, then UTF-16 units.
constexpr std::size_t FIELD_COMMAND_LENGTH_OFFSET = 9;
constexpr std::size_t FIELD_COMMAND_OFFSET = 11;

constexpr std::uint16_t HWPTAG_PARA_CHAR_SHAPE = 68;

bool is_record(const Record& record, std::uint16_t tag, std::uint32_t level) noexcept {
    return record.tag_id == tag && record.level == level;
}

// The hyperlink's target: its command string up to the first ";" or "|"
// that is not escaped by a backslash, escapes removed. Newer files write
// the address twice, "url|url;1;0;0;".
std::string hyperlink_target(std::span<const std::uint8_t> payload) {
    const std::size_t units = read_u16_at(payload, FIELD_COMMAND_LENGTH_OFFSET).value_or(0);
    if (payload.size() < FIELD_COMMAND_OFFSET) return {};
    const std::size_t bytes = std::min(2 * units, payload.size() - FIELD_COMMAND_OFFSET) & ~std::size_t{1};
    const std::string command =
        utf16_to_utf8_strict(payload.subspan(FIELD_COMMAND_OFFSET, bytes)).value_or(std::string());
    std::string target;
    for (std::size_t k = 0; k < command.size(); ++k) {
        if (command[k] == '\\' && k + 1 < command.size()) {
            target.push_back(command[++k]);
        } else if (command[k] == ';' || command[k] == '|') {
            break;
        } else {
            target.push_back(command[k]);
        }
    }
    return target;
}

// A prefix or suffix character of an automatic number; nothing for 0 or a
// control code.
void append_number_mark(std::string& out, std::span<const std::uint8_t> payload, std::size_t offset) {
    const std::uint16_t unit = read_u16_at(payload, offset).value_or(0);
    if (unit >= 0x20 && (unit < 0xD800 || unit > 0xDFFF)) append_utf8(out, unit);
}

// The kind an automatic or new-number control counts; nothing for an
// unknown one.
std::optional<AutoNumberKind> auto_number_kind(std::span<const std::uint8_t> payload) {
    const std::uint32_t kind = read_u32_at(payload, NUMBER_PROPERTIES_OFFSET).value_or(0) & NUMBER_KIND_MASK;
    if (kind >= AUTO_NUMBER_KINDS) return std::nullopt;
    return static_cast<AutoNumberKind>(kind);
}

// The text an automatic number shows ("3", "1)"), counted; empty for a page
// number, which has no one value in a document without pages.
std::string auto_number_text(std::span<const std::uint8_t> payload, AutoNumbers& numbers) {
    const auto kind = auto_number_kind(payload);
    if (!kind || *kind == AutoNumberKind::Page) return {};
    const std::uint32_t properties = read_u32_at(payload, NUMBER_PROPERTIES_OFFSET).value_or(0);
    const std::uint32_t shape = (properties >> NUMBER_SHAPE_SHIFT) & NUMBER_SHAPE_MASK;
    const std::uint32_t value = numbers.next(*kind, read_u16_at(payload, NUMBER_OFFSET).value_or(0));
    std::string text;
    append_number_mark(text, payload, NUMBER_PREFIX_OFFSET);
    append_number(text, value,
                  shape <= static_cast<std::uint32_t>(tree::NumberShape::IdeographStem)
                      ? static_cast<tree::NumberShape>(shape)
                      : tree::NumberShape::Digit);
    append_number_mark(text, payload, NUMBER_SUFFIX_OFFSET);
    return text;
}

// The plain text of blocks' paragraphs, a space apart (a picture's caption).
std::string plain_text(const std::vector<tree::Block>& blocks) {
    std::string text;
    for (const tree::Block& block : blocks) {
        const auto* paragraph = std::get_if<tree::Paragraph>(&block.node);
        if (paragraph == nullptr) continue;
        std::string line;
        for (const tree::Inline& item : paragraph->inlines) {
            if (const auto* run = std::get_if<tree::Text>(&item)) line += run->text;
            if (const auto* link = std::get_if<tree::Link>(&item)) line += link->text;
        }
        const std::string_view trimmed = trim(line);
        if (trimmed.empty()) continue;
        if (!text.empty()) text.push_back(' ');
        text.append(trimmed);
    }
    return text;
}

// Where a paragraph's character shapes start: PARA_CHAR_SHAPE's (u32
// position, u32 shape id) pairs, positions in code units from the start
// of the paragraph's text, ascending; each shape's emphasis by id.
struct CharShapes {
    std::span<const std::uint8_t> pairs;
    std::span<const std::uint8_t> text;      // the text the positions count in
    std::span<const std::uint8_t> emphasis;  // by character shape id
};

// The symbol fonts along a paragraph's text, from its PARA_CHAR_SHAPE: (u32
// first position, u32 character shape id) pairs in order of position, the
// position counted in code units. Holds nothing when no shape of the
// paragraph is set in a symbol font, which is nearly always.
class FontRuns {
public:
    FontRuns(std::span<const std::uint8_t> pairs, const std::vector<RunFonts>& shape_fonts) {
        if (shape_fonts.empty()) return;
        bool symbols = false;
        for (std::size_t at = 0; at + CHAR_SHAPE_PAIR_BYTES <= pairs.size(); at += CHAR_SHAPE_PAIR_BYTES) {
            const std::uint32_t start = read_u32_at(pairs, at).value_or(0);
            const std::uint32_t shape = read_u32_at(pairs, at + 4).value_or(0);
            const RunFonts fonts = shape < shape_fonts.size() ? shape_fonts[shape] : RunFonts{};
            symbols = symbols || fonts.any();
            runs_.push_back({start, fonts});
        }
        if (!symbols) runs_.clear();
    }

    bool empty() const noexcept { return runs_.empty(); }

    // The fonts at a position; positions asked for must not decrease.
    RunFonts at(std::size_t position) noexcept {
        while (next_ < runs_.size() && runs_[next_].start <= position) current_ = runs_[next_++].fonts;
        return current_;
    }

private:
    static constexpr std::size_t CHAR_SHAPE_PAIR_BYTES = 8;
    struct Run {
        std::uint32_t start;
        RunFonts fonts;
    };
    std::vector<Run> runs_;
    std::size_t next_ = 0;
    RunFonts current_;
};

// The bytes of the character at `at` in a run of code units: eight units
// for a control that has them, two for a surrogate pair, else one.
std::size_t character_bytes(std::span<const std::uint8_t> run, std::size_t at) noexcept {
    const std::uint16_t unit = static_cast<std::uint16_t>(run[at] | (run[at + 1] << 8));
    return is_wide_control(unit) ? WIDE_CONTROL_BYTES : (unit >= 0xD800 && unit < 0xDC00) ? 4 : 2;
}

// The first character boundary at or past `bytes` in a run, so that a cut
// never falls inside a control or a surrogate pair; at most the run's size.
std::size_t character_boundary(std::span<const std::uint8_t> run, std::size_t bytes) noexcept {
    std::size_t at = 0;
    while (at < bytes && at + 1 < run.size()) at += character_bytes(run, at);
    return std::min(at, run.size());
}

// A paragraph being read: its inlines so far, and the field it is inside.
class ParagraphBuilder {
public:
    ParagraphBuilder(std::uint8_t heading, tree::ParagraphHead head, CharShapes shapes) noexcept : shapes_(shapes) {
        paragraph_.heading = heading;
        paragraph_.head = head;
    }

    // A run of the paragraph's code units (a part of its text), decoded
    // where it belongs, cut where its character shape changes; its
    // private-use characters in their standard form for the run's fonts.
    void text(std::span<const std::uint8_t> run, RunFonts fonts = {}) {
        after_box_ = false;
        if (shapes_.pairs.empty()) {
            append_run(run, fonts);
            return;
        }
        std::size_t position = static_cast<std::size_t>(run.data() - shapes_.text.data()) / 2;
        while (!run.empty()) {
            const std::size_t next = shape_at(position);
            const std::size_t bytes =
                next - position >= run.size() / 2 ? run.size() : character_boundary(run, 2 * (next - position));
            append_run(run.first(bytes), fonts);
            run = run.subspan(bytes);
            position += bytes / 2;
        }
    }

    void append_run(std::span<const std::uint8_t> run, RunFonts fonts) {
        std::string& sink = current_sink();
        const std::size_t from = sink.size();
        append_para_text(sink, run);
        standardize_tail(sink, from, fonts);
    }

    void text(std::string decoded) {
        std::string& sink = current_sink();
        if (sink.empty()) sink = std::move(decoded);
        else sink += decoded;
    }

    void start_link(std::string target) {
        end_field();
        field_ = Field::Link;
        link_target_ = std::move(target);
    }

    // A click-here field shows its text as it stands: what the user typed,
    // or the guide of a field nobody filled in, unless placeholders are off.
    void start_click_here(FieldHeader header, bool placeholders) {
        end_field();
        field_ = Field::ClickHere;
        click_here_ = std::move(header);
        click_here_text_.clear();
        placeholders_ = placeholders;
    }

    // Other fields (dates, paths, summaries) show their text as it stands.
    void start_plain_field() { end_field(); }

    void end_field() {
        if (field_ == Field::ClickHere) {
            // Unfilled: not marked modified, and holding the guide or nothing.
            const bool typed = !click_here_text_.empty() &&
                               (click_here_.modified ||
                                (!click_here_.direction.empty() && click_here_text_ != click_here_.direction));
            field_ = Field::None;
            if (typed || placeholders_) text(std::move(click_here_text_));
            click_here_text_.clear();
        }
        field_ = Field::None;
    }

    void note(std::uint32_t index) { paragraph_.inlines.emplace_back(tree::NoteRef{index}); }

    void equation(std::string script) { paragraph_.inlines.emplace_back(tree::Equation{std::move(script)}); }

    // A box standing in the line: its text where it stands, a space apart
    // from a box just before it.
    void splice(tree::Paragraph box) {
        if (after_box_) text(std::string(" "));
        const std::uint8_t emphasis = emphasis_;
        for (tree::Inline& item : box.inlines) {
            if (auto* run = std::get_if<tree::Text>(&item)) {
                emphasis_ = run->emphasis;
                text(std::move(run->text));
            } else {
                paragraph_.inlines.push_back(std::move(item));
            }
        }
        emphasis_ = emphasis;
        after_box_ = true;
    }

    // The paragraph so far, when it holds anything, becomes a block; a field
    // still open goes on after the blocks that follow.
    void flush(std::vector<tree::Block>& blocks) {
        if (!layout::has_content(paragraph_)) {
            paragraph_.inlines.clear();
            return;
        }
        push(blocks);
    }

    // The paragraph's end: an empty numbered paragraph stays too, since the
    // word processor draws (and counts) its number.
    void finish(std::vector<tree::Block>& blocks) {
        if (layout::has_content(paragraph_) || paragraph_.head.kind == tree::ParagraphHead::Kind::Number) {
            push(blocks);
        } else {
            paragraph_.inlines.clear();
        }
    }

private:
    void push(std::vector<tree::Block>& blocks) {
        // What follows an object that cut the paragraph keeps its heading
        // level; the number or bullet stands only before the first part.
        const std::uint8_t heading = paragraph_.heading;
        blocks.push_back(tree::Block{std::move(paragraph_)});
        paragraph_ = tree::Paragraph{};
        paragraph_.heading = heading;
    }

    enum class Field : std::uint8_t { None, Link, ClickHere };

    std::string& current_sink() {
        if (field_ == Field::ClickHere) return click_here_text_;
        if (field_ == Field::Link) {
            if (paragraph_.inlines.empty() || !std::holds_alternative<tree::Link>(paragraph_.inlines.back())) {
                paragraph_.inlines.emplace_back(tree::Link{{}, link_target_});
            }
            return std::get<tree::Link>(paragraph_.inlines.back()).text;
        }
        auto* last = paragraph_.inlines.empty() ? nullptr : std::get_if<tree::Text>(&paragraph_.inlines.back());
        if (last == nullptr || (last->emphasis != emphasis_ && !last->text.empty())) {
            paragraph_.inlines.emplace_back(tree::Text{{}, emphasis_});
            last = &std::get<tree::Text>(paragraph_.inlines.back());
        }
        last->emphasis = emphasis_;
        return last->text;
    }

    // Sets the emphasis of the shape that covers position; returns where
    // the next shape starts (past the text when none does).
    std::size_t shape_at(std::size_t position) noexcept {
        const std::size_t count = shapes_.pairs.size() / 8;
        const auto start = [this](std::size_t k) { return read_u32_at(shapes_.pairs, 8 * k).value_or(0); };
        while (shape_ + 1 < count && start(shape_ + 1) <= position) ++shape_;
        const std::uint32_t id = read_u32_at(shapes_.pairs, 8 * shape_ + 4).value_or(0);
        emphasis_ = start(shape_) <= position && id < shapes_.emphasis.size() ? shapes_.emphasis[id] : 0;
        return shape_ + 1 < count ? start(shape_ + 1) : SIZE_MAX;
    }

    tree::Paragraph paragraph_;
    CharShapes shapes_;
    std::size_t shape_ = 0;       // the character shape of the text read last
    std::uint8_t emphasis_ = 0;   // its emphasis
    bool after_box_ = false;      // the last thing read is a box standing in the line
    Field field_ = Field::None;
    std::string link_target_;
    FieldHeader click_here_;
    std::string click_here_text_;
    bool placeholders_ = true;
};

class SectionWalker {
public:
    // A record and those below it: [first, end).
    struct Subtree {
        std::size_t first;
        std::size_t end;
    };

    SectionWalker(std::span<const Record> records, WalkContext& context) noexcept
        : records_(records), context_(context) {}

    // Paragraphs and pictures anywhere in [start, end), in record order.
    void objects(std::size_t start, std::size_t end, std::vector<tree::Block>& blocks, std::uint32_t depth) {
        std::size_t k = start;
        while (k < end) {
            const Record& record = records_[k];
            if (record.tag_id == HWPTAG_PARA_HEADER) {
                k = paragraph_list(k, record.level, blocks, depth);
            } else {
                if (record.tag_id == HWPTAG_SHAPE_COMPONENT_PICTURE) picture(record, blocks);
                ++k;
            }
        }
    }

private:
    // Reads the paragraphs at level from index i; returns where the list ends
    // (a record above it, or one at its level that is not a paragraph).
    std::size_t paragraph_list(std::size_t i, std::uint32_t level, std::vector<tree::Block>& blocks,
                               std::uint32_t depth) {
        if (depth > MAX_LIST_DEPTH) {
            while (i < records_.size() && records_[i].level >= level) ++i;
            return i;
        }
        while (i < records_.size() && records_[i].level >= level) {
            const Record& record = records_[i];
            if (record.level == level && record.tag_id != HWPTAG_PARA_HEADER) break;
            i = record.level == level ? paragraph(i, blocks, depth) : i + 1;
        }
        return i;
    }

    std::uint8_t heading_of(const Record& header) const noexcept {
        const auto shape = read_u16_at(header.payload(), PARA_SHAPE_OFFSET);
        // Read before the section is walked when it uses styles.
        const auto& levels = context_.doc_info.current().outline_levels;
        if (!shape || *shape >= levels.size()) return 0;
        return std::min<std::uint8_t>(levels[*shape], 6);
    }

    // The number or bullet of the paragraph's shape; an outline heading's
    // counts with its section's outline numbering.
    tree::ParagraphHead head_of(const Record& header) const noexcept {
        const auto shape = read_u16_at(header.payload(), PARA_SHAPE_OFFSET);
        const auto& heads = context_.doc_info.current().heads;
        if (!shape || *shape >= heads.size()) return {};
        tree::ParagraphHead head = heads[*shape];
        if (head.kind == tree::ParagraphHead::Kind::Outline) head.id = context_.outline_numbering;
        return head;
    }

    std::size_t paragraph(std::size_t i, std::vector<tree::Block>& blocks, std::uint32_t depth) {
        const Record& header = records_[i];
        const std::uint32_t level = header.level;
        // The paragraph's controls and the paragraphs one level below that no
        // control holds (strays) go on stacks shared by the whole walk: what
        // nested paragraphs push is gone again when they return.
        const std::size_t controls = controls_.size();
        const std::size_t strays = strays_.size();
        std::optional<std::span<const std::uint8_t>> text;
        std::span<const std::uint8_t> char_shapes;
        std::size_t end = i + 1;  // past the paragraph's records
        while (end < records_.size() && records_[end].level > level) {
            const Record& record = records_[end];
            const bool control_or_list =
                record.tag_id == HWPTAG_CTRL_HEADER || record.tag_id == HWPTAG_PARA_HEADER;
            if (record.level == level + 1 && control_or_list) {
                const std::size_t after = skip_subtree(records_, end + 1, level + 1);
                if (record.tag_id == HWPTAG_CTRL_HEADER) controls_.push_back({end, after});
                else strays_.push_back(end);
                end = after;
                continue;
            }
            if (record.level == level + 1 && record.tag_id == HWPTAG_PARA_TEXT && !text) text = record.payload();
            if (record.level == level + 1 && record.tag_id == HWPTAG_PARA_CHAR_SHAPE) char_shapes = record.payload();
            ++end;
        }
        const std::size_t controls_end = controls_.size();
        const std::size_t strays_end = strays_.size();
        CharShapes shapes;
        if (context_.options.emphasis && text) {
            const auto& emphasis = context_.doc_info.current().char_emphasis;
            shapes = CharShapes{char_shapes, *text, emphasis};
        }
        ParagraphBuilder builder(heading_of(header), head_of(header), shapes);
        FontRuns fonts(char_shapes, context_.doc_info.current().char_shape_fonts);
        if (controls == controls_end) {
            // Without controls no field can open: the text is one run (its
            // cuts would only fall on control codes that decode to nothing).
            if (text) text_run(*text, *text, fonts, builder);
        } else {
            text_with_controls(text.value_or(std::span<const std::uint8_t>()), controls, controls_end, fonts,
                               builder, blocks, depth);
        }
        builder.end_field();
        builder.finish(blocks);
        for (std::size_t k = strays; k < strays_end; ++k) {
            if (depth < MAX_LIST_DEPTH) paragraph(strays_[k], blocks, depth + 1);
        }
        controls_.resize(controls);
        strays_.resize(strays);
        return end;
    }

    // The text cut at its extended controls and field ends, each control
    // read where it stands; controls the text did not mark still count,
    // after the text.
    void text_with_controls(std::span<const std::uint8_t> text, std::size_t next_control, std::size_t controls_end,
                            FontRuns& fonts, ParagraphBuilder& builder, std::vector<tree::Block>& blocks,
                            std::uint32_t depth) {
        TextPieces pieces(text);
        while (const auto piece = pieces.next()) {
            if (piece->kind == TextPiece::Kind::Run) {
                text_run(piece->run, text, fonts, builder);
            } else if (piece->kind == TextPiece::Kind::FieldEnd) {
                builder.end_field();
            } else if (next_control < controls_end) {
                control(controls_[next_control++], builder, blocks, depth);
            }
        }
        while (next_control < controls_end) control(controls_[next_control++], builder, blocks, depth);
    }

    // A run of the paragraph's text, cut where its symbol fonts change (never
    // inside a control or a surrogate pair).
    static void text_run(std::span<const std::uint8_t> run, std::span<const std::uint8_t> text, FontRuns& fonts,
                         ParagraphBuilder& builder) {
        if (fonts.empty()) {
            builder.text(run);
            return;
        }
        const std::size_t first = static_cast<std::size_t>(run.data() - text.data()) / 2;
        std::size_t start = 0;
        RunFonts current = fonts.at(first);
        for (std::size_t at = 0; at + 1 < run.size();) {
            const RunFonts here = fonts.at(first + at / 2);
            if (here != current) {
                builder.text(run.subspan(start, at - start), current);
                start = at;
                current = here;
            }
            at += character_bytes(run, at);
        }
        if (start < run.size()) builder.text(run.subspan(start), current);
    }

    void control(Subtree control_records, ParagraphBuilder& builder, std::vector<tree::Block>& blocks,
                 std::uint32_t depth) {
        const auto [header, end] = control_records;
        const Record& record = records_[header];
        const std::uint32_t id = control_id(record);
        const ConvertOptions& options = context_.options;
        switch (id) {
            case CTRL_TABLE: builder.flush(blocks); table(header, end, blocks, depth + 1); return;
            case CTRL_SHAPE: {
                std::vector<tree::Block> held;
                shape(header, end, held, depth + 1);
                const std::uint32_t properties = read_u32_at(record.payload(), OBJECT_PROPERTIES_OFFSET).value_or(0);
                if ((properties & OBJECT_AS_CHARACTER) != 0 && is_inline_box(held)) {
                    builder.splice(std::move(std::get<tree::Paragraph>(held.front().node)));
                    return;
                }
                builder.flush(blocks);
                std::ranges::move(held, std::back_inserter(blocks));
                return;
            }
            case CTRL_EQUATION: equation(header, end, builder, blocks, depth + 1); return;
            case CTRL_FOOTNOTE:
            case CTRL_ENDNOTE: {
                if (!options.notes) return;
                tree::Note note{id == CTRL_FOOTNOTE ? tree::NoteKind::Footnote : tree::NoteKind::Endnote, {}};
                objects(header + 1, end, note.blocks, depth + 1);
                builder.note(static_cast<std::uint32_t>(context_.document.notes.size()));
                context_.document.notes.push_back(std::move(note));
                return;
            }
            case CTRL_HEADER_TEXT:
            case CTRL_FOOTER_TEXT:
            case CTRL_SECTION: {
                // Page headers, footers and the section's master pages.
                if (!options.headers) return;
                std::vector<tree::Block> text;
                objects(header + 1, end, text, depth + 1);
                if (text.empty()) return;
                auto& list = id == CTRL_HEADER_TEXT ? context_.document.headers : context_.document.footers;
                list.push_back(std::move(text));
                return;
            }
            case CTRL_HYPERLINK: builder.start_link(hyperlink_target(record.payload())); return;
            case CTRL_AUTO_NUMBER: {
                std::string number = auto_number_text(record.payload(), context_.auto_numbers);
                if (!number.empty()) builder.text(std::move(number));
                return;
            }
            case CTRL_NEW_NUMBER:
                if (const auto kind = auto_number_kind(record.payload())) {
                    context_.auto_numbers.restart(*kind, read_u16_at(record.payload(), NUMBER_OFFSET).value_or(1));
                }
                return;
            case CTRL_CLICK_HERE:
                builder.start_click_here(parse_field_header(record.payload()).value_or(FieldHeader{}),
                                         options.placeholders);
                return;
            default: break;
        }
        if ((id >> 24) == '%') {
            builder.start_plain_field();
            return;
        }
        // Any other control that holds paragraphs (hidden comments and the
        // like) gives them where it stands.
        std::vector<tree::Block> held;
        objects(header + 1, end, held, depth + 1);
        if (held.empty()) return;
        builder.flush(blocks);
        std::ranges::move(held, std::back_inserter(blocks));
    }

    struct Caption {
        std::vector<tree::Block> blocks;
        tree::CaptionSide side = tree::CaptionSide::Bottom;

        bool first() const noexcept { return side == tree::CaptionSide::Top || side == tree::CaptionSide::Left; }
    };

    // The caption list that may stand, one level below the control, before
    // its record of the given tag; returns the index of that record, or end.
    std::size_t caption(std::size_t header, std::size_t end, std::uint16_t tag, Caption& caption,
                        std::uint32_t depth) {
        const std::uint32_t body = records_[header].level + 1U;
        std::size_t j = header + 1;
        while (j < end && !is_record(records_[j], tag, body)) {
            if (is_record(records_[j], HWPTAG_LIST_HEADER, body) && caption.blocks.empty()) {
                const auto properties = read_u32_at(records_[j].payload(), CAPTION_PROPERTIES_OFFSET).value_or(3);
                caption.side = static_cast<tree::CaptionSide>(properties & 3U);
                j = paragraph_list(j + 1, body, caption.blocks, depth);
            } else {
                ++j;
            }
        }
        return j;
    }

    // Blocks with their caption before or after them.
    static void place(Caption& caption, std::vector<tree::Block>& held, std::vector<tree::Block>& blocks) {
        if (caption.first()) std::ranges::move(caption.blocks, std::back_inserter(blocks));
        std::ranges::move(held, std::back_inserter(blocks));
        if (!caption.first()) std::ranges::move(caption.blocks, std::back_inserter(blocks));
    }

    // An equation stands in the text where its control does; one with a
    // caption is a block beside its caption.
    void equation(std::size_t header, std::size_t end, ParagraphBuilder& builder, std::vector<tree::Block>& blocks,
                  std::uint32_t depth) {
        Caption caption_list;
        const std::size_t script_record = caption(header, end, HWPTAG_EQEDIT, caption_list, depth);
        auto equation = convert_equation(records_, script_record, records_[header].level);
        if (caption_list.blocks.empty()) {
            if (equation.script) builder.equation(std::move(*equation.script));
            return;
        }
        builder.flush(blocks);
        std::vector<tree::Block> held;
        if (equation.script) held.push_back(tree::Block{tree::Equation{std::move(*equation.script)}});
        place(caption_list, held, blocks);
    }

    void table(std::size_t header, std::size_t end, std::vector<tree::Block>& blocks, std::uint32_t depth) {
        const std::uint32_t body = records_[header].level + 1U;
        tree::Table table;
        Caption caption_list;
        std::size_t j = caption(header, end, HWPTAG_TABLE, caption_list, depth);
        table.caption = std::move(caption_list.blocks);
        table.caption_side = caption_list.side;
        if (j >= end) {
            std::ranges::move(table.caption, std::back_inserter(blocks));
            return;
        }
        const auto shape = records_[j].payload();
        table.rows = read_u16_at(shape, TABLE_ROWS_OFFSET).value_or(0);
        table.columns = read_u16_at(shape, TABLE_COLUMNS_OFFSET).value_or(0);
        for (++j; j < end;) {
            if (!is_record(records_[j], HWPTAG_LIST_HEADER, body)) {
                ++j;
                continue;
            }
            const auto address = records_[j].payload();
            tree::Cell cell;
            cell.column = read_u16_at(address, CELL_ADDRESS_OFFSET).value_or(0);
            cell.row = read_u16_at(address, CELL_ADDRESS_OFFSET + 2).value_or(0);
            cell.column_span = read_u16_at(address, CELL_ADDRESS_OFFSET + 4).value_or(0);
            cell.row_span = read_u16_at(address, CELL_ADDRESS_OFFSET + 6).value_or(0);
            j = paragraph_list(j + 1, body, cell.blocks, depth);
            table.cells.push_back(std::move(cell));
        }
        if (!layout::tiles_grid(table)) place_in_record_order(table, shape);
        blocks.push_back(tree::Block{std::move(table)});
    }

    // Cells that do not tile the grid by their addresses go row by row, as
    // many in each row as the TABLE record says; cells beyond those, one row
    // each after them.
    static void place_in_record_order(tree::Table& table, std::span<const std::uint8_t> shape) {
        table.by_address = false;
        const std::uint32_t declared_rows = table.rows;
        std::uint32_t rows = declared_rows;
        std::uint32_t columns = 0;
        std::uint32_t row = 0;
        std::uint32_t column = 0;
        const auto row_size = [&](std::uint32_t r) {
            return read_u16_at(shape, TABLE_ROW_SIZES_OFFSET + 2 * std::size_t{r}).value_or(0);
        };
        for (tree::Cell& cell : table.cells) {
            while (row < declared_rows && column >= row_size(row)) {
                ++row;
                column = 0;
            }
            if (row < declared_rows) {
                cell.row = row;
                cell.column = column++;
            } else {
                cell.row = rows++;
                cell.column = 0;
            }
            cell.row_span = 1;
            cell.column_span = 1;
            columns = std::max(columns, cell.column + 1);
        }
        table.rows = rows;
        table.columns = columns;
    }

    void shape(std::size_t header, std::size_t end, std::vector<tree::Block>& blocks, std::uint32_t depth) {
        Caption caption_list;
        const std::size_t component = caption(header, end, HWPTAG_SHAPE_COMPONENT, caption_list, depth);
        std::vector<tree::Block> held;
        objects(component, end, held, depth);
        const bool caption_is_text = std::ranges::all_of(caption_list.blocks, [](const tree::Block& block) {
            return std::holds_alternative<tree::Paragraph>(block.node);
        });
        if (held.size() == 1 && std::holds_alternative<tree::Image>(held.front().node) && caption_is_text &&
            layout::has_content(caption_list.blocks)) {
            std::get<tree::Image>(held.front().node).caption = plain_text(caption_list.blocks);
            caption_list.blocks.clear();
        }
        place(caption_list, held, blocks);
    }

    void picture(const Record& record, std::vector<tree::Block>& blocks) {
        const auto payload = record.payload();
        if (payload.size() < MIN_PICTURE_RECORD_BYTES) return;
        tree::Image image;
        const std::uint16_t id = read_u16_at(payload, PICTURE_ITEM_OFFSET).value_or(0);
        const auto& items = context_.doc_info.with_binary_items().bin_data;
        if (id >= 1 && id <= items.size()) {
            image.name = items[id - 1].stream_name();
            if (image.name.empty()) image.linked_path = items[id - 1].linked_path;
            if (context_.picture_seen.size() <= id) context_.picture_seen.resize(std::size_t{id} + 1, false);
            if (!context_.picture_seen[id]) {
                context_.picture_seen[id] = true;
                context_.picture_items.push_back(id);
            }
        }
        blocks.push_back(tree::Block{std::move(image)});
    }

    std::span<const Record> records_;
    WalkContext& context_;
    std::vector<Subtree> controls_;    // CTRL_HEADERs with their records
    std::vector<std::size_t> strays_;    // record indices of PARA_HEADERs
};

}  // namespace

std::optional<std::uint32_t> find_outline_numbering(std::span<const Record> records) noexcept {
    for (const Record& record : records) {
        if (record.tag_id != HWPTAG_CTRL_HEADER || control_id(record) != CTRL_SECTION) continue;
        return read_u16_at(record.payload(), SECTION_OUTLINE_NUMBERING_OFFSET).value_or(0) - 1U;
    }
    return std::nullopt;
}

void start_section(std::uint32_t outline_numbering, WalkContext& context) {
    context.doc_info.with_char_shapes();
    context.outline_numbering = outline_numbering;
}

void walk_section_part(std::span<const Record> records, WalkContext& context) {
    SectionWalker(records, context).objects(0, records.size(), context.document.body, 0);
}

std::size_t whole_groups(std::span<const Record> records) noexcept {
    for (std::size_t k = records.size(); k > 1; --k) {
        if (records[k - 1].level == 0) return k - 1;
    }
    return 0;
}

void walk_section(std::span<const Record> records, WalkContext& context) {
    // The section's definition stands in its first paragraph, read before
    // any heading asks for its outline numbering; none without one.
    start_section(find_outline_numbering(records).value_or(UINT32_MAX), context);
    walk_section_part(records, context);
}

}  // namespace marlune
