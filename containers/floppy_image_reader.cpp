// IMD (ImageDisk) and TeleDisk floppy images through libdsk: the sectors are
// read into memory in the order of a raw image (cylinder, head, sector) and
// that image is read as any other disk image. libdsk opens images by name,
// and for writing too: the image is first copied into a MemberStore, whose
// temporary file (under the budget, in $TMPDIR) it opens through
// /proc/self/fd, so that the scanned file is never opened but for reading.

#include <algorithm>
#include <array>
#include <libdsk.h>
#include <memory>
#include <string>
#include <vector>

#include "container_readers.h"
#include "member_store.h"
#include "source_window.h"

namespace kestrel {

namespace {

// The largest floppy DOS knew is the 2.88 MB ED disk: 80 cylinders, 2
// heads, 36 sectors of 512 bytes. A geometry of more than twice that is no
// floppy, and is not read into memory.
constexpr std::int64_t kMaxFloppyBytes = 2 * 80 * 2 * 36 * 512;
constexpr std::int64_t kCopyBlockSize = 64 * 1024;
// An image holds its sectors and a few bytes for each: one larger than
// twice the largest floppy is none.
constexpr std::int64_t kMaxImageBytes = 2 * kMaxFloppyBytes;

struct DriveClose {
    void operator()(DSK_PDRIVER drive) const { dsk_close(&drive); }
};

// A descriptor of a copy of the container's bytes in `copy`; -1, said,
// when the copy cannot be made.
int DescriptorOf(ScanSource& container, MemberStore& copy, MemberVisitor& visitor) {
    if (container.Length() > kMaxImageBytes) {
        visitor.Problem("floppy image larger than any floppy's; not read");
        return -1;
    }
    std::vector<std::uint8_t> block(kCopyBlockSize);
    for (std::int64_t at = 0; at < container.Length();) {
        const std::int64_t got = container.ReadAt(at, block.data(), kCopyBlockSize);
        if (got <= 0) {
            visitor.Problem("the bytes cannot be read");
            return -1;
        }
        if (!copy.Append(block.data(), got)) {
            visitor.Problem(copy.Error());
            return -1;
        }
        at += got;
    }
    const int descriptor = copy.Descriptor();
    if (descriptor < 0)
        visitor.Problem(copy.Error());
    return descriptor;
}

// libdsk's drivers trust the sizes in an image, and a crafted TeleDisk
// image overruns its buffers: each image is walked here first, and handed
// to libdsk only when every record lies in the file and every sector's data
// decodes to no more than its size.
class ImageWalk {
public:
    explicit ImageWalk(ScanSource& source) : m_source(source) {}
    int Byte() {
        std::uint8_t byte = 0;
        if (m_source.ReadAt(m_at, &byte, 1) != 1)
            return -1;
        ++m_at;
        return byte;
    }
    int Word() {
        const int low = Byte();
        const int high = Byte();
        return low < 0 || high < 0 ? -1 : low | high << 8;
    }
    bool Skip(std::int64_t count) {
        m_at += count;
        return m_at <= m_source.Length();
    }
    bool AtEnd() const { return m_at >= m_source.Length(); }
    std::int64_t Length() const { return m_source.Length(); }
    std::int64_t At() const { return m_at; }

private:
    ScanSource& m_source;
    std::int64_t m_at = 0;
};

// The largest sector a size code gives: 128 << 6.
constexpr int kMaxSizeCode = 6;

// IMD: the text header up to 0x1A, then tracks: mode, cylinder, head (bits
// 7 and 6: a cylinder and a head map follow), sector count, size code, the
// sector numbering map, then each sector's type: 0 none, odd its bytes,
// even one byte filling it.
std::string ImdFault(ScanSource& source) {
    ImageWalk walk(source);
    for (int byte = 0; byte != 0x1A;) {
        if ((byte = walk.Byte()) < 0)
            return "no end of its comment";
    }
    while (!walk.AtEnd()) {
        const int mode = walk.Byte(), cylinder = walk.Byte(), head = walk.Byte();
        const int sectors = walk.Byte(), sizeCode = walk.Byte();
        if (mode < 0 || cylinder < 0 || head < 0 || sectors < 0 || sizeCode < 0)
            return "a track header cut short";
        if (mode > 5 || sizeCode > kMaxSizeCode || (head & 0x3E) != 0)
            return "a track header with impossible values";
        // libdsk divides by a track's sector count when it looks for sectors.
        if (sectors == 0)
            return "a track without sectors";
        const int maps = 1 + ((head & 0x80) != 0) + ((head & 0x40) != 0);
        if (!walk.Skip(std::int64_t{maps} * sectors))
            return "a sector map cut short";
        for (int i = 0; i < sectors; ++i) {
            const int type = walk.Byte();
            if (type < 0 || type > 8)
                return type < 0 ? "sector data cut short" : "a sector of unknown type";
            if (type != 0 && !walk.Skip(type % 2 == 1 ? 128 << sizeCode : 1))
                return "sector data cut short";
        }
    }
    return {};
}

// One TeleDisk sector's data block: its length (with the method byte), the
// method, then raw bytes (0), a 2-byte pattern repeated (1: count, pattern),
// or runs (2: 0 then a count of literal bytes, or a pattern length in words
// then a repeat count and the pattern).
std::string TeleDiskSectorFault(ImageWalk& walk, int sectorSize) {
    const int length = walk.Word();
    const int method = walk.Byte();
    if (length < 1 || method < 0)
        return "sector data cut short";
    const std::int64_t end = walk.At() + length - 1;
    std::int64_t decoded = 0;
    if (method == 0) {
        decoded = length - 1;
        walk.Skip(length - 1);
    } else if (method == 1) {
        decoded = 2 * std::int64_t{walk.Word()};
        walk.Skip(2);
    } else if (method == 2) {
        while (walk.At() < end && decoded <= sectorSize) {
            const int kind = walk.Byte(), count = walk.Byte();
            if (kind < 0 || count < 0)
                return "sector data cut short";
            const std::int64_t bytes = kind == 0 ? count : 2 * std::int64_t{kind};
            decoded += kind == 0 ? count : bytes * count;
            walk.Skip(bytes);
        }
    } else {
        return "sector data in an unknown method";
    }
    if (walk.At() != end || walk.At() > walk.Length())
        return "sector data whose length does not add up";
    return decoded > sectorSize ? "sector data longer than its sector" : std::string();
}

// TeleDisk (not the advanced compression): the header of 12 bytes, a
// comment block when bit 7 of the stepping byte is set (its length at 2),
// then tracks (sector count, 255 at the end; cylinder, head, CRC) of
// sectors (cylinder, head, number, size code, flags, CRC), each with a data
// block unless its flags say it has none.
std::string TeleDiskFault(ScanSource& source) {
    std::array<std::uint8_t, 12> header{};
    if (source.ReadAt(0, header.data(), 12) != 12)
        return "a header cut short";
    if (header[0] == 't')
        return "advanced compression, which is not read";
    ImageWalk walk(source);
    walk.Skip(12);
    if ((header[7] & 0x80) != 0) {
        walk.Skip(2);
        const int length = walk.Word();
        if (length < 0 || !walk.Skip(6 + std::int64_t{length}))
            return "a comment cut short";
    }
    for (;;) {
        const int sectors = walk.Byte();
        if (sectors == 0xFF)
            return {};
        if (sectors < 0 || !walk.Skip(3))
            return "a track header cut short";
        // libdsk divides by a track's sector count.
        if (sectors == 0)
            return "a track without sectors";
        for (int i = 0; i < sectors; ++i) {
            walk.Skip(3);
            const int sizeCode = walk.Byte(), flags = walk.Byte();
            if (sizeCode < 0 || flags < 0 || !walk.Skip(1))
                return "a sector header cut short";
            if (sizeCode > kMaxSizeCode)
                return "a sector of impossible size";
            if ((flags & 0x30) != 0)
                continue;
            if (const std::string fault = TeleDiskSectorFault(walk, 128 << sizeCode);
                !fault.empty())
                return fault;
        }
    }
}

} // namespace

void ReadFloppyImage(ScanSource& container, ContainerKind kind, MemberVisitor& visitor) {
    const std::string fault =
        kind == ContainerKind::kImd ? ImdFault(container) : TeleDiskFault(container);
    if (!fault.empty()) {
        visitor.Problem("floppy image not read: " + fault);
        return;
    }
    MemberStore copy(&visitor.TemporaryFiles());
    const int descriptor = DescriptorOf(container, copy, visitor);
    if (descriptor < 0)
        return;
    const std::string name = "/proc/self/fd/" + std::to_string(descriptor);
    DSK_PDRIVER opened = nullptr;
    const dsk_err_t openError =
        dsk_open(&opened, name.c_str(), kind == ContainerKind::kImd ? "imd" : "tele", nullptr);
    if (openError != DSK_ERR_OK) {
        visitor.Problem(std::string("floppy image not read: ") + dsk_strerror(openError));
        return;
    }
    const std::unique_ptr<dsk_driver, DriveClose> drive(opened);
    DSK_GEOMETRY geometry{};
    if (const dsk_err_t error = dsk_getgeom(drive.get(), &geometry); error != DSK_ERR_OK) {
        visitor.Problem(std::string("floppy image without a DOS geometry: ") + dsk_strerror(error));
        return;
    }
    // Each factor is checked before the product, which then cannot overflow.
    const bool floppy = geometry.dg_cylinders <= 255 && geometry.dg_heads <= 2 &&
                        geometry.dg_sectors <= 255 && geometry.dg_secsize <= 8192;
    const std::int64_t length = std::int64_t{geometry.dg_cylinders} * geometry.dg_heads *
                                geometry.dg_sectors *
                                static_cast<std::int64_t>(geometry.dg_secsize);
    if (!floppy || length > kMaxFloppyBytes || length == 0) {
        visitor.Problem("floppy image whose geometry is no floppy's; not read");
        return;
    }
    if (!visitor.Charge(length))
        return;
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(length));
    std::int64_t unread = 0;
    std::size_t at = 0;
    for (dsk_pcyl_t cylinder = 0; cylinder < geometry.dg_cylinders; ++cylinder) {
        for (dsk_phead_t head = 0; head < geometry.dg_heads; ++head) {
            for (dsk_psect_t sector = 0; sector < geometry.dg_sectors; ++sector) {
                if (dsk_pread(drive.get(), &geometry, raw.data() + at, cylinder, head,
                              geometry.dg_secbase + sector) != DSK_ERR_OK)
                    ++unread;
                at += geometry.dg_secsize;
            }
        }
        if (visitor.Stopping())
            return;
    }
    if (unread > 0)
        visitor.Problem(std::to_string(unread) + " sectors cannot be read; read as zeros");
    BytesSource image(raw);
    ReadDiskImage(image, ContainerKind::kDiskImage, visitor);
}

} // namespace kestrel
