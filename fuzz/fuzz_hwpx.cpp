// A whole HWPX package (zip bytes) through the faithful conversion, with
// every option that reaches more of the reader turned on; its output
// checked. It runs again with sections parsed in tiny runs, so that every
// element larger than a few bytes is a skeleton whose rest is parsed as it
// is walked; that output is checked too.
#include <cstddef>
#include <cstdint>
#include <span>

#include "marlune/faithful.hpp"
#include "output_checks.hpp"

namespace {

void convert_and_check(std::span<const std::uint8_t> bytes, const marlune::ConvertOptions& options) {
    auto converted = marlune::convert_bytes(bytes, options);
    if (!converted) {
        (void)marlune::display_text(converted.error());
    } else {
        marlune::fuzz::check_output(*converted);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    marlune::ConvertOptions options;
    options.headers = true;
    options.collect_images = true;
    convert_and_check(bytes, options);
    const std::size_t usual = marlune::set_hwpx_run_bytes(48);
    convert_and_check(bytes, options);
    marlune::set_hwpx_run_bytes(usual);
    return 0;
}
