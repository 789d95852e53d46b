// A section part's XML read in runs, with every element larger than a few
// bytes parsed as a skeleton whose rest is read as it is walked: the walk
// must meet the nodes a whole parse holds, in order, to the byte. The first
// input byte picks the run size; the rest is the part.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "container/xml_part.hpp"
#include "../tests/cpp/xml_nodes.hpp"

namespace {

// The part's nodes, parsed in runs of about run_bytes; empty on an error.
std::string walked(std::span<const std::uint8_t> xml, std::size_t run_bytes, bool& failed) {
    const std::size_t usual = marlune::set_xml_run_bytes(run_bytes);
    std::string out;
    failed = false;
    marlune::ByteBuffer bytes;
    if (!bytes.assign(xml)) __builtin_trap();
    auto runs = marlune::XmlRuns::open(std::move(bytes), "section0.xml");
    while (runs) {
        auto run = runs->next();
        if (!run) {
            failed = true;
            break;
        }
        if (!*run) break;
        marlune::test_support::append_nodes(*run, &*runs, out);
    }
    failed |= !runs;
    marlune::set_xml_run_bytes(usual);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    constexpr std::size_t kRunSizes[] = {1, 2, 3, 7, 16, 40, 100, 333, 1024, 4096};
    const std::size_t run_bytes = kRunSizes[data[0] % std::size(kRunSizes)];
    const std::span<const std::uint8_t> xml(data + 1, size - 1);
    bool whole_failed = false;
    bool runs_failed = false;
    const std::string whole = walked(xml, std::size_t{1} << 40, whole_failed);
    const std::string in_runs = walked(xml, run_bytes, runs_failed);
    // A part a whole parse reads is read the same in skeletons. Not one
    // holding a NUL: it ends pugixml's reading of the run it falls in, so
    // what it hides depends on where runs part.
    const bool has_nul = std::find(xml.begin(), xml.end(), 0) != xml.end();
    if (!whole_failed && !has_nul && (runs_failed || in_runs != whole)) __builtin_trap();
    return 0;
}
