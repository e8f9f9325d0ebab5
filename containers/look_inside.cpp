// The explorer: detects a container, has its reader walk it, and for each
// member applies the limits, writes the directory line, scans it and enters
// it when it is a container itself.

#include "look_inside.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "container_kind.h"
#include "container_readers.h"
#include "member_store.h"

namespace kestrel {

namespace {

// What a file is as a container, a packed program among them.
ContainerKind KindOf(ScanSource& source) {
    const ContainerKind kind = DetectContainer(source);
    if (kind == ContainerKind::kNone && IsUnpackableProgram(source))
        return ContainerKind::kPackedProgram;
    return kind;
}

std::string LastPathPart(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A member's path split into its folder ("SETUP/DISK1/", "" at the top) and
// its name. A path that climbs out with "..", starts at "/" or holds a control
// character is refused: `refusal` says why. "." parts and doubled "/" are
// dropped.
struct MemberPath {
    std::string folder;
    std::string name;
    std::string refusal;
};

MemberPath SplitMemberPath(const std::string& path) {
    MemberPath result;
    std::string shown = path;
    for (char& c : shown) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x20 || code == 0x7F)
            c = '?';
    }
    if (shown != path) {
        result.refusal = "refused path with a control character: " + shown;
        return result;
    }
    if (path.starts_with('/')) {
        result.refusal = "refused path from the root: " + path;
        return result;
    }
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            result.refusal = "refused path with \"..\": " + path;
            return result;
        }
        if (!part.empty() && part != ".")
            parts.push_back(part);
        start = end + 1;
    }
    // A path ending in "/" names a folder: no name, and the member is passed over.
    if (parts.empty() || path.ends_with('/'))
        return result;
    result.name = parts.back();
    parts.pop_back();
    for (const std::string& part : parts)
        result.folder += part + "/";
    return result;
}

// A file opened beside the one on disk, closed with it.
class FileBeside : public FileSource {
public:
    FileBeside(int descriptor, std::int64_t length) : FileSource(descriptor, length) {}
    ~FileBeside() override { ::close(Descriptor()); }
    FileBeside(const FileBeside&) = delete;
    FileBeside& operator=(const FileBeside&) = delete;
};

// The regular file `name` in `folder`, its name matched without regard to
// case (the exact name first); null when there is none.
std::unique_ptr<ScanSource> OpenOnDisk(const std::string& folder, const std::string& name) {
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr)
        return nullptr;
    std::string found;
    while (const dirent* entry = ::readdir(directory)) {
        if (::strcasecmp(entry->d_name, name.c_str()) == 0 &&
            (found.empty() || name == entry->d_name))
            found = entry->d_name;
    }
    ::closedir(directory);
    if (found.empty())
        return nullptr;
    const int descriptor =
        ::open((folder + found).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat info {};
    if (descriptor >= 0 && ::fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode))
        return std::make_unique<FileBeside>(descriptor, info.st_size);
    if (descriptor >= 0)
        ::close(descriptor);
    return nullptr;
}

// Copied in blocks of this many bytes.
constexpr std::int64_t kCopyBlockSize = 64 * 1024;

} // namespace

// A member whose format keeps volumes beside it (InstallShield's header and
// cabinets), met inside a container: kept, in memory or a temporary file
// under the budget, until the container was read whole, as the volumes of
// its set may come after it; then entered, its volumes found among the
// members kept beside it.
struct ContainerExplorer::KeptMember {
    std::string path;   // its whole path
    std::string folder; // its folder inside the container
    std::string name;
    std::int64_t modified = 0;
    std::unique_ptr<MemberStore> store;
};

// What is counted under one file on disk.
struct ContainerExplorer::Session {
    std::string outermost;    // the file on disk
    std::string folderOnDisk; // its folder, when it is a file on disk
    std::int64_t expanded = 0;
    std::int64_t members = 0;
    std::string limitReason; // set once a limit under the file on disk is reached
    TemporaryBudget temporaryFiles;
    std::string lastDirectory;
    // Every problem under the file on disk is counted; the first is kept,
    // with the container it was found in.
    std::int64_t problems = 0;
    std::string firstProblemPath;
    std::string firstProblem;

    void AddProblem(const std::string& containerPath, const std::string& reason) {
        if (problems++ == 0) {
            firstProblemPath = containerPath;
            firstProblem = reason;
        }
    }
    void ReachLimit(const std::string& reason) {
        limitReason = reason;
        AddProblem(outermost, reason);
    }
};

// One container being read: the visitor its reader calls.
class ContainerExplorer::ContainerVisit : public MemberVisitor {
public:
    ContainerVisit(ContainerExplorer& explorer, Session& session, const std::string& path,
                   std::int64_t modified, int depth)
        : m_explorer(explorer), m_session(session), m_path(path), m_name(LastPathPart(path)),
          m_modified(modified), m_depth(depth) {}

