// The faithful renderer: one operator() per node kind, called through
// std::visit. Blocks are separated by a pending break that the next block
// writes: a blank line at top level, <br> inside a table cell. Tables are
// laid out first (table_layout.hpp), then each grid is written as a pipe
// table or as HTML. An equation alone in its paragraph is a display block,
// one among text is inline math.
#include "faithful/render.hpp"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <span>
#include <string_view>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "container/utf8.hpp"
#include "faithful/equation.hpp"
#include "faithful/escape.hpp"
#include "faithful/numbering.hpp"
#include "faithful/table_layout.hpp"
#include "marlune/markdown.hpp"

namespace marlune {

namespace {

enum class Place : std::uint8_t { Top, PipeCell, HtmlCell };

// What every renderer of one document shares.
struct Shared {
    const ConvertOptions& options;
    std::vector<std::uint32_t> note_numbers;  // by note index, 1-based
    // By note index: a reference to it was written where Markdown is read
    // (not inside an HTML cell), so a reader links it to its definition.
    std::vector<bool> note_referenced;
    std::string scratch;                      // text being rewritten (line breaks, scripts)
    std::string stretch;                      // text runs written plain as one piece
    std::string joined;                       // an emphasized group's text
    ParagraphNumbers numbers;                 // paragraph heads, counted in reading order
    EquationTranslator translator;
    std::string math;                         // one equation's LaTeX or script
};

// How far back the text before an emphasized group is searched for a bare
// web address (longer addresses are rare; a miss writes emphasis a GFM
// reader may take into the link).
constexpr std::size_t kAddressLookBehind = 256;

// A head that is a Markdown ordered-list marker as it stands ("3.", "12)").
bool is_ordered_marker(std::string_view head) noexcept {
    if (head.size() < 2 || head.size() > 10 || (head.back() != '.' && head.back() != ')')) return false;
    return std::ranges::all_of(head.substr(0, head.size() - 1), [](char c) { return c >= '0' && c <= '9'; });
}

// Bullet characters that say no more than a list item's "- " does; other
// glyphs (□, ○, ※, ✓) carry the document's hierarchy or meaning and stay.
// Characters of the private-use area come from symbol fonts and show as
// nothing useful without them.
bool is_plain_bullet(std::string_view bullet) noexcept {
    for (const std::string_view plain : {"", "•", "·", "∙", "-", "‐", "‧", "●"}) {
        if (bullet == plain) return true;
    }
    // U+E000-U+F8FF: EE 80 80 to EF A3 BF.
    const auto lead = static_cast<unsigned char>(bullet.front());
    const auto next = bullet.size() > 1 ? static_cast<unsigned char>(bullet[1]) : 0U;
    return lead == 0xEE || (lead == 0xEF && next <= 0xA3);
}

bool starts_with_ascii_case(std::string_view text, std::string_view prefix) noexcept {
    if (text.size() < prefix.size()) return false;
    for (std::size_t k = 0; k < prefix.size(); ++k) {
        char c = text[k];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[k]) return false;
    }
    return true;
}

// A bare mail address: something@host, with no scheme or path.
bool is_mail_address(std::string_view target) noexcept {
    const std::size_t at = target.find('@');
    return at != std::string_view::npos && at > 0 && target.find_first_of(":/ ") == std::string_view::npos &&
           target.find('.', at) != std::string_view::npos;
}

// Web and mail targets become links; bookmarks and files do not.
bool is_web_or_mail(std::string_view target) noexcept {
    for (const std::string_view scheme : {"http://", "https://", "ftp://", "mailto:", "www."}) {
        if (starts_with_ascii_case(target, scheme)) return true;
    }
    return is_mail_address(target);
}

// Appends text with every line feed replaced.
void append_lines(std::string& out, std::string_view text, std::string_view line_break) {
    std::size_t start = 0;
    for (std::size_t feed = text.find('\n'); feed != std::string_view::npos; feed = text.find('\n', start)) {
        out.append(text.substr(start, feed - start));
        out.append(line_break);
        start = feed + 1;
    }
    out.append(text.substr(start));
}

struct Renderer {
    std::string& out;
    Shared& shared;
    Place place = Place::Top;
    bool pending = false;  // a block was written: the next one is separated from it
    // The list items open at top level, outermost first: a numbered or
    // bulleted paragraph's level and the column its text starts at, which
    // an item one level deeper is indented to.
    struct OpenItem {
        std::uint8_t level;
        std::size_t column;
    };
    std::vector<OpenItem> items{};
    bool item_written = false;  // the last block written is a list item
    // The paragraph being written holds inline math: its text's dollars are
    // escaped. equation_end: where the last equation's closing dollar ends
    // in the text (npos when none); text right after it that starts with a
    // digit is set a space apart, or no math reader closes on that dollar.
    bool math_in_paragraph = false;
    std::size_t equation_end = std::string::npos;

