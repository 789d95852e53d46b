// A paragraph list is a run of paragraphs closed by one whose character
// count is 0. A paragraph: its header (43 bytes, the last 31 a character
// shape), its paragraph shape (187 bytes) unless it repeats the previous
// one's, 14 bytes of line information per line, a character shape per
// counted character when the header says so, then its characters up to the
// paragraph end (13). A special character (code below 32) is followed by
// its fixed part, then by what it holds (a table's cells, a note's
// paragraphs).
#include "hwp3/paragraph_list.hpp"

#include <algorithm>
#include <optional>

#include "container/byte_reader.hpp"
#include "container/utf8.hpp"
#include "hwp3/hchar.hpp"
#include "hwp3/table_grid.hpp"

namespace marlune::hwp3 {

namespace {

constexpr std::size_t CHAR_SHAPE_BYTES = 31;
constexpr std::size_t PARA_SHAPE_BYTES = 187;
constexpr std::size_t LINE_INFO_BYTES = 14;
// Header fields before the character shape: previous-shape flag, character
// count, line count, character-shapes flag, flags, special flags, style.
constexpr std::size_t PARA_HEADER_FIELDS = 12;

// Special characters.
constexpr std::uint16_t PARAGRAPH_END = 13;
constexpr std::uint16_t TAB = 9;
constexpr std::uint16_t DATE_FORMAT = 7;
constexpr std::uint16_t DATE_CODE = 8;
constexpr std::uint16_t BOX = 10;  // table, text box, equation, button
constexpr std::uint16_t PICTURE = 11;
constexpr std::uint16_t LINE = 14;
constexpr std::uint16_t HIDDEN_COMMENT = 15;
constexpr std::uint16_t HEADER_FOOTER = 16;
constexpr std::uint16_t NOTE = 17;
constexpr std::uint16_t MAIL_MERGE = 22;
constexpr std::uint16_t OVERLAP = 23;
constexpr std::uint16_t HYPHEN = 24;
constexpr std::uint16_t TITLE_MARK = 25;
constexpr std::uint16_t INDEX_MARK = 26;
constexpr std::uint16_t OUTLINE = 28;
constexpr std::uint16_t TIED_SPACE = 30;
constexpr std::uint16_t FIXED_SPACE = 31;

// Outline shape or number: after the code, its kind (16 bits), form and
// level (bytes).
constexpr std::size_t OUTLINE_LEVEL_OFFSET = 3;
constexpr int MAX_HEADING = 6;

// A special character that holds more than its fixed part starts with an
// 8-byte identification: code, a 32-bit value, the code again.
constexpr std::size_t IDENT_BYTES = 8;

// The fixed size in bytes (code included) of the special characters that
// are only that; 0 for the others.
constexpr std::size_t fixed_size(std::uint16_t code) noexcept {
    switch (code) {
        case DATE_FORMAT: return 84;
        case DATE_CODE: return 96;
        case TAB: return 8;
        case 18:
        case 19:
        case 20:
        case 21: return 8;
        case MAIL_MERGE: return 24;
        case OVERLAP: return 10;
        case HYPHEN:
        case TITLE_MARK: return 6;
        case INDEX_MARK: return 244;
        case OUTLINE: return 64;
        case TIED_SPACE:
        case FIXED_SPACE: return 4;
        default: return 0;
    }
}

// A table's information after the identification: the box's kind and its
// cell count, then one cell information per cell.
constexpr std::size_t BOX_INFO_BYTES = 84;
constexpr std::size_t BOX_OPTIONS_OFFSET = 14;
constexpr std::uint16_t BOX_HYPERTEXT = 0x10;
constexpr std::size_t BOX_KIND_OFFSET = 78;
constexpr std::size_t BOX_CELLS_OFFSET = 80;
constexpr std::size_t CELL_INFO_BYTES = 27;
enum class BoxKind : std::uint16_t { Table = 0, TextBox = 1, Equation = 2, Button = 3 };

// A picture's information after the identification: the length of the data
// that follows it, its kind and the file name it refers to.
constexpr std::size_t PICTURE_INFO_BYTES = 348;
constexpr std::size_t PICTURE_KIND_OFFSET = 74;
constexpr std::size_t PICTURE_NAME_OFFSET = 83;
constexpr std::size_t PICTURE_NAME_BYTES = 256;
constexpr std::uint8_t PICTURE_LINKED = 0;  // kind: a file outside the document
constexpr std::uint8_t PICTURE_DRAWING = 3;  // kind: drawing objects, in the extra data

// Drawing objects: a frame header (its length, then that many bytes), then
// per object a common header (its length, then that many bytes, the basic
// attributes' options at DRAWING_OPTIONS_OFFSET), a text box's paragraph list
// when the options say so (two lengths, the first part, the list), then two
// parts of details, each a length and that many bytes.
constexpr std::size_t DRAWING_OPTIONS_OFFSET = 84;  // in the common header, after its length
constexpr std::uint32_t DRAWING_TEXT_BOX = 1U << 19;

constexpr std::size_t HIDDEN_COMMENT_INFO_BYTES = 8;
constexpr std::size_t HEADER_FOOTER_INFO_BYTES = 10;
constexpr std::size_t HEADER_FOOTER_KIND_OFFSET = 8;  // 0 header, 1 footer
constexpr std::size_t NOTE_INFO_BYTES = 14;
constexpr std::size_t NOTE_KIND_OFFSET = 10;  // 0 footnote, else endnote

bool has_content(const tree::Paragraph& paragraph) noexcept {
    return std::ranges::any_of(paragraph.inlines, [](const tree::Inline& item) {
        const auto* text = std::get_if<tree::Text>(&item);
        return text == nullptr || !is_blank(text->text);
    });
}

// The paragraph being read.
class ParagraphBuilder {
public:
    std::string& text() noexcept { return text_; }

