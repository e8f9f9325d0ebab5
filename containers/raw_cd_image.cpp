// Raw CD images (the BIN files of CD copying programs): every sector as the
// disc holds it, 2352 bytes: 12 bytes of sync, a 4-byte header (the sector's
// address as minutes, seconds and frames, then its mode), and for MODE1 the
// 2048 bytes of user data at 16, followed by error detection and correction
// codes; for MODE2 form 1 an 8-byte subheader comes first and the user data
// start at 24. The user data are presented as a source of 2048-byte sectors,
// read a sector at a time where they lie (the image is never copied), and
// read as ISO 9660 by libarchive.

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "container_kind.h"
#include "container_readers.h"

namespace kestrel {

namespace {

constexpr std::int64_t kRawSectorSize = 2352;
constexpr std::int64_t kUserDataSize = 2048;
constexpr std::int64_t kModeOffset = 15;
constexpr std::int64_t kMode1UserData = 16;
constexpr std::int64_t kMode2UserData = 24; // after the subheader
// ISO 9660's first volume descriptor is the user data of sector 16.
constexpr std::int64_t kVolumeDescriptorSector = 16;

constexpr std::array<std::uint8_t, 12> kSync = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

// The user data of a raw image's sectors, one after the other.
class CdUserData : public ScanSource {
public:
    CdUserData(ScanSource& image, std::int64_t userData)
        : m_image(image), m_userData(userData),
          m_length(image.Length() / kRawSectorSize * kUserDataSize) {}
    std::int64_t Length() const override { return m_length; }
    std::int64_t ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count) override {
        if (offset < 0 || count < 0)
            return -1;
        count = std::min(count, std::max<std::int64_t>(m_length - offset, 0));
        std::int64_t done = 0;
        while (done < count) {
            const std::int64_t sector = (offset + done) / kUserDataSize;
            const std::int64_t within = (offset + done) % kUserDataSize;
            const std::int64_t part = std::min(count - done, kUserDataSize - within);
            const std::int64_t got =
                m_image.ReadAt(sector * kRawSectorSize + m_userData + within, into + done, part);
            if (got != part)
                return got < 0 ? -1 : done + got;
            done += part;
        }
        return done;
    }

private:
    ScanSource& m_image;
    std::int64_t m_userData;
    std::int64_t m_length;
};

// The sync and the mode of the raw sector `sector`: 1 or 2, or 0 for none.
int SectorMode(ScanSource& image, std::int64_t sector) {
    std::array<std::uint8_t, kModeOffset + 1> header{};
    const std::int64_t at = sector * kRawSectorSize;
    if (image.ReadAt(at, header.data(), header.size()) !=
            static_cast<std::int64_t>(header.size()) ||
        std::memcmp(header.data(), kSync.data(), kSync.size()) != 0)
        return 0;
    const int mode = header[kModeOffset];
    return mode == 1 || mode == 2 ? mode : 0;
}

} // namespace

std::int64_t RawCdUserDataOffset(ScanSource& source) {
    if (SectorMode(source, 0) == 0)
        return -1;
    const int mode = SectorMode(source, kVolumeDescriptorSector);
    const std::int64_t userData = mode == 1 ? kMode1UserData : kMode2UserData;
    std::array<std::uint8_t, 6> descriptor{};
    if (mode == 0 || source.ReadAt(kVolumeDescriptorSector * kRawSectorSize + userData,
                                   descriptor.data(), descriptor.size()) != 6)
        return -1;
    // The descriptor's type (boot record, primary, supplementary, partition
    // or terminator) and its standard identifier.
    const std::uint8_t type = descriptor[0];
    return (type <= 3 || type == 255) && std::memcmp(descriptor.data() + 1, "CD001", 5) == 0
               ? userData
               : -1;
}

void ReadRawCdImage(ScanSource& image, MemberVisitor& visitor) {
    const std::int64_t userData = RawCdUserDataOffset(image);
    if (userData < 0)
        return visitor.Problem("not a readable raw CD image");
    const std::int64_t rest = image.Length() % kRawSectorSize;
    if (rest != 0)
        visitor.Problem("ends " + std::to_string(rest) + " bytes into a sector; they are not read");
    CdUserData data(image, userData);
    ReadArchive(data, ContainerKind::kArchive, visitor);
}

} // namespace kestrel
