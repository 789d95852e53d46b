// The compound-file reader on its own: open, then list every storage and
// read every stream a few levels down.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "container/compound_file.hpp"

namespace {

constexpr int kMaxDepth = 4;

void visit(const marlune::CompoundFile& file, const std::string& path, int depth) {
    for (const std::string& name : file.list_storage(path)) {
        const std::string child = path + "/" + name;
        auto stream = file.read_stream(child);
        if (!stream) (void)marlune::display_text(stream.error());
        if (depth < kMaxDepth) visit(file, child, depth + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto file = marlune::CompoundFile::open(std::span<const std::uint8_t>(data, size));
    if (!file) {
        (void)marlune::display_text(file.error());
        return 0;
    }
    visit(*file, "", 0);
    (void)file->read_stream("/BodyText/Section0");
    return 0;
}
