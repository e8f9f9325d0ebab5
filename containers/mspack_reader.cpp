// Microsoft's compressed formats through libmspack: SZDD and KWAJ (the
// formats of EXPAND.EXE and COMPRESS.EXE), cabinets with every compression
// method, and compiled HTML help. libmspack reads and writes through an I/O
// table of our own: the container is a scan source, a member goes into a
// MemberStore, and every byte written counts against the expansion limit.
// A stop is seen at every read of the container, so also while libmspack
// decompresses a cabinet's folder up to a file without writing it.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mspack.h>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "container_kind.h"
#include "container_readers.h"
#include "member_store.h"
#include "source_window.h"

namespace kestrel {

namespace {

// The largest block libmspack may ask for. Its biggest needs are the 2 MiB
// LZX window of cabinets and CHM files with its input buffers, and CHM's
// table of directory chunks, whose count comes from the file.
constexpr std::size_t kMaxLibraryAllocation = 32 * 1024 * 1024;

// The names libmspack is given for the two files it opens.
constexpr std::string_view kContainerName = "container";
constexpr std::string_view kMemberName = "member";

struct IoSystem;

struct OpenFile {
    IoSystem* io;
    bool writing;
    std::int64_t position = 0;
};

// The I/O table with what its functions need. libmspack hands the table back
// to open() and alloc(), so it is the first member.
struct IoSystem {
    mspack_system table;
    ScanSource* container;
    MemberVisitor* visitor;
    MemberStore* store = nullptr; // where the member being extracted goes
    std::string writeFailure;     // why the member's bytes could not all be kept
};

OpenFile* AsOpenFile(mspack_file* file) {
    return reinterpret_cast<OpenFile*>(file);
}

// libmspack 0.11 reads through a handle it has closed and set to null when a
// cabinet's data block claims to continue in the next cabinet of a set that
// is not there: every function takes a null handle as an error.

mspack_file* Open(mspack_system* table, const char* name, int mode) {
    IoSystem* io = reinterpret_cast<IoSystem*>(table);
    const bool reading = mode == MSPACK_SYS_OPEN_READ && name == kContainerName;
    const bool writing = mode == MSPACK_SYS_OPEN_WRITE && name == kMemberName && io->store;
    if (!reading && !writing)
        return nullptr;
    return reinterpret_cast<mspack_file*>(new OpenFile{io, writing});
}

void Close(mspack_file* file) {
    delete AsOpenFile(file);
}

// Free Pascal's CHM writer (chmcmd, the Lazarus help files) repeats the
// header's first GUID where the second belongs. Windows opens such files but
// libmspack refuses them, so the header it reads gets the second GUID, which
// differs from the first only in its first byte.
void MendChmHeaderGuids(std::uint8_t* header, std::int64_t length) {
    constexpr std::size_t kFirstGuid = 0x18, kSecondGuid = 0x28, kGuidSize = 16;
    if (length < static_cast<std::int64_t>(kSecondGuid + kGuidSize) ||
        std::memcmp(header, "ITSF", 4) != 0)
        return;
    if (header[kSecondGuid] == 0x10 &&
        std::memcmp(header + kFirstGuid, header + kSecondGuid, kGuidSize) == 0)
        header[kSecondGuid] = 0x11;
}

int Read(mspack_file* handle, void* buffer, int bytes) {
    OpenFile* file = AsOpenFile(handle);
    if (file == nullptr || file->writing || bytes < 0 || file->io->visitor->Stopping())
        return -1;
    std::uint8_t* bytesRead = static_cast<std::uint8_t*>(buffer);
    const std::int64_t got = file->io->container->ReadAt(file->position, bytesRead, bytes);
    if (file->position == 0)
        MendChmHeaderGuids(bytesRead, got);
    if (got > 0)
        file->position += got;
    return static_cast<int>(got);
}

// Between two blocks of a member: the stop test and the expansion limit. A
// block that cannot be kept leaves the member short, and the rest is still
// decompressed: the member is reported as far as it was kept.
int Write(mspack_file* handle, void* buffer, int bytes) {
    OpenFile* file = AsOpenFile(handle);
    if (file == nullptr || !file->writing || bytes < 0)
        return -1;
    IoSystem* io = file->io;
    if (io->visitor->Stopping() || !io->visitor->Charge(bytes))
        return -1;
    if (io->writeFailure.empty() &&
        !io->store->Append(static_cast<const std::uint8_t*>(buffer), bytes))
        io->writeFailure = io->store->Error();
    file->position += bytes;
    return bytes;
}

int Seek(mspack_file* handle, off_t offset, int mode) {
    OpenFile* file = AsOpenFile(handle);
    if (file == nullptr)
        return -1;
    const std::int64_t length =
        file->writing ? file->io->store->Size() : file->io->container->Length();
    std::int64_t base = 0;
    if (mode == MSPACK_SYS_SEEK_CUR)
        base = file->position;
    else if (mode == MSPACK_SYS_SEEK_END)
        base = length;
    else if (mode != MSPACK_SYS_SEEK_START)
        return -1;
    if ((offset < 0 && -offset > base) || (offset > 0 && offset > length - base))
        return -1;
    file->position = base + offset;
    return 0;
}

off_t Tell(mspack_file* handle) {
    const OpenFile* file = AsOpenFile(handle);
    return file != nullptr ? static_cast<off_t>(file->position) : -1;
}

// libmspack's warnings about odd but readable data are not shown.
void Message(mspack_file*, const char*, ...) {}

// Zeroed: libmspack 0.11 frees a KWAJ header's name and extra text when the
// header cannot be read, also when it was cut short before those pointers
// were set.
void* Allocate(mspack_system*, std::size_t bytes) {
    return bytes <= kMaxLibraryAllocation ? std::calloc(1, bytes) : nullptr;
}

void Free(void* block) {
    std::free(block);
}

void Copy(void* from, void* to, std::size_t bytes) {
    std::memmove(to, from, bytes);
}

std::string ErrorText(int error, const IoSystem& io) {
    switch (error) {
    case MSPACK_ERR_READ:
    case MSPACK_ERR_SEEK:
        return "truncated";
    case MSPACK_ERR_WRITE:
        return io.writeFailure;
    case MSPACK_ERR_NOMEMORY:
        return "needs more memory than allowed";
    case MSPACK_ERR_SIGNATURE:
        return "bad signature";
    case MSPACK_ERR_CHECKSUM:
        return "checksum error";
    case MSPACK_ERR_DECRUNCH:
        return "damaged compressed data";
    default:
        return "damaged";
    }
}

// Extracts one member into a store of its own and hands it on; `expected` is
// its length as the header says it, or -1. A member cut by damage or a
// limit is still handed on with what was read. False when the container must
// not be read further.
template <typename Extract>
bool ExtractAndVisit(IoSystem& io, const std::string& path, std::int64_t modified,
                     std::int64_t expected, Extract extract) {
    MemberStore store(&io.visitor->TemporaryFiles());
    io.store = &store;
    io.writeFailure.clear();
    const int error = extract();
    io.store = nullptr;
    std::string problem = error != MSPACK_ERR_OK ? ErrorText(error, io) : io.writeFailure;
    if (problem.empty() && store.Size() < expected)
        problem = "shorter than its header says: " + std::to_string(store.Size()) + " of " +
                  std::to_string(expected) + " bytes";
    if (!problem.empty())
        io.visitor->Problem(path + ": " + problem);
    if (error != MSPACK_ERR_OK && store.Size() == 0)
        return !io.visitor->Stopping();
    StoredMember member(store);
    return io.visitor->Visit(path, modified, member) && !io.visitor->Stopping();
}

// The cabinet's DOS date and time fields as seconds since the epoch, local time.
std::int64_t CabinetTime(const mscabd_file& file) {
    std::tm fields{};
    fields.tm_year = file.date_y - 1900;
    fields.tm_mon = file.date_m - 1;
    fields.tm_mday = file.date_d;
    fields.tm_hour = file.time_h;
    fields.tm_min = file.time_m;
    fields.tm_sec = file.time_s;
    fields.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&fields));
}

