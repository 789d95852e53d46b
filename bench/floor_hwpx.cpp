// The least work any converter must do on an HWPX package: read the file,
// its zip directory, and inflate every section part (Contents/section<N>.xml)
// into a buffer of its declared size, checking its CRC-32: once with zlib,
// once with libdeflate. Prints, per file given on the command line: best
// zlib time in nanoseconds over the repeats, inflated bytes, best libdeflate
// time, then the best zlib time with the header part inflated too.
//   marlune_floor_hwpx REPEATS FILE...
#include <libdeflate.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "best_time.hpp"
#include "container/zip_archive.hpp"
#include "hwp/document.hpp"

namespace {

std::size_t zlib_inflate(std::span<const std::uint8_t> stored, marlune::ByteBuffer& out, std::uint32_t crc) {
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return 0;
    z.next_in = const_cast<Bytef*>(stored.data());
    z.avail_in = static_cast<uInt>(stored.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    inflate(&z, Z_FINISH);
    const std::size_t produced = z.total_out;
    inflateEnd(&z);
    return crc32_z(0, out.data(), produced) == crc ? produced : 0;
}

std::size_t libdeflate_inflate(std::span<const std::uint8_t> stored, marlune::ByteBuffer& out, std::uint32_t crc) {
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    std::size_t produced = 0;
    libdeflate_deflate_decompress(decompressor, stored.data(), stored.size(), out.data(), out.size(), &produced);
    libdeflate_free_decompressor(decompressor);
    return libdeflate_crc32(0, out.data(), produced) == crc ? produced : 0;
}

// Whether a part is a section ("Contents/section0.xml"), or, with the
// header, also the header part, which a conversion reads for its headings,
// lists and emphasis.
bool in_floor(std::string_view name, bool with_header) {
    return name.starts_with("Contents/section") || (with_header && name == "Contents/header.xml");
}

// The inflated bytes of all section parts (and the header part when asked),
// or -1 when the package does not open.
template <class Inflate>
std::int64_t inflate_sections(const char* path, Inflate inflate_entry, bool with_header = false) {
    auto bytes = marlune::read_file(path);
    if (!bytes) return -1;
    auto zip = marlune::ZipArchive::open(*bytes);
    if (!zip) return -1;
    std::int64_t total = 0;
    for (const marlune::ZipEntry& entry : zip->entries()) {
        if (!in_floor(entry.name, with_header) || entry.method != 8) continue;
        auto stored = zip->stored_data(entry);
        marlune::ByteBuffer out;
        if (!stored || !out.resize(std::max<std::size_t>(entry.size, 1))) continue;
        total += std::int64_t(inflate_entry(*stored, out, entry.crc));
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
        const std::int64_t best = best_nanoseconds(repeats, [&] { inflated = inflate_sections(argv[k], zlib_inflate); });
        const std::int64_t best_libdeflate =
            best_nanoseconds(repeats, [&] { inflate_sections(argv[k], libdeflate_inflate); });
        const std::int64_t best_with_header =
            best_nanoseconds(repeats, [&] { inflate_sections(argv[k], zlib_inflate, true); });
        std::printf("%lld %lld %lld %lld\n", static_cast<long long>(best), static_cast<long long>(inflated),
                    static_cast<long long>(best_libdeflate), static_cast<long long>(best_with_header));
    }
    return 0;
}
