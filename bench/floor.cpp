// The least work any converter must do on a document: inflate its stored
// body-text sections. The sections are read from the container first, out of
// the timing; only the inflating into a buffer of the inflated size is timed,
// by zlib and by libdeflate. Prints, per file given on the command line: best
// zlib time in nanoseconds over the repeats, section bytes, 1 when they are
// compressed, best libdeflate time, then the best zlib time with the DocInfo
// stream inflated too (the faithful conversion reads it for headings, lists
// and pictures).
//   marlune_floor REPEATS FILE...
#include <libdeflate.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "best_time.hpp"
#include "hwp/document.hpp"

namespace {

struct StoredSection {
    marlune::ByteBuffer stored;
    marlune::ByteBuffer inflated;  // sized by one untimed inflate
};

// The stored sections in index order, up to the first that cannot be read
// (where the conversion stops too).
std::vector<StoredSection> stored_sections(const char* path, bool& compressed) {
    std::vector<StoredSection> sections;
    auto document = marlune::open_document(path);
    if (!document) return sections;
    auto info = marlune::read_file_info(*document);
    if (!info) return sections;
    compressed = info->compressed;
    for (std::uint32_t index = 0;; ++index) {
        auto stored = document->read_stream(marlune::section_stream_name(index));
        if (!stored) break;
        auto inflated = compressed ? marlune::inflate_raw(*stored) : marlune::ByteBuffer();
        if (compressed && !inflated) break;
        sections.push_back({std::move(*stored), compressed ? std::move(*inflated) : marlune::ByteBuffer()});
    }
    return sections;
}

// The stored DocInfo stream, when the sections are compressed and it inflates.
std::vector<StoredSection> stored_doc_info(const char* path) {
    std::vector<StoredSection> streams;
    auto document = marlune::open_document(path);
    if (!document) return streams;
    auto info = marlune::read_file_info(*document);
    if (!info || !info->compressed) return streams;
    auto stored = document->read_stream("/DocInfo");
    if (!stored) return streams;
    auto inflated = marlune::inflate_raw(*stored);
    if (inflated) streams.push_back({std::move(*stored), std::move(*inflated)});
    return streams;
}

// Raw inflate of every section into its buffer; returns the bytes produced.
std::int64_t inflate_all(std::vector<StoredSection>& sections) {
    std::int64_t total = 0;
    for (StoredSection& section : sections) {
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK) continue;
        z.next_in = section.stored.data();
        z.avail_in = static_cast<uInt>(section.stored.size());
        z.next_out = section.inflated.data();
        z.avail_out = static_cast<uInt>(section.inflated.size());
        inflate(&z, Z_FINISH);
        total += static_cast<std::int64_t>(z.total_out);
        inflateEnd(&z);
    }
    return total;
}

// The same with libdeflate, one call per section.
std::int64_t decompress_all(std::vector<StoredSection>& sections, libdeflate_decompressor* decompressor) {
    std::int64_t total = 0;
    for (StoredSection& section : sections) {
        std::size_t produced = 0;
        libdeflate_deflate_decompress(decompressor, section.stored.data(), section.stored.size(),
                                      section.inflated.data(), section.inflated.size(), &produced);
        total += static_cast<std::int64_t>(produced);
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
        bool compressed = false;
        auto sections = stored_sections(argv[k], compressed);
        std::int64_t inflated = 0;
        for (const auto& section : sections) {
            inflated += static_cast<std::int64_t>(compressed ? section.inflated.size() : section.stored.size());
        }
        const std::int64_t best = best_nanoseconds(repeats, [&] {
            if (compressed) inflate_all(sections);
        });
        libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
        const std::int64_t best_libdeflate = best_nanoseconds(repeats, [&] {
            if (compressed) decompress_all(sections, decompressor);
        });
        libdeflate_free_decompressor(decompressor);
        auto doc_info = stored_doc_info(argv[k]);
        const std::int64_t best_with_doc_info = best_nanoseconds(repeats, [&] {
            if (!compressed) return;
            inflate_all(sections);
            inflate_all(doc_info);
        });
        std::printf("%lld %lld %d %lld %lld\n", static_cast<long long>(best), static_cast<long long>(inflated),
                    compressed ? 1 : 0, static_cast<long long>(best_libdeflate),
                    static_cast<long long>(best_with_doc_info));
    }
    return 0;
}