// Cabinets keep DOS paths with "\" between folders.
std::string CabinetPath(const char* name) {
    std::string path = name != nullptr ? name : "";
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    return path;
}

// COMPRESS.EXE's convention: "DRIVER.SY_" keeps the "S" it lost in its
// header. A file whose header keeps none had "_" added to its name (as
// mscompress does it): "README.TXT_" holds "README.TXT".
std::string SzddMemberName(const std::string& containerName, char missing) {
    std::string name = containerName;
    if (name.size() > 1 && name.ends_with('_')) {
        if (missing != '\0')
            name.back() = missing;
        else
            name.pop_back();
    }
    return name;
}

// SZDD's mode byte follows the signature: 'A' is the one method there is.
std::string SzddOpenError(int error, const IoSystem& io) {
    constexpr std::int64_t kModeOffset = 8;
    std::uint8_t mode = 'A';
    if (error != MSPACK_ERR_DATAFORMAT || io.container->ReadAt(kModeOffset, &mode, 1) != 1 ||
        mode == 'A')
        return ErrorText(error, io);
    const bool printable = mode > ' ' && mode < 0x7F;
    char shown[8];
    std::snprintf(shown, sizeof shown, printable ? "'%c'" : "0x%02X", mode);
    return std::string("unknown compression method ") + shown;
}