    void heading(std::uint8_t level) noexcept { paragraph_.heading = level; }

    void equation(std::string script) {
        flush_text();
        paragraph_.inlines.emplace_back(tree::Equation{std::move(script)});
    }

    void link(std::string text, std::string target) {
        flush_text();
        paragraph_.inlines.emplace_back(tree::Link{std::move(text), std::move(target)});
    }

    void note(std::uint32_t index) {
        flush_text();
        paragraph_.inlines.emplace_back(tree::NoteRef{index});
    }

    void flush(std::vector<tree::Block>& blocks) {
        flush_text();
        if (has_content(paragraph_)) blocks.push_back(tree::Block{std::move(paragraph_)});
        paragraph_ = tree::Paragraph{};
    }

private:
    void flush_text() {
        if (text_.empty()) return;
        paragraph_.inlines.emplace_back(tree::Text{std::move(text_)});
        text_.clear();
    }

    tree::Paragraph paragraph_;
    std::string text_;
};

class Walk {
public:
    Walk(std::span<const std::uint8_t> body, std::size_t offset, const ConvertOptions& options,
         tree::Document& document)
        : reader_(body), options_(options), document_(document) {
        if (!reader_.skip(offset)) broken_ = true;
    }

    WalkSummary run() {
        const bool complete = list(document_.body, 0);
        return WalkSummary{reader_.position(), unmapped_, complete && !broken_};
    }

private:
    // Reads paragraphs up to the list's closing one; false when the data
    // ended first (everything after is then passed over).
    bool list(std::vector<tree::Block>& blocks, std::uint32_t depth) {
        while (!broken_) {
            if (!paragraph(blocks, depth)) return !broken_;
        }
        return false;
    }

    bool fail() noexcept {
        broken_ = true;
        return false;
    }

    bool skip(std::size_t count) noexcept { return reader_.skip(count) || fail(); }

