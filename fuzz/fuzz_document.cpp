// A whole document (compound file bytes) to Markdown.
#include <cstddef>
#include <cstdint>
#include <span>

#include "marlune/markdown.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto markdown = marlune::hwp_bytes_to_markdown(std::span<const std::uint8_t>(data, size));
    if (!markdown) (void)marlune::display_text(markdown.error());
    return 0;
}