    void blocks(std::span<const tree::Block> items) {
        for (const tree::Block& block : items) std::visit(*this, block.node);
    }

    // A list item keeps the open items for its own nesting; any other
    // block closes them.
    void separate(bool keeps_items = false) {
        if (pending) out += place == Place::Top ? "\n\n" : "<br>";
        pending = true;
        if (keeps_items) return;
        items.clear();
        item_written = false;
    }

    // What body text escapes where it is written: in Markdown what a
    // CommonMark reader would take for markup there, in HTML cells what an
    // HTML reader would.
    unsigned text_sets(bool heading) const noexcept {
        switch (place) {
            case Place::Top: return escape::Markdown | (heading ? escape::HeadingEnd : escape::LineStarts);
            case Place::PipeCell: return escape::Markdown | escape::Pipe;
            case Place::HtmlCell: break;
        }
        return escape::Html;
    }

    // Equation scripts keep the escaping they had: only what would break the
    // cell around them.
    unsigned equation_sets() const noexcept {
        return place == Place::PipeCell ? escape::Html | escape::Pipe : unsigned{escape::Html};
    }

    // The equation as the options ask (LaTeX, or the script as written) in
    // shared.math, on one line; empty when it shows nothing.
    std::string_view math(const tree::Equation& equation) {
        std::string& math = shared.math;
        math.clear();
        if (shared.options.equations == EquationMode::Latex) {
            shared.translator.append_latex(math, equation.script);
        } else {
            math.assign(trim(equation.script));
            std::ranges::replace(math, '\n', ' ');
            std::ranges::replace(math, '\r', ' ');
        }
        return math;
    }

    // The only inline of a paragraph besides blank text, if it is an equation.
    static const tree::Equation* lone_equation(const tree::Paragraph& paragraph) noexcept {
        const tree::Equation* found = nullptr;
        for (const tree::Inline& item : paragraph.inlines) {
            if (const auto* run = std::get_if<tree::Text>(&item); run != nullptr && is_blank(run->text)) continue;
            const auto* equation = std::get_if<tree::Equation>(&item);
            if (equation == nullptr || found != nullptr) return nullptr;
            found = equation;
        }
        return found;
    }

    // $…$ where a math reader finds it: no space inside the dollars, none
    // against another dollar outside; in a pipe cell a bar is \vert, in an
    // HTML cell the text escaped as HTML.
    void inline_equation(std::string& text, const tree::Equation& equation) {
        const std::string_view written = math(equation);
        if (written.empty()) return;
        if (!text.empty() && text.back() == '$') text.push_back(' ');
        text.push_back('$');
        const bool latex = shared.options.equations == EquationMode::Latex;
        if (place == Place::HtmlCell || (place == Place::PipeCell && !latex)) {
            escape::append_text(text, written, equation_sets());
        } else if (place == Place::PipeCell) {
            for (const char c : written) {
                if (c == '|') text += "\\vert ";
                else text.push_back(c);
            }
        } else {
            text += written;
        }
        text.push_back('$');
        equation_end = text.size();
    }

    // A block rendered elsewhere, written as it is.
    void raw_block(std::string_view text) {
        if (text.empty()) return;
        separate();
        out += text;
    }

