// Writes every stream of a compound file to standard output for the corpus
// comparison with an independent reader: per stream a line "path<TAB>size",
// then its bytes, or "path<TAB>error<TAB>text" when it cannot be read.
#include <cstdio>
#include <string>

#include "container/compound_file.hpp"
#include "hwp/document.hpp"

namespace {

constexpr int kMaxDepth = 16;

void dump(const marlune::CompoundFile& file, const std::string& storage, int depth) {
    for (const std::string& name : file.list_storage(storage)) {
        const std::string path = storage + "/" + name;
        auto stream = file.read_stream(path);
        if (!stream && stream.error().message().starts_with("not a stream")) {
            if (depth < kMaxDepth) dump(file, path, depth + 1);
            continue;
        }
        if (!stream) {
            std::printf("%s\terror\t%s\n", path.c_str(), marlune::display_text(stream.error()).c_str());
            continue;
        }
        std::printf("%s\t%zu\n", path.c_str(), stream->size());
        std::fwrite(stream->data(), 1, stream->size(), stdout);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    auto bytes = marlune::read_file(argv[1]);
    if (!bytes) {
        std::printf("error\t%s\n", marlune::display_text(bytes.error()).c_str());
        return 0;
    }
    auto file = marlune::CompoundFile::open(*bytes);
    if (!file) {
        std::printf("error\t%s\n", marlune::display_text(file.error()).c_str());
        return 0;
    }
    dump(*file, "", 0);
    return 0;
}
