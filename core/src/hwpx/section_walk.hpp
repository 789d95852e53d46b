// The walk of an HWPX section part (and of master pages) into the document
// tree: paragraphs and their runs, tables by cell address, pictures,
// equations, fields, notes, headers, footers and text boxes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "container/private_use.hpp"
#include "hwp/numbers.hpp"
#include "marlune/tree.hpp"

namespace marlune {

class XmlRuns;

// XML nesting the walk follows (paragraph in cell in table in text box ...);
// deeper content is left out, so a crafted part cannot exhaust the stack.
inline constexpr int MAX_XML_NESTING = 96;

// Fields open at once: real documents nest two or three; more begin markers
// than this without their ends are ignored.
inline constexpr std::size_t MAX_OPEN_FIELDS = 64;

// Grid slots of a table whose cells are checked for tiling, one flag each;
// beyond it (no real table comes near) the cells are placed in record order.
inline constexpr std::uint64_t MAX_TABLE_GRID_SLOTS = std::uint64_t{1} << 20;

// What a paragraph shape says of its paragraphs' heading: the outline
// level (1..6, 0 for body text) and the number or bullet drawn before them
// (ids as the header gives them; an outline head's id is the section's).
struct ParagraphHeading {
    std::uint8_t level = 0;
    tree::ParagraphHead head;
};

// A number shape by its OWPML name (numFormat, autoNumFormat's type:
// "DIGIT", "HANGUL_SYLLABLE", ...); digits for an unknown name.
tree::NumberShape number_shape_named(std::string_view name) noexcept;

struct WalkSetup {
    // The heading of a paragraph shape, by shape id.
    std::function<ParagraphHeading(std::uint32_t shape_id)> heading;
    // The emphasis (tree::emphasis bits) of a character shape, by id; none
    // when emphasis is not written.
    std::function<std::uint8_t(std::uint32_t char_shape_id)> emphasis;
    // Names a picture by its item id: the binary item's name as stored
    // under BinData/ ("image1.png"), or the file it links to; neither when
    // the item is unknown. Called once per picture.
    std::function<void(std::string_view item_id, tree::Image& image)> picture_name;
    // The symbol fonts of a character shape, by shape id (none for most).
    std::function<RunFonts(std::uint32_t shape_id)> run_fonts;
    // Click-here fields nobody filled in keep their guide text.
    bool placeholders = true;
};

class SectionWalker {
public:
    SectionWalker(tree::Document& document, WalkSetup setup) : document_(document), setup_(std::move(setup)) {}

    // A section, read a run of its children at a time: begun, then each
    // run (a node holding some of the section's children) walked in order.
    // Its blocks go to the body; notes, headers and footers to their lists.
    // A run's nodes may be skeletons whose rest its parser reads as they are walked.
    void begin_section();
    void walk_run(pugi::xml_node run, XmlRuns& runs);

    // The paragraphs of a run of a part's root's children (a master page's
    // sub-list) as blocks.
    void walk_list(pugi::xml_node run, XmlRuns& runs, std::vector<tree::Block>& out);

private:
    struct OpenField {
        std::string id;
        bool hyperlink = false;
        std::string target;
        // A click-here field whose text waits until its end tells whether
        // it was filled in (placeholders off): its guide and dirty flag.
        bool held = false;
        bool dirty = false;
        std::string direction;
        std::string text;
    };

    void walk_blocks(pugi::xml_node node, std::vector<tree::Block>& out, int depth);
    void walk_block(pugi::xml_node child, std::vector<tree::Block>& out, int depth);
    void walk_paragraph(pugi::xml_node paragraph, std::vector<tree::Block>& out, int depth);
    void walk_inline(pugi::xml_node node, tree::Paragraph& paragraph, std::vector<tree::Block>& after, int depth);
    void walk_text(pugi::xml_node text, tree::Paragraph& paragraph);
    void walk_button(pugi::xml_node button, tree::Paragraph& paragraph);
    void walk_entry_field(pugi::xml_node field, tree::Paragraph& paragraph);
    void walk_auto_number(pugi::xml_node number, tree::Paragraph& paragraph);
    void walk_box_text(pugi::xml_node text, tree::Paragraph& paragraph, std::vector<tree::Block>& after, int depth);
    void append_form_text(tree::Paragraph& paragraph, std::string_view text);
    void walk_switch(pugi::xml_node choice, tree::Paragraph& paragraph, std::vector<tree::Block>& after, int depth);
    void walk_memo(pugi::xml_node field, tree::Paragraph& paragraph, int depth);
    std::uint32_t open_note(tree::NoteKind kind, tree::Paragraph& paragraph);
    void close_note(std::uint32_t index, std::vector<tree::Block> blocks);
    void walk_note(pugi::xml_node note, tree::NoteKind kind, tree::Paragraph& paragraph, int depth);
    tree::Table walk_table(pugi::xml_node table, int depth);
    tree::Image walk_picture(pugi::xml_node picture, int depth);
    std::string caption_text(pugi::xml_node caption, int depth);

    void append_text(tree::Paragraph& paragraph, std::string_view text);
    void append_standard_text(std::string& out, std::string_view text) const;
    void begin_field(pugi::xml_node field);
    void end_field(pugi::xml_node field, tree::Paragraph& paragraph);
    const std::string* innermost_link_target() const noexcept;
    std::string* held_field_text() noexcept;

    tree::Document& document_;
    WalkSetup setup_;
    // Open fields, innermost last. Looked up, never pointed into: a field
    // opened later may move the others.
    std::vector<OpenField> fields_;
    bool link_run_open_ = false;                 // the paragraph's last inline is the innermost link's run
    bool deleting_ = false;                      // inside text deleted under change tracking
    bool space_owed_ = false;                    // a form control's text ended: text after it starts with a space
    RunFonts run_fonts_;                         // the symbol fonts of the run being read
    std::uint32_t outline_numbering_ = UINT32_MAX;  // the section's outline numbering id
    std::uint8_t emphasis_ = 0;                  // the emphasis of the run being read
    AutoNumbers auto_numbers_;                   // captions' and notes' numbers so far
    // Where the last box standing in a line ended its paragraph's text.
    std::tuple<const tree::Paragraph*, std::size_t, std::size_t> box_end_{nullptr, 0, 0};
    bool first_run_ = false;                          // the next run walked is the section's first
    XmlRuns* runs_ = nullptr;                         // the parser of the run being walked; none for a whole part
};

}  // namespace marlune
