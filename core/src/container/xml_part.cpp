// Parsing a package part with pugixml, in place: whole into an XmlPart, or
// a run of the root's children at a time through XmlRuns, an element larger
// than a run as a skeleton whose rest XmlChildren parses as it is walked.
#include "container/xml_part.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace marlune {

namespace {

// Escapes (&lt; &#x..;), end-of-line normalisation and CDATA, plus
// whitespace-only text, which is text in a paragraph run. Attribute white
// space is left as written (no attribute the walk reads needs it folded).
// DOCTYPE stays off: its declarations are skipped unread.
constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol | pugi::parse_ws_pcdata;

// Error texts quote at most this many bytes of a part's name.
constexpr std::size_t kQuotedNameBytes = 200;

// pugixml's own words for a root that is never closed.
constexpr std::string_view kUnclosed = "Start-end tags mismatch";

HwpError malformed_part(std::string_view why, std::string_view name) {
    return HwpError::parse("malformed XML (" + std::string(why) + ") in " +
                           repair_utf8(name.substr(0, kQuotedNameBytes)));
}

// What a piece of markup does to the nesting of elements.
enum class Markup : std::uint8_t { Open, Close, Empty, Other, Unterminated };

struct MarkupEnd {
    std::size_t end;  // one past its '>'
    Markup kind;
};

MarkupEnd until(std::string_view xml, std::string_view close, std::size_t from, Markup kind) {
    const std::size_t found = xml.find(close, from);
    if (found == std::string_view::npos) return {xml.size(), Markup::Unterminated};
    return {found + close.size(), kind};
}

// A declaration ("<!DOCTYPE ...>"), its internal subset in brackets skipped.
MarkupEnd declaration_end(std::string_view xml, std::size_t at) {
    int brackets = 0;
    for (std::size_t k = at + 2; k < xml.size(); ++k) {
        if (xml[k] == '[') ++brackets;
        if (xml[k] == ']') --brackets;
        if (xml[k] == '>' && brackets <= 0) return {k + 1, Markup::Other};
    }
    return {xml.size(), Markup::Unterminated};
}

// The markup starting at xml[at] ('<'): a start tag ends at the first '>'
// outside a quoted attribute value.
MarkupEnd scan_markup(std::string_view xml, std::size_t at) {
    const std::string_view rest = xml.substr(at);
    if (rest.starts_with("</")) return until(xml, ">", at + 2, Markup::Close);
    if (rest.starts_with("<!--")) return until(xml, "-->", at + 4, Markup::Other);
    if (rest.starts_with("<![CDATA[")) return until(xml, "]]>", at + 9, Markup::Other);
    if (rest.starts_with("<?")) return until(xml, "?>", at + 2, Markup::Other);
    if (rest.starts_with("<!")) return declaration_end(xml, at);
    char quote = 0;
    for (std::size_t k = at + 1; k < xml.size(); ++k) {
        const char c = xml[k];
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return {k + 1, xml[k - 1] == '/' ? Markup::Empty : Markup::Open};
        }
    }
    return {xml.size(), Markup::Unterminated};
}

// The element name of a start tag's text ("<hs:sec xmlns...>"), without its prefix.
std::string local_tag_name(std::string_view tag) {
    std::size_t end = 1;
    while (end < tag.size() && std::strchr(" \t\r\n/>", tag[end]) == nullptr) ++end;
    std::string_view name = tag.substr(1, end - 1);
    const std::size_t colon = name.find(':');
    return std::string(colon == std::string_view::npos ? name : name.substr(colon + 1));
}

// Text that is not ASCII-compatible: a UTF-16 or UTF-32 byte order mark, or
// a NUL among the first bytes.
bool needs_transcoding(std::span<const std::uint8_t> bytes) {
    if (bytes.size() >= 2 && ((bytes[0] == 0xFE && bytes[1] == 0xFF) || (bytes[0] == 0xFF && bytes[1] == 0xFE))) {
        return true;
    }
    // An empty part has no bytes to look at (and memchr is not given a null pointer).
    if (bytes.empty()) return false;
    return std::memchr(bytes.data(), 0, std::min<std::size_t>(bytes.size(), 4)) != nullptr;
}

