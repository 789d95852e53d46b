// A record stream through the section walk and the renderer.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "container/utf8.hpp"
#include "marlune/markdown.hpp"
#include "marlune/records.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto records = marlune::parse_records(std::span<const std::uint8_t>(data, size));
    std::vector<marlune::Block> blocks;
    marlune::convert_section(records, blocks);
    const auto markdown = marlune::render_blocks(blocks);
    if (marlune::trim_end(markdown).size() != markdown.size()) __builtin_trap();
    return 0;
}
