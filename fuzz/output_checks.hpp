// What no faithful conversion may give back, checked on every fuzz input: a
// C0 control character (other than tab and line feed) in the Markdown or a
// property string, or a picture name that is not one safe file name, unique
// in its document. A fault stops the run as a crash does.
#pragma once

#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "marlune/faithful.hpp"

namespace marlune::fuzz {

inline bool has_control(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') return true;
    }
    return false;
}

inline bool is_safe_name(std::string_view name) {
    return !name.empty() && name.size() <= 100 && name.front() != '.' && name.find_first_of("/\\") == name.npos &&
           !has_control(name) && name.find('\x7F') == name.npos;
}

inline void check_output(const ConvertedDocument& converted) {
    if (has_control(converted.markdown)) std::abort();
    const tree::Metadata& metadata = converted.metadata;
    for (const auto* text : {&metadata.title, &metadata.subject, &metadata.author, &metadata.keywords,
                             &metadata.comments, &metadata.last_saved_by}) {
        if (*text && has_control(**text)) std::abort();
    }
    std::set<std::string> names;
    for (const tree::BinaryItem& item : converted.images) {
        std::string lower(item.name);
        for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (!is_safe_name(item.name) || !names.insert(lower).second) std::abort();
    }
}

}  // namespace marlune::fuzz