    // Reads the container, and then the members kept until it was read;
    // false when it turned out to be none.
    bool Read(ScanSource& source, ContainerKind kind) {
        const bool container = ReadContainer(source, kind);
        for (const KeptMember& kept : m_kept) {
            if (Stopping())
                break;
            StoredMember member(*kept.store);
            Enter(member, ContainerKind::kInstallShield, kept.path, kept.modified, &kept);
        }
        m_kept.clear();
        return container;
    }

    bool ReadContainer(ScanSource& source, ContainerKind kind) {
        switch (kind) {
        case ContainerKind::kArchive:
        case ContainerKind::kCompressedStream:
            return ReadArchive(source, kind, *this);
        case ContainerKind::kExecutable:
            // A self-extractor's stub may itself be packed: its archive comes first.
            return ReadArchive(source, kind, *this) || ReadPackedProgram(source, *this);
        case ContainerKind::kPackedProgram:
            return ReadPackedProgram(source, *this);
        case ContainerKind::kRawCdImage:
            ReadRawCdImage(source, *this);
            return true;
        case ContainerKind::kSzdd:
        case ContainerKind::kKwaj:
        case ContainerKind::kCabinet:
        case ContainerKind::kCabinetProgram:
        case ContainerKind::kChm:
            ReadMicrosoftCompressed(source, kind, *this);
            return true;
        case ContainerKind::kDiskImage:
        case ContainerKind::kVmdk:
        case ContainerKind::kVhd:
        case ContainerKind::kVhdx:
        case ContainerKind::kEwf:
            ReadDiskImage(source, kind, *this);
            return true;
        case ContainerKind::kArj:
            // A self-extractor whose library is missing may still be packed.
            return ReadWithSevenZip(source, SevenZipFormat::kArj, *this) ||
                   ReadPackedProgram(source, *this) || true;
        case ContainerKind::kNsis:
            ReadWithSevenZip(source, SevenZipFormat::kNsis, *this);
            return true;
        case ContainerKind::kMsi:
            ReadWithSevenZip(source, SevenZipFormat::kCompound, *this);
            return true;
        case ContainerKind::kQcow:
            ReadWithSevenZip(source, SevenZipFormat::kQcow, *this);
            return true;
        case ContainerKind::kVdi:
            ReadWithSevenZip(source, SevenZipFormat::kVdi, *this);
            return true;
        case ContainerKind::kImd:
        case ContainerKind::kTeleDisk:
            ReadFloppyImage(source, kind, *this);
            return true;
        case ContainerKind::kArc:
            ReadArc(source, *this);
            return true;
        case ContainerKind::kInstallShield:
            ReadInstallShield(source, *this);
            return true;
        case ContainerKind::kNone:
            break;
        }
        return false;
    }

    bool Visit(const std::string& pathInside, std::int64_t modified, ScanSource& bytes) override;

    void Problem(const std::string& reason) override {
        // What fails after a stop or a limit is its consequence, not news.
        if (!Stopping())
            m_session.AddProblem(m_path, reason);
    }

    bool Charge(std::int64_t bytes) override {
        if (!m_session.limitReason.empty())
            return false;
        if (bytes > m_explorer.m_limits.maxExpand - m_session.expanded) {
            m_session.ReachLimit("more than " + SizeText(m_explorer.m_limits.maxExpand) +
                                 " decompressed; the rest is skipped");
            return false;
        }
        m_session.expanded += bytes;
        return true;
    }

    bool Stopping() const override {
        return !m_session.limitReason.empty() || m_explorer.m_scanner.StopRequested();
    }

    TemporaryBudget& TemporaryFiles() override { return m_session.temporaryFiles; }
    std::int64_t ContainerTime() const override { return m_modified; }
    const std::string& ContainerName() const override { return m_name; }
    std::unique_ptr<ScanSource> OpenBeside(const std::string& name) override {
        if (m_beside != nullptr) {
            for (const KeptMember& kept : m_beside->m_kept) {
                if (kept.folder == m_folderInside &&
                    ::strcasecmp(kept.name.c_str(), name.c_str()) == 0)
                    return std::make_unique<StoredMember>(*kept.store);
            }
            return nullptr;
        }
        if (m_depth == 1 && !m_session.folderOnDisk.empty())
            return OpenOnDisk(m_session.folderOnDisk, name);
        return nullptr;
    }

private:
    void SayDirectory(const std::string& directoryPath) {
        if (directoryPath == m_session.lastDirectory)
            return;
        m_session.lastDirectory = directoryPath;
        if (m_explorer.m_hooks.directory)
            m_explorer.m_hooks.directory(directoryPath);
    }

    void Enter(ScanSource& bytes, ContainerKind kind, const std::string& memberPath,
               std::int64_t modified, const KeptMember* kept = nullptr);
    void Keep(ScanSource& bytes, const std::string& memberPath, const MemberPath& split,
              std::int64_t modified);

    ContainerExplorer& m_explorer;
    Session& m_session;
    std::string m_path;
    std::string m_name;
    std::int64_t m_modified;
    int m_depth;
    std::vector<KeptMember> m_kept;
    // For a kept member: the container that kept it, and its folder there.
    const ContainerVisit* m_beside = nullptr;
    std::string m_folderInside;
};

