// Disk images through The Sleuth Kit: raw images of floppies and hard disks
// with or without a partition table (every partition is read), with FAT12,
// FAT16, FAT32, NTFS or ext2/3/4 file systems; VMDK, VHD and VHDX files
// through libvmdk and libvhdi, E01 evidence files through libewf. TSK reads
// every image through its external image interface: a raw image over the
// scan source, so that an image inside an archive needs no file of its own,
// a virtual disk or evidence file through the library that opened it by name.

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <libewf.h>
#include <libvhdi.h>
#include <libvmdk.h>
#include <limits.h>
#include <set>
#include <string>
#include <string_view>
#include <unistd.h>
#include <utility>
#include <vector>

#include "container_readers.h"
#include "fat_entries.h"
#include "member_store.h"
#include "sleuth_kit_library.h"

namespace kestrel {

namespace {

// Folders are followed at most this deep. A Windows path holds at most 260
// characters, so no folder tree a DOS or Windows program lives in is deeper
// than 130 levels; a deeper one is damaged or crafted.
constexpr int kMaxFolderDepth = 130;

// NTFS keeps its own metadata files ($MFT, $Bitmap, $Extend...) in the first
// 16 records of the master file table; they are no members.
constexpr TSK_INUM_T kNtfsFirstUserRecord = 16;

constexpr unsigned int kSectorSize = 512;

// The header of a sparse VMDK extent: "KDMV", its version (1 to 3) at 4, and
// at 28 and 36 the offset and size, in sectors, of the descriptor text
// embedded in it.
constexpr std::int64_t kVmdkVersionField = 4;
constexpr std::int64_t kVmdkDescriptorOffsetField = 28;
constexpr std::int64_t kVmdkDescriptorSizeField = 36;
// VMware writes a descriptor of 20 sectors; a longer one is not read.
constexpr std::int64_t kMaxVmdkDescriptorLength = 64 * 1024;

// A VMDK, VHD or VHDX file opened with libvmdk or libvhdi, or an E01
// evidence file with libewf, read by offset into the disk it holds. Opened here rather than by TSK,
// which keeps neither the handle when opening fails nor the error of a failed read.
class VirtualDisk {
public:
    VirtualDisk() = default;
    VirtualDisk(const VirtualDisk&) = delete;
    VirtualDisk& operator=(const VirtualDisk&) = delete;
    ~VirtualDisk() {
        libvmdk_error_t* vmdkError = nullptr;
        libvhdi_error_t* vhdError = nullptr;
        libewf_error_t* ewfError = nullptr;
        if (m_vmdk != nullptr && m_open)
            libvmdk_handle_close(m_vmdk, &vmdkError);
        if (m_vmdk != nullptr)
            libvmdk_handle_free(&m_vmdk, &vmdkError);
        if (m_vhd != nullptr && m_open)
            libvhdi_file_close(m_vhd, &vhdError);
        if (m_vhd != nullptr)
            libvhdi_file_free(&m_vhd, &vhdError);
        if (m_ewf != nullptr && m_open)
            libewf_handle_close(m_ewf, &ewfError);
        if (m_ewf != nullptr)
            libewf_handle_free(&m_ewf, &ewfError);
        libvmdk_error_free(&vmdkError);
        libvhdi_error_free(&vhdError);
        libewf_error_free(&ewfError);
    }

    // A VMDK by the name of its descriptor, its extents beside it.
    bool OpenVmdk(const std::string& path) {
        libvmdk_error_t* error = nullptr;
        size64_t size = 0;
        m_open = libvmdk_handle_initialize(&m_vmdk, &error) == 1 &&
                 libvmdk_handle_open(m_vmdk, path.c_str(), LIBVMDK_OPEN_READ, &error) == 1;
        const bool ready = m_open && libvmdk_handle_open_extent_data_files(m_vmdk, &error) == 1 &&
                           libvmdk_handle_get_media_size(m_vmdk, &size, &error) == 1;
        libvmdk_error_free(&error);
        return Sized(ready, size);
    }

    bool OpenVhd(const std::string& path) {
        libvhdi_error_t* error = nullptr;
        size64_t size = 0;
        m_open = libvhdi_file_initialize(&m_vhd, &error) == 1 &&
                 libvhdi_file_open(m_vhd, path.c_str(), LIBVHDI_OPEN_READ, &error) == 1;
        const bool ready = m_open && libvhdi_file_get_media_size(m_vhd, &size, &error) == 1;
        libvhdi_error_free(&error);
        return Sized(ready, size);
    }

