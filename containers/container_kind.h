#pragma once

#include <cstdint>

#include "scan_source.h"

namespace kestrel {

// What a file is as a container, decided from its content alone.
enum class ContainerKind {
    kNone,
    kArchive,          // zip, 7z, RAR, LHA, ISO 9660, tar, cpio (libarchive)
    kCompressedStream, // a single gzip, bzip2 or xz stream (libarchive)
    kExecutable,       // an MZ program that may carry an archive behind it
    kSzdd,             // EXPAND's SZDD (libmspack)
    kKwaj,             // EXPAND's KWAJ (libmspack)
    kCabinet,          // Microsoft cabinet (libmspack)
    kCabinetProgram,   // a Windows program carrying a cabinet: IExpress and the like (libmspack)
    kChm,              // compiled HTML help (libmspack)
    kDiskImage,        // a raw disk or volume image (The Sleuth Kit)
    kVmdk,             // VMware sparse disk (The Sleuth Kit through libvmdk)
    kVhd,              // Virtual PC dynamic disk (The Sleuth Kit through libvhdi)
    kArj,              // ARJ archive, also behind a self-extractor (7-Zip)
    kNsis,             // NSIS installer (7-Zip)
    kMsi,              // MSI database, an OLE compound file (7-Zip)
    kQcow,             // QEMU copy-on-write disk (7-Zip)
    kVdi,              // VirtualBox disk (7-Zip)
    kArc,              // SEA's ARC or PAK archive (arc_reader.cpp)
    kImd,              // ImageDisk floppy image (libdsk)
    kTeleDisk,         // TeleDisk floppy image (libdsk)
    kVhdx,             // Hyper-V disk (The Sleuth Kit through libvhdi)
    kEwf,              // E01 evidence file, EnCase's format (The Sleuth Kit through libewf)
    kRawCdImage,       // raw 2352-byte CD sectors, a BIN file (ISO 9660 through libarchive)
    kPackedProgram,    // a DOS program packed by LZEXE or EXEPACK (packed_program.cpp)
    kInstallShield,    // an InstallShield 5+ header or cabinet (installshield_reader.cpp)
};

// Reads the signatures that tell a container: the first 2 KiB, ISO 9660's
// volume descriptor at 32 KiB, and for an MZ program the end of the file. A
// common file that is no container costs one or two short reads.
ContainerKind DetectContainer(ScanSource& source);

// Where a sector's 2048 bytes of user data start in a raw CD image of
// 2352-byte sectors: 16 for MODE1, 24 for MODE2 form 1, found in sector 16,
// whose user data must hold an ISO 9660 volume descriptor. -1 for a file
// that is none.
std::int64_t RawCdUserDataOffset(ScanSource& source);

// The archive behind an MZ program (a self-extractor), found only where one
// can start: a RAR, 7z or LHA archive after the DOS image whose header checks
// out, or a zip whose end record points at its central directory. Magic text
// inside the program's own code (an archiver's) is no archive.
struct ArchiveBehindProgram {
    std::int64_t start = -1; // where the RAR, 7z or LHA archive starts
    bool zip = false;        // a zip, read from its end record
    bool arj = false;        // the archive at start is ARJ's
    bool nsis = false;       // an NSIS installer's data starts at start
    bool Found() const { return start >= 0 || zip; }
};
ArchiveBehindProgram FindArchiveBehindProgram(ScanSource& source);

// Whether a zip has a member in a method libarchive does not read (shrink,
// reduce, implode, deflate64), from its central directory.
bool ZipHasOldMethods(ScanSource& zip);
// Where a PE program's overlay starts: the end of its last section's raw
// data, after which self-extractors append their archive. -1 for a file that
// is no PE program.
std::int64_t PeOverlayStart(ScanSource& source);

// The Microsoft cabinet a Windows program carries, whose header checks out:
// the RCDATA resource "CABINET" (IExpress) or one in the first 64 KiB of the
// overlay (other self-extractors).
struct CabinetInProgram {
    std::int64_t start = -1;
    std::int64_t length = 0;
    bool Found() const { return start >= 0; }
};
CabinetInProgram FindCabinetInProgram(ScanSource& source);

} // namespace kestrel