    // Written in place: the separator, then the escaped inlines, trimmed
    // where they stand; a paragraph that turns out blank is taken back.
    void operator()(const tree::Paragraph& paragraph) {
        if (place == Place::Top && paragraph.heading == 0 && paragraph.head.kind == tree::ParagraphHead::Kind::None) {
            if (const tree::Equation* equation = lone_equation(paragraph)) {
                (*this)(*equation);
                return;
            }
        }
        math_in_paragraph = place != Place::HtmlCell &&
                            std::ranges::any_of(paragraph.inlines, [](const tree::Inline& item) {
                                return std::holds_alternative<tree::Equation>(item);
                            });
        equation_end = std::string::npos;
        const std::size_t before = out.size();
        const bool was_pending = pending;
        const bool was_item = item_written;
        separate(true);
        item_written = false;
        const std::size_t start = out.size();
        const bool heading = place == Place::Top && paragraph.heading > 0;
        const std::string_view head = shared.numbers.head(paragraph.head);
        escape::Flow flow{text_sets(heading)};
        const std::span<const tree::Inline> inlines = paragraph.inlines;
        // A heading bold as a whole is not bold again inside.
        const std::uint8_t dropped = heading && all_bold(inlines) ? tree::emphasis::Bold : 0;
        for (std::size_t k = 0; k < inlines.size();) {
            if (std::holds_alternative<tree::Text>(inlines[k])) {
                k = text_from(inlines, k, flow, dropped);
                continue;
            }
            inline_text(out, inlines[k], flow, follows(inlines.subspan(k + 1)));
            ++k;
        }
        const std::string_view written = std::string_view(out).substr(start);
        const std::string_view body = trim(written);
        if (body.empty()) {
            out.resize(before);
            pending = was_pending;
            item_written = was_item;
            return;
        }
        const std::size_t lead = static_cast<std::size_t>(body.data() - written.data());
        out.resize(start + lead + body.size());
        out.erase(start, lead);
        if (head.empty() || heading) items.clear();
        if (!head.empty() && !heading) {
            head_before(start, head, paragraph.head, was_item);
            if (place == Place::Top) return;
        }
        if (place == Place::Top && !heading) return;
        if (out.find('\n', start) == std::string::npos && !heading) return;
        // Line breaks inside a cell or a heading: rewrite the body.
        std::string& text = shared.scratch;
        text.assign(out, start);
        out.resize(start);
        if (heading) {
            out.append(std::min<std::size_t>(paragraph.heading, 6), '#');
            out.push_back(' ');
            escape::Flow flow{text_sets(true)};
            escape::append_text(out, head, flow, ' ');
            if (!head.empty()) out.push_back(' ');
        }
        append_lines(out, text, heading ? " " : "<br>");
    }

    // The head written before the paragraph's text at start. At top level
    // a numbered or bulleted paragraph becomes a list item, nested under
    // the open items of lower levels: a number that is a list marker as it
    // stands ("1.", "2)") is the marker, any other ("가.", "(1)", "①")
    // follows "- ", and so does a bullet's glyph where it says more than the
    // marker. Inside a cell the head is plain text before the paragraph's.
    void head_before(std::size_t start, std::string_view head, const tree::ParagraphHead& kind, bool after_item) {
        std::string& prefix = shared.scratch;
        prefix.clear();
        const bool bullet = kind.kind == tree::ParagraphHead::Kind::Bullet;
        const bool shown = !bullet || !is_plain_bullet(head);
        std::size_t column = 0;
        if (place == Place::Top) {
            while (!items.empty() && items.back().level >= kind.level) items.pop_back();
            const std::size_t indent = items.empty() ? 0 : items.back().column;
            prefix.append(indent, ' ');
            if (!bullet && is_ordered_marker(head)) {
                prefix += head;
                prefix.push_back(' ');
                column = prefix.size();
            } else {
                prefix += "- ";
                column = prefix.size();
                if (shown) append_head_text(prefix, head, escape::Markdown | escape::LineStarts);
            }
        } else if (shown) {
            append_head_text(prefix, head, text_sets(false));
        }
        out.insert(start, prefix);
        if (place != Place::Top) return;
        // Items one after another form one tight list.
        if (after_item && start >= 2 && out.compare(start - 2, 2, "\n\n") == 0) out.erase(start - 1, 1);
        items.push_back({kind.level, column});
        item_written = true;
    }

    static void append_head_text(std::string& prefix, std::string_view head, unsigned sets) {
        escape::Flow flow{sets};
        escape::append_text(prefix, head, flow, ' ');
        prefix.push_back(' ');
    }

    bool writes_link(const tree::Link& link) const noexcept {
        return is_web_or_mail(link.target) && !is_blank(link.text);
    }

    bool writes_note(const tree::NoteRef& ref) const noexcept {
        return shared.options.notes && ref.note < shared.note_numbers.size();
    }

    static std::uint8_t emphasis_of(const tree::Inline& item) noexcept {
        const auto* run = std::get_if<tree::Text>(&item);
        return run != nullptr ? run->emphasis : 0;
    }

    static bool all_bold(std::span<const tree::Inline> inlines) noexcept {
        return std::ranges::all_of(inlines, [](const tree::Inline& item) {
            const auto* run = std::get_if<tree::Text>(&item);
            return run == nullptr || is_blank(run->text) || (run->emphasis & tree::emphasis::Bold) != 0;
        });
    }

    // What the first character written after the inlines is to the
    // flanking rules.
    escape::Kind kind_after(std::span<const tree::Inline> rest) const noexcept {
        if (rest.empty()) return escape::Kind::Space;
        if (const auto* run = std::get_if<tree::Text>(&rest.front())) {
            return run->text.empty() ? escape::Kind::Other : escape::first_kind(run->text);
        }
        const char next = follows(rest);
        return next == '[' || next == '<' ? escape::Kind::Punct : escape::Kind::Other;
    }