    // An evidence file; its header, chunk tables and data checksums are
    // libewf's to check. One on disk, named `onDisk`, is opened with the
    // further segments of its set beside it (DISK.E02, DISK.E03...), which
    // libewf finds from its name; one inside another container is read alone.
    bool OpenEwf(const std::string& path, const std::string& onDisk) {
        libewf_error_t* error = nullptr;
        size64_t size = 0;
        char** segments = nullptr;
        int count = 0;
        const bool set =
            !onDisk.empty() && libewf_glob(onDisk.c_str(), onDisk.size(), LIBEWF_FORMAT_UNKNOWN,
                                           &segments, &count, &error) == 1;
        char* alone[] = {const_cast<char*>(path.c_str())};
        m_open = libewf_handle_initialize(&m_ewf, &error) == 1 &&
                 libewf_handle_open(m_ewf, set ? segments : alone, set ? count : 1,
                                    LIBEWF_OPEN_READ, &error) == 1;
        if (set)
            libewf_glob_free(segments, count, &error);
        const bool ready = m_open && libewf_handle_get_media_size(m_ewf, &size, &error) == 1;
        libewf_error_free(&error);
        return Sized(ready, size);
    }

    std::int64_t Size() const { return m_size; }

    // The chunks of an evidence file whose checksum failed when they were read.
    std::uint32_t ChecksumErrors() const {
        std::uint32_t count = 0;
        libewf_error_t* error = nullptr;
        if (m_ewf != nullptr &&
            libewf_handle_get_number_of_checksum_errors(m_ewf, &count, &error) != 1)
            count = 0;
        libewf_error_free(&error);
        return count;
    }

    ssize_t Read(TSK_OFF_T offset, char* into, std::size_t count) {
        ssize_t got = -1;
        if (m_vmdk != nullptr) {
            libvmdk_error_t* error = nullptr;
            got = libvmdk_handle_read_buffer_at_offset(m_vmdk, into, count, offset, &error);
            libvmdk_error_free(&error);
        } else if (m_vhd != nullptr) {
            libvhdi_error_t* error = nullptr;
            got = libvhdi_file_read_buffer_at_offset(m_vhd, into, count, offset, &error);
            libvhdi_error_free(&error);
        } else if (m_ewf != nullptr) {
            libewf_error_t* error = nullptr;
            got = libewf_handle_read_random(m_ewf, into, count, offset, &error);
            libewf_error_free(&error);
        }
        return got;
    }

private:
    bool Sized(bool ready, size64_t size) {
        m_size =
            ready && size <= static_cast<size64_t>(INT64_MAX) ? static_cast<std::int64_t>(size) : 0;
        return m_size > 0;
    }