std::atomic<std::size_t> g_run_bytes{XmlRuns::kRunBytes};

// A nested skeleton's runs are smaller, halved at each level down to a
// 64th: a chain of skeletons open one inside the other holds about two runs
// of nodes in all.
constexpr unsigned kRunHalvings = 6;

// The bytes of a skeleton element's first children copied whatever the
// run's budget, and of its last ones after its placeholder: an element's
// properties (a cell's address, a picture's image, a field's parameters)
// are small children, before or after its content, that lookups by name
// must find in the skeleton. Also the size up to which an element holding
// only text (a script) is never a skeleton. A sixteenth of a run, from
// 1 KiB (what a cell's properties take) to 64 KiB.
constexpr std::size_t kMinTailBytes = std::size_t{1} << 10;
constexpr std::size_t kMaxTailBytes = std::size_t{64} << 10;

// Large elements nested in one skeleton, and written in it in all; others
// wait in a rest (so a skeleton's first and last children take at most
// 2 x 32 x 64 KiB beside the run's budget).
constexpr unsigned kMaxSkeletonNesting = 32;
constexpr std::size_t kMaxSkeletons = 32;

// Open elements the index of large elements follows; deeper ones are not
// indexed (and are scanned as small ones).
constexpr std::size_t kMaxIndexedNesting = 4096;

// The placeholder's element name, not an OWPML one. A document's own
// element of that name is no placeholder: they are known by node.
constexpr char kPlaceholder[] = "marlune-rest";

}  // namespace

Result<std::unique_ptr<XmlPart>> XmlPart::parse(ByteBuffer bytes, std::string_view name) {
    auto part = std::make_unique<XmlPart>();
    part->bytes_ = std::move(bytes);
    const pugi::xml_parse_result result = part->document_.load_buffer_inplace(
        part->bytes_.data(), part->bytes_.size(), kParseOptions, pugi::encoding_auto);
    if (!result) return std::unexpected(malformed_part(result.description(), name));
    return part;
}

