#pragma once

// What the container readers share with the explorer that drives them. Each
// reader walks one container in its own order and hands every regular file it
// holds to a MemberVisitor; folders, links and devices are passed over.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "container_kind.h"
#include "member_store.h"
#include "scan_source.h"
#include "seven_zip_library.h"

namespace kestrel {

class MemberVisitor {
public:
    virtual ~MemberVisitor() = default;
    // One member: its path inside the container ("/" between folders, as the
    // container has it), its time (seconds since the epoch, or the
    // container's own when the format keeps none) and its bytes. False when
    // reading the container must stop: a limit was reached or a stop asked for.
    virtual bool Visit(const std::string& pathInside, std::int64_t modified, ScanSource& bytes) = 0;
    // Something in the container could not be read. Every problem under the
    // file on disk is counted; the first is said with the count once it is done.
    virtual void Problem(const std::string& reason) = 0;
    // Counts bytes a reader made (decompressed, or read out of a disk image)
    // against the expansion limit: false once it is exceeded.
    virtual bool Charge(std::int64_t bytes) = 0;
    // True once the reader must stop: a limit was reached or a stop asked for.
    virtual bool Stopping() const = 0;
    // What the members under the file on disk hold in temporary files.
    virtual TemporaryBudget& TemporaryFiles() = 0;
    // The container's own time and file name, for members that have none.
    virtual std::int64_t ContainerTime() const = 0;
    virtual const std::string& ContainerName() const = 0;
    // The file `name` beside the container, for a format whose volumes lie
    // beside it, its name matched without regard to case as on a DOS CD: on
    // disk, in the container's folder (opened read-only); inside another
    // container, a member of the same folder that is kept until that
    // container was read whole. Null when there is none.
    virtual std::unique_ptr<ScanSource> OpenBeside(const std::string& name) = 0;
};

// libarchive: zip, 7z, RAR, LHA, ISO 9660, tar, cpio and single compressed
// streams. False when the bytes turned out not to be an archive at all (only
// for kExecutable, whose stub may or may not carry one): nothing was visited.
bool ReadArchive(ScanSource& container, ContainerKind kind, MemberVisitor& visitor);

// liblhasa: the members at `paths` of an LHA archive (starting at 0 of
// `archive`) whose method libarchive refuses.
void ReadLhaMembers(ScanSource& archive, const std::vector<std::string>& paths,
                    MemberVisitor& visitor);

// libmspack: SZDD and KWAJ (the EXPAND formats), cabinets (also inside a
// Windows program) and CHM.
void ReadMicrosoftCompressed(ScanSource& container, ContainerKind kind, MemberVisitor& visitor);

// The Sleuth Kit: raw disk images (every partition), VMDK, VHD and VHDX
// files, and E01 evidence files.
void ReadDiskImage(ScanSource& container, ContainerKind kind, MemberVisitor& visitor);

// 7-Zip's library: zips in PKZIP 1 methods or deflate64, ARJ archives (also
// behind a self-extractor), NSIS installers, MSI databases, qcow2 and VDI
// images. False when the library is not available: nothing was visited or
// said, and SevenZipWasNeeded() is true from then on.
bool ReadWithSevenZip(ScanSource& container, SevenZipFormat format, MemberVisitor& visitor);
bool SevenZipAvailable();
bool SevenZipWasNeeded();
// What a front end says once when the library is not available.
std::string SevenZipMissingNote();

// ARC and PAK archives: stored, packed, squeezed, crunched (ARC 1 to 4's first
// LZW and the later one), squashed, crushed and distilled members.
void ReadArc(ScanSource& container, MemberVisitor& visitor);

// libdsk: IMD and TeleDisk floppy images, read as the raw image they hold.
void ReadFloppyImage(ScanSource& container, ContainerKind kind, MemberVisitor& visitor);

// A raw CD image of 2352-byte sectors (MODE1 or MODE2 form 1): the user
// data of its sectors read as ISO 9660 through libarchive.
void ReadRawCdImage(ScanSource& image, MemberVisitor& visitor);

// InstallShield 5 and later: a header (data1.hdr) whose files are members
// under their file group's folder, read from the cabinets beside it; a
// cabinet is read through its header and said when it has none.
void ReadInstallShield(ScanSource& container, MemberVisitor& visitor);

// A DOS program packed by a packer we unpack: its one member is the unpacked
// program, named as the file. False when the program is not one.
bool IsUnpackableProgram(ScanSource& program);
bool ReadPackedProgram(ScanSource& program, MemberVisitor& visitor);

} // namespace kestrel
