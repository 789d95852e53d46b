// The section walk: OWPML paragraphs (hp:p > hp:run > hp:t and the objects
// beside the text) to tree blocks. A paragraph's objects (tables, pictures,
// text boxes) follow it as blocks of their own, in order; equations and
// notes' references stand in the text where they are; fields may open in one
// paragraph and close in a later one.
#include "hwpx/section_walk.hpp"

#include <algorithm>
#include <optional>
#include <utility>

#include "container/xml_part.hpp"
#include "hwp/inline_box.hpp"

namespace marlune {

namespace {

bool is_element(pugi::xml_node node) noexcept { return node.type() == pugi::node_element; }

std::uint32_t attribute_u32(pugi::xml_node node, const char* name, std::uint32_t fallback) {
    const pugi::xml_attribute attribute = node.attribute(name);
    return attribute ? attribute.as_uint(fallback) : fallback;
}

// Objects a tool may leave outside any run: tables, pictures, equations,
// drawing objects and form controls.
bool is_stray_object(std::string_view name) noexcept {
    for (const std::string_view object : {"tbl", "pic", "equation", "rect", "ellipse", "container", "textart",
                                          "checkBtn", "radioBtn", "comboBox", "listBox", "edit", "btn"}) {
        if (name == object) return true;
    }
    return false;
}

// numFormat names, in the order of tree::NumberShape.
constexpr std::string_view kNumberFormats[] = {
    "DIGIT",           "CIRCLED_DIGIT",           "ROMAN_CAPITAL",        "ROMAN_SMALL",
    "LATIN_CAPITAL",   "LATIN_SMALL",             "CIRCLED_LATIN_CAPITAL", "CIRCLED_LATIN_SMALL",
    "HANGUL_SYLLABLE", "CIRCLED_HANGUL_SYLLABLE", "HANGUL_JAMO",          "CIRCLED_HANGUL_JAMO",
    "HANGUL_PHONETIC", "IDEOGRAPH",               "CIRCLED_IDEOGRAPH",    "DECAGON_CIRCLE",
    "DECAGON_CIRCLE_HANJA"};

// numType names, in the order of AutoNumberKind.
constexpr std::string_view kAutoNumberKinds[] = {"PAGE", "FOOTNOTE", "ENDNOTE", "PICTURE", "TABLE", "EQUATION"};

std::optional<AutoNumberKind> auto_number_kind(pugi::xml_node number) {
    const std::string_view name = number.attribute("numType").value();
    const auto* known = std::ranges::find(kAutoNumberKinds, name);
    if (known == std::end(kAutoNumberKinds)) return std::nullopt;
    return static_cast<AutoNumberKind>(known - std::begin(kAutoNumberKinds));
}

tree::CaptionSide caption_side(pugi::xml_node caption) {
    const std::string_view side = caption.attribute("side").value();
    if (side == "LEFT") return tree::CaptionSide::Left;
    if (side == "RIGHT") return tree::CaptionSide::Right;
    if (side == "TOP") return tree::CaptionSide::Top;
    return tree::CaptionSide::Bottom;
}

// A hyperlink's target from its parameters: "Path" when given, else the
// command up to its first unescaped ';' or '|', with "\:" style escapes
// undone ("http\://a.kr|tip;1;0;0;" is http://a.kr).
std::string link_target(pugi::xml_node field) {
    std::string_view command;
    for (pugi::xml_node param : child_named(field, "parameters").children()) {
        const std::string_view name = param.attribute("name").value();
        if (name == "Path" && *param.text().get() != '\0') return param.text().get();
        if (name == "Command") command = param.text().get();
    }
    std::string target;
    for (std::size_t k = 0; k < command.size(); ++k) {
        if (command[k] == '\\' && k + 1 < command.size()) {
            target += command[++k];
        } else if (command[k] == ';' || command[k] == '|') {
            break;
        } else {
            target += command[k];
        }
    }
    return target;
}

// A field's string parameter by name, or empty.
std::string_view field_parameter(pugi::xml_node field, std::string_view name) {
    for (pugi::xml_node param : child_named(field, "parameters").children()) {
        if (name == param.attribute("name").value()) return param.text().get();
    }
    return {};
}

// Whether the cells tile the rows x columns grid exactly, each slot covered once.
bool cells_tile_grid(const tree::Table& table) {
    const std::uint64_t slots = std::uint64_t{table.rows} * table.columns;
    if (slots == 0 || slots > MAX_TABLE_GRID_SLOTS) return false;
    std::vector<bool> covered(static_cast<std::size_t>(slots), false);
    for (const tree::Cell& cell : table.cells) {
        if (cell.row_span == 0 || cell.column_span == 0 || cell.row >= table.rows || cell.column >= table.columns ||
            cell.row_span > table.rows - cell.row || cell.column_span > table.columns - cell.column) {
            return false;
        }
        for (std::uint32_t r = cell.row; r < cell.row + cell.row_span; ++r) {
            for (std::uint32_t c = cell.column; c < cell.column + cell.column_span; ++c) {
                const std::size_t slot = std::size_t{r} * table.columns + c;
                if (covered[slot]) return false;
                covered[slot] = true;
            }
        }
    }
    return std::all_of(covered.begin(), covered.end(), [](bool slot) { return slot; });
}

// The outline numbering the section's definition names (hp:secPr in a run
// of its first paragraph).
std::uint32_t outline_numbering(pugi::xml_node section) {
    const pugi::xml_node paragraph = child_named(section, "p");
    for (pugi::xml_node run : paragraph.children()) {
        const pugi::xml_node definition = child_named(run, "secPr");
        if (definition) return attribute_u32(definition, "outlineShapeIDRef", UINT32_MAX);
    }
    return UINT32_MAX;
}

}  // namespace

tree::NumberShape number_shape_named(std::string_view name) noexcept {
    const auto* known = std::ranges::find(kNumberFormats, name);
    return known == std::end(kNumberFormats) ? tree::NumberShape::Digit
                                             : static_cast<tree::NumberShape>(known - std::begin(kNumberFormats));
}

void SectionWalker::begin_section() {
    fields_.clear();
    deleting_ = false;
    first_run_ = true;
}

void SectionWalker::walk_run(pugi::xml_node run, XmlRuns& runs) {
    // The section's definition stands in its first paragraph, in the first run.
    if (std::exchange(first_run_, false)) outline_numbering_ = outline_numbering(run);
    walk_list(run, runs, document_.body);
}

void SectionWalker::walk_list(pugi::xml_node run, XmlRuns& runs, std::vector<tree::Block>& out) {
    runs_ = &runs;
    walk_blocks(run, out, 0);
    runs_ = nullptr;
}

// One child of a list of blocks: a paragraph, a sub-list or memo group
// (its paragraphs, in order), or an object. Packages written by tools put
// tables, pictures and equations where Hangul would not (straight under the
// section, beside the paragraphs): they are blocks where they stand.
[[gnu::always_inline]] inline void SectionWalker::walk_block(pugi::xml_node child, std::vector<tree::Block>& out,
                                                            int depth) {
    if (!is_element(child)) return;
    const std::string_view name = local_name(child);
    if (name == "p") {
        walk_paragraph(child, out, depth + 1);
    } else if (name == "subList" || name == "paraList" || name == "memogroup" || name == "memo") {
        walk_blocks(child, out, depth + 1);
    } else if (is_stray_object(name)) {
        tree::Paragraph paragraph;
        walk_inline(child, paragraph, out, depth + 1);
        if (!paragraph.inlines.empty()) out.push_back(tree::Block{std::move(paragraph)});
    }
}

// Paragraphs under node, and under its sub-lists and memo groups, in order.
void SectionWalker::walk_blocks(pugi::xml_node node, std::vector<tree::Block>& out, int depth) {
    if (depth > MAX_XML_NESTING) return;
    for (XmlChildren children(runs_, node); const pugi::xml_node child = children.next();) walk_block(child, out, depth);
}

void SectionWalker::walk_paragraph(pugi::xml_node paragraph_node, std::vector<tree::Block>& out, int depth) {
    tree::Paragraph paragraph;
    link_run_open_ = false;
    space_owed_ = false;
    std::vector<tree::Block> after;
    const std::uint8_t outer_emphasis = emphasis_;  // a paragraph inside a run's object
    for (XmlChildren runs(runs_, paragraph_node); const pugi::xml_node run = runs.next();) {
        if (!is_element(run)) continue;
        const std::string_view name = local_name(run);
        emphasis_ = 0;
        if (name == "run") {
            if (setup_.emphasis) emphasis_ = setup_.emphasis(attribute_u32(run, "charPrIDRef", UINT32_MAX));
            const RunFonts fonts =
                setup_.run_fonts ? setup_.run_fonts(attribute_u32(run, "charPrIDRef", UINT32_MAX)) : RunFonts{};
            for (XmlChildren items(runs_, run); const pugi::xml_node item = items.next();) {
                if (!is_element(item)) continue;
                run_fonts_ = fonts;  // again after each object: its own runs set their fonts
                walk_inline(item, paragraph, after, depth + 1);
            }
            run_fonts_ = RunFonts{};
        } else if (name == "t" || is_stray_object(name)) {
            // Text or an object straight in the paragraph, without its run.
            walk_inline(run, paragraph, after, depth + 1);
        } else if (name == "p") {
            walk_paragraph(run, after, depth + 1);
        }
    }
    link_run_open_ = false;
    emphasis_ = outer_emphasis;
    // The header is read as far as the shapes paragraphs ask for. An empty
    // numbered paragraph stays: the word processor draws (and counts) its
    // number.
    if (setup_.heading) {
        const ParagraphHeading heading = setup_.heading(attribute_u32(paragraph_node, "paraPrIDRef", UINT32_MAX));
        paragraph.heading = heading.level;
        paragraph.head = heading.head;
        if (paragraph.head.kind == tree::ParagraphHead::Kind::Outline) paragraph.head.id = outline_numbering_;
    }
    if (!paragraph.inlines.empty() || paragraph.head.kind == tree::ParagraphHead::Kind::Number) {
        out.push_back(tree::Block{std::move(paragraph)});
    }
    std::move(after.begin(), after.end(), std::back_inserter(out));
}

// One element of a run, or of an object inside a run.
void SectionWalker::walk_inline(pugi::xml_node node, tree::Paragraph& paragraph, std::vector<tree::Block>& after,
                                int depth) {
    if (depth > MAX_XML_NESTING) return;
    const std::string_view name = local_name(node);
    if (name == "t") {
        walk_text(node, paragraph);
    } else if (name == "ctrl") {
        for (XmlChildren items(runs_, node); const pugi::xml_node item = items.next();) {
            if (is_element(item)) walk_inline(item, paragraph, after, depth + 1);
        }
    } else if (name == "fieldBegin") {
        begin_field(node);
        // A memo keeps its text in the field; like a hidden comment it is
        // a note on the text where it stands.
        if (!deleting_) walk_memo(node, paragraph, depth + 1);
    } else if (name == "fieldEnd") {
        end_field(node, paragraph);
    } else if (name == "footNote" || name == "endNote") {
        if (!deleting_) walk_note(node, name == "footNote" ? tree::NoteKind::Footnote : tree::NoteKind::Endnote,
                                  paragraph, depth + 1);
    } else if (name == "header" || name == "footer") {
        auto& list = name == "header" ? document_.headers : document_.footers;
        std::vector<tree::Block> blocks;
        walk_blocks(node, blocks, depth + 1);
        list.push_back(std::move(blocks));
    } else if (name == "tbl") {
        after.push_back(tree::Block{walk_table(node, depth + 1)});
    } else if (name == "p") {
        walk_paragraph(node, after, depth + 1);
    } else if (name == "checkBtn" || name == "radioBtn" || name == "btn") {
        walk_button(node, paragraph);
    } else if (name == "comboBox" || name == "listBox" || name == "edit") {
        walk_entry_field(node, paragraph);
    } else if (name == "pic") {
        after.push_back(tree::Block{walk_picture(node, depth + 1)});
    } else if (name == "equation") {
        paragraph.inlines.push_back(tree::Equation{child_named(node, "script").text().get()});
        link_run_open_ = false;
    } else if (name == "switch") {
        walk_switch(node, paragraph, after, depth);
    } else if (name == "autoNum") {
        walk_auto_number(node, paragraph);
    } else if (name == "newNum") {
        if (const auto kind = auto_number_kind(node)) auto_numbers_.restart(*kind, attribute_u32(node, "num", 1));
    } else if (name == "dutmal") {
        append_text(paragraph, child_named(node, "mainText").text().get());
    } else if (name == "textart") {
        if (const std::string_view text = node.attribute("text").value(); !text.empty()) {
            tree::Paragraph art;
            art.inlines.push_back(tree::Text{std::string(text)});
            after.push_back(tree::Block{std::move(art)});
        }
    } else if (name == "hiddenComment") {
        if (!deleting_) walk_note(node, tree::NoteKind::Footnote, paragraph, depth + 1);
    } else if (name == "subList" || name == "drawText" || name == "caption") {
        // Text boxes and captions of drawing objects.
        walk_blocks(node, after, depth + 1);
    } else if (name == "container" || name == "rect" || name == "ellipse" || name == "arc" || name == "polygon" ||
               name == "curve" || name == "line" || name == "connectLine" || name == "ole") {
        // Drawing objects and groups of them: their text boxes and captions;
        // the text of one that stands in the line like a character may read
        // as part of the sentence.
        const bool as_character = std::string_view(child_named(node, "pos").attribute("treatAsChar").value()) == "1";
        for (XmlChildren items(runs_, node); const pugi::xml_node item = items.next();) {
            if (!is_element(item)) continue;
            if (as_character && local_name(item) == "drawText") walk_box_text(item, paragraph, after, depth + 1);
            else walk_inline(item, paragraph, after, depth + 1);
        }
    }
}

// The branch of an hp:switch a reader takes: the first hp:case (the
// current form of the object), else hp:default (its older stand-in), which
// follows the cases. A skeleton's case may wait in its rest: then the
// branch is the first met.
void SectionWalker::walk_switch(pugi::xml_node choice, tree::Paragraph& paragraph, std::vector<tree::Block>& after,
                                int depth) {
    const auto walk_branch = [&](pugi::xml_node branch) {
        for (XmlChildren items(runs_, branch); const pugi::xml_node item = items.next();) {
            if (is_element(item)) walk_inline(item, paragraph, after, depth + 1);
        }
    };
    if (const pugi::xml_node case_branch = child_named(choice, "case")) return walk_branch(case_branch);
    for (XmlChildren children(runs_, choice); const pugi::xml_node child = children.next();) {
        const std::string_view name = is_element(child) ? local_name(child) : std::string_view();
        if (name == "case" || name == "default") return walk_branch(child);
    }
}

// Where a paragraph's text ends: the paragraph, its inline count and the
// size of its last text; a box standing right after another is a space
// apart from it.
std::tuple<const tree::Paragraph*, std::size_t, std::size_t> text_end(const tree::Paragraph& paragraph) {
    const auto* last = paragraph.inlines.empty() ? nullptr : std::get_if<tree::Text>(&paragraph.inlines.back());
    return {&paragraph, paragraph.inlines.size(), last == nullptr ? 0 : last->text.size()};
}

// A box's text: one short paragraph in the sentence where the box stands,
// anything else as blocks after the paragraph.
void SectionWalker::walk_box_text(pugi::xml_node text, tree::Paragraph& paragraph, std::vector<tree::Block>& after,
                                  int depth) {
    std::vector<tree::Block> blocks;
    walk_blocks(text, blocks, depth);
    link_run_open_ = false;  // the box's paragraphs ended the link's run
    if (!is_inline_box(blocks)) {
        std::move(blocks.begin(), blocks.end(), std::back_inserter(after));
        return;
    }
    if (box_end_ == text_end(paragraph)) append_text(paragraph, " ");
    const std::uint8_t emphasis = emphasis_;
    for (tree::Inline& item : std::get<tree::Paragraph>(blocks.front().node).inlines) {
        if (auto* run = std::get_if<tree::Text>(&item)) {
            emphasis_ = run->emphasis;
            append_text(paragraph, run->text);
        } else {
            paragraph.inlines.push_back(std::move(item));
        }
    }
    emphasis_ = emphasis;
    box_end_ = text_end(paragraph);
}

// An automatic number as it shows: prefix, the number in its shape,
// suffix ("그림 3", "1)"); nothing for a page number, which has no one value
// in a document without pages.
void SectionWalker::walk_auto_number(pugi::xml_node number, tree::Paragraph& paragraph) {
    const auto kind = auto_number_kind(number);
    if (!kind || *kind == AutoNumberKind::Page) return;
    const std::uint32_t value = auto_numbers_.next(*kind, attribute_u32(number, "num", 0));
    const pugi::xml_node format = child_named(number, "autoNumFormat");
    std::string text = format.attribute("prefixChar").value();
    append_number(text, value, number_shape_named(format.attribute("type").value()));
    text += format.attribute("suffixChar").value();
    append_text(paragraph, text);
}

// A check box or option button as its state and caption ("☑ 동의"), a push
// button as its caption.
void SectionWalker::walk_button(pugi::xml_node button, tree::Paragraph& paragraph) {
    const std::string_view caption = button.attribute("caption").value();
    std::string text;
    if (local_name(button) != "btn") {
        text = std::string_view(button.attribute("value").value()) == "CHECKED" ? "\u2611" : "\u2610";
        if (!caption.empty()) text += ' ';
    }
    text += caption;
    append_form_text(paragraph, text);
}

// An edit box as its text; a combo or list box as its selected item (the
// displayed text of the item whose value is selected, else the value).
void SectionWalker::walk_entry_field(pugi::xml_node field, tree::Paragraph& paragraph) {
    if (local_name(field) == "edit") {
        append_form_text(paragraph, child_named(field, "text").text().get());
        return;
    }
    const std::string_view selected = field.attribute("selectedValue").value();
    if (selected.empty()) return;
    for (XmlChildren items(runs_, field); const pugi::xml_node item = items.next();) {
        if (local_name(item) == "listItem" && selected == item.attribute("value").value()) {
            const std::string_view shown = item.attribute("displayText").value();
            append_form_text(paragraph, shown.empty() ? selected : shown);
            return;
        }
    }
    append_form_text(paragraph, selected);
}

// A form control's text, a space apart from the text beside it.
void SectionWalker::append_form_text(tree::Paragraph& paragraph, std::string_view text) {
    if (text.empty()) return;
    const auto* last = paragraph.inlines.empty() ? nullptr : std::get_if<tree::Text>(&paragraph.inlines.back());
    if (last != nullptr && !last->text.empty() && last->text.back() != ' ') append_text(paragraph, " ");
    append_text(paragraph, text);
    space_owed_ = true;
}

// Text with its inline marks: tabs, line breaks and fixed spaces are empty
// elements whose tails carry the text that follows; deleted text of tracked
// changes lies between deleteBegin and deleteEnd.
void SectionWalker::walk_text(pugi::xml_node text, tree::Paragraph& paragraph) {
    for (XmlChildren items(runs_, text); const pugi::xml_node item = items.next();) {
        if (item.type() == pugi::node_pcdata || item.type() == pugi::node_cdata) {
            append_text(paragraph, item.value());
            continue;
        }
        if (!is_element(item)) continue;
        const std::string_view name = local_name(item);
        if (name == "tab") append_text(paragraph, "\t");
        else if (name == "lineBreak") append_text(paragraph, "\n");
        else if (name == "nbSpace" || name == "fwSpace") append_text(paragraph, " ");
        else if (name == "deleteBegin") deleting_ = true;
        else if (name == "deleteEnd") deleting_ = false;
    }
}

void SectionWalker::append_text(tree::Paragraph& paragraph, std::string_view text) {
    if (deleting_ || text.empty()) return;
    if (std::string* held = held_field_text()) {
        *held += text;
        return;
    }
    if (space_owed_) {
        space_owed_ = false;
        if (text.front() != ' ' && text.front() != '\t' && text.front() != '\n') append_text(paragraph, " ");
    }
    if (const std::string* target = innermost_link_target()) {
        if (!link_run_open_) {
            paragraph.inlines.push_back(tree::Link{{}, *target});
            link_run_open_ = true;
        }
        append_standard_text(std::get<tree::Link>(paragraph.inlines.back()).text, text);
        return;
    }
    auto* last = paragraph.inlines.empty() ? nullptr : std::get_if<tree::Text>(&paragraph.inlines.back());
    if (last == nullptr || (last->emphasis != emphasis_ && !last->text.empty())) {
        paragraph.inlines.push_back(tree::Text{{}, emphasis_});
        last = &std::get<tree::Text>(paragraph.inlines.back());
    }
    last->emphasis = emphasis_;
    append_standard_text(last->text, text);
}

// Text in its standard form for the fonts of the run being read.
void SectionWalker::append_standard_text(std::string& out, std::string_view text) const {
    if (needs_standard_form(text, run_fonts_)) marlune::append_standard_text(out, text, run_fonts_);
    else out += text;
}

void SectionWalker::begin_field(pugi::xml_node field) {
    if (fields_.size() >= MAX_OPEN_FIELDS) return;
    OpenField open{field.attribute("id").value(), std::string_view(field.attribute("type").value()) == "HYPERLINK",
                   {}};
    if (open.hyperlink) open.target = link_target(field);
    if (open.hyperlink) link_run_open_ = false;
    if (!setup_.placeholders && std::string_view(field.attribute("type").value()) == "CLICK_HERE") {
        open.held = true;
        open.dirty = std::string_view(field.attribute("dirty").value()) == "1";
        open.direction = field_parameter(field, "Direction");
    }
    fields_.push_back(std::move(open));
}

std::string* SectionWalker::held_field_text() noexcept {
    for (auto it = fields_.rbegin(); it != fields_.rend(); ++it) {
        if (it->held) return &it->text;
    }
    return nullptr;
}

const std::string* SectionWalker::innermost_link_target() const noexcept {
    for (auto it = fields_.rbegin(); it != fields_.rend(); ++it) {
        if (it->hyperlink) return &it->target;
    }
    return nullptr;
}

void SectionWalker::end_field(pugi::xml_node field, tree::Paragraph& paragraph) {
    const std::string_view begin_id = field.attribute("beginIDRef").value();
    const auto open = std::find_if(fields_.rbegin(), fields_.rend(),
                                   [begin_id](const OpenField& f) { return f.id == begin_id; });
    if (open == fields_.rend()) return;
    OpenField closed = std::move(*open);
    fields_.erase(std::next(open).base());
    link_run_open_ = false;
    // Unfilled: not marked dirty, and holding the guide or nothing.
    const bool typed =
        !closed.text.empty() && (closed.dirty || (!closed.direction.empty() && closed.text != closed.direction));
    if (closed.held && typed) append_text(paragraph, closed.text);
}

// A memo keeps its text in its field's sub-list: a note on the text where
// it stands, from the first sub-list on (which a skeleton may keep in its
// rest).
void SectionWalker::walk_memo(pugi::xml_node field, tree::Paragraph& paragraph, int depth) {
    std::optional<std::uint32_t> index;
    std::vector<tree::Block> blocks;
    for (XmlChildren children(runs_, field); const pugi::xml_node child = children.next();) {
        if (!index) {
            if (!is_element(child) || local_name(child) != "subList") continue;
            index = open_note(tree::NoteKind::Footnote, paragraph);
        }
        if (depth + 1 <= MAX_XML_NESTING) walk_block(child, blocks, depth + 1);
    }
    if (index) close_note(*index, std::move(blocks));
}

// A note's reference goes where it stands; its paragraphs go to the note.
void SectionWalker::walk_note(pugi::xml_node note, tree::NoteKind kind, tree::Paragraph& paragraph, int depth) {
    const std::uint32_t index = open_note(kind, paragraph);
    std::vector<tree::Block> blocks;
    walk_blocks(note, blocks, depth + 1);
    close_note(index, std::move(blocks));
}

// A note's place in the list and its reference in the paragraph. The
// note's own paragraphs may add notes: its blocks are filled in once they
// are walked, the list having grown meanwhile.
std::uint32_t SectionWalker::open_note(tree::NoteKind kind, tree::Paragraph& paragraph) {
    const auto index = static_cast<std::uint32_t>(document_.notes.size());
    document_.notes.push_back(tree::Note{kind, {}});
    paragraph.inlines.emplace_back(std::in_place_type<tree::NoteRef>, index);
    return index;
}

void SectionWalker::close_note(std::uint32_t index, std::vector<tree::Block> blocks) {
    document_.notes[index].blocks = std::move(blocks);
    link_run_open_ = false;
}

tree::Table SectionWalker::walk_table(pugi::xml_node table_node, int depth) {
    tree::Table table;
    table.rows = attribute_u32(table_node, "rowCnt", 0);
    table.columns = attribute_u32(table_node, "colCnt", 0);
    std::uint32_t row_index = 0;
    std::uint32_t widest_row = 0;
    // Each cell's place in record order (its hp:tr, its place in it), for
    // cells that do not tile the grid their addresses give.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> record_places;
    for (XmlChildren children(runs_, table_node); const pugi::xml_node child = children.next();) {
        if (!is_element(child)) continue;
        const std::string_view name = local_name(child);
        if (name == "caption") {
            table.caption_side = caption_side(child);
            walk_blocks(child, table.caption, depth + 1);
            continue;
        }
        if (name != "tr") continue;
        std::uint32_t column_index = 0;
        for (XmlChildren cells(runs_, child); const pugi::xml_node cell_node = cells.next();) {
            if (!is_element(cell_node) || local_name(cell_node) != "tc") continue;
            const pugi::xml_node address = child_named(cell_node, "cellAddr");
            const pugi::xml_node span = child_named(cell_node, "cellSpan");
            tree::Cell cell{attribute_u32(address, "rowAddr", row_index), attribute_u32(address, "colAddr", column_index),
                            attribute_u32(span, "rowSpan", 1), attribute_u32(span, "colSpan", 1), {}};
            walk_blocks(cell_node, cell.blocks, depth + 1);
            table.cells.push_back(std::move(cell));
            record_places.emplace_back(row_index, column_index);
            ++column_index;
        }
        widest_row = std::max(widest_row, column_index);
        ++row_index;
    }
    if (!cells_tile_grid(table)) {
        // Record order: each hp:tr a row, its cells left to right.
        table.by_address = false;
        table.rows = row_index;
        table.columns = widest_row;
        for (std::size_t k = 0; k < table.cells.size(); ++k) {
            tree::Cell& cell = table.cells[k];
            std::tie(cell.row, cell.column) = record_places[k];
            cell.row_span = cell.column_span = 1;
        }
    }
    return table;
}

tree::Image SectionWalker::walk_picture(pugi::xml_node picture, int depth) {
    tree::Image image;
    const pugi::xml_node img = child_named(picture, "img");
    if (setup_.picture_name) setup_.picture_name(img.attribute("binaryItemIDRef").value(), image);
    for (XmlChildren children(runs_, picture); const pugi::xml_node child = children.next();) {
        if (is_element(child) && local_name(child) == "caption") {
            image.caption = caption_text(child, depth + 1);
            break;
        }
    }
    return image;
}

// A caption's paragraphs as one line of text.
std::string SectionWalker::caption_text(pugi::xml_node caption, int depth) {
    std::string text;
    if (!caption) return text;
    std::vector<tree::Block> blocks;
    walk_blocks(caption, blocks, depth + 1);
    for (const tree::Block& block : blocks) {
        const auto* paragraph = std::get_if<tree::Paragraph>(&block.node);
        if (paragraph == nullptr) continue;
        for (const tree::Inline& item : paragraph->inlines) {
            const std::string* piece = nullptr;
            if (const auto* run = std::get_if<tree::Text>(&item)) piece = &run->text;
            else if (const auto* link = std::get_if<tree::Link>(&item)) piece = &link->text;
            if (piece == nullptr) continue;
            if (!text.empty()) text += ' ';
            text += *piece;
        }
    }
    return text;
}

}  // namespace marlune