bool ContainerExplorer::ContainerVisit::Visit(const std::string& pathInside, std::int64_t modified,
                                              ScanSource& bytes) {
    // A member cut by a limit reached while it was read is still reported.
    if (m_explorer.m_scanner.StopRequested())
        return false;
    if (++m_session.members > m_explorer.m_limits.maxMembers) {
        m_session.ReachLimit("more than " + std::to_string(m_explorer.m_limits.maxMembers) +
                             " members; the rest is skipped");
        return false;
    }
    const MemberPath split = SplitMemberPath(pathInside);
    if (!split.refusal.empty()) {
        Problem(split.refusal);
        return true;
    }
    if (split.name.empty())
        return true;
    const std::string directoryPath = m_path + "/" + split.folder;
    const std::string memberPath = directoryPath + split.name;
    const ContainerHooks& hooks = m_explorer.m_hooks;
    // A member whose first bytes cannot be read gets no report; its reader
    // says what went wrong.
    std::uint8_t probe = 0;
    if (bytes.Length() > 0 && bytes.ReadAt(0, &probe, 1) < 0)
        return !Stopping();
    const bool reported = !hooks.selects || hooks.selects(split.name);
    if (hooks.member)
        hooks.member(memberPath, reported);
    if (reported) {
        SayDirectory(directoryPath);
        m_explorer.m_scanner.ScanSourceAs(bytes, directoryPath, split.name, modified,
                                          &m_session.outermost);
    }
    if (Stopping())
        return false;
    const ContainerKind kind = KindOf(bytes);
    if (kind == ContainerKind::kInstallShield)
        Keep(bytes, memberPath, split, modified);
    else if (kind != ContainerKind::kNone)
        Enter(bytes, kind, memberPath, modified);
    return !Stopping();
}

// A member that cannot be copied whole is not kept: its reader says why
// its bytes cannot be read, the store why it cannot keep them.
void ContainerExplorer::ContainerVisit::Keep(ScanSource& bytes, const std::string& memberPath,
                                             const MemberPath& split, std::int64_t modified) {
    auto store = std::make_unique<MemberStore>(&m_session.temporaryFiles);
    std::vector<std::uint8_t> block(kCopyBlockSize);
    for (std::int64_t at = 0; at < bytes.Length() && !Stopping();) {
        const std::int64_t got = bytes.ReadAt(at, block.data(), kCopyBlockSize);
        if (got <= 0)
            return;
        if (!store->Append(block.data(), got)) {
            m_session.AddProblem(memberPath, store->Error());
            return;
        }
        at += got;
    }
    m_kept.push_back({memberPath, split.folder, split.name, modified, std::move(store)});
}

void ContainerExplorer::ContainerVisit::Enter(ScanSource& bytes, ContainerKind kind,
                                              const std::string& memberPath, std::int64_t modified,
                                              const KeptMember* kept) {
    if (m_depth >= kMaxContainerDepth) {
        // A program may or may not carry an archive: only a sure container is said.
        if (kind != ContainerKind::kExecutable)
            m_session.AddProblem(memberPath, "nested more than " +
                                                 std::to_string(kMaxContainerDepth) +
                                                 " levels deep; not looked inside");
        return;
    }
    ContainerVisit inner(m_explorer, m_session, memberPath, modified, m_depth + 1);
    if (kept != nullptr) {
        inner.m_beside = this;
        inner.m_folderInside = kept->folder;
    }
    inner.Read(bytes, kind);
}

ContainerExplorer::ContainerExplorer(QuillScan& scanner, ContainerHooks hooks,
                                     ContainerLimits limits)
    : m_scanner(scanner), m_hooks(std::move(hooks)), m_limits(limits) {}

bool ContainerExplorer::LookInsideFile(int descriptor, const std::string& path) {
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    FileSource source(descriptor, info.st_size);
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    return Look(source, path, static_cast<std::int64_t>(info.st_mtime), folder);
}

bool ContainerExplorer::LookInside(ScanSource& source, const std::string& path,
                                   std::int64_t modified) {
    return Look(source, path, modified, {});
}

bool ContainerExplorer::Look(ScanSource& source, const std::string& path, std::int64_t modified,
                             const std::string& folderOnDisk) {
    const ContainerKind kind = KindOf(source);
    if (kind == ContainerKind::kNone)
        return false;
    Session session;
    session.outermost = path;
    session.folderOnDisk = folderOnDisk;
    session.temporaryFiles.limit = m_limits.maxTemp;
    ContainerVisit visit(*this, session, path, modified, 1);
    if (!visit.Read(source, kind))
        return false;
    // One line for the file on disk, however many problems its containers
    // had: a crafted nest of archives must not flood the user.
    if (session.problems == 0 || !m_hooks.problem)
        return true;
    if (session.problems == 1) {
        m_hooks.problem(session.firstProblemPath, session.firstProblem);
    } else {
        const std::string where =
            session.firstProblemPath == path ? std::string() : session.firstProblemPath + ": ";
        m_hooks.problem(path, std::to_string(session.problems) + " problems; first: " + where +
                                  session.firstProblem);
    }
    return true;
}

} // namespace kestrel