    // One paragraph; false at the list's closing paragraph or a broken read.
    bool paragraph(std::vector<tree::Block>& blocks, std::uint32_t depth) {
        const auto header = reader_.bytes(PARA_HEADER_FIELDS);
        if (!header || !skip(CHAR_SHAPE_BYTES)) return fail();
        const bool same_shape = (*header)[0] != 0;
        const std::uint16_t units = read_u16_at(*header, 1).value_or(0);
        const std::uint16_t lines = read_u16_at(*header, 3).value_or(0);
        const bool char_shapes = (*header)[5] != 0;
        if (units == 0) return false;
        if (!same_shape && !skip(PARA_SHAPE_BYTES)) return false;
        if (!skip(std::size_t{lines} * LINE_INFO_BYTES)) return false;
        if (char_shapes && !skip_char_shapes(units)) return false;
        ParagraphBuilder builder;
        characters(builder, blocks, depth);
        builder.flush(blocks);
        return !broken_;
    }

    bool skip_char_shapes(std::uint16_t units) noexcept {
        for (std::uint16_t i = 0; i < units; ++i) {
            const auto flag = reader_.u8();
            if (!flag) return fail();
            if (*flag != 1 && !skip(CHAR_SHAPE_BYTES)) return false;
        }
        return true;
    }

    // The characters up to the paragraph end (13), which the format puts
    // last in every paragraph: reading stops there whatever the count says.
    void characters(ParagraphBuilder& builder, std::vector<tree::Block>& blocks, std::uint32_t depth) {
        while (!broken_) {
            const auto code = reader_.u16();
            if (!code) {
                fail();
                return;
            }
            if (*code == PARAGRAPH_END) return;
            if (*code >= 32) {
                if (!append_hchar(builder.text(), *code)) ++unmapped_;
            } else {
                special(*code, builder, blocks, depth);
            }
        }
    }

    // Reads the special character whose code was just read. Other codes
    // than those named hold data whose length is the identification's value.
    void special(std::uint16_t code, ParagraphBuilder& builder, std::vector<tree::Block>& blocks,
                 std::uint32_t depth) {
        if (const std::size_t size = fixed_size(code)) {
            const auto rest = reader_.bytes(size - 2);
            if (!rest) {
                fail();
                return;
            }
            fixed(code, *rest, builder);
            return;
        }
        const auto ident = reader_.bytes(IDENT_BYTES - 2);
        if (!ident) {
            fail();
            return;
        }
        switch (code) {
            case BOX: box(builder, blocks, depth + 1); break;
            case PICTURE: builder.flush(blocks); picture(blocks, depth + 1); break;
            case LINE: skip(BOX_INFO_BYTES); break;
            case HIDDEN_COMMENT:
                if (skip(HIDDEN_COMMENT_INFO_BYTES)) {
                    builder.flush(blocks);
                    nested(blocks, depth + 1);
                }
                break;
            case HEADER_FOOTER: header_footer(depth + 1); break;
            case NOTE: note(builder, depth + 1); break;
            default: skip(read_u32_at(*ident, 0).value_or(0)); break;
        }
    }

    // What a fixed-size special character shows in the text.
    void fixed(std::uint16_t code, std::span<const std::uint8_t> rest, ParagraphBuilder& builder) {
        switch (code) {
            case TAB: builder.text().push_back('\t'); break;
            case TIED_SPACE:
            case FIXED_SPACE: builder.text().push_back(' '); break;
            case HYPHEN: builder.text().push_back('-'); break;
            case OUTLINE: {
                // An outline paragraph: its level counts from 0.
                const std::uint8_t level = rest.size() > OUTLINE_LEVEL_OFFSET ? rest[OUTLINE_LEVEL_OFFSET] : 0;
                builder.heading(static_cast<std::uint8_t>(std::min(level + 1, MAX_HEADING)));
                break;
            }
            case OVERLAP: {
                // The overlapped characters, up to three.
                for (std::size_t at = 0; at + 2 <= 6 && at + 2 <= rest.size(); at += 2) {
                    const std::uint16_t c = read_u16_at(rest, at).value_or(0);
                    if (c >= 32 && !append_hchar(builder.text(), c)) ++unmapped_;
                }
                break;
            }
            default: break;
        }
    }

