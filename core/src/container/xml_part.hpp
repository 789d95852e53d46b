// One XML part of a package: its inflated bytes and the pugixml document
// parsed inside them. Elements are matched by local name, whatever prefix a
// writer bound to the namespace.
#pragma once

#include <memory>
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
