// The formats Kestrel looks inside. A reader that is loaded at run time has
// its test of whether it can be used; the others are linked in.

#include "formats.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "container_readers.h"
#include "sleuth_kit_library.h"

namespace kestrel {

namespace {

constexpr const char* kLibarchive = "libarchive";
constexpr const char* kLibmspack = "libmspack";
constexpr const char* kSleuthKit = "The Sleuth Kit";
constexpr const char* kSevenZip = "7-Zip's library (7z.so)";
constexpr const char* kSevenZipThenSleuthKit = "7-Zip's library (7z.so), then The Sleuth Kit";
constexpr const char* kLibdskThenSleuthKit = "libdsk, then The Sleuth Kit";

bool SevenZipAndSleuthKitAvailable() {
    return SevenZipAvailable() && SleuthKitAvailable();
}

constexpr std::array kFormats = {
    FormatRow{"zip, also behind a self-extracting program", kLibarchive, nullptr},
    FormatRow{"zip with shrunk, reduced, imploded or deflate64 members", kSevenZip,
              &SevenZipAvailable},
    FormatRow{"7z, also self-extracting", kLibarchive, nullptr},
    FormatRow{"RAR, also self-extracting", kLibarchive, nullptr},
    FormatRow{"LHA (LZH), also self-extracting", kLibarchive, nullptr},
    FormatRow{"LHA members in -lh1-, -lz5- and other methods libarchive refuses", "liblhasa",
              nullptr},
    FormatRow{"ARJ, also self-extracting", kSevenZip, &SevenZipAvailable},
    FormatRow{"NSIS installer", kSevenZip, &SevenZipAvailable},
    FormatRow{"MSI database (its cabinets and other streams)", kSevenZip, &SevenZipAvailable},
    FormatRow{"ARC, PAK (stored, packed, squeezed, crunched, squashed, crushed, distilled)",
              "Kestrel", nullptr},
    FormatRow{"ISO 9660 (Rock Ridge, Joliet)", kLibarchive, nullptr},
    FormatRow{"raw CD image of 2352-byte sectors (BIN, MODE1 and MODE2 form 1)", kLibarchive,
              nullptr},
    FormatRow{"tar, cpio", kLibarchive, nullptr},
    FormatRow{"gzip, bzip2, xz stream", kLibarchive, nullptr},
    FormatRow{"SZDD, KWAJ (EXPAND)", kLibmspack, nullptr},
    FormatRow{"Microsoft cabinet, also in a program (IExpress and other self-extractors)",
              kLibmspack, nullptr},
    FormatRow{"CHM (compiled HTML help)", kLibmspack, nullptr},
    FormatRow{"raw disk image: FAT, NTFS, ext2/3/4, with or without partitions", kSleuthKit,
              &SleuthKitAvailable},
    FormatRow{"VMDK", kSleuthKit, &SleuthKitAvailable},
    FormatRow{"VHD, VHDX", kSleuthKit, &SleuthKitAvailable},
    FormatRow{"E01 evidence file (EnCase)", kSleuthKit, &SleuthKitAvailable},
    FormatRow{"IMD and TeleDisk floppy images", kLibdskThenSleuthKit, &SleuthKitAvailable},
    FormatRow{"qcow2", kSevenZipThenSleuthKit, &SevenZipAndSleuthKitAvailable},
    FormatRow{"VDI", kSevenZipThenSleuthKit, &SevenZipAndSleuthKitAvailable},
    FormatRow{"InstallShield 5 and later (data1.hdr with the cabinets beside it)", "Kestrel (zlib)",
              nullptr},
    FormatRow{"DOS program (EXE or COM) packed by LZEXE, EXEPACK, PKLITE, DIET or UPX",
              "Kestrel (UPX: libucl, liblzma)", nullptr},
};

} // namespace

std::span<const FormatRow> ReadFormats() {
    return kFormats;
}

std::string FormatsText() {
    std::size_t width = 0;
    for (const FormatRow& row : kFormats)
        width = std::max(width, std::strlen(row.format));
    std::string text;
    for (const FormatRow& row : kFormats) {
        text += row.format;
        text.append(width + 2 - std::strlen(row.format), ' ');
        text += row.reader;
        if (row.available != nullptr && !row.available())
            text += " (not available)";
        text += '\n';
    }
    return text;
}

} // namespace kestrel