    // A paragraph list held by a special character, into blocks. Past the
    // depth limit the body is not read any further.
    void nested(std::vector<tree::Block>& blocks, std::uint32_t depth) {
        if (depth > MAX_LIST_DEPTH) {
            fail();
            return;
        }
        list(blocks, depth);
    }

    void box(ParagraphBuilder& builder, std::vector<tree::Block>& blocks, std::uint32_t depth) {
        const auto info = reader_.bytes(BOX_INFO_BYTES);
        if (!info) {
            fail();
            return;
        }
        const auto kind = static_cast<BoxKind>(read_u16_at(*info, BOX_KIND_OFFSET).value_or(0));
        const bool hypertext = (read_u16_at(*info, BOX_OPTIONS_OFFSET).value_or(0) & BOX_HYPERTEXT) != 0;
        const std::size_t count = read_u16_at(*info, BOX_CELLS_OFFSET).value_or(0);
        if (count > reader_.remaining() / CELL_INFO_BYTES) {
            fail();
            return;
        }
        const auto cell_infos = reader_.bytes(count * CELL_INFO_BYTES).value_or(std::span<const std::uint8_t>());
        std::vector<std::vector<tree::Block>> contents(count);
        for (auto& content : contents) nested(content, depth);
        std::vector<tree::Block> caption;
        nested(caption, depth);
        if (hypertext) {
            // Its target is the next entry of the hyperlink block, in box order.
            builder.link(caption_text(contents), hyperlink_placeholder(hyperlinks_++));
            return;
        }
        if (kind == BoxKind::Equation && caption.empty()) {
            // An equation stands in the text where it is; one with a caption
            // is a block beside its caption.
            std::string script = equation_script(contents);
            if (!is_blank(script)) builder.equation(std::move(script));
            return;
        }
        builder.flush(blocks);
        switch (kind) {
            case BoxKind::Table: {
                tree::Table table = grid_table(cell_infos, std::move(contents));
                table.caption = std::move(caption);
                blocks.push_back(tree::Block{std::move(table)});
                return;
            }
            case BoxKind::Equation: {
                std::string script = equation_script(contents);
                if (!is_blank(script)) blocks.push_back(tree::Block{tree::Equation{std::move(script)}});
                break;
            }
            default:
                for (auto& content : contents) std::ranges::move(content, std::back_inserter(blocks));
                break;
        }
        std::ranges::move(caption, std::back_inserter(blocks));
    }

    // An equation box holds its script as the text of its one list.
    static std::string equation_script(const std::vector<std::vector<tree::Block>>& contents) {
        std::string script;
        for (const auto& content : contents) {
            for (const tree::Block& block : content) {
                const auto* paragraph = std::get_if<tree::Paragraph>(&block.node);
                if (paragraph == nullptr) continue;
                for (const tree::Inline& item : paragraph->inlines) {
                    if (const auto* run = std::get_if<tree::Text>(&item)) {
                        if (!script.empty()) script.push_back(' ');
                        script += run->text;
                    }
                }
            }
        }
        return script;
    }

    void picture(std::vector<tree::Block>& blocks, std::uint32_t depth) {
        const auto info = reader_.bytes(PICTURE_INFO_BYTES);
        if (!info) {
            fail();
            return;
        }
        const std::size_t extra_length = read_u32_at(*info, 0).value_or(0);
        const auto extra = reader_.bytes(extra_length);
        if (!extra) {
            fail();
            return;
        }
        if ((*info)[PICTURE_KIND_OFFSET] == PICTURE_DRAWING) drawing(*extra, blocks, depth);
        tree::Image image;
        const std::string name = kchar_text(info->subspan(PICTURE_NAME_OFFSET, PICTURE_NAME_BYTES), unmapped_);
        if ((*info)[PICTURE_KIND_OFFSET] == PICTURE_LINKED) image.linked_path = name;
        else image.name = name;
        std::vector<tree::Block> caption;
        nested(caption, depth);
        image.caption = caption_text(caption);
        blocks.push_back(tree::Block{std::move(image)});
    }