void ReadSzdd(IoSystem& io) {
    msszdd_decompressor* d = mspack_create_szdd_decompressor(&io.table);
    if (d == nullptr)
        return io.visitor->Problem("needs more memory than allowed");
    if (msszddd_header* header = d->open(d, kContainerName.data())) {
        const std::string name = SzddMemberName(io.visitor->ContainerName(), header->missing_char);
        ExtractAndVisit(io, name, io.visitor->ContainerTime(), header->length,
                        [&] { return d->extract(d, header, kMemberName.data()); });
        d->close(d, header);
    } else {
        io.visitor->Problem(SzddOpenError(d->last_error(d), io));
    }
    mspack_destroy_szdd_decompressor(d);
}

void ReadKwaj(IoSystem& io) {
    mskwaj_decompressor* d = mspack_create_kwaj_decompressor(&io.table);
    if (d == nullptr)
        return io.visitor->Problem("needs more memory than allowed");
    if (mskwajd_header* header = d->open(d, kContainerName.data())) {
        // The header may keep the original name; else the member takes the container's.
        const bool named = header->filename != nullptr && header->filename[0] != '\0';
        const std::string name = named ? header->filename : io.visitor->ContainerName();
        const std::int64_t length =
            (header->headers & MSKWAJ_HDR_HASLENGTH) != 0 ? header->length : -1;
        ExtractAndVisit(io, name, io.visitor->ContainerTime(), length,
                        [&] { return d->extract(d, header, kMemberName.data()); });
        d->close(d, header);
    } else {
        io.visitor->Problem(ErrorText(d->last_error(d), io));
    }
    mspack_destroy_kwaj_decompressor(d);
}

// A cabinet's files in the order their bytes come out of the folders: folder
// by folder, by offset inside each. libmspack decompresses a folder from its
// start again for a file that lies behind the last one it extracted.
std::vector<mscabd_file*> FilesInFolderOrder(mscabd_cabinet& cabinet) {
    std::unordered_map<const mscabd_folder*, std::size_t> folderNumbers;
    for (const mscabd_folder* folder = cabinet.folders; folder != nullptr; folder = folder->next)
        folderNumbers.emplace(folder, folderNumbers.size());
    std::vector<std::pair<std::size_t, mscabd_file*>> numbered;
    for (mscabd_file* file = cabinet.files; file != nullptr; file = file->next) {
        const auto found = folderNumbers.find(file->folder);
        numbered.emplace_back(found != folderNumbers.end() ? found->second : folderNumbers.size(),
                              file);
    }
    std::stable_sort(numbered.begin(), numbered.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second->offset < b.second->offset;
    });
    std::vector<mscabd_file*> files;
    for (const auto& [number, file] : numbered)
        files.push_back(file);
    return files;
}

