#pragma once

// What TSK leaves out of a FAT volume, read from the volume's own bytes: TSK
// passes over a folder entry it finds implausible (a size larger than the
// volume, a first cluster past its end) and gives no bytes of a file whose
// cluster chain loops. Both are read here as far as the volume holds them.

#include <cstdint>
#include <string>
#include <tsk/libtsk.h>
#include <vector>

namespace kestrel {

// One file or folder as its 32-byte folder entry has it.
struct FatEntry {
    std::string shortName; // "README.TXT", as the entry spells it
    bool folder = false;
    std::uint32_t firstCluster = 0;
    std::uint32_t size = 0;
    std::int64_t modified = 0; // seconds since the epoch, the DOS time taken as UTC
};

// A DOS date (years since 1980 in 7 bits, month in 4, day in 5) and time
// (hours in 5 bits, minutes in 6, seconds / 2 in 5) in seconds since the
// epoch, taken as UTC; 0 when the date is no date.
std::int64_t DosTime(std::uint32_t date, std::uint32_t time);

// The files and folders a folder's bytes hold, in order: not deleted
// entries, long-name parts, the volume label, "." or "..".
std::vector<FatEntry> ParseFatFolder(const std::vector<std::uint8_t>& bytes);

// The geometry of one FAT volume from its boot sector, and its cluster chains.
class FatVolume {
public:
    // False when the boot sector's fields make no volume.
    bool Open(TSK_IMG_INFO* image, TSK_OFF_T offset, TSK_FS_TYPE_ENUM type);

    // Where a file's bytes lie in the image, one cluster each, followed from
    // its first cluster as far as its size needs. Fewer when the chain ends
    // early, loops or leaves the volume: `fault` then says which.
    std::vector<TSK_OFF_T> Chain(const FatEntry& entry, std::string& fault) const;

    std::int64_t ClusterSize() const { return m_clusterSize; }

private:
    // The FAT's entry for `cluster`; 0 when it cannot be read.
    std::uint32_t Next(std::uint32_t cluster) const;

    TSK_IMG_INFO* m_image = nullptr;
    TSK_FS_TYPE_ENUM m_type = TSK_FS_TYPE_DETECT;
    TSK_OFF_T m_fat = 0;  // where the first FAT starts in the image
    TSK_OFF_T m_data = 0; // where cluster 2 starts
    std::int64_t m_clusterSize = 0;
    std::uint32_t m_clusters = 0; // clusters 2 .. m_clusters + 1 exist
};

} // namespace kestrel