    // How the emphasized runs from k on, up to the first plain inline, are
    // written: their common bold, italic and strike-through as delimiters
    // around their text trimmed of white space, where CommonMark reads them
    // so; superscript and subscript as HTML around each run.
    struct Group {
        std::size_t end = 0;     // past the group's inlines
        std::uint8_t common = 0; // the delimiters written, none when the text stays plain
        bool scripted = false;   // a run is raised or lowered
        std::size_t lead = 0;    // white space before the text, in the runs' joined text
        std::size_t body_end = 0;
    };

    // before: what is written before the group; preceding: the text of the
    // line before it.
    Group plan_group(std::span<const tree::Inline> inlines, std::size_t k, escape::Kind before,
                     std::string_view preceding, std::uint8_t dropped) {
        using namespace tree::emphasis;
        Group group;
        std::uint8_t common = Bold | Italic | Strike;
        std::string& joined = shared.joined;
        joined.clear();
        bool scripted_first = false;
        bool scripted_last = false;
        for (group.end = k; group.end < inlines.size() && emphasis_of(inlines[group.end]) != 0; ++group.end) {
            const auto& run = std::get<tree::Text>(inlines[group.end]);
            common &= run.emphasis;
            scripted_last = (run.emphasis & (Superscript | Subscript)) != 0;
            if (group.end == k) scripted_first = scripted_last;
            group.scripted |= scripted_last;
            joined += run.text;
        }
        common &= static_cast<std::uint8_t>(~dropped);
        const std::string_view body = trim(joined);
        group.lead = static_cast<std::size_t>(body.data() - joined.data());
        group.body_end = group.lead + body.size();
        if (common == 0 || body.empty()) return group;
        if (place == Place::HtmlCell) {
            group.common = common;
            return group;
        }
        const escape::Kind beside_start = group.lead > 0 ? escape::Kind::Space : before;
        const escape::Kind beside_end =
            group.body_end < joined.size() ? escape::Kind::Space : kind_after(inlines.subspan(group.end));
        const bool nested = (common & Strike) != 0 && common != Strike;
        const bool beside_address = (group.lead == 0 && names_address(last_word(preceding))) || names_address(body);
        if (!beside_address && reads_as_emphasis(body, beside_start, beside_end, nested, scripted_first, scripted_last)) {
            group.common = common;
        }
        return group;
    }

    // The end of text after its last white space.
    static std::string_view last_word(std::string_view text) noexcept {
        const std::size_t space = text.find_last_of(" \t\n");
        return space == std::string_view::npos ? text : text.substr(space + 1);
    }

    // Text a GFM reader may take for a bare web address, whose extent
    // would swallow a delimiter next to it or inside it.
    static bool names_address(std::string_view text) noexcept {
        return text.find("://") != std::string_view::npos || text.find("www.") != std::string_view::npos;
    }

    // Writes the group planned at k; returns the index past it.
    std::size_t emphasized(std::span<const tree::Inline> inlines, std::size_t k, escape::Flow& flow,
                           const Group& plan) {
        const auto group = inlines.subspan(k, plan.end - k);
        std::size_t offset = 0;
        for (std::size_t r = 0; r < group.size(); ++r) {
            const auto& run = std::get<tree::Text>(group[r]);
            const std::string_view text = run.text;
            const std::size_t from = offset;
            offset += text.size();
            // The run's white space before the body, its part of the body, its white space after.
            const std::size_t cut_lead = std::clamp(plan.lead, from, offset) - from;
            const std::size_t cut_end = std::clamp(plan.body_end, from, offset) - from;
            escape::append_text(out, text.substr(0, cut_lead), flow);
            if (from <= plan.lead && plan.lead < offset && plan.common != 0) delimiters(plan.common, true, flow);
            if (cut_end > cut_lead) scripted(text.substr(cut_lead, cut_end - cut_lead), run.emphasis, flow);
            if (from < plan.body_end && plan.body_end <= offset && plan.common != 0) {
                delimiters(plan.common, false, flow);
            }
            const bool last = r + 1 == group.size();
            escape::append_text(out, text.substr(cut_end), flow,
                                last ? follows(inlines.subspan(plan.end)) : escape::kUnknown);
        }
        return plan.end;
    }

