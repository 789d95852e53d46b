// Converts every file given, once each, through the core alone: for counting
// instructions under callgrind (the conversion is in convert_one, which
// --toggle-collect can single out) and for comparing outputs before and
// after a change.
//   marlune_convert_each exact|faithful|headers OUTDIR|- FILE...
// exact is hwp_to_markdown, faithful is convert_file with the default
// options, headers the same with headers, footers and master pages. With
// an OUTDIR, the Markdown of the k-th file is written to OUTDIR/k.md (a
// failure as its error text to OUTDIR/k.err).
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "marlune/faithful.hpp"
#include "marlune/markdown.hpp"

namespace {

// One conversion: the Markdown, or the error's text after a 0x01 byte.
[[gnu::noinline]] std::string convert_one(const char* path, bool exact, const marlune::ConvertOptions& options) {
    if (exact) {
        auto markdown = marlune::hwp_to_markdown(path);
        return markdown ? std::move(*markdown) : "\x01" + marlune::display_text(markdown.error());
    }
    auto converted = marlune::convert_file(path, options);
    return converted ? std::move(converted->markdown) : "\x01" + marlune::display_text(converted.error());
}

void write_file(const std::string& path, std::string_view text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc < 3 ? "" : argv[1];
    if (mode != "exact" && mode != "faithful" && mode != "headers") {
        std::fprintf(stderr, "usage: %s exact|faithful|headers OUTDIR|- FILE...\n", argv[0]);
        return 2;
    }
    const bool exact = mode == "exact";
    marlune::ConvertOptions options;
    options.headers = mode == "headers";
    const std::string out = argv[2];
    for (int k = 3; k < argc; ++k) {
        const std::string result = convert_one(argv[k], exact, options);
        if (out == "-") continue;
        const bool failed = !result.empty() && result[0] == '\x01';
        write_file(out + "/" + std::to_string(k - 3) + (failed ? ".err" : ".md"),
                   failed ? std::string_view(result).substr(1) : std::string_view(result));
    }
    return 0;
}