    libvmdk_handle_t* m_vmdk = nullptr;
    libvhdi_file_t* m_vhd = nullptr;
    libewf_handle_t* m_ewf = nullptr;
    bool m_open = false;
    std::int64_t m_size = 0;
};

// Every read TSK makes of an image passes here, whether the bytes come from
// the scan source (a raw image) or from TSK's own reader of a VMDK or VHD:
// once a stop is asked for or the expansion limit is reached, reads fail, so
// that TSK's loops over a damaged image end at once. What is read for
// metadata and folders counts against the expansion limit as it is read;
// what is read for a member is counted by the member (ImageFile), sparse
// parts included.
struct ImageReads {
    MemberVisitor& visitor;
    ScanSource* source = nullptr; // a raw image
    VirtualDisk* disk = nullptr;  // or a VMDK or VHD
    bool forMember = false;
    // The file system's own way to load a record, which LoadRecord wraps.
    uint8_t (*loadRecord)(TSK_FS_INFO*, TSK_FS_FILE*, TSK_INUM_T) = nullptr;
    bool claimCut = false; // a folder's size claim was cut to the image's size
};

// TSK's image structure with the reads behind it: TSK hands the structure
// back to the read and close functions.
struct ExternalImage {
    TSK_IMG_INFO info;
    ImageReads* reads;
};

ImageReads& ReadsOf(TSK_IMG_INFO* info) {
    return *reinterpret_cast<ExternalImage*>(info)->reads;
}

ssize_t ReadImage(TSK_IMG_INFO* info, TSK_OFF_T offset, char* into, std::size_t count) {
    ImageReads& reads = ReadsOf(info);
    if (reads.visitor.Stopping() ||
        (!reads.forMember && !reads.visitor.Charge(static_cast<std::int64_t>(count))))
        return -1;
    if (reads.disk != nullptr)
        return reads.disk->Read(offset, into, count);
    return static_cast<ssize_t>(reads.source->ReadAt(offset, reinterpret_cast<std::uint8_t*>(into),
                                                     static_cast<std::int64_t>(count)));
}

void CloseImage(TSK_IMG_INFO* info) {
    std::free(info);
}

void DescribeImage(TSK_IMG_INFO*, FILE*) {}

TSK_IMG_INFO* OpenExternalImage(ImageReads& reads, std::int64_t length) {
    auto* image = static_cast<ExternalImage*>(std::calloc(1, sizeof(ExternalImage)));
    if (image == nullptr)
        return nullptr;
    image->reads = &reads;
    TSK_IMG_INFO* info =
        Tsk().img_open_external(image, length, kSectorSize, ReadImage, CloseImage, DescribeImage);
    if (info == nullptr)
        std::free(image);
    return info;
}

// Where the blocks an ext2/3/4 folder really has end: a folder has no holes,
// and TSK reads one to the end of its claim, parsing every hole as entries.
TSK_OFF_T EndOfBlocks(TSK_FS_FILE* file) {
    const TSK_FS_ATTR* attr = Tsk().fs_file_attr_get(file);
    if (attr == nullptr || (attr->flags & TSK_FS_ATTR_NONRES) == 0)
        return file->meta->size;
    TSK_OFF_T end = 0;
    for (const TSK_FS_ATTR_RUN* run = attr->nrd.run; run != nullptr; run = run->next) {
        if ((run->flags & (TSK_FS_ATTR_RUN_FLAG_SPARSE | TSK_FS_ATTR_RUN_FLAG_FILLER)) == 0)
            end = std::max<TSK_OFF_T>(
                end, static_cast<TSK_OFF_T>((run->offset + run->len) * file->fs_info->block_size));
    }
    return end;
}

// A record TSK loads for a folder that claims more bytes than the whole
// image holds, or (ext2/3/4) than its blocks hold, is cut to what it holds: a
// claim of gigabytes over holes costs minutes of CPU in TSK, where no stop is
// seen, for nothing (or, past what the file system can map, loses the whole
// folder).
uint8_t LoadRecord(TSK_FS_INFO* fs, TSK_FS_FILE* file, TSK_INUM_T address) {
    ImageReads& reads = ReadsOf(fs->img_info);
    const uint8_t failed = reads.loadRecord(fs, file, address);
    if (failed != 0 || file->meta == nullptr || !TSK_FS_IS_DIR_META(file->meta->type))
        return failed;
    TSK_FS_META* meta = file->meta;
    const TSK_OFF_T claim = meta->size;
    // The image's size first, so that TSK maps no more blocks than that.
    meta->size = std::min<TSK_OFF_T>(claim, fs->img_info->size);
    if (TSK_FS_TYPE_ISEXT(fs->ftype))
        meta->size = std::min(meta->size, EndOfBlocks(file));
    reads.claimCut = reads.claimCut || meta->size < claim;
    return failed;
}

// A VHD that opens with a copy of its footer at 0 is a dynamic disk: the
// footer's "conectix", its disk type at 60 (3 dynamic, 4 differencing) and
// its checksum at 64, the one's complement of the sum of its other bytes; the
// data offset at 16 leads to the dynamic disk header, "cxsparse" with the
// same kind of checksum at 36. All big-endian.
constexpr std::int64_t kVhdFooterLength = 512;
constexpr std::int64_t kVhdDynamicHeaderLength = 1024;
constexpr std::uint32_t kVhdDynamicDisk = 3;
constexpr std::uint32_t kVhdDifferencingDisk = 4;

std::uint64_t BigEndian(const std::uint8_t* bytes, int count) {
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | bytes[i];
    return value;
}

bool VhdChecksumMatches(const std::vector<std::uint8_t>& bytes, std::size_t field) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i < field || i >= field + 4)
            sum += bytes[i];
    }
    return ~sum == BigEndian(bytes.data() + field, 4);
}

// The checks libvhdi makes first, made here, where the reason is then clear.
// Empty when the image may be opened.
std::string VhdRefusal(ScanSource& source) {
    std::vector<std::uint8_t> footer(kVhdFooterLength);
    if (source.ReadAt(0, footer.data(), kVhdFooterLength) != kVhdFooterLength ||
        !VhdChecksumMatches(footer, 64))
        return "damaged VHD footer";
    const std::uint64_t type = BigEndian(footer.data() + 60, 4);
    if (type == kVhdDifferencingDisk)
        return "a differencing VHD, which needs its parent image";
    const std::uint64_t offset = BigEndian(footer.data() + 16, 8);
    std::vector<std::uint8_t> header(kVhdDynamicHeaderLength);
    if (type != kVhdDynamicDisk || offset > static_cast<std::uint64_t>(source.Length()) ||
        source.ReadAt(static_cast<std::int64_t>(offset), header.data(), kVhdDynamicHeaderLength) !=
            kVhdDynamicHeaderLength ||
        std::memcmp(header.data(), "cxsparse", 8) != 0 || !VhdChecksumMatches(header, 36))
        return "damaged VHD header";
    return {};
}

std::int64_t ReadLittleEndian64(ScanSource& source, std::int64_t offset) {
    std::uint8_t bytes[8] = {};
    if (source.ReadAt(offset, bytes, 8) != 8)
        return -1;
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value > static_cast<std::uint64_t>(INT64_MAX) ? -1 : static_cast<std::int64_t>(value);
}