    // Text runs from k on that are written plain (runs without emphasis,
    // groups whose delimiters CommonMark would not read) as one piece, so
    // that what they form together (a list marker split over two runs) is
    // escaped; an emphasized group at k is written as planned. Returns the
    // index past what was written.
    std::size_t text_from(std::span<const tree::Inline> inlines, std::size_t k, escape::Flow& flow,
                          std::uint8_t dropped) {
        // The stretch's text: one run's own text as long as it is one run
        // (a long paragraph is not copied), else joined in shared.stretch.
        std::string& joined = shared.stretch;
        std::string_view first;
        std::size_t pieces = 0;
        const auto add = [&](const tree::Inline& item) {
            const std::string& text = std::get<tree::Text>(item).text;
            if (pieces == 0) {
                first = text;
            } else {
                if (pieces == 1) joined.assign(first);
                joined += text;
            }
            ++pieces;
        };
        const auto stretch = [&]() -> std::string_view { return pieces <= 1 ? first : std::string_view(joined); };
        std::size_t j = k;
        while (j < inlines.size() && std::holds_alternative<tree::Text>(inlines[j])) {
            if (!shared.options.emphasis || emphasis_of(inlines[j]) == 0) {
                add(inlines[j++]);
                continue;
            }
            const bool at_start = stretch().empty();
            const std::size_t tail = out.size() - std::min<std::size_t>(out.size(), kAddressLookBehind);
            const Group group = plan_group(inlines, j, at_start ? flow.before : escape::last_kind(stretch()),
                                           at_start ? std::string_view(out).substr(tail) : stretch(), dropped);
            if (group.common != 0 || group.scripted) {
                if (j > k) break;
                const std::size_t start = out.size();
                j = emphasized(inlines, k, flow, group);
                if (math_in_paragraph) after_equation(out, start);
                return j;
            }
            for (; j < group.end; ++j) add(inlines[j]);
        }
        const std::size_t start = out.size();
        escape::append_text(out, stretch(), flow, follows(inlines.subspan(j)));
        if (math_in_paragraph) after_equation(out, start);
        return j;
    }

    // Whether delimiters around body, with `before` and `after` beside
    // them, open and close: the outer delimiter of two ("~~**") stands
    // beside punctuation, as does one beside a <sup> tag. A body holding
    // "*" or "~" stays plain: the escaping leaves a "*" that can only close
    // as it is, and one would close the delimiter written here.
    static bool reads_as_emphasis(std::string_view body, escape::Kind before, escape::Kind after, bool nested,
                                  bool scripted_first, bool scripted_last) noexcept {
        using escape::Kind;
        if (body.empty() || body.find_first_of("\n*~") != std::string_view::npos) return false;
        if (body.front() == '_' || body.back() == '_') return false;
        const Kind first = nested || scripted_first ? Kind::Punct : escape::first_kind(body);
        const Kind last = nested || scripted_last ? Kind::Punct : escape::last_kind(body);
        const bool opens = first != Kind::Space && (first == Kind::Word || before == Kind::Space || before == Kind::Punct);
        const bool closes = last != Kind::Space && (last == Kind::Word || after == Kind::Space || after == Kind::Punct);
        return opens && closes;
    }

    // Opening or closing delimiters: "~~", "**", "*" (tags in HTML cells),
    // outermost first.
    void delimiters(std::uint8_t emphasis, bool opening, escape::Flow& flow) {
        using namespace tree::emphasis;
        const bool html = place == Place::HtmlCell;
        const std::string_view strike = html ? (opening ? "<del>" : "</del>") : "~~";
        std::string_view marks;
        if (html) {
            if ((emphasis & Bold) && (emphasis & Italic)) marks = opening ? "<strong><em>" : "</em></strong>";
            else if (emphasis & Bold) marks = opening ? "<strong>" : "</strong>";
            else if (emphasis & Italic) marks = opening ? "<em>" : "</em>";
        } else {
            marks = (emphasis & Bold) ? ((emphasis & Italic) ? "***" : "**") : ((emphasis & Italic) ? "*" : "");
        }
        if (opening && (emphasis & Strike)) out += strike;
        out += marks;
        if (!opening && (emphasis & Strike)) out += strike;
        flow.markup();
        if (!opening) flow.before = escape::Kind::Punct;
    }

    // Text of one run, in <sup> or <sub> when the run is raised or lowered.
    void scripted(std::string_view text, std::uint8_t emphasis, escape::Flow& flow) {
        using namespace tree::emphasis;
        const std::string_view tag = (emphasis & Superscript) ? "sup" : (emphasis & Subscript) ? "sub" : "";
        if (tag.empty()) {
            escape::append_text(out, text, flow);
            return;
        }
        out += '<';
        out += tag;
        out += '>';
        flow.markup();
        escape::append_text(out, text, flow, '<');
        out += "</";
        out += tag;
        out += '>';
        flow.markup();
        flow.before = escape::Kind::Punct;
    }