    // The text of the blocks' paragraphs, a space apart.
    // The text boxes among drawing objects give their paragraph lists.
    void drawing(std::span<const std::uint8_t> data, std::vector<tree::Block>& blocks, std::uint32_t depth) {
        ByteReader objects(data);
        const auto frame = objects.u32();
        if (!frame || !objects.skip(*frame)) return;
        while (objects.remaining() >= 8) {
            const auto header_length = objects.u32();
            const auto header = header_length ? objects.bytes(*header_length) : std::nullopt;
            if (!header) return;
            const std::uint32_t options = read_u32_at(*header, DRAWING_OPTIONS_OFFSET).value_or(0);
            if ((options & DRAWING_TEXT_BOX) != 0) {
                const auto first = objects.u32();
                if (!first || !objects.skip(*first)) return;
                const auto list_length = objects.u32();
                const auto list = list_length ? objects.bytes(*list_length) : std::nullopt;
                if (!list) return;
                list_in(*list, blocks, depth);
            }
            for (int part = 0; part < 2; ++part) {
                const auto length = objects.u32();
                if (!length || !objects.skip(*length)) return;
            }
        }
    }

    // A paragraph list stored apart from the body (a drawn text box's), read
    // with the same walk; a break inside it stays inside it.
    void list_in(std::span<const std::uint8_t> data, std::vector<tree::Block>& blocks, std::uint32_t depth) {
        if (depth > MAX_LIST_DEPTH) return;
        const ByteReader outer = reader_;
        reader_ = ByteReader(data);
        list(blocks, depth);
        reader_ = outer;
        broken_ = false;
    }

    static std::string caption_text(const std::vector<tree::Block>& blocks) {
        std::string text;
        for (const tree::Block& block : blocks) {
            const auto* paragraph = std::get_if<tree::Paragraph>(&block.node);
            if (paragraph == nullptr) continue;
            for (const tree::Inline& item : paragraph->inlines) {
                const auto* run = std::get_if<tree::Text>(&item);
                if (run == nullptr || is_blank(run->text)) continue;
                if (!text.empty()) text.push_back(' ');
                text += run->text;
            }
        }
        return text;
    }

    static std::string caption_text(const std::vector<std::vector<tree::Block>>& lists) {
        std::string text;
        for (const auto& list : lists) {
            std::string part = caption_text(list);
            if (part.empty()) continue;
            if (!text.empty()) text.push_back(' ');
            text += part;
        }
        return text;
    }

    void header_footer(std::uint32_t depth) {
        const auto info = reader_.bytes(HEADER_FOOTER_INFO_BYTES);
        if (!info) {
            fail();
            return;
        }
        std::vector<tree::Block> text;
        nested(text, depth);
        if (!options_.headers || text.empty()) return;
        auto& list = (*info)[HEADER_FOOTER_KIND_OFFSET] == 0 ? document_.headers : document_.footers;
        list.push_back(std::move(text));
    }

    void note(ParagraphBuilder& builder, std::uint32_t depth) {
        const auto info = reader_.bytes(NOTE_INFO_BYTES);
        if (!info) {
            fail();
            return;
        }
        const bool footnote = read_u16_at(*info, NOTE_KIND_OFFSET).value_or(0) == 0;
        tree::Note note{footnote ? tree::NoteKind::Footnote : tree::NoteKind::Endnote, {}};
        nested(note.blocks, depth);
        if (!options_.notes) return;
        builder.note(static_cast<std::uint32_t>(document_.notes.size()));
        document_.notes.push_back(std::move(note));
    }

    ByteReader reader_;
    const ConvertOptions& options_;
    tree::Document& document_;
    std::uint32_t unmapped_ = 0;
    std::uint32_t hyperlinks_ = 0;
    bool broken_ = false;
};

}  // namespace

std::string hyperlink_placeholder(std::uint32_t index) {
    std::string placeholder(1, '\0');
    placeholder += std::to_string(index);
    return placeholder;
}

WalkSummary walk_body(std::span<const std::uint8_t> body, std::size_t offset, const ConvertOptions& options,
                      tree::Document& document) {
    return Walk(body, offset, options, document).run();
}

}  // namespace marlune::hwp3
