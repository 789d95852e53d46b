// The nodes of an XML part as text, for comparing how parts are read: every
// node depth first, elements with their attributes, text in brackets, and
// children through XmlChildren, which reads skeletons' rests.
#pragma once

#include <string>

#include "container/xml_part.hpp"

namespace marlune::test_support {

inline void append_nodes(pugi::xml_node node, XmlRuns* runs, std::string& out, int depth = 0) {
    if (depth > 200) return;
    for (XmlChildren children(runs, node); const pugi::xml_node child = children.next();) {
        if (child.type() != pugi::node_element) {
            out += '[';
            out += child.value();
            out += ']';
            continue;
        }
        out += '<';
        out += child.name();
        for (const pugi::xml_attribute attribute : child.attributes()) {
            out += ' ';
            out += attribute.name();
            out += '=';
            out += attribute.value();
        }
        out += '>';
        append_nodes(child, runs, out, depth + 1);
        out += "</>";
    }
}

}  // namespace marlune::test_support