    // The first character the inlines after one will write: the block's end,
    // or unknown when it depends on more than the next inline's kind.
    char follows(std::span<const tree::Inline> rest) const noexcept {
        if (rest.empty()) return escape::kBlockEnd;
        if (std::holds_alternative<tree::Equation>(rest.front())) return '$';
        if (const auto* link = std::get_if<tree::Link>(&rest.front())) {
            if (writes_link(*link)) return place == Place::HtmlCell ? '<' : '[';
        } else if (const auto* ref = std::get_if<tree::NoteRef>(&rest.front())) {
            if (writes_note(*ref)) return '[';
        }
        return escape::kUnknown;
    }

    // One inline written into text, escaped as the flow of its paragraph
    // asks; follows: the character written after it.
    void inline_text(std::string& text, const tree::Inline& item, escape::Flow& flow, char follows) {
        if (const auto* run = std::get_if<tree::Text>(&item)) {
            const std::size_t start = text.size();
            escape::append_text(text, run->text, flow, follows);
            if (math_in_paragraph) after_equation(text, start);
        } else if (const auto* equation = std::get_if<tree::Equation>(&item)) {
            const std::size_t start = text.size();
            inline_equation(text, *equation);
            if (text.size() != start) flow.markup();
        } else if (const auto* link = std::get_if<tree::Link>(&item)) {
            if (!writes_link(*link)) {
                escape::append_text(text, link->text, flow, follows);
            } else if (place == Place::HtmlCell) {
                html_link(text, *link, flow);
            } else {
                markdown_link(text, *link, flow);
            }
        } else {
            const auto& ref = std::get<tree::NoteRef>(item);
            if (!writes_note(ref)) return;
            const auto note = ref.note;
            text += "[^";
            text += std::to_string(shared.note_numbers[note]);
            text.push_back(']');
            flow.markup();
            if (place != Place::HtmlCell) shared.note_referenced[note] = true;
        }
    }

    // Text written from start in a paragraph holding inline math: its
    // dollars escaped, so none pairs with the equation's, and a space after
    // the equation when the text starts with a digit.
    void after_equation(std::string& text, std::size_t start) {
        for (std::size_t k = text.find('$', start); k != std::string::npos; k = text.find('$', k + 2)) {
            text.insert(k, 1, '\\');
        }
        if (start == equation_end && start < text.size() && text[start] >= '0' && text[start] <= '9') {
            text.insert(start, 1, ' ');
        }
    }

    // The scheme a stored web or mail target leaves out.
    static std::string_view implied_scheme(std::string_view target) noexcept {
        if (is_mail_address(target)) return "mailto:";
        if (starts_with_ascii_case(target, "www.")) return "http://";
        return {};
    }

    void markdown_link(std::string& text, const tree::Link& link, escape::Flow& flow) {
        text.push_back('[');
        escape::Flow inside{flow.sets | escape::Brackets, false, false, escape::Kind::Other};
        escape::append_text(text, link.text, inside, ']');
        text += "](";
        text += implied_scheme(link.target);
        escape::append_target(text, link.target, flow.sets & escape::Pipe);
        text.push_back(')');
        flow.markup();
    }

    // Inside an HTML cell Markdown is not read: the link as an HTML anchor.
    void html_link(std::string& text, const tree::Link& link, escape::Flow& flow) {
        text += "<a href=\"";
        text += implied_scheme(link.target);
        escape::append_attribute(text, link.target);
        text += "\">";
        escape::append_text(text, link.text, flow, '<');
        text += "</a>";
        flow.markup();
    }

    // An equation as a block: $$ lines at top level, inline in a cell.
    void operator()(const tree::Equation& equation) {
        if (place != Place::Top) {
            if (math(equation).empty()) return;
            separate();
            inline_equation(out, equation);
            return;
        }
        const std::string_view written = math(equation);
        if (written.empty()) return;
        separate();
        out += "$$\n";
        out += written;
        out += "\n$$";
    }

    // A stored picture links to its item (under the image folder), a linked
    // one to the file the document names; in an HTML cell as <img>, which
    // an HTML block shows where Markdown inside it would stay literal. A
    // picture with neither leaves its caption as text.
    void operator()(const tree::Image& image) {
        // A caption stays on one line: a line feed would end a pipe row or,
        // doubled, an HTML block.
        std::string caption(trim(image.caption));
        std::ranges::replace(caption, '\n', ' ');
        if (image.name.empty() && image.linked_path.empty()) {
            if (caption.empty()) return;
            separate();
            escape::Flow flow{text_sets(false)};
            escape::append_text(out, caption, flow, escape::kBlockEnd);
            return;
        }
        separate();
        std::string& target = shared.scratch;
        if (image.name.empty()) {
            target.assign(image.linked_path);
        } else {
            target.assign(shared.options.image_prefix);
            target += image.name;
        }
        if (place == Place::HtmlCell) {
            out += "<img src=\"";
            escape::append_attribute(out, target);
            out += "\" alt=\"";
            escape::append_attribute_text(out, caption);
            out += "\">";
            return;
        }
        out += "![";
        const unsigned sets = text_sets(false) & ~escape::LineStarts;
        escape::Flow flow{sets | escape::Brackets, false, false, escape::Kind::Other};
        escape::append_text(out, caption, flow, ']');
        out += "](";
        escape::append_target(out, target, sets & escape::Pipe);
        out.push_back(')');
    }

