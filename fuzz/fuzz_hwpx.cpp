// A whole HWPX package (zip bytes) through the faithful conversion, with
// every option that reaches more of the reader turned on; its output checked.
#include <cstddef>
#include <cstdint>
#include <span>

#include "marlune/faithful.hpp"
#include "output_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    marlune::ConvertOptions options;
    options.headers = true;
    options.collect_images = true;
    auto converted = marlune::convert_bytes(std::span<const std::uint8_t>(data, size), options);
    if (!converted) {
        (void)marlune::display_text(converted.error());
    } else {
        marlune::fuzz::check_output(*converted);
    }
    return 0;
}
