#include "lx_builder.h"
#include "ne_builder.h"
#include "pe_builder.h"
#include "samples.h"
#include "version_resource_builder.h"

namespace kestrel::samples {

using fixtures::VersionInfo;
using fixtures::VersionStringTable;

namespace {

VersionInfo SampleVersion(const std::u16string& description, const std::u16string& version,
                          const std::u16string& fileName, std::uint32_t fileType) {
    VersionStringTable table;
    table.strings = {
        {"CompanyName", u"Kestrel Sample Works"},
        {"FileDescription", description},
        {"FileVersion", version},
        {"InternalName", fileName.substr(0, fileName.find(u'.'))},
        {"LegalCopyright", u"Copyright \u00A9 1996 Kestrel Sample Works"},
        {"OriginalFilename", fileName},
        {"ProductName", u"Kestrel Samples"},
        {"ProductVersion", version},
    };
    VersionInfo info;
    info.fileType = fileType;
    info.tables = {table};
    return info;
}

fixtures::Bytes PeDll(bool pe32Plus) {
    const std::u16string name = pe32Plus ? u"WIDGET64.DLL" : u"WIDGET32.DLL";
    VersionInfo info = SampleVersion(u"Widget Library", u"4.10.1998", name, 2);
    info.tables[0].strings.push_back({"PrivateBuild", u"Built for the sample tree"});
    fixtures::PeModule module;
    module.pe32Plus = pe32Plus;
    module.imports = {"KERNEL32.dll", "USER32.dll", "GDI32.dll", "MSVCRT.dll"};
    module.resources = fixtures::VersionResourceTree(
        fixtures::EncodeVersion(fixtures::MakeVersionTree(info), fixtures::VersionLayout::Wide));
    return fixtures::MakePeModule(module);
}

fixtures::Bytes WindowsNeProgram() {
    const VersionInfo info = SampleVersion(u"Desk Clock", u"3.10", u"CLOCK.EXE", 1);
    fixtures::NeModule module;
    module.moduleName = "CLOCK";
    module.description = "Desk Clock for Windows 3.1";
    module.importedModules = {"KERNEL", "GDI", "USER", "COMMDLG"};
    module.resources = {{.typeId = fixtures::kNeVersionType,
                         .id = fixtures::kNeNumeric | 1,
                         .flags = fixtures::kNeVersionFlags,
                         .data = fixtures::EncodeVersion(fixtures::MakeVersionTree(info),
                                                         fixtures::VersionLayout::Narrow)}};
    return fixtures::BuildNe(module);
}

fixtures::Bytes Os2NeProgram() {
    fixtures::NeModule module;
    module.targetOperatingSystem = 1;
    module.moduleName = "DISKTOOL";
    module.description = "Disk Tool for OS/2 1.3";
    module.importedModules = {"DOSCALLS", "VIOCALLS", "KBDCALLS"};
    return fixtures::BuildNe(module);
}

fixtures::Bytes LxModule() {
    fixtures::LxModule module;
    module.moduleName = "PMHELPER";
    module.description = "Presentation Manager helper library";
    module.importedModules = {"DOSCALLS", "PMWIN", "PMGPI"};
    return fixtures::BuildLx(module);
}

fixtures::Bytes LeDriver() {
    const VersionInfo info =
        SampleVersion(u"Network support driver", u"4.00.950", u"VNETSUP.VXD", 5);
    fixtures::LxModule module;
    module.signature = "LE";
    module.moduleName = "VNETSUP";
    module.description = "VNETSUP Virtual Device (Version 4.0)";
    module.versionResource =
        fixtures::EncodeVersion(fixtures::MakeVersionTree(info), fixtures::VersionLayout::Narrow);
    return fixtures::BuildLx(module);
}

} // namespace

void WriteWindowsSamples(const std::filesystem::path& directory) {
    const auto write = [&](const char* name, const fixtures::Bytes& bytes) {
        fixtures::WriteFile(directory / name, bytes);
    };
    write("WIDGET32.DLL", PeDll(false));
    write("WIDGET64.DLL", PeDll(true));
    write("CLOCK.EXE", WindowsNeProgram());
    write("DISKTOOL.EXE", Os2NeProgram());
    write("PMHELPER.DLL", LxModule());
    write("VNETSUP.386", LeDriver());
}

} // namespace kestrel::samples
