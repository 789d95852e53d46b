// Picture names a caller can use as file names. A name taken from a document
// (a binary item's stream name, a package entry's path) is data: it may hold
// folders, "..", control characters, any length, or nothing at all. Every
// name given out is one safe file name, unique within its document.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "marlune/tree.hpp"

namespace marlune {

// The longest name given out, in bytes of UTF-8.
inline constexpr std::size_t kLongestPictureName = 100;

// The stored name as one file name, not yet made unique: its last path
// component ('/' or '\\' ends a folder), with control characters dropped,
// ill-formed UTF-8 bytes as '_', leading and trailing dots and spaces
// trimmed; longer than kLongestPictureName bytes, shortened with a hash of
// the stored name kept before the extension; with nothing left,
// "image-<number>" and the extension if one survived.
std::string safe_picture_name(std::string_view stored, std::uint32_t number);

// Gives each stored name its safe name, the same for the same stored name,
// a different one for different stored names ("-2", "-3", ... before the
// extension; compared ignoring ASCII case, as some file systems do).
class PictureNamer {
public:
    const std::string& name(std::string_view stored);

private:
    std::unordered_map<std::string, std::string> given_;  // stored name -> safe name
    std::unordered_set<std::string> taken_;               // safe names, ASCII lower case
};

// Every picture's name in the tree (body, notes, headers, footers, in that
// order) and in the collected items replaced by its safe name: links and
// items agree, whether or not the items were collected.
void name_pictures(tree::Document& document);

}  // namespace marlune
