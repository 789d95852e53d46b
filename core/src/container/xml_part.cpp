// Parsing a package part with pugixml, in place, into an XmlPart.
#include "container/xml_part.hpp"

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

}  // namespace

Result<std::unique_ptr<XmlPart>> XmlPart::parse(ByteBuffer bytes, std::string_view name) {
    auto part = std::make_unique<XmlPart>();
    part->bytes_ = std::move(bytes);
    const pugi::xml_parse_result result = part->document_.load_buffer_inplace(
        part->bytes_.data(), part->bytes_.size(), kParseOptions, pugi::encoding_auto);
    if (!result) {
        return std::unexpected(HwpError::parse("malformed XML (" + std::string(result.description()) + ") in " +
                                               repair_utf8(name.substr(0, kQuotedNameBytes))));
    }
    return part;
}

}  // namespace marlune
