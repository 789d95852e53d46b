// One XML part of a package: its inflated bytes and the pugixml document
// parsed inside them. Elements are matched by local name, whatever prefix a
// writer bound to the namespace.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "container/byte_buffer.hpp"
#include "marlune/error.hpp"

namespace marlune {

class XmlPart {
public:
    // Parses bytes in place (text whitespace kept, no DOCTYPE, so no entity
    // is ever declared or expanded); a malformed part is a parse error
    // naming it.
    static Result<std::unique_ptr<XmlPart>> parse(ByteBuffer bytes, std::string_view name);

    pugi::xml_node root() const noexcept { return document_.document_element(); }

private:
    // The document's nodes point into the bytes: declared first, so released last.
    ByteBuffer bytes_;
    pugi::xml_document document_;
};

// A large part read a run of its root's children at a time: the DOM of a
// run is released before the next is parsed, so the part costs its bytes
// and one run's nodes, not a DOM of the whole (several times its size when
// it holds many small elements). A run ends after whole children once it
// holds kRunBytes or more; a child larger than that is one run. A part not
// in UTF-8 (a byte order mark or NULs up front) is parsed whole, as one run.
class XmlRuns {
public:
    static constexpr std::size_t kRunBytes = std::size_t{1} << 20;

    // The part's bytes, scanned up to its root's start tag.
    static Result<XmlRuns> open(ByteBuffer bytes, std::string_view name);

    // The root element's name without its namespace prefix.
    std::string_view root_name() const noexcept;

    // The next run parsed: a node whose children are the root's children
    // in it; an empty node once there are no more; a parse error naming the
    // part when the run is malformed or the root is never closed.
    Result<pugi::xml_node> next();

private:
    XmlRuns(ByteBuffer bytes, std::string_view name);
    Result<pugi::xml_node> parse_whole();
    Result<pugi::xml_node> parse_run(std::size_t end, std::size_t next);
    HwpError malformed(std::string_view why) const;

    ByteBuffer bytes_;
    std::string name_;
    std::string root_name_;
    std::unique_ptr<pugi::xml_document> document_;
    std::size_t at_ = 0;      // where the next run starts
    bool whole_ = false;      // not UTF-8: parsed whole on the first call
    bool finished_ = false;
};

// The element's name without its namespace prefix.
inline std::string_view local_name(pugi::xml_node node) noexcept {
    const std::string_view name = node.name();
    const std::size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The first child element of that local name, or an empty node.
inline pugi::xml_node child_named(pugi::xml_node node, std::string_view name) noexcept {
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element && local_name(child) == name) return child;
    }
    return {};
}

}  // namespace marlune
