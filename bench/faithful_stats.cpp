// Figures of the faithful conversion against the exact one, per document:
//   marlune_faithful_stats REPEATS FILE...
// prints one tab-separated line per file: path, status, exact and faithful
// best times (ns), exact and faithful output bytes, recall (paragraph
// characters found / all, white space aside, with notes and headers on),
// tables, unwrapped rows, pipe grids, HTML grids, grid columns before and
// after, grids cut by a full-width row below another grid, notes, links,
// pictures, page headers and footers, then recall again leaving out the
// text of click-here fields (shown only when typed into), then tables that
// become only ordinary blocks, pipe tables, some HTML, nothing.
#include <chrono>
#include <cstdio>
#include <map>
#include <string>

#include "hwp/hwp_tree.hpp"
#include "faithful/render.hpp"
#include "faithful/table_layout.hpp"
#include "marlune/faithful.hpp"
#include "marlune/markdown.hpp"
#include "marlune/records.hpp"
#include "hwp/para_text.hpp"

using namespace marlune;

namespace {

struct Stats {
    long tables = 0, unwrapped = 0, pipe = 0, html = 0, columns_before = 0, columns_after = 0, cut = 0;
    long notes = 0, links = 0, pictures = 0;
    // Whole tables: only ordinary blocks, pipe tables (and blocks), some
    // HTML, nothing at all.
    long only_blocks = 0, with_pipe = 0, with_html = 0, empty = 0;
};

void count_blocks(const std::vector<tree::Block>& blocks, Stats& stats);

void count_table(const tree::Table& table, Stats& stats) {
    ++stats.tables;
    stats.columns_before += table.columns;
    bool grid_seen = false;
    bool row_after_grid = false;
    bool any_html = false;
    const auto parts = layout::lay_out(table);
    for (const layout::Part& part : parts) {
        if (const auto* grid = std::get_if<layout::Grid>(&part)) {
            if (row_after_grid) ++stats.cut;
            grid_seen = true;
            stats.columns_after += grid->columns;
            bool html = layout::has_merged_content(*grid);
            for (const auto& cell : grid->cells) {
                for (const auto& block : cell.cell->blocks) {
                    const auto* nested = std::get_if<tree::Table>(&block.node);
                    if (nested != nullptr) html |= layout::leaves_grid(*nested);
                }
            }
            ++(html ? stats.html : stats.pipe);
            any_html |= html;
        } else {
            ++stats.unwrapped;
            row_after_grid = grid_seen;
        }
    }
    ++(parts.empty() ? stats.empty : any_html ? stats.with_html : grid_seen ? stats.with_pipe : stats.only_blocks);
    count_blocks(table.caption, stats);
    for (const tree::Cell& cell : table.cells) count_blocks(cell.blocks, stats);
}

void count_blocks(const std::vector<tree::Block>& blocks, Stats& stats) {
    for (const tree::Block& block : blocks) {
        if (const auto* table = std::get_if<tree::Table>(&block.node)) count_table(*table, stats);
        if (std::holds_alternative<tree::Image>(block.node)) ++stats.pictures;
        if (const auto* paragraph = std::get_if<tree::Paragraph>(&block.node)) {
            for (const auto& item : paragraph->inlines) stats.links += std::holds_alternative<tree::Link>(item);
        }
    }
}

bool is_space(char32_t c) {
    return c <= 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

void count_chars(std::string_view text, std::map<char32_t, long>& counts) {
    for (std::size_t k = 0; k < text.size();) {
        const auto lead = static_cast<unsigned char>(text[k]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t j = 1; j < length && k + j < text.size(); ++j) c = (c << 6) | (text[k + j] & 0x3F);
        if (!is_space(c)) ++counts[c];
        k += length;
    }
}

// The output with the renderer's escapes undone.
std::string unescaped(std::string_view text) {
    std::string out;
    for (std::size_t k = 0; k < text.size(); ++k) {
        const std::string_view rest = text.substr(k);
        if (rest.starts_with("&lt;")) {
            out += '<';
            k += 3;
        } else if (rest.starts_with("&amp;")) {
            out += '&';
            k += 4;
        } else if (rest.starts_with("&quot;")) {
            out += '"';
            k += 5;
        } else if (rest.starts_with("\\|") || rest.starts_with("\\[") || rest.starts_with("\\]")) {
            out += text[++k];
        } else {
            out += text[k];
        }
    }
    return out;
}

// The text with click-here placeholders (mark, number, mark) taken out.
std::string without_placeholders(std::string_view text) {
    std::string out;
    for (std::size_t k = 0; k < text.size();) {
        const std::size_t mark = text.find(FIELD_MARK_UTF8, k);
        if (mark == std::string_view::npos) {
            out.append(text.substr(k));
            break;
        }
        out.append(text.substr(k, mark - k));
        const std::size_t close = text.find(FIELD_MARK_UTF8, mark + FIELD_MARK_UTF8.size());
        k = close == std::string_view::npos ? text.size() : close + FIELD_MARK_UTF8.size();
    }
    return out;
}

// Characters of wanted found in found (each counted as often as both hold
// it), and all of wanted.
std::pair<long, long> recall(const std::map<char32_t, long>& wanted, const std::map<char32_t, long>& found) {
    long total = 0, hit = 0;
    for (const auto& [c, n] : wanted) {
        total += n;
        const auto f = found.find(c);
        hit += f == found.end() ? 0 : std::min(n, f->second);
    }
    return {hit, total};
}

template <class F>
long best_ns(int repeats, F&& f) {
    long best = -1;
    for (int r = 0; r < repeats; ++r) {
        const auto start = std::chrono::steady_clock::now();
        f();
        const auto elapsed = std::chrono::steady_clock::now() - start;
        const long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
        if (best < 0 || ns < best) best = ns;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::atoi(argv[1]) : 1;
    for (int a = 2; a < argc; ++a) {
        const std::string path = argv[a];
        std::string exact;
        const long exact_ns = best_ns(repeats, [&] { exact = hwp_to_markdown(path).value_or(std::string("\x01")); });
        if (exact == "\x01") {
            std::printf("%s\terror\n", path.c_str());
            continue;
        }
        ConvertOptions defaults;
        std::string faithful;
        bool failed = false;
        const long faithful_ns = best_ns(repeats, [&] {
            auto converted = convert_file(path, defaults);
            failed = !converted;
            if (converted) faithful = std::move(converted->markdown);
        });
        if (failed) {
            std::printf("%s\tfaithful-error\n", path.c_str());
            continue;
        }
        ConvertOptions all;
        all.headers = true;
        auto opened = open_document(path);
        auto built = build_hwp_tree(*opened, all);
        tree::Document rendered = *built;  // rendering releases the body, counted below
        const std::string everything = unescaped(render_tree(rendered, all));
        // Every paragraph's characters, every section and nesting level.
        std::map<char32_t, long> wanted, found, outside_fields;
        const bool compressed = read_file_header(*opened).value_or(false);
        for_each_section(*opened, compressed, [&](ByteBuffer data) {
            for (const Record& record : parse_records(data)) {
                if (record.tag_id != HWPTAG_PARA_TEXT) continue;
                count_chars(decode_para_text(record.payload()), wanted);
                count_chars(without_placeholders(decode_para_text_with_fields(record.payload()).text), outside_fields);
            }
        });
        count_chars(everything, found);
        const auto [hit, total] = recall(wanted, found);
        const auto [hit_outside, total_outside] = recall(outside_fields, found);
        Stats stats;
        count_blocks(built->body, stats);
        for (const auto& note : built->notes) count_blocks(note.blocks, stats);
        for (const auto& list : built->headers) count_blocks(list, stats);
        for (const auto& list : built->footers) count_blocks(list, stats);
        stats.notes = static_cast<long>(built->notes.size());
        std::printf("%s\tok\t%ld\t%ld\t%zu\t%zu\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t%zu\t%zu"
                    "\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\n",
                    path.c_str(), exact_ns, faithful_ns, exact.size(), faithful.size(), hit, total, stats.tables,
                    stats.unwrapped, stats.pipe, stats.html, stats.columns_before, stats.columns_after, stats.cut,
                    stats.notes, stats.links, stats.pictures, built->headers.size(), built->footers.size(), hit_outside,
                    total_outside, stats.only_blocks, stats.with_pipe, stats.with_html, stats.empty);
    }
    return 0;
}
