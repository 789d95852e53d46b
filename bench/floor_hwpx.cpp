// The least work any converter must do on an HWPX package: read the file,
// its zip directory, and inflate every section part (Contents/section<N>.xml)
// with the same zip reader the module uses. Prints, per file given on the
// command line: best time in nanoseconds over the repeats, inflated bytes.
//   marlune_floor_hwpx REPEATS FILE...
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "best_time.hpp"
#include "container/zip_archive.hpp"
#include "hwp/document.hpp"

namespace {

// The inflated bytes of all section parts, or -1 when the package does not open.
std::int64_t inflate_sections(const char* path) {
    auto bytes = marlune::read_file(path);
    if (!bytes) return -1;
    auto zip = marlune::ZipArchive::open(*bytes);
    if (!zip) return -1;
    std::int64_t total = 0;
    for (const marlune::ZipEntry& entry : zip->entries()) {
        if (!entry.name.starts_with("Contents/section")) continue;
        auto data = zip->read(entry);
        if (data) total += std::int64_t(data->size());
    }
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
        std::int64_t inflated = 0;
        const std::int64_t best = best_nanoseconds(repeats, [&] { inflated = inflate_sections(argv[k]); });
        std::printf("%lld %lld\n", static_cast<long long>(best), static_cast<long long>(inflated));
    }
    return 0;
}