// The one extent a monolithic sparse VMDK names in its descriptor, a line
// `RW 131072 SPARSE "DISK.vmdk"`: the file itself, under the name it was
// made with. Empty when the image has more extents, in files of their own.
std::string VmdkExtentName(ScanSource& source) {
    std::uint8_t version[4] = {};
    if (source.ReadAt(kVmdkVersionField, version, 4) != 4 || version[0] < 1 || version[0] > 3 ||
        version[1] != 0 || version[2] != 0 || version[3] != 0)
        return {};
    const std::int64_t sectors = ReadLittleEndian64(source, kVmdkDescriptorOffsetField);
    const std::int64_t length = ReadLittleEndian64(source, kVmdkDescriptorSizeField);
    if (sectors <= 0 || length <= 0 || sectors > source.Length() / kSectorSize ||
        length > kMaxVmdkDescriptorLength / kSectorSize)
        return {};
    std::string text(static_cast<std::size_t>(length * kSectorSize), '\0');
    const std::int64_t got =
        source.ReadAt(sectors * kSectorSize, reinterpret_cast<std::uint8_t*>(text.data()),
                      static_cast<std::int64_t>(text.size()));
    text.resize(static_cast<std::size_t>(std::max<std::int64_t>(got, 0)));
    std::string name;
    int extents = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t open = line.find(" SPARSE \"");
        if (!(line.starts_with("RW ") || line.starts_with("RDONLY ")) || open == std::string::npos)
            continue;
        const std::size_t first = open + 9;
        const std::size_t close = line.find('"', first);
        if (close == std::string::npos)
            return {};
        name = line.substr(first, close - first);
        ++extents;
    }
    if (extents != 1 || name.empty() || name == "." || name == ".." ||
        name.find('/') != std::string::npos)
        return {};
    return name;
}

