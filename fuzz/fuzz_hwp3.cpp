// The HWP 3.0 reader. An input starting with 'H' is a whole file (the
// shared samples seed this form); any other input is an uncompressed body
// behind a valid header, so mutations reach the paragraph lists instead of
// the signature and the inflater.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "hwp3/hwp3_tree.hpp"

namespace {

constexpr std::uint8_t SIGNATURE[] = "HWP Document File V3.00 \x1a\x01\x02\x03\x04\x05";
constexpr std::size_t SIGNATURE_BYTES = 30;
constexpr std::size_t HEADER_BYTES = 30 + 128 + 1008;  // signature, document information, summary

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    marlune::ConvertOptions options;
    options.headers = true;
    options.collect_images = true;
    const std::span<const std::uint8_t> input(data, size);
    if (!input.empty() && input[0] == 'H') {
        (void)marlune::build_hwp3_tree(input, options);
        return 0;
    }
    std::vector<std::uint8_t> file(HEADER_BYTES, 0);
    std::copy(SIGNATURE, SIGNATURE + SIGNATURE_BYTES, file.begin());
    file.insert(file.end(), input.begin(), input.end());
    (void)marlune::build_hwp3_tree(file, options);
    return 0;
}
