// The extra information blocks after an HWP 3.0 body's paragraph list:
// embedded pictures and the hypertexts' link targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace marlune::hwp3 {

// A picture stored in the file: the name pictures refer to it by, and its
// bytes (a view into the body).
struct EmbeddedPicture {
    std::string_view name;
    std::span<const std::uint8_t> data;
};

struct ExtraBlocks {
    std::vector<EmbeddedPicture> pictures;  // in stored order
    std::vector<std::string> hyperlinks;    // targets, in the order of the hypertexts
    std::uint32_t unmapped = 0;             // characters of targets with no Unicode
};

// The blocks from offset to the closing empty block or the body's end;
// a block longer than what is left ends the list.
ExtraBlocks read_extra_blocks(std::span<const std::uint8_t> body, std::size_t offset);

}  // namespace marlune::hwp3
