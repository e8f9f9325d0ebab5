#include "fat_entries.h"

#include <unordered_set>

#include "sleuth_kit_library.h"

namespace kestrel {

namespace {

// A folder entry: the name (8 bytes, padded with spaces) and extension (3),
// the attributes at 11, the high half of the first cluster at 20 (FAT32),
// the time at 22 and date at 24, the low half of the first cluster at 26 and
// the size at 28. A first name byte of 0 ends the folder, 0xE5 marks a
// deleted entry, 0x05 stands for a name starting with 0xE5.
constexpr std::size_t kEntryLength = 32;
constexpr std::uint8_t kEndOfFolder = 0x00, kDeleted = 0xE5, kE5Stand = 0x05;
constexpr std::uint8_t kVolumeLabel = 0x08, kFolder = 0x10, kLongName = 0x0F;

std::uint32_t Little(const std::uint8_t* bytes, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value;
}

std::string ShortName(const std::uint8_t* entry) {
    const auto part = [&](int from, int length) {
        std::string text;
        for (int i = from; i < from + length && entry[i] != ' '; ++i)
            text += entry[i] < 0x20 || entry[i] > 0x7E ? '_' : static_cast<char>(entry[i]);
        return text;
    };
    std::string name = part(0, 8);
    if (entry[0] == kE5Stand)
        name[0] = '_';
    const std::string extension = part(8, 3);
    return extension.empty() ? name : name + "." + extension;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(int year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(year - era * 400);
    const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return std::int64_t{era} * 146097 + doe - 719468;
}

} // namespace

std::int64_t DosTime(std::uint32_t date, std::uint32_t time) {
    const unsigned month = date >> 5 & 15, day = date & 31;
    if (month < 1 || month > 12 || day < 1)
        return 0;
    return DaysFromCivil(1980 + static_cast<int>(date >> 9), month, day) * 86400 +
           (time >> 11) * 3600 + (time >> 5 & 63) * 60 + (time & 31) * 2;
}

std::vector<FatEntry> ParseFatFolder(const std::vector<std::uint8_t>& bytes) {
    std::vector<FatEntry> entries;
    for (std::size_t at = 0; at + kEntryLength <= bytes.size(); at += kEntryLength) {
        const std::uint8_t* entry = bytes.data() + at;
        const std::uint8_t attributes = entry[11];
        if (entry[0] == kEndOfFolder)
            break;
        if (entry[0] == kDeleted || entry[0] == '.' || attributes == kLongName ||
            (attributes & kVolumeLabel) != 0)
            continue;
        entries.push_back({ShortName(entry), (attributes & kFolder) != 0,
                           Little(entry + 20, 2) << 16 | Little(entry + 26, 2),
                           Little(entry + 28, 4),
                           DosTime(Little(entry + 24, 2), Little(entry + 22, 2))});
    }
    return entries;
}

bool FatVolume::Open(TSK_IMG_INFO* image, TSK_OFF_T offset, TSK_FS_TYPE_ENUM type) {
    std::uint8_t boot[512];
    if (Tsk().img_read(image, offset, reinterpret_cast<char*>(boot), sizeof boot) != sizeof boot)
        return false;
    const std::uint32_t sectorSize = Little(boot + 11, 2), perCluster = boot[13];
    const std::uint32_t reserved = Little(boot + 14, 2), fats = boot[16];
    const std::uint32_t rootEntries = Little(boot + 17, 2);
    const std::uint32_t sectors =
        Little(boot + 19, 2) != 0 ? Little(boot + 19, 2) : Little(boot + 32, 4);
    const std::uint32_t fatSectors =
        Little(boot + 22, 2) != 0 ? Little(boot + 22, 2) : Little(boot + 36, 4);
    if (sectorSize < 512 || sectorSize > 4096 || (sectorSize & (sectorSize - 1)) != 0 ||
        perCluster == 0 || (perCluster & (perCluster - 1)) != 0 || fats == 0 || fatSectors == 0)
        return false;
    const std::uint64_t dataSector = reserved + std::uint64_t{fats} * fatSectors +
                                     (rootEntries * kEntryLength + sectorSize - 1) / sectorSize;
    if (dataSector >= sectors)
        return false;
    m_image = image;
    m_type = type;
    m_fat = offset + TSK_OFF_T{reserved} * sectorSize;
    m_data = offset + static_cast<TSK_OFF_T>(dataSector * sectorSize);
    m_clusterSize = std::int64_t{sectorSize} * perCluster;
    m_clusters = static_cast<std::uint32_t>((sectors - dataSector) / perCluster);
    return true;
}

std::uint32_t FatVolume::Next(std::uint32_t cluster) const {
    std::uint8_t bytes[4] = {};
    if (m_type == TSK_FS_TYPE_FAT12) {
        if (Tsk().img_read(m_image, m_fat + cluster + cluster / 2, reinterpret_cast<char*>(bytes),
                           2) != 2)
            return 0;
        const std::uint32_t pair = Little(bytes, 2);
        return cluster % 2 == 0 ? pair & 0xFFF : pair >> 4;
    }
    const int width = m_type == TSK_FS_TYPE_FAT16 ? 2 : 4;
    if (Tsk().img_read(m_image, m_fat + TSK_OFF_T{cluster} * width, reinterpret_cast<char*>(bytes),
                       width) != width)
        return 0;
    return width == 2 ? Little(bytes, 2) : Little(bytes, 4) & 0x0FFFFFFF;
}

std::vector<TSK_OFF_T> FatVolume::Chain(const FatEntry& entry, std::string& fault) const {
    const std::uint32_t endMark = m_type == TSK_FS_TYPE_FAT12   ? 0xFF8
                                  : m_type == TSK_FS_TYPE_FAT16 ? 0xFFF8
                                                                : 0x0FFFFFF8;
    const std::int64_t need = (std::int64_t{entry.size} + m_clusterSize - 1) / m_clusterSize;
    std::vector<TSK_OFF_T> clusters;
    std::unordered_set<std::uint32_t> seen;
    for (std::uint32_t cluster = entry.firstCluster; std::ssize(clusters) < need;
         cluster = Next(cluster)) {
        if (cluster >= endMark) {
            fault = "its FAT chain ends early";
        } else if (cluster < 2 || cluster > m_clusters + 1) {
            fault = "its FAT chain leaves the volume";
        } else if (!seen.insert(cluster).second) {
            fault = "its FAT chain loops";
        } else {
            clusters.push_back(m_data + TSK_OFF_T{cluster - 2} * m_clusterSize);
            continue;
        }
        break;
    }
    return clusters;
}

} // namespace kestrel
