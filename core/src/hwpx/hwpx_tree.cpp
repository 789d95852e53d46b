// The HWPX reader (to be built): refuses every package for now.
#include "hwpx_tree.hpp"

#include <cstring>

namespace marlune {

bool looks_like_zip(std::span<const std::uint8_t> bytes) noexcept {
    static constexpr std::uint8_t kLocalHeader[4] = {'P', 'K', 3, 4};
    return bytes.size() >= sizeof kLocalHeader && std::memcmp(bytes.data(), kLocalHeader, sizeof kLocalHeader) == 0;
}

Result<tree::Document> build_hwpx_tree(std::span<const std::uint8_t>, const ConvertOptions&) {
    return std::unexpected(HwpError::parse("HWPX documents are not supported yet"));
}

}  // namespace marlune
