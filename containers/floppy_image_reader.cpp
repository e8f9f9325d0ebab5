// IMD (ImageDisk) and TeleDisk floppy images through libdsk: the sectors are
// read into memory in the order of a raw image (cylinder, head, sector) and
// that image is read as any other disk image. libdsk opens images by name:
// the file on disk is named through its open descriptor in /proc/self/fd,
// and a member is first copied into a MemberStore, whose temporary file
// (under the budget, in $TMPDIR) is named the same way.

#include <algorithm>
#include <libdsk.h>
#include <memory>
#include <string>
#include <vector>

#include "container_readers.h"
#include "member_store.h"

namespace kestrel {

namespace {

// The largest floppy DOS knew is the 2.88 MB ED disk: 80 cylinders, 2
// heads, 36 sectors of 512 bytes. A geometry of more than twice that is no
// floppy, and is not read into memory.
constexpr std::int64_t kMaxFloppyBytes = 2 * 80 * 2 * 36 * 512;
constexpr std::int64_t kCopyBlockSize = 64 * 1024;

class RawImage : public ScanSource {
public:
    explicit RawImage(const std::vector<std::uint8_t>& bytes) : m_bytes(bytes) {}
    std::int64_t Length() const override { return std::ssize(m_bytes); }
    std::int64_t ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count) override {
        if (offset < 0 || count < 0)
            return -1;
        const std::int64_t n = std::clamp<std::int64_t>(Length() - offset, 0, count);
        std::copy_n(m_bytes.begin() + offset, n, into);
        return n;
    }

private:
    const std::vector<std::uint8_t>& m_bytes;
};

struct DriveClose {
    void operator()(DSK_PDRIVER drive) const { dsk_close(&drive); }
};

// A descriptor that holds the container's bytes: the file's own, or that of
// a copy in `copy`; -1, said, when the copy cannot be made.
int DescriptorOf(ScanSource& container, MemberStore& copy, MemberVisitor& visitor) {
    if (auto* file = dynamic_cast<FileSource*>(&container))
        return file->Descriptor();
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

} // namespace

void ReadFloppyImage(ScanSource& container, ContainerKind kind, MemberVisitor& visitor) {
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
    RawImage image(raw);
    ReadDiskImage(image, ContainerKind::kDiskImage, visitor);
}

} // namespace kestrel
