#include <string>

#include "byte_writer.h"
#include "dos_builder.h"
#include "nlm_builder.h"
#include "samples.h"

namespace kestrel::samples {

using fixtures::ByteWriter;
using fixtures::NlmModule;
using fixtures::NlmVersion;

namespace {

NlmModule ServerModule() {
    NlmModule module;
    module.name = "NWSERVE.NLM";
    module.description = "NetWare Server Utilities";
    module.screenName = "System Console";
    module.threadName = "NWServe Main";
    module.version =
        NlmVersion{.major = 4, .minor = 10, .revision = 1, .year = 1996, .month = 8, .day = 22};
    module.copyright = "(C) Copyright 1996 Example Networks, Inc. All Rights Reserved.";
    module.dependencies = {"CLIB", "MATHLIB", "NWSNUT", "STREAMS"};
    return module;
}

// A container of type 4 with two modules, the second behind a 0x22222222
// prefix, each reported under "*" and its name.
fixtures::Bytes ContainerModule() {
    fixtures::NlmContainer container;
    container.container.name = "NWBUNDLE.NLM";
    container.container.description = "Module Bundle";
    NlmModule first = ServerModule();
    first.name = "NWFIRST.NLM";
    first.description = "First Module of the Bundle";
    first.dependencies = {"CLIB"};
    NlmModule second;
    second.name = "NWSECOND.NLM";
    second.description = "Second Module of the Bundle";
    second.screenName = "";
    second.version =
        NlmVersion{.major = 1, .minor = 2, .revision = 0, .year = 1995, .month = 12, .day = 1};
    second.dependencies = {"NWFIRST", "THREADS"};
    container.modules = {{.module = first, .prefixed = false, .length = {}},
                         {.module = second, .prefixed = true, .length = {}}};
    return fixtures::MakeNlmContainer(container);
}

// A LAN driver in NLM form: the signature decides, not the name.
fixtures::Bytes LanDriver() {
    NlmModule module;
    module.name = "3C5X9.LAN";
    module.description = "3Com EtherLink III Server Driver";
    module.screenName = "System Console";
    module.threadName = "3C5X9 Driver";
    module.version =
        NlmVersion{.major = 3, .minor = 12, .revision = 0, .year = 1994, .month = 3, .day = 1};
    module.copyright = "(c) Copyright 1994 Example Networking Corp.";
    module.dependencies = {"ETHERTSM", "MSM31X"};
    return fixtures::MakeNlm(module);
}

// A DOS program with a version and a copyright marker in 8-bit characters and
// an overlay marker in 16-bit characters.
fixtures::Bytes MarkedDosProgram() {
    ByteWriter image = fixtures::MakeDosProgram(12000);
    fixtures::PutMarker(image, 0x400, fixtures::kVersionMarker, "3.12a");
    fixtures::PutWideMarker(image, 0x500, fixtures::kOverlayMarker, "NWADMIN.OVL");
    // Past the first block: found in the next one.
    fixtures::PutMarker(image, 9000, fixtures::kCopyrightMarker,
                        "(C) Copyright 1993 Example Networks, Inc.");
    return image.Data();
}

// A NetWare-aware DOS utility: an "NWProc" header with its module name and
// description, and a version marker.
fixtures::Bytes NwProcProgram() {
    ByteWriter image = fixtures::MakeDosProgram(4096);
    fixtures::PutNwProcHeader(
        image,
        {.offset = 0x40, .name = "NWLOGIN", .entryCount = 2, .description = "Login Utility"});
    fixtures::PutMarker(image, 0x600, fixtures::kVersionMarker, "4.12");
    return image.Data();
}

// An overlay without an MZ header: read for its markers by its name.
fixtures::Bytes Overlay() {
    ByteWriter image(3000);
    fixtures::PutMarker(image, 0x80, fixtures::kOverlayMarker, "Print Server Menus");
    fixtures::PutWideMarker(image, 0x200, fixtures::kVersionMarker, "2.20");
    fixtures::PutWideMarker(image, 0x300, fixtures::kCopyrightMarker, "Copyright 1992 Example");
    return image.Data();
}

// Nothing but text, in a file read for its markers by its name: the
// version-like lines become a guess, the copyright notice among them is cut
// out, and the lines with a filter word are left out.
std::string VersionText() {
    return fixtures::TextLines({
        "Remote Console Utility V2.05a",
        "Requires DOS 3.30 or later",
        "Disk size 1.44M",
        "SPX protocol 1.1 support",
        "Copyright 1995 Example Networks, release 2.05",
    });
}

} // namespace

void WriteNetWareSamples(const std::filesystem::path& directory) {
    const auto write = [&](const char* name, const fixtures::Bytes& bytes) {
        fixtures::WriteFile(directory / name, bytes);
    };
    write("NWSERVE.NLM", fixtures::MakeNlm(ServerModule()));
    write("NWBUNDLE.NLM", ContainerModule());
    write("3C5X9.LAN", LanDriver());
    write("NWADMIN.EXE", MarkedDosProgram());
    write("NWLOGIN.EXE", NwProcProgram());
    write("PSERVER.OVL", Overlay());
    fixtures::WriteFile(directory / "RCONSOLE.MSG", VersionText());
}

} // namespace kestrel::samples
