// The least work any converter must do on a document: open the container,
// read the file header and read and inflate every body-text section, with the
// same libgsf and zlib calls the module makes. Prints, per file given on the
// command line: best time in nanoseconds over the repeats, inflated bytes.
//   marlune_floor REPEATS FILE...
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <span>

#include "marlune/document.hpp"

namespace {

// Returns the inflated bytes of all readable sections, or -1 when the
// document does not open.
std::int64_t read_all_sections(const char* path) {
    auto document = marlune::open_document(path);
    if (!document) return -1;
    auto compressed = marlune::read_file_header(*document);
    if (!compressed) return -1;
    std::int64_t total = 0;
    marlune::for_each_section(*document, *compressed,
                              [&total](const marlune::ByteBuffer& data) { total += std::int64_t(data.size()); });
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s REPEATS FILE...\n", argv[0]);
        return 2;
    }
    const int repeats = std::atoi(argv[1]);
    for (int k = 2; k < argc; ++k) {
        std::int64_t best = std::numeric_limits<std::int64_t>::max();
        std::int64_t inflated = 0;
        for (int r = 0; r < repeats; ++r) {
            const auto start = std::chrono::steady_clock::now();
            inflated = read_all_sections(argv[k]);
            const auto elapsed = std::chrono::steady_clock::now() - start;
            best = std::min<std::int64_t>(best, std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
        }
        std::printf("%lld %lld\n", static_cast<long long>(best), static_cast<long long>(inflated));
    }
    return 0;
}
