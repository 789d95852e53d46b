// One XML part of a package: its inflated bytes and the pugixml document
// parsed inside them. Elements are matched by local name, whatever prefix a
// writer bound to the namespace.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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
// and about a run's nodes, not a DOM of the whole (several times its size
// when it holds many small elements). A run ends after whole children once
// it holds a run's bytes or more.
//
// A child larger than a run (a paragraph holding a table of a hundred
// thousand rows) is parsed as a skeleton: its start and end tags, its first
// children, its last few small ones, and between them a placeholder for the
// rest. Skeletons nest: a large child among the first children is itself a
// skeleton. XmlChildren, given the run's parser, walks a node's children
// with the placeholders' children parsed a run at a time as they are
// reached, so a walk sees every child once, in order. Lookups by name
// (child_named) see the skeleton only: the first and last children, where
// an element's properties stand.
//
// A part not in UTF-8 (a byte order mark or NULs up front) is parsed whole,
// as one run.
// An element larger than the smallest run: where its start tag and its end
// tag begin, where it ends, and how many elements it holds (itself
// included), in the order of their start tags.
struct XmlExtent {
    std::size_t start;
    std::size_t close;
    std::size_t end;
    std::size_t elements;
};

// A skeleton's rest: children in [begin, end), at that many skeletons deep.
struct XmlHole {
    std::size_t begin;
    std::size_t end;
    unsigned level;
};

class XmlRuns {
public:
    static constexpr std::size_t kRunBytes = std::size_t{1} << 20;

    // The part's bytes, scanned up to its root's start tag.
    static Result<XmlRuns> open(ByteBuffer bytes, std::string_view name);

    XmlRuns(XmlRuns&&) noexcept;
    ~XmlRuns();

    // The root element's name without its namespace prefix.
    std::string_view root_name() const noexcept;

    // The next run parsed: a node whose children are the root's children
    // in it; an empty node once there are no more; a parse error naming the
    // part when the run is malformed, the root is never closed, or a
    // skeleton's rest walked since the last call was malformed.
    Result<pugi::xml_node> next();

    class Runs;

    // What the parsers of one part share: its bytes, the large elements
    // found in it, the placeholders of the skeletons alive, and the first
    // error met where it could not be returned.
    struct Part {
        ByteBuffer bytes;
        std::string name;
        std::size_t run_bytes = kRunBytes;
        std::vector<XmlExtent> large;  // by start
        std::unordered_map<const void*, XmlHole> holes;
        std::optional<HwpError> error;

        std::string_view xml() const noexcept;
        std::size_t run_budget(unsigned level) const noexcept;  // runs nested that many skeletons deep
        std::size_t tail_bytes() const noexcept;
        // Whether the element is parsed as a skeleton when over budget: not
        // when it holds only text and no more than the tail's bytes.
        bool splits(const XmlExtent& element, std::size_t budget) const noexcept;
        HwpError malformed(std::string_view why) const;
        void fail(HwpError failure);
        const XmlExtent* large_at(std::size_t start) const noexcept;
        // Indexes the elements larger than the smallest run within the
        // element starting at start; false when it is never closed.
        bool index_large(std::size_t start);
    };

private:
    friend class XmlChildren;
    explicit XmlRuns(std::unique_ptr<Part> part);

    // The parser refers to the part: declared after it, so released first.
    std::unique_ptr<Part> part_;
    std::unique_ptr<Runs> runs_;  // the root's children
    std::string root_name_;
    pugi::xml_node whole_root_;  // a part parsed whole: its root, until returned
};

// The children of a node, in order, a skeleton's rest parsed a run at a
// time where it stands. Nodes it returns stay valid until the next call.
// Each rest is walked once: a second walk of the same node skips it.
class XmlChildren {
public:
    // runs: the parser the node's run came from; null for a part parsed
    // whole. A parent's placeholders are recorded when its run is parsed,
    // before its children are walked; a rest's runs hold none of their own.
    XmlChildren(XmlRuns* runs, pugi::xml_node parent) noexcept
        : part_(runs == nullptr ? nullptr : runs->part_.get()),
          placeholders_(part_ != nullptr && !part_->holes.empty()),
          next_(parent.first_child()) {}
    XmlChildren(const XmlChildren&) = delete;
    XmlChildren& operator=(const XmlChildren&) = delete;
    ~XmlChildren() = default;

    // The next child node of any type; an empty node after the last.
    pugi::xml_node next() {
        if (rest_ == nullptr && !placeholders_) {  // the parent's own children, none a placeholder
            const pugi::xml_node node = next_;
            next_ = node.next_sibling();
            return node;
        }
        return next_or_rest();
    }

private:
    pugi::xml_node next_or_rest();

    // Releases a rest's parser where XmlRuns::Runs is complete.
    struct RunsDeleter {
        void operator()(XmlRuns::Runs* runs) const noexcept;
    };

    XmlRuns::Part* part_;
    bool placeholders_;     // placeholders were alive when the walk began
    pugi::xml_node next_;   // the next of the parent's own children
    std::unique_ptr<XmlRuns::Runs, RunsDeleter> rest_;  // a placeholder's children, being read
    pugi::xml_node rest_next_;  // the next child of the rest's current run
};

// For tests: the bytes of a run (and so the size from which an element is
// parsed as a skeleton); returns the size it replaces.
std::size_t set_xml_run_bytes(std::size_t bytes) noexcept;

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
