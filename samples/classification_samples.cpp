#include "byte_writer.h"
#include "mz_builder.h"
#include "samples.h"

namespace kestrel::samples {

using fixtures::ByteWriter;

namespace {

// A DOS program that carries the "NWProc" header of a NetWare-aware utility:
// module name 34 bytes after the tag, one 16-byte entry, then the description.
fixtures::Bytes NwProcProgram() {
    ByteWriter image(1024);
    fixtures::PutMzHeader(image, {.relocationTableOffset = 0x1C, .newHeaderOffset = 0});
    const std::size_t tag = 0x40;
    image.PutText(tag, "NWProc");
    image.PutZText(tag + 34, "NWUTIL");
    image.PutU16(tag + 98, 1);
    image.PutZText(tag + 100 + 16, "NetWare Workstation Utility");
    return image.Data();
}

// A NetWare driver named .LAN without the NLM signature: the byte at offset 1
// says where the length-prefixed description stands.
fixtures::Bytes LanDriver() {
    ByteWriter image(256);
    image.PutU8(0, 0x00);
    image.PutU8(1, 8);
    image.PutCountedText(9, "NE2000 Ethernet Driver");
    return image.Data();
}

fixtures::Bytes PlainDosProgram() {
    ByteWriter image(600);
    fixtures::PutMzHeader(image, {.relocationTableOffset = 0x1C, .newHeaderOffset = 0});
    image.PutText(0x100, "Plain DOS program without markers");
    return image.Data();
}

} // namespace

void WriteClassificationSamples(const std::filesystem::path& directory) {
    const auto write = [&](const char* name, const fixtures::Bytes& bytes) {
        fixtures::WriteFile(directory / name, bytes);
    };
    write("NWUTIL.EXE", NwProcProgram());
    write("NE2000.LAN", LanDriver());
    write("EXTENDER.EXE", fixtures::MakeNewExecutableStub("BW"));
    write("DOSPROG.EXE", PlainDosProgram());
    fixtures::WriteFile(directory / "PROGRAM.OVL", "Overlay data\r\n");
    fixtures::WriteFile(directory / "README.TXT", "Just some text.\r\n");
}

} // namespace kestrel::samples
