// Parsing a package part with pugixml, in place: whole into an XmlPart, or
// a run of the root's children at a time through XmlRuns.
#include "container/xml_part.hpp"

#include <algorithm>
#include <cstring>
#include <span>
#include <string>

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

}  // namespace

Result<std::unique_ptr<XmlPart>> XmlPart::parse(ByteBuffer bytes, std::string_view name) {
    auto part = std::make_unique<XmlPart>();
    part->bytes_ = std::move(bytes);
    const pugi::xml_parse_result result = part->document_.load_buffer_inplace(
        part->bytes_.data(), part->bytes_.size(), kParseOptions, pugi::encoding_auto);
    if (!result) return std::unexpected(malformed_part(result.description(), name));
    return part;
}

XmlRuns::XmlRuns(ByteBuffer bytes, std::string_view name)
    : bytes_(std::move(bytes)), name_(name), document_(std::make_unique<pugi::xml_document>()) {}

Result<XmlRuns> XmlRuns::open(ByteBuffer bytes, std::string_view name) {
    XmlRuns runs(std::move(bytes), name);
    if (needs_transcoding(runs.bytes_)) {
        runs.whole_ = true;
        auto root = runs.parse_whole();
        if (!root) return std::unexpected(std::move(root.error()));
        runs.root_name_ = local_name(*root);
        return runs;
    }
    const std::string_view xml(reinterpret_cast<const char*>(runs.bytes_.data()), runs.bytes_.size());
    for (std::size_t k = xml.find('<'); k != std::string_view::npos; k = xml.find('<', k)) {
        const MarkupEnd markup = scan_markup(xml, k);
        if (markup.kind == Markup::Open || markup.kind == Markup::Empty) {
            runs.root_name_ = local_tag_name(xml.substr(k, markup.end - k));
            runs.at_ = markup.end;
            runs.finished_ = markup.kind == Markup::Empty;
            return runs;
        }
        if (markup.kind != Markup::Other) break;
        k = markup.end;
    }
    return std::unexpected(runs.malformed("No document element found"));
}

std::string_view XmlRuns::root_name() const noexcept { return root_name_; }

HwpError XmlRuns::malformed(std::string_view why) const { return malformed_part(why, name_); }

Result<pugi::xml_node> XmlRuns::parse_whole() {
    const pugi::xml_parse_result result =
        document_->load_buffer_inplace(bytes_.data(), bytes_.size(), kParseOptions, pugi::encoding_auto);
    if (!result) return std::unexpected(malformed(result.description()));
    return document_->document_element();
}

// The children from at_ to end parsed as one fragment; the next run starts at next.
Result<pugi::xml_node> XmlRuns::parse_run(std::size_t end, std::size_t next) {
    document_->reset();
    if (end > at_) {
        const pugi::xml_parse_result result = document_->load_buffer_inplace(
            bytes_.data() + at_, end - at_, kParseOptions | pugi::parse_fragment, pugi::encoding_utf8);
        if (!result) return std::unexpected(malformed(result.description()));
    }
    at_ = next;
    return pugi::xml_node(*document_);
}

Result<pugi::xml_node> XmlRuns::next() {
    if (finished_) {
        document_->reset();
        return pugi::xml_node();
    }
    if (whole_) {
        finished_ = true;
        return document_->document_element();
    }
    const std::string_view xml(reinterpret_cast<const char*>(bytes_.data()), bytes_.size());
    int depth = 0;
    for (std::size_t k = xml.find('<', at_); k != std::string_view::npos; k = xml.find('<', k)) {
        const MarkupEnd markup = scan_markup(xml, k);
        if (markup.kind == Markup::Unterminated) break;
        if (markup.kind == Markup::Close && depth == 0) {
            finished_ = true;  // the root's end tag
            return parse_run(k, markup.end);
        }
        depth += markup.kind == Markup::Open ? 1 : markup.kind == Markup::Close ? -1 : 0;
        k = markup.end;
        if (depth == 0 && k - at_ >= kRunBytes) return parse_run(k, k);
    }
    // The root is never closed: what is left parsed for pugixml's word on
    // it, else the mismatch it would have reported.
    finished_ = true;
    auto rest = parse_run(xml.size(), xml.size());
    if (!rest) return rest;
    return std::unexpected(malformed(kUnclosed));
}

}  // namespace marlune