// The path of the file open on `descriptor`, as the kernel names it.
std::string PathOf(int descriptor) {
    char path[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
    const ssize_t length = ::readlink(link.c_str(), path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

// A private folder in the temporary directory holding one link to an open
// descriptor, for libvmdk, which finds an extent by its name in the folder
// of the file it opened. Removed with the object; libvmdk keeps its own
// descriptors open.
class LinkFolder {
public:
    LinkFolder(int descriptor, const std::string& name) {
        std::string pattern = TemporaryDirectory() + "/kestrel-image-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            return;
        m_folder = pattern;
        const std::string target = "/proc/self/fd/" + std::to_string(descriptor);
        if (::symlink(target.c_str(), (m_folder + "/" + name).c_str()) == 0)
            m_link = m_folder + "/" + name;
    }
    ~LinkFolder() {
        if (!m_link.empty())
            ::unlink(m_link.c_str());
        if (!m_folder.empty())
            ::rmdir(m_folder.c_str());
    }
    LinkFolder(const LinkFolder&) = delete;
    LinkFolder& operator=(const LinkFolder&) = delete;
    const std::string& Link() const { return m_link; }

private:
    std::string m_folder;
    std::string m_link;
};

// libvmdk, libvhdi and libewf open their files by name: a file on disk by its open
// descriptor, anything else through a temporary copy. `refusal` says why an
// image is not opened.
bool OpenNamedImage(ScanSource& source, ContainerKind kind, MemberStore& copy, VirtualDisk& disk,
                    std::string& refusal) {
    const std::string extent = kind == ContainerKind::kVmdk ? VmdkExtentName(source) : "";
    if (kind == ContainerKind::kVhd)
        refusal = VhdRefusal(source);
    else if (kind == ContainerKind::kVmdk && extent.empty())
        refusal = "a VMDK without its one extent inside";
    if (!refusal.empty())
        return false;
    int descriptor = -1;
    std::string onDisk;
    if (auto* file = dynamic_cast<FileSource*>(&source)) {
        descriptor = file->Descriptor();
        onDisk = PathOf(descriptor);
    } else {
        std::vector<std::uint8_t> block(kSectorSize * 128);
        const auto blockSize = static_cast<std::int64_t>(block.size());
        for (std::int64_t offset = 0; offset < source.Length(); offset += blockSize) {
            const std::int64_t got = source.ReadAt(offset, block.data(), blockSize);
            if (got <= 0 || !copy.Append(block.data(), got))
                return false;
        }
        descriptor = copy.Descriptor();
    }
    if (descriptor < 0)
        return false;
    const std::string path = "/proc/self/fd/" + std::to_string(descriptor);
    if (kind == ContainerKind::kVhd || kind == ContainerKind::kVhdx)
        return disk.OpenVhd(path);
    if (kind == ContainerKind::kEwf)
        return disk.OpenEwf(path, onDisk);
    const LinkFolder folder(descriptor, extent);
    return !folder.Link().empty() && disk.OpenVmdk(folder.Link());
}

// A file inside the image, read as the scanner asks: through TSK, or from
// the clusters of a FAT chain read here. What it reads counts against the
// expansion limit once: a sparse file of terabytes in a small image is as
// much an expansion as a compressed one.
class ImageFile : public ScanSource {
public:
    ImageFile(TSK_FS_FILE* file, ImageReads& reads)
        : m_file(file), m_length(std::max<TSK_OFF_T>(file->meta->size, 0)), m_reads(reads) {}
    ImageFile(std::vector<TSK_OFF_T> clusters, std::int64_t clusterSize, std::int64_t length,
              TSK_IMG_INFO* image, ImageReads& reads)
        : m_length(std::min<std::int64_t>(length, std::ssize(clusters) * clusterSize)),
          m_reads(reads), m_image(image), m_clusters(std::move(clusters)),
          m_clusterSize(clusterSize) {}

    std::int64_t Length() const override { return m_length; }

    std::int64_t ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count) override {
        if (offset < 0 || count < 0)
            return -1;
        if (offset >= m_length)
            return 0;
        count = std::min(count, m_length - offset);
        MemberVisitor& visitor = m_reads.visitor;
        if (offset + count > m_charged) {
            if (visitor.Stopping() || !visitor.Charge(offset + count - m_charged))
                return -1;
            m_charged = offset + count;
        }
        m_reads.forMember = true;
        const std::int64_t got =
            m_file != nullptr
                ? Tsk().fs_file_read(m_file, offset, reinterpret_cast<char*>(into),
                                     static_cast<std::size_t>(count), TSK_FS_FILE_READ_FLAG_NONE)
                : ReadClusters(offset, into, count);
        m_reads.forMember = false;
        // TSK gives fewer bytes than the file holds when its run list ends
        // early, at a loop in a FAT chain for one.
        if (got < count)
            m_failed = true;
        return got > 0 ? got : -1;
    }

    bool Failed() const { return m_failed; }

private:
    std::int64_t ReadClusters(std::int64_t offset, std::uint8_t* into, std::int64_t count) {
        std::int64_t done = 0;
        while (done < count) {
            const auto cluster = static_cast<std::size_t>((offset + done) / m_clusterSize);
            const std::int64_t within = (offset + done) % m_clusterSize;
            const std::int64_t part = std::min(count - done, m_clusterSize - within);
            if (Tsk().img_read(m_image, m_clusters[cluster] + within,
                               reinterpret_cast<char*>(into + done),
                               static_cast<std::size_t>(part)) != part)
                break;
            done += part;
        }
        return done;
    }

    TSK_FS_FILE* m_file = nullptr;
    std::int64_t m_length;
    ImageReads& m_reads;
    TSK_IMG_INFO* m_image = nullptr;
    std::vector<TSK_OFF_T> m_clusters;
    std::int64_t m_clusterSize = 1;
    std::int64_t m_charged = 0;
    bool m_failed = false;
};

// What an entry of a folder is to the walk.
enum class EntryKind { kSkipped, kFile, kFolder, kDamaged };

// FAT keeps the volume label as an entry of the root folder, which TSK
// names "<label> (Volume Label Entry)". A file of that name would have a
// long name, beside which TSK keeps the short one.
bool IsFatVolumeLabel(const TSK_FS_INFO& fs, const TSK_FS_NAME& name) {
    const std::string_view text = name.name;
    return TSK_FS_TYPE_ISFAT(fs.ftype) && text.ends_with(" (Volume Label Entry)") &&
           (name.shrt_name == nullptr || name.shrt_name[0] == '\0');
}

// A short name as TSK and the folder entry both spell it: TSK applies the
// entry's lower-case flags and marks bytes past ASCII with '^'.
std::string ComparableName(std::string_view name) {
    std::string text(name);
    for (char& c : text)
        c = c == '^' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

class FileSystemWalk {
public:
    FileSystemWalk(TSK_FS_INFO* fs, ImageReads& reads)
        : m_fs(fs), m_reads(reads), m_visitor(reads.visitor), m_visited{fs->root_inum},
          m_fat(TSK_FS_TYPE_ISFAT(fs->ftype) &&
                m_volume.Open(fs->img_info, fs->offset, fs->ftype)) {}

    // A folder's files in the order the file system keeps them, then its
    // folders in the same order. False when the container must stop.
    bool WalkFolder(TSK_INUM_T address, const std::string& folder, int depth) {
        const std::string label = folder.empty() ? "root folder" : folder;
        if (depth > kMaxFolderDepth) {
            m_visitor.Problem(label + ": folders nested too deep");
            return true;
        }
        TSK_FS_DIR* directory = OpenFolder(address, label);
        if (directory == nullptr)
            return !m_visitor.Stopping();
        std::vector<FatEntry> entries = m_fat ? FatEntries(directory) : std::vector<FatEntry>{};
        std::vector<std::pair<TSK_INUM_T, std::string>> folders;
        bool goOn = true;
        const std::size_t count = Tsk().fs_dir_getsize(directory);
        for (std::size_t i = 0; i < count && goOn; ++i) {
            TSK_FS_FILE* file = Tsk().fs_dir_get(directory, i);
            if (file == nullptr)
                continue;
            const std::string path = folder + (file->name != nullptr ? file->name->name : "");
            const EntryKind kind = KindOf(*file);
            const FatEntry fatEntry =
                kind == EntryKind::kSkipped ? FatEntry{} : Take(entries, *file);
            switch (kind) {
            case EntryKind::kFile:
                goOn = fatEntry.shortName.empty() || ChainIsSound(fatEntry)
                           ? VisitFile(file, path)
                           : VisitChain(fatEntry, path);
                break;
            case EntryKind::kFolder:
                folders.emplace_back(file->meta->addr, path + "/");
                break;
            case EntryKind::kDamaged:
                m_visitor.Problem(path + ": damaged record; not read");
                break;
            case EntryKind::kSkipped:
                break;
            }
            Tsk().fs_file_close(file);
        }
        Tsk().fs_dir_close(directory);
        // What is left of the folder's own entries TSK passed over.
        for (const FatEntry& entry : entries) {
            if (!goOn)
                break;
            if (entry.folder)
                m_visitor.Problem(folder + entry.shortName +
                                  "/: damaged folder entry; not entered");
            else
                goOn = VisitChain(entry, folder + entry.shortName);
        }
        for (const auto& [child, path] : folders) {
            if (!goOn)
                break;
            // A folder met twice is a loop in a damaged or crafted file system.
            if (m_visited.insert(child).second)
                goOn = WalkFolder(child, path, depth + 1);
            else
                m_visitor.Problem(path + ": a folder met before (a loop); not entered");
        }
        return goOn && !m_visitor.Stopping();
    }

private:
    bool VisitFile(TSK_FS_FILE* file, const std::string& path) {
        ImageFile member(file, m_reads);
        const bool goOn = m_visitor.Visit(path, file->meta->mtime, member);
        if (member.Failed())
            m_visitor.Problem(path + ": cannot be read whole");
        return goOn;
    }

    // TSK gives no bytes of a FAT file whose chain loops or ends early.
    bool ChainIsSound(const FatEntry& entry) const {
        std::string fault;
        m_volume.Chain(entry, fault);
        return fault.empty();
    }

    // A FAT file read from its own chain, as far as the volume holds it.
    bool VisitChain(const FatEntry& entry, const std::string& path) {
        std::string fault;
        ImageFile member(m_volume.Chain(entry, fault), m_volume.ClusterSize(), entry.size,
                         m_fs->img_info, m_reads);
        const bool goOn = m_visitor.Visit(path, entry.modified, member);
        if (!fault.empty())
            m_visitor.Problem(path + ": " + fault + "; " + std::to_string(member.Length()) +
                              " of " + std::to_string(entry.size) + " bytes read");
        else if (member.Failed())
            m_visitor.Problem(path + ": cannot be read whole");
        return goOn;
    }

    // The files and folders of a FAT folder as its own bytes have them.
    std::vector<FatEntry> FatEntries(TSK_FS_DIR* directory) {
        if (directory->fs_file == nullptr || directory->fs_file->meta == nullptr)
            return {};
        std::vector<std::uint8_t> bytes(
            static_cast<std::size_t>(std::max<TSK_OFF_T>(directory->fs_file->meta->size, 0)));
        const ssize_t got =
            Tsk().fs_file_read(directory->fs_file, 0, reinterpret_cast<char*>(bytes.data()),
                               bytes.size(), TSK_FS_FILE_READ_FLAG_NONE);
        bytes.resize(static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        return ParseFatFolder(bytes);
    }

    // The folder entry TSK listed `file` from, taken out of `entries`;
    // empty when there is none.
    static FatEntry Take(std::vector<FatEntry>& entries, const TSK_FS_FILE& file) {
        const TSK_FS_NAME& name = *file.name;
        const std::string wanted = ComparableName(
            name.shrt_name != nullptr && name.shrt_name[0] != '\0' ? name.shrt_name : name.name);
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            if (ComparableName(it->shortName) == wanted) {
                FatEntry entry = *it;
                entries.erase(it);
                return entry;
            }
        }
        return {};
    }

    // The folder's entries, as many as could be read: TSK's own
    // tsk_fs_dir_open_meta drops every entry of a folder that is damaged
    // anywhere, so the file system's reader is called directly. Null when
    // nothing can be read; the reason is said.
    TSK_FS_DIR* OpenFolder(TSK_INUM_T address, const std::string& label) {
        m_reads.claimCut = false;
        TSK_FS_FILE* self = Tsk().fs_file_open_meta(m_fs, nullptr, address);
        const bool isFolder =
            self != nullptr && self->meta != nullptr && TSK_FS_IS_DIR_META(self->meta->type);
        Tsk().fs_file_close(self);
        if (!isFolder) {
            m_visitor.Problem(label + ": damaged record; not a folder");
            return nullptr;
        }
        if (m_reads.claimCut)
            m_visitor.Problem(label + ": claims more bytes than it holds");
        TSK_FS_DIR* directory = nullptr;
        const TSK_RETVAL_ENUM read = m_fs->dir_open_meta(m_fs, &directory, address, 0);
        Tsk().error_reset();
        if (read != TSK_OK || directory == nullptr)
            m_visitor.Problem(label + (directory == nullptr || Tsk().fs_dir_getsize(directory) == 0
                                           ? ": cannot be read"
                                           : ": damaged; read in part"));
        else if (TSK_FS_TYPE_ISEXT(m_fs->ftype) && !HoldsItself(directory))
            m_visitor.Problem(label + ": damaged; its entries cannot be found");
        return directory;
    }

    // Every folder of ext2/3/4 holds "." first. TSK reads a folder whose
    // size is damaged (a claim of 16 GiB reads as 0) as empty, successfully.
    static bool HoldsItself(const TSK_FS_DIR* directory) {
        for (std::size_t i = 0; i < Tsk().fs_dir_getsize(directory); ++i) {
            const TSK_FS_NAME* name = Tsk().fs_dir_get_name(directory, i);
            if (name != nullptr && name->name != nullptr && std::strcmp(name->name, ".") == 0)
                return true;
        }
        return false;
    }

    // Allocated files and folders with a name are members; not ".", "..",
    // deleted entries (whose record may since belong to another file), the
    // virtual files TSK adds ($MBR, $FAT1, $OrphanFiles), links and devices,
    // NTFS's own metadata files or FAT's volume label. A name whose record
    // is missing, free or of another type than the name says is damage.
    EntryKind KindOf(const TSK_FS_FILE& file) const {
        const TSK_FS_NAME* name = file.name;
        const TSK_FS_META* meta = file.meta;
        if (name == nullptr || name->name == nullptr || name->name[0] == '\0' ||
            TSK_FS_ISDOT(name->name) || (name->flags & TSK_FS_NAME_FLAG_UNALLOC) != 0 ||
            name->type == TSK_FS_NAME_TYPE_VIRT || name->type == TSK_FS_NAME_TYPE_VIRT_DIR ||
            IsFatVolumeLabel(*m_fs, *name))
            return EntryKind::kSkipped;
        if (meta == nullptr || (meta->flags & TSK_FS_META_FLAG_UNALLOC) != 0)
            return EntryKind::kDamaged;
        if (TSK_FS_TYPE_ISNTFS(m_fs->ftype) && meta->addr < kNtfsFirstUserRecord)
            return EntryKind::kSkipped;
        const bool nameIsFile = name->type == TSK_FS_NAME_TYPE_REG;
        const bool nameIsFolder = name->type == TSK_FS_NAME_TYPE_DIR;
        const bool nameIsOther =
            !nameIsFile && !nameIsFolder && name->type != TSK_FS_NAME_TYPE_UNDEF;
        switch (meta->type) {
        case TSK_FS_META_TYPE_REG:
            return nameIsFolder || nameIsOther ? EntryKind::kDamaged : EntryKind::kFile;
        case TSK_FS_META_TYPE_DIR:
            return nameIsFile || nameIsOther ? EntryKind::kDamaged : EntryKind::kFolder;
        case TSK_FS_META_TYPE_UNDEF:
            return EntryKind::kDamaged;
        default:
            return nameIsOther ? EntryKind::kSkipped : EntryKind::kDamaged;
        }
    }

    TSK_FS_INFO* m_fs;
    ImageReads& m_reads;
    MemberVisitor& m_visitor;
    std::set<TSK_INUM_T> m_visited;
    FatVolume m_volume;
    bool m_fat; // a FAT volume whose boot sector makes sense
};

// Walks one file system, its files under `prefix`. False when the container must stop.
bool WalkFileSystem(TSK_FS_INFO* fs, const std::string& prefix, ImageReads& reads) {
    reads.loadRecord = fs->file_add_meta;
    fs->file_add_meta = LoadRecord;
    FileSystemWalk walk(fs, reads);
    const bool goOn = walk.WalkFolder(fs->root_inum, prefix, 0);
    Tsk().fs_close(fs);
    return goOn;
}

// The chain of extended partition tables of an MBR disk: each table's
// second entry links to the next, at an offset from the first extended
// table. TSK stops at a table met twice or a damaged one without a word;
// the reason is said here. Empty when the chain is sound.
std::string ExtendedChainFault(TSK_IMG_INFO* image) {
    constexpr int kEntries = 446, kEntryLength = 16, kType = 4, kStart = 8, kSize = 12;
    const auto isExtended = [](std::uint8_t type) {
        return type == 0x05 || type == 0x0F || type == 0x85;
    };
    const auto little32 = [](const std::uint8_t* bytes) {
        return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
               std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
    };
    std::uint8_t sector[kSectorSize];
    if (Tsk().img_read(image, 0, reinterpret_cast<char*>(sector), kSectorSize) != kSectorSize)
        return {};
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t* entry = sector + kEntries + i * kEntryLength;
        if (!isExtended(entry[kType]) || little32(entry + kSize) == 0)
            continue;
        const std::uint64_t base = little32(entry + kStart);
        std::set<std::uint64_t> seen;
        for (std::uint64_t table = base; table != 0;) {
            std::uint8_t ebr[kSectorSize];
            if (!seen.insert(table).second)
                return "extended partition tables loop; the rest is cut";
            if (Tsk().img_read(image, static_cast<TSK_OFF_T>(table * kSectorSize),
                               reinterpret_cast<char*>(ebr), kSectorSize) != kSectorSize ||
                ebr[510] != 0x55 || ebr[511] != 0xAA)
                return "damaged extended partition table; the rest is cut";
            const std::uint8_t* link = ebr + kEntries + kEntryLength;
            table = isExtended(link[kType]) && little32(link + kSize) != 0 &&
                            little32(link + kStart) != 0
                        ? base + little32(link + kStart)
                        : 0;
        }
    }
    return {};
}

// The image as TSK reads it, every read through ImageReads. Null when the
// image cannot be opened: `refusal` says why, or is empty.
TSK_IMG_INFO* OpenImage(ScanSource& container, ContainerKind kind, ImageReads& reads,
                        MemberStore& copy, VirtualDisk& disk, std::string& refusal) {
    if (kind == ContainerKind::kDiskImage) {
        reads.source = &container;
        return OpenExternalImage(reads, container.Length());
    }
    if (!OpenNamedImage(container, kind, copy, disk, refusal))
        return nullptr;
    reads.disk = &disk;
    return OpenExternalImage(reads, disk.Size());
}

} // namespace

void ReadDiskImage(ScanSource& container, ContainerKind kind, MemberVisitor& visitor) {
    if (const std::string& error = LoadSleuthKit(); !error.empty()) {
        visitor.Problem("The Sleuth Kit " + error);
        return;
    }
    MemberStore copy(&visitor.TemporaryFiles());
    std::string refusal;
    ImageReads reads{visitor};
    VirtualDisk disk;
    TSK_IMG_INFO* image = OpenImage(container, kind, reads, copy, disk, refusal);
    if (image == nullptr) {
        if (refusal.empty())
            refusal = copy.Error().empty() ? "not a readable disk image" : copy.Error();
        visitor.Problem(refusal);
    } else if (TSK_VS_INFO* volumes = Tsk().vs_open(image, 0, TSK_VS_TYPE_DETECT)) {
        // A partitioned disk: each partition is a folder "Partition 1",
        // "Partition 2"... in the order of their start on the disk, as mmls
        // lists them, whatever their slots in the table.
        if (volumes->vstype == TSK_VS_TYPE_DOS) {
            const std::string fault = ExtendedChainFault(image);
            if (!fault.empty())
                visitor.Problem(fault);
        }
        int number = 0;
        for (TSK_PNUM_T i = 0; i < volumes->part_count; ++i) {
            const TSK_VS_PART_INFO* part = Tsk().vs_part_get(volumes, i);
            if (part == nullptr || (part->flags & TSK_VS_PART_FLAG_ALLOC) == 0)
                continue;
            const std::string folder = "Partition " + std::to_string(++number);
            TSK_FS_INFO* fs = Tsk().fs_open_vol(part, TSK_FS_TYPE_DETECT);
            if (fs == nullptr) {
                visitor.Problem(folder + ": no file system found");
                continue;
            }
            if (!WalkFileSystem(fs, folder + "/", reads))
                break;
        }
        Tsk().vs_close(volumes);
    } else if (TSK_FS_INFO* fs = Tsk().fs_open_img(image, 0, TSK_FS_TYPE_DETECT)) {
        WalkFileSystem(fs, "", reads);
    } else {
        visitor.Problem("no file system found");
    }
    // libewf counts a chunk in a segment it did not find as one whose checksum failed.
    if (const std::uint32_t failed = disk.ChecksumErrors())
        visitor.Problem(std::to_string(failed) + (failed == 1 ? " chunk" : " chunks") +
                        " of the evidence file missing or failing their checksums");
    Tsk().error_reset();
    if (image != nullptr)
        Tsk().img_close(image);
}

} // namespace kestrel