std::string_view XmlRuns::Part::xml() const noexcept {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::size_t XmlRuns::Part::run_budget(unsigned level) const noexcept {
    return std::max<std::size_t>(run_bytes >> std::min(level, kRunHalvings), 1);
}

std::size_t XmlRuns::Part::tail_bytes() const noexcept {
    return std::clamp(run_bytes / 16, kMinTailBytes, kMaxTailBytes);
}

bool XmlRuns::Part::splits(const XmlExtent& element, std::size_t budget) const noexcept {
    const std::size_t size = element.end - element.start;
    return size > budget && (element.elements > 1 || size > tail_bytes());
}

HwpError XmlRuns::Part::malformed(std::string_view why) const { return malformed_part(why, name); }

void XmlRuns::Part::fail(HwpError failure) {
    if (!error) error = std::move(failure);
}

const XmlExtent* XmlRuns::Part::large_at(std::size_t start) const noexcept {
    const auto found = std::ranges::lower_bound(large, start, {}, &XmlExtent::start);
    return found != large.end() && found->start == start ? &*found : nullptr;
}

bool XmlRuns::Part::index_large(std::size_t start) {
    const std::string_view text = xml();
    const std::size_t threshold = run_budget(kRunHalvings);
    std::vector<std::pair<std::size_t, std::size_t>> open;  // start, elements up to it
    std::size_t deeper = 0;  // open beyond kMaxIndexedNesting
    std::size_t elements = 0;
    for (std::size_t k = start; k < text.size(); k = text.find('<', k)) {
        const MarkupEnd markup = scan_markup(text, k);
        if (markup.kind == Markup::Unterminated) return false;
        if (markup.kind == Markup::Open || markup.kind == Markup::Empty) ++elements;
        if (markup.kind == Markup::Open) {
            if (open.size() < kMaxIndexedNesting) open.emplace_back(k, elements);
            else ++deeper;
        } else if (markup.kind == Markup::Close) {
            if (deeper > 0) {
                --deeper;
            } else {
                if (open.empty()) return false;
                const auto [from, before] = open.back();
                open.pop_back();
                if (markup.end - from > threshold) large.push_back({from, k, markup.end, elements - before + 1});
                if (open.empty()) break;
            }
        }
        k = markup.end;
    }
    if (!open.empty()) return false;
    std::ranges::sort(large, {}, &XmlExtent::start);
    const auto repeated = std::ranges::unique(large, {}, &XmlExtent::start);
    large.erase(repeated.begin(), repeated.end());
    return true;
}

namespace {

// One child node of an element in the part: text, markup or an element
// (large when indexed), and the elements it holds.
struct XmlChild {
    std::size_t begin;
    std::size_t end;
    std::size_t elements;
    const XmlExtent* large;
};

// Writes the skeleton of a large element: its tags; its first children up
// to the tail's bytes and then the run's budget, large ones among them as
// skeletons in turn; then, when children are left, a placeholder for them
// and the last ones that fit the tail's bytes. The placeholders are known
// by their place among the elements written.
class SkeletonWriter {
public:
    struct Placed {
        std::size_t ordinal;  // of the placeholder among the elements, in document order
        XmlHole hole;
    };

    SkeletonWriter(const XmlRuns::Part& part, std::string& out, std::size_t budget, unsigned level)
        : part_(part), xml_(part.xml()), out_(out), budget_(budget), level_(level) {}

    // False when a child is malformed.
    bool element(const XmlExtent& element, unsigned nesting) {
        ++skeletons_;
        const MarkupEnd start = scan_markup(xml_, element.start);
        out_.append(xml_.substr(element.start, start.end - element.start));
        ++elements_;
        std::size_t first = part_.tail_bytes();  // bytes of first children still copied whatever the budget
        std::size_t k = start.end;
        while (k < element.close) {
            const auto child = child_at(k, element.close);
            if (!child) return false;
            const std::size_t size = child->end - child->begin;
            if (size <= first) {
                copy(*child);
                first -= size;
            } else if (size <= budget_) {
                copy(*child);
                budget_ -= size;
            } else if (child->large != nullptr && nesting + 1 < kMaxSkeletonNesting && skeletons_ < kMaxSkeletons) {
                if (!this->element(*child->large, nesting + 1)) return false;
            } else {
                break;
            }
            k = child->end;
        }
        if (k < element.close && !rest(k, element.close, nesting)) return false;
        out_.append(xml_.substr(element.close, element.end - element.close));
        return true;
    }

    std::vector<Placed> placed;

private:
    // The children from begin to the element's end tag: the last ones that
    // fit the tail's bytes are copied, the others wait behind a placeholder.
    bool rest(std::size_t begin, std::size_t close, unsigned nesting) {
        const std::size_t tail_budget = part_.tail_bytes();
        std::deque<XmlChild> tail;
        std::size_t tail_size = 0;
        for (std::size_t k = begin; k < close;) {
            const auto child = child_at(k, close);
            if (!child) return false;
            const std::size_t size = child->end - child->begin;
            if (size > tail_budget) {
                tail.clear();
                tail_size = 0;
            } else {
                tail.push_back(*child);
                tail_size += size;
                while (tail_size > tail_budget) {
                    tail_size -= tail.front().end - tail.front().begin;
                    tail.pop_front();
                }
            }
            k = child->end;
        }
        const std::size_t end = tail.empty() ? close : tail.front().begin;
        if (end > begin) {
            placed.push_back({elements_, XmlHole{begin, end, level_ + nesting + 1}});
            out_ += '<';
            out_ += kPlaceholder;
            out_ += "/>";
            ++elements_;
        }
        for (const XmlChild& child : tail) copy(child);
        return true;
    }

    // The child node starting at at, before limit; none when malformed.
    std::optional<XmlChild> child_at(std::size_t at, std::size_t limit) const {
        if (xml_[at] != '<') return XmlChild{at, std::min(xml_.find('<', at), limit), 0, nullptr};
        if (const XmlExtent* large = part_.large_at(at)) return XmlChild{at, large->end, large->elements, large};
        const MarkupEnd first = scan_markup(xml_, at);
        if (first.kind == Markup::Unterminated || first.kind == Markup::Close || first.end > limit) return std::nullopt;
        if (first.kind != Markup::Open) return XmlChild{at, first.end, first.kind == Markup::Empty ? 1u : 0u, nullptr};
        std::size_t elements = 1;
        std::size_t k = first.end;
        for (int depth = 1; depth > 0;) {
            k = xml_.find('<', k);
            if (k >= limit) return std::nullopt;
            if (const XmlExtent* large = part_.large_at(k)) {
                elements += large->elements;
                k = large->end;
                continue;
            }
            const MarkupEnd markup = scan_markup(xml_, k);
            if (markup.kind == Markup::Unterminated) return std::nullopt;
            if (markup.kind == Markup::Open || markup.kind == Markup::Empty) ++elements;
            depth += markup.kind == Markup::Open ? 1 : markup.kind == Markup::Close ? -1 : 0;
            k = markup.end;
        }
        if (k > limit) return std::nullopt;
        return XmlChild{at, k, elements, nullptr};
    }

    void copy(const XmlChild& child) {
        out_.append(xml_.substr(child.begin, child.end - child.begin));
        elements_ += child.elements;
    }

    const XmlRuns::Part& part_;
    std::string_view xml_;
    std::string& out_;
    std::size_t budget_;       // bytes of first children still to copy
    unsigned level_;
    std::size_t elements_ = 0;   // elements written
    std::size_t skeletons_ = 0;  // of large elements among them
};

}  // namespace

// Parses runs of sibling nodes from the part: the root's children, or a
// skeleton's rest; a child larger than a run becomes a run of its own, its
// skeleton. Ordinary runs are parsed in place (each byte once: a rest is
// walked once); skeletons are copies.
class XmlRuns::Runs {
public:
    Runs(Part& part, std::size_t begin, std::size_t end, unsigned level, bool root)
        : part_(part), at_(begin), end_(end), level_(level), root_(root) {}
    Runs(const Runs&) = delete;
    Runs& operator=(const Runs&) = delete;
    ~Runs() { forget_placeholders(); }

    // The root parsed whole on the first call (a part not in UTF-8).
    void parse_whole_first() noexcept { whole_ = true; }
    void finish() noexcept { finished_ = true; }

    Result<pugi::xml_node> next() {
        forget_placeholders();
        document_.reset();
        if (pending_) return parse_skeleton();
        if (finished_) return pugi::xml_node();
        if (whole_) return parse_whole();
        const std::string_view xml = part_.xml();
        const std::size_t budget = part_.run_budget(level_);
        const bool indexed = !part_.large.empty();
        int depth = 0;
        std::size_t child = at_;
        for (std::size_t k = xml.find('<', at_); k < end_; k = xml.find('<', k)) {
            if (indexed && depth == 0) {
                if (const XmlExtent* large = part_.large_at(k)) {
                    if (part_.splits(*large, budget)) return skeleton_after_run(*large);
                    k = large->end;  // small enough: it goes whole
                    if (k - at_ >= budget) return parse_in_place(k, k, Ends::AtMarkup);
                    continue;
                }
            }
            const MarkupEnd markup = scan_markup(xml, k);
            if (markup.kind == Markup::Unterminated) break;
            if (markup.kind == Markup::Close && depth == 0) {
                finished_ = true;
                if (root_) return parse_in_place(k, markup.end, Ends::BeforeFreeByte);  // the root's end tag
                return std::unexpected(part_.malformed(kUnclosed));
            }
            if (depth == 0) child = k;
            depth += markup.kind == Markup::Open ? 1 : markup.kind == Markup::Close ? -1 : 0;
            k = markup.end;
            if (depth != 0) continue;
            if (markup.kind == Markup::Close && k - child > budget && part_.index_large(child)) {
                // A child larger than a run, now indexed: parsed on its own, as a skeleton.
                const XmlExtent* large = part_.large_at(child);
                if (large != nullptr && part_.splits(*large, budget)) return skeleton_after_run(*large);
            }
            if (k - at_ >= budget) return parse_in_place(k, k, Ends::AtMarkup);
        }
        finished_ = true;
        if (!root_) return parse_in_place(end_, end_, Ends::BeforeFreeByte);
        // The root is never closed: what is left parsed for pugixml's word
        // on it, else the mismatch it would have reported.
        auto rest = parse_in_place(xml.size(), xml.size(), Ends::AtMarkup);
        if (!rest) return rest;
        return std::unexpected(part_.malformed(kUnclosed));
    }

private:
    Result<pugi::xml_node> parse_whole() {
        finished_ = true;
        const pugi::xml_parse_result result = document_.load_buffer_inplace(
            part_.bytes.data(), part_.bytes.size(), kParseOptions, pugi::encoding_auto);
        if (!result) return std::unexpected(part_.malformed(result.description()));
        return document_.document_element();
    }

    // How a run's bytes end. Parsing in place gives up the last byte to a
    // terminator: pugixml reads a last '>' all the same, but would lose the
    // last character of text. A run that may end in text is parsed with the
    // byte after it as its terminator: one never read again (an end tag or a
    // large child, copied already, or what follows the root).
    enum class Ends : std::uint8_t { AtMarkup, BeforeFreeByte };

    // The nodes from at_ to end parsed as one fragment; the next run starts at next.
    Result<pugi::xml_node> parse_in_place(std::size_t end, std::size_t next, Ends ends) {
        if (end > at_) {
            std::size_t size = end - at_;
            if (ends == Ends::BeforeFreeByte && end < part_.bytes.size()) {
                part_.bytes.data()[end] = '\0';
                ++size;
            }
            const pugi::xml_parse_result result = document_.load_buffer_inplace(
                part_.bytes.data() + at_, size, kParseOptions | pugi::parse_fragment, pugi::encoding_utf8);
            if (!result) return std::unexpected(part_.malformed(result.description()));
        }
        at_ = next;
        return pugi::xml_node(document_);
    }

    // The large child's skeleton written, then the run before it, if any,
    // returned; the skeleton is parsed now or on the next call.
    Result<pugi::xml_node> skeleton_after_run(const XmlExtent& element) {
        skeleton_.clear();
        SkeletonWriter writer(part_, skeleton_, part_.run_budget(level_ + 1), level_);
        if (!writer.element(element, 0)) return std::unexpected(part_.malformed(kUnclosed));
        pending_ = PendingSkeleton{std::move(writer.placed), element.end};
        if (element.start > at_) return parse_in_place(element.start, element.start, Ends::BeforeFreeByte);
        return parse_skeleton();
    }

    Result<pugi::xml_node> parse_skeleton() {
        const PendingSkeleton skeleton = std::move(*pending_);
        pending_.reset();
        at_ = skeleton.end;
        const pugi::xml_parse_result result = document_.load_buffer_inplace(
            skeleton_.data(), skeleton_.size(), kParseOptions | pugi::parse_fragment, pugi::encoding_utf8);
        if (!result) return std::unexpected(part_.malformed(result.description()));
        if (!place_holes(skeleton.placed)) return std::unexpected(part_.malformed(kUnclosed));
        return pugi::xml_node(document_);
    }

    // Finds the placeholders among the skeleton's elements, in document
    // order, and records their rests; false when one is not where it was written.
    bool place_holes(const std::vector<SkeletonWriter::Placed>& placed) {
        std::size_t ordinal = 0;
        auto wanted = placed.begin();
        for (pugi::xml_node node = document_.first_child(); node && wanted != placed.end();) {
            if (node.type() == pugi::node_element) {
                if (ordinal == wanted->ordinal) {
                    if (std::strcmp(node.name(), kPlaceholder) != 0) return false;
                    part_.holes.emplace(node.internal_object(), wanted->hole);
                    placeholders_.push_back(node.internal_object());
                    ++wanted;
                }
                ++ordinal;
            }
            if (pugi::xml_node first = node.first_child()) {
                node = first;
                continue;
            }
            while (node && !node.next_sibling()) node = node.parent();
            if (node) node = node.next_sibling();
        }
        return wanted == placed.end();
    }

    void forget_placeholders() noexcept {
        for (const void* placeholder : placeholders_) part_.holes.erase(placeholder);
        placeholders_.clear();
    }

    Part& part_;
    std::size_t at_;   // where the next run starts
    std::size_t end_;  // where the runs end
    unsigned level_;   // skeletons deep
    bool root_;        // the root's children, ended by its end tag
    bool whole_ = false;
    bool finished_ = false;
    // A skeleton written and not yet parsed: its placeholders, and where the element ends.
    struct PendingSkeleton {
        std::vector<SkeletonWriter::Placed> placed;
        std::size_t end;
    };
    std::optional<PendingSkeleton> pending_;
    std::string skeleton_;  // a skeleton's bytes: declared before the nodes pointing into them
    pugi::xml_document document_;
    std::vector<const void*> placeholders_;  // this run's, recorded in the part
};

XmlRuns::XmlRuns(std::unique_ptr<Part> part) : part_(std::move(part)) {}
XmlRuns::XmlRuns(XmlRuns&&) noexcept = default;
XmlRuns::~XmlRuns() = default;

void XmlChildren::RunsDeleter::operator()(XmlRuns::Runs* runs) const noexcept { delete runs; }

Result<XmlRuns> XmlRuns::open(ByteBuffer bytes, std::string_view name) {
    auto part = std::make_unique<Part>();
    part->bytes = std::move(bytes);
    part->name = name;
    part->run_bytes = g_run_bytes.load(std::memory_order_relaxed);
    XmlRuns runs(std::move(part));
    Part& shared = *runs.part_;
    if (needs_transcoding(shared.bytes)) {
        runs.runs_ = std::make_unique<Runs>(shared, 0, shared.bytes.size(), 0, true);
        runs.runs_->parse_whole_first();
        auto root = runs.runs_->next();
        if (!root) return std::unexpected(std::move(root.error()));
        runs.root_name_ = local_name(*root);
        runs.whole_root_ = *root;
        return runs;
    }
    const std::string_view xml = shared.xml();
    for (std::size_t k = xml.find('<'); k != std::string_view::npos; k = xml.find('<', k)) {
        const MarkupEnd markup = scan_markup(xml, k);
        if (markup.kind == Markup::Open || markup.kind == Markup::Empty) {
            runs.root_name_ = local_tag_name(xml.substr(k, markup.end - k));
            runs.runs_ = std::make_unique<Runs>(shared, markup.end, xml.size(), 0, true);
            if (markup.kind == Markup::Empty) runs.runs_->finish();
            return runs;
        }
        if (markup.kind != Markup::Other) break;
        k = markup.end;
    }
    return std::unexpected(shared.malformed("No document element found"));
}

std::string_view XmlRuns::root_name() const noexcept { return root_name_; }

Result<pugi::xml_node> XmlRuns::next() {
    if (part_->error) return std::unexpected(*part_->error);
    if (whole_root_) return std::exchange(whole_root_, pugi::xml_node());
    auto run = runs_->next();
    if (run && !*run && part_->error) return std::unexpected(*part_->error);
    return run;
}

pugi::xml_node XmlChildren::next_or_rest() {
    for (;;) {
        if (rest_) {
            if (const pugi::xml_node node = rest_next_) {
                rest_next_ = node.next_sibling();
                return node;
            }
            auto run = rest_->next();
            if (run && *run) {
                rest_next_ = run->first_child();
                continue;
            }
            if (!run) part_->fail(std::move(run.error()));
            rest_.reset();
            continue;
        }
        const pugi::xml_node node = next_;
        if (!node) return node;
        next_ = node.next_sibling();
        if (part_->holes.empty() || node.type() != pugi::node_element || std::strcmp(node.name(), kPlaceholder) != 0) {
            return node;
        }
        const auto hole = part_->holes.find(node.internal_object());
        if (hole == part_->holes.end()) return node;  // walked already, or the document's own
        const XmlHole rest = hole->second;
        part_->holes.erase(hole);
        if (!part_->error) rest_.reset(new XmlRuns::Runs(*part_, rest.begin, rest.end, rest.level, false));
    }
}

std::size_t set_xml_run_bytes(std::size_t bytes) noexcept {
    return g_run_bytes.exchange(std::max<std::size_t>(bytes, 1), std::memory_order_relaxed);
}

}  // namespace marlune