    void operator()(const tree::Table& table) {
        const bool caption_first =
            table.caption_side == tree::CaptionSide::Top || table.caption_side == tree::CaptionSide::Left;
        if (caption_first) blocks(table.caption);
        for (const layout::Part& part : layout::lay_out(table)) {
            if (const auto* cell = std::get_if<const tree::Cell*>(&part)) {
                blocks((*cell)->blocks);
            } else {
                grid(std::get<layout::Grid>(part));
            }
        }
        if (!caption_first) blocks(table.caption);
    }

    bool wants_html(const layout::Grid& grid) const {
        if (place == Place::HtmlCell) return true;
        switch (shared.options.tables) {
            case TableMode::Html: return true;
            case TableMode::Pipe: return false;
            case TableMode::Auto: break;
        }
        if (layout::has_merged_content(grid)) return true;
        return std::ranges::any_of(grid.cells, [](const layout::GridCell& cell) {
            return std::ranges::any_of(cell.cell->blocks, [](const tree::Block& block) {
                const auto* nested = std::get_if<tree::Table>(&block.node);
                return nested != nullptr && layout::leaves_grid(*nested);
            });
        });
    }

    void grid(const layout::Grid& grid) {
        separate();
        if (place == Place::PipeCell) {
            flattened_grid(grid);
        } else if (wants_html(grid)) {
            html_grid(grid);
        } else {
            pipe_grid(grid);
        }
    }

    void cell_content(const tree::Cell& cell, Place cell_place) {
        Renderer inner{out, shared, cell_place, false};
        inner.blocks(cell.blocks);
    }

    // First row as the header line; a merged cell written once, the slots
    // it covers left empty.
    void pipe_grid(const layout::Grid& grid) {
        std::size_t next = 0;
        for (std::uint32_t row = 0; row < grid.rows; ++row) {
            if (row > 0) out.push_back('\n');
            out.push_back('|');
            for (std::uint32_t column = 0; column < grid.columns; ++column) {
                while (next < grid.cells.size() && grid.cells[next].row == row && grid.cells[next].column < column) {
                    ++next;  // overlapping cells of a table that did not tile
                }
                if (next < grid.cells.size() && grid.cells[next].row == row && grid.cells[next].column == column) {
                    cell_content(*grid.cells[next++].cell, Place::PipeCell);
                }
                out.push_back('|');
            }
            while (next < grid.cells.size() && grid.cells[next].row == row) ++next;
            if (row == 0) {
                out += "\n|";
                for (std::uint32_t column = 0; column < grid.columns; ++column) out += "---|";
            }
        }
    }

    void html_grid(const layout::Grid& grid) {
        const std::string_view line_end = place == Place::Top ? "\n" : "";
        out += "<table>";
        out += line_end;
        std::vector<std::uint32_t> covered_until(grid.columns, 0);  // first row a column is free again
        std::size_t next = 0;
        for (std::uint32_t row = 0; row < grid.rows; ++row) {
            out += "<tr>";
            for (std::uint32_t column = 0; column < grid.columns;) {
                while (next < grid.cells.size() && grid.cells[next].row == row && grid.cells[next].column < column) {
                    ++next;
                }
                if (next < grid.cells.size() && grid.cells[next].row == row && grid.cells[next].column == column) {
                    const layout::GridCell& cell = grid.cells[next++];
                    html_cell(cell);
                    const std::uint32_t last = std::min(grid.columns, column + cell.column_span);
                    for (std::uint32_t c = column; c < last; ++c) covered_until[c] = row + cell.row_span;
                    column = last;
                } else {
                    if (covered_until[column] <= row) out += "<td></td>";
                    ++column;
                }
            }
            while (next < grid.cells.size() && grid.cells[next].row == row) ++next;
            out += "</tr>";
            out += line_end;
        }
        out += "</table>";
    }

    // name="number", the name given with its leading space and opening quote.
    void append_attribute(std::string_view name, std::uint32_t number) {
        char digits[10];
        const auto written = std::to_chars(std::begin(digits), std::end(digits), number);
        out += name;
        out.append(std::begin(digits), written.ptr);
        out.push_back('"');
    }