// Where libmspack's decompression of a folder stands, to count the bytes it
// decompresses up to a file's offset and throws away: a folder's bytes before
// its first file, between files, and again from the start for a file that
// overlaps the one before.
struct FolderPosition {
    const mscabd_folder* folder = nullptr;
    std::int64_t offset = 0;

    // The bytes decompressed and thrown away before `file`'s own.
    std::int64_t SkippedBefore(const mscabd_file& file) {
        if (file.folder != folder || offset > file.offset) {
            folder = file.folder;
            offset = 0;
        }
        return file.length > 0 ? file.offset - offset : 0;
    }
    void After(const mscabd_file& file, bool extracted) {
        if (!extracted)
            folder = nullptr; // whatever libmspack does next is counted from the start
        else if (file.length > 0)
            offset = std::int64_t{file.offset} + file.length;
    }
};

void ReadCabinet(IoSystem& io) {
    mscab_decompressor* d = mspack_create_cab_decompressor(&io.table);
    if (d == nullptr)
        return io.visitor->Problem("needs more memory than allowed");
    if (mscabd_cabinet* cabinet = d->open(d, kContainerName.data())) {
        FolderPosition position;
        for (mscabd_file* file : FilesInFolderOrder(*cabinet)) {
            if (io.visitor->Stopping() || !io.visitor->Charge(position.SkippedBefore(*file)))
                break;
            int error = MSPACK_ERR_OK;
            const bool goOn =
                ExtractAndVisit(io, CabinetPath(file->filename), CabinetTime(*file), -1, [&] {
                    error = d->extract(d, file, kMemberName.data());
                    return error;
                });
            position.After(*file, error == MSPACK_ERR_OK);
            if (!goOn)
                break;
        }
        d->close(d, cabinet);
    } else {
        io.visitor->Problem(ErrorText(d->last_error(d), io));
    }
    mspack_destroy_cab_decompressor(d);
}

// A CHM names its files from a root "/"; names ending in "/" are folders, and
// those starting with "#" or "$" are the help system's own indexes.
void ReadChm(IoSystem& io) {
    mschm_decompressor* d = mspack_create_chm_decompressor(&io.table);
    if (d == nullptr)
        return io.visitor->Problem("needs more memory than allowed");
    if (mschmd_header* chm = d->open(d, kContainerName.data())) {
        for (mschmd_file* file = chm->files; file != nullptr; file = file->next) {
            std::string path = file->filename != nullptr ? file->filename : "";
            if (path.starts_with('/'))
                path.erase(0, 1);
            if (path.empty() || path.ends_with('/') || path[0] == '#' || path[0] == '$')
                continue;
            if (io.visitor->Stopping() ||
                !ExtractAndVisit(io, path, io.visitor->ContainerTime(), -1,
                                 [&] { return d->extract(d, file, kMemberName.data()); }))
                break;
        }
        d->close(d, chm);
    } else {
        io.visitor->Problem(ErrorText(d->last_error(d), io));
    }
    mspack_destroy_chm_decompressor(d);
}

} // namespace

void ReadMicrosoftCompressed(ScanSource& container, ContainerKind kind, MemberVisitor& visitor) {
    IoSystem io{{Open, Close, Read, Write, Seek, Tell, Message, Allocate, Free, Copy, nullptr},
                &container,
                &visitor,
                nullptr,
                {}};
    switch (kind) {
    case ContainerKind::kSzdd:
        return ReadSzdd(io);
    case ContainerKind::kKwaj:
        return ReadKwaj(io);
    case ContainerKind::kCabinet:
        return ReadCabinet(io);
    case ContainerKind::kCabinetProgram: {
        // The cabinet is read as a file of its own, from its first byte to its last.
        const CabinetInProgram cabinet = FindCabinetInProgram(container);
        if (!cabinet.Found())
            return visitor.Problem("its cabinet cannot be read");
        SourceWindow window(container, cabinet.start, cabinet.length);
        io.container = &window;
        return ReadCabinet(io);
    }
    default:
        return ReadChm(io);
    }
}

} // namespace kestrel
