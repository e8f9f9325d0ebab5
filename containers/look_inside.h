#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "quill_scan.h"
#include "scan_source.h"

namespace kestrel {

// The most bytes decompressed (or read out of disk images) under one file on
// disk: enough for any CD or DVD image and the archives of its time, while a
// crafted archive that expands a few kilobytes into terabytes stops early.
inline constexpr std::int64_t kDefaultMaxExpand = std::int64_t{16} << 30;
// The most members under one file on disk: a full CD holds tens of thousands
// of files; a million is a crafted or damaged container.
inline constexpr std::int64_t kDefaultMaxMembers = 1'000'000;
// The most bytes the members under one file on disk hold in temporary files
// at once: programs and containers larger than the memory a member may take.
inline constexpr std::int64_t kDefaultMaxTemp = std::int64_t{4} << 30;
// Containers are entered this many levels deep, the file on disk being the
// first; a container at the next level is reported as a file only.
inline constexpr int kMaxContainerDepth = 4;

struct ContainerLimits {
    std::int64_t maxExpand = kDefaultMaxExpand;
    std::int64_t maxMembers = kDefaultMaxMembers;
    std::int64_t maxTemp = kDefaultMaxTemp;
};

// What a front end hangs onto looking inside. Every hook may be left empty.
struct ContainerHooks {
    // Whether a member gets a report (the search patterns); empty: every member.
    std::function<bool(const std::string& name)> selects;
    // Before a report under another folder than the last one: the folder's
    // path for the directory line ("/srv/CD.ISO/SETUP/", ending with "/").
    std::function<void(const std::string& directoryPath)> directory;
    // Before each member is scanned, reported or not, with its whole path:
    // the counter and the status caption.
    std::function<void(const std::string& memberPath, bool reported)> member;
    // A file on disk whose containers could not be read whole, at most once
    // per file on disk: the path of the container that had the problem and
    // its reason when there was one problem; else the file on disk's path
    // and "N problems; first: " with the first one's container and reason.
    std::function<void(const std::string& containerPath, const std::string& reason)> problem;
};

// Looks inside archives, compressed files and disk images, found by their
// content alone, and hands each member to the scanner as if the container
// were a folder: members in the container's own order, a directory line
// before the first report of each folder, containers inside containers
// entered up to kMaxContainerDepth levels. What cannot be read is skipped
// and counted, and said once per file on disk; the rest goes on. The scanner's stop flag
// is tested between members and between blocks of a large member.
class ContainerExplorer {
public:
    ContainerExplorer(QuillScan& scanner, ContainerHooks hooks, ContainerLimits limits = {});

    // Looks inside an open regular file, `path` being its whole path (it
    // names the members). The descriptor stays the caller's. False when the
    // file is no container: nothing was reported.
    bool LookInsideFile(int descriptor, const std::string& path);
    // The same for bytes that are not a file on disk; `modified` is their time.
    bool LookInside(ScanSource& source, const std::string& path, std::int64_t modified);

private:
    struct Session;
    struct KeptMember;
    class ContainerVisit;

    // `folderOnDisk`: the file's folder when it is a file on disk, else "".
    bool Look(ScanSource& source, const std::string& path, std::int64_t modified,
              const std::string& folderOnDisk);

    QuillScan& m_scanner;
    ContainerHooks m_hooks;
    ContainerLimits m_limits;
};

} // namespace kestrel
