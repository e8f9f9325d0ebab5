// libFuzzer target: arbitrary bytes looked inside as a container, with small
// limits; every member found is scanned and its report composed in full.

#include <cstdint>
#include <string>

#include "look_inside.h"
#include "memory_source.h"
#include "quill_scan.h"

namespace {

// Small enough that one input never takes long, large enough for several
// members and a container inside a container.
constexpr std::int64_t kFuzzMaxExpand = 16 * 1024 * 1024;
constexpr std::int64_t kFuzzMaxMembers = 1000;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kestrel::fixtures::MemorySource source({data, data + size});
    kestrel::fixtures::CountingSink sink;
    kestrel::QuillScan scanner(sink);
    kestrel::ContainerHooks hooks;
    hooks.directory = [&](const std::string& path) { sink.AddLine(path); };
    hooks.problem = [&](const std::string& path, const std::string& reason) {
        sink.AddLine(path + reason);
    };
    kestrel::ContainerExplorer explorer(
        scanner, hooks, {.maxExpand = kFuzzMaxExpand, .maxMembers = kFuzzMaxMembers});
    explorer.LookInside(source, "/fuzz/INPUT.BIN", 0);
    return 0;
}