    void html_cell(const layout::GridCell& cell) {
        out += "<td";
        if (cell.column_span > 1) append_attribute(" colspan=\"", cell.column_span);
        if (cell.row_span > 1) append_attribute(" rowspan=\"", cell.row_span);
        out.push_back('>');
        cell_content(*cell.cell, Place::HtmlCell);
        out += "</td>";
    }

    // A grid inside a pipe cell: cells a space apart, rows a <br> apart.
    void flattened_grid(const layout::Grid& grid) {
        const std::size_t mark = out.size();
        std::uint32_t row = 0;
        for (const layout::GridCell& cell : grid.cells) {
            const std::size_t before = out.size();
            if (before > mark) out += cell.row != row ? "<br>" : " ";
            const std::size_t written = out.size();
            cell_content(*cell.cell, Place::PipeCell);
            if (out.size() == written) out.resize(before);
            row = cell.row;
        }
    }
};

std::vector<std::uint32_t> number_notes(const std::vector<tree::Note>& notes) {
    std::vector<std::uint32_t> numbers(notes.size(), 0);
    std::uint32_t next = 1;
    for (const tree::NoteKind kind : {tree::NoteKind::Footnote, tree::NoteKind::Endnote}) {
        for (std::size_t k = 0; k < notes.size(); ++k) {
            if (notes[k].kind == kind) numbers[k] = next++;
        }
    }
    return numbers;
}

std::string render_blocks(std::span<const tree::Block> blocks, Shared& shared) {
    std::string text;
    Renderer{text, shared, Place::Top, false}.blocks(blocks);
    return text;
}

// Each distinct page header (footer) once, in document order.
void render_distinct(Renderer& renderer, const std::vector<std::vector<tree::Block>>& lists) {
    std::vector<std::string> seen;
    for (const auto& list : lists) {
        std::string text = render_blocks(list, renderer.shared);
        if (text.empty() || std::ranges::find(seen, text) != seen.end()) continue;
        renderer.raw_block(text);
        seen.push_back(std::move(text));
    }
}

// "[^n]: " and the note's blocks, later lines indented to stay in the note.
// A note referenced only inside HTML cells, where a reader sees its mark as
// plain text, is written as plain text too: a footnote definition nothing
// refers to is dropped by readers.
void render_notes(Renderer& renderer, const std::vector<tree::Note>& notes) {
    std::vector<std::size_t> order(notes.size());
    for (std::size_t k = 0; k < notes.size(); ++k) order[renderer.shared.note_numbers[k] - 1] = k;
    for (const std::size_t k : order) {
        const std::string text = render_blocks(notes[k].blocks, renderer.shared);
        const bool referenced = renderer.shared.note_referenced[k];
        std::string definition = referenced ? "[^" : "\\[^";
        definition += std::to_string(renderer.shared.note_numbers[k]);
        definition += "]:";
        if (!text.empty()) definition.push_back(' ');
        std::size_t start = 0;
        for (std::size_t feed = text.find('\n'); feed != std::string::npos; feed = text.find('\n', start)) {
            definition.append(text, start, feed + 1 - start);
            if (referenced && feed + 1 < text.size() && text[feed + 1] != '\n') definition += "    ";
            start = feed + 1;
        }
        definition.append(text, start);
        renderer.raw_block(definition);
    }
}

}  // namespace

// The blocks released while rendering are small heap blocks, which the
// allocator keeps for reuse; the Markdown grows in fresh pages. Handing
// the freed pages back every so often keeps the two from adding up.
namespace {

constexpr std::size_t kReleaseEveryBytes = std::size_t{32} << 20;

void release_freed_pages() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace

std::string render_tree(tree::Document& document, const ConvertOptions& options) {
    Shared shared{options, number_notes(document.notes), std::vector<bool>(document.notes.size(), false), {}, {}, {},
                  ParagraphNumbers(document), {}, {}};
    std::string out;
    Renderer renderer{out, shared, Place::Top, false};
    if (options.headers) render_distinct(renderer, document.headers);
    std::size_t released_at = 0;
    for (tree::Block& block : document.body) {
        renderer.blocks(std::span<const tree::Block>(&block, 1));
        block = tree::Block{};
        if (out.size() - released_at >= kReleaseEveryBytes) {
            release_freed_pages();
            released_at = out.size();
        }
    }
    document.body = {};
    if (released_at > 0) release_freed_pages();
    if (options.headers) render_distinct(renderer, document.footers);
    if (options.notes) render_notes(renderer, document.notes);
    out.resize(trim_end(out).size());
    return out;
}

}  // namespace marlune
