// libFuzzer target: arbitrary bytes scanned as a file under three names, so
// that the classification by content and by name (.LAN, .OVL) are all
// reached, in the full and the brief layout; a packed program is unpacked.

#include <cstdint>
#include <string>

#include "memory_source.h"
#include "packer.h"
#include "quill_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kestrel::fixtures::MemorySource source({data, data + size});
    kestrel::fixtures::CountingSink sink;
    for (const bool brief : {false, true}) {
        kestrel::QuillScan scanner(sink, {.brief = brief});
        scanner.SetReadFacts(true); // the facts beside the report are fuzzed too
        for (const char* name : {"INPUT.BIN", "INPUT.LAN", "INPUT.OVL"})
            scanner.ScanSourceAs(source, "/fuzz/", name, 0);
    }
    // The unpackers, which only looking inside reaches otherwise.
    if (const auto packer = kestrel::RecognisePacker(source); packer && kestrel::CanUnpack(*packer))
        kestrel::UnpackProgram(source, *packer);
    return 0;
}
