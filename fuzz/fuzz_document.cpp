// A whole document (compound file bytes) through both conversions: the exact
// one, and the faithful one with every option that reaches more of the
// reader (headers, pictures' bytes, summary properties) turned on, its
// output checked. The faithful conversion runs again with every compressed
// section walked as it inflates (the path of large sections), which must
// give the same outcome to the byte.
#include <cstddef>
#include <cstdint>
#include <span>

#include "marlune/faithful.hpp"
#include "output_checks.hpp"
#include "marlune/markdown.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    auto markdown = marlune::hwp_bytes_to_markdown(bytes);
    if (!markdown) (void)marlune::display_text(markdown.error());
    marlune::ConvertOptions options;
    options.headers = true;
    options.collect_images = true;
    auto converted = marlune::convert_bytes(bytes, options);
    if (!converted) {
        (void)marlune::display_text(converted.error());
    } else {
        marlune::fuzz::check_output(*converted);
    }
    const std::size_t usual = marlune::set_streamed_section_bytes(0);
    auto streamed = marlune::convert_bytes(bytes, options);
    marlune::set_streamed_section_bytes(usual);
    if (converted.has_value() != streamed.has_value()) __builtin_trap();
    if (converted && converted->markdown != streamed->markdown) __builtin_trap();
    if (!converted && marlune::display_text(converted.error()) != marlune::display_text(streamed.error())) {
        __builtin_trap();
    }
    return 0;
}
