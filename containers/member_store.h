#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "scan_source.h"
#include "source_window.h"

namespace kestrel {

// At most this many bytes of one member are held in memory, and at most this
// many of all the members one thread holds at once (a zip inside a zip inside
// a disk image holds one member at each level). A larger member goes on in an
// unlinked temporary file, so a member of gigabytes costs disk space in
// $TMPDIR but no more memory than this.
inline constexpr std::int64_t kMaxMemberInMemory = 64 * 1024 * 1024;

// The head of a member, kept whatever the member is: classification reads its
// first 512 bytes, container detection its first 2 KiB and ISO 9660's volume
// descriptor at 32 KiB.
inline constexpr std::int64_t kMemberHeadLength = 64 * 1024;

// How far behind the start of its last read a reader of a member that is
// neither a program nor a container goes back: the marker search overlaps
// its blocks by a few hundred bytes, and no block is longer than 64 KiB.
inline constexpr std::int64_t kMemberBackReach = 64 * 1024;

// The bytes the members under one file on disk hold in temporary files at
// once, and the most they may.
struct TemporaryBudget {
    std::int64_t limit = std::numeric_limits<std::int64_t>::max();
    std::int64_t held = 0;
};

// "4 GiB" for a whole number of KiB, MiB or GiB, else a count of bytes.
std::string SizeText(std::int64_t bytes);

// Whether the scanner may read a member with these first bytes anywhere, not
// only forward: a program (MZ and the formats behind it, or an NLM), whose
// headers point back and forth through the file.
bool ScannerSeeksIn(const std::uint8_t* head, std::int64_t length);

// The bytes of one member as they come out of its container, appended in
// order. Kept whole, they stay in memory up to kMaxMemberInMemory, then go on
// in a temporary file in $TMPDIR (or /tmp) that has no name from the start,
// counted against a TemporaryBudget. Kept as a window, the bytes appended
// before are kept and later ones only from the offset last released on, in
// memory: a member read front to back costs no disk at all. Nothing is ever
// written beside the scanned files.
class MemberStore {
public:
    explicit MemberStore(TemporaryBudget* budget = nullptr) : m_budget(budget) {}
    ~MemberStore();
    MemberStore(const MemberStore&) = delete;
    MemberStore& operator=(const MemberStore&) = delete;

    // False when the bytes cannot be kept (the temporary file cannot be made
    // or written, or the budget would be passed); Error() says why, and
    // what was appended before can still be read.
    bool Append(const std::uint8_t* bytes, std::int64_t count);
    bool AppendZeros(std::int64_t count);
    // From now on only a window of what is appended is kept.
    void KeepWindow();
    // For a store kept as a window from the start: its first `length` bytes
    // are kept for good (in memory), the window goes on after them.
    void KeepHead(std::int64_t length);
    // For a store kept as a window from the start: every byte is kept from
    // now on, those in the window in memory.
    void KeepWhole();
    // In a window: the bytes appended after KeepWindow and before `offset` may go.
    void Release(std::int64_t offset);
    // In a window: forgets its bytes, so that the member can be appended
    // again from the end of what was kept before the window.
    void RewindWindow();
    // The bytes appended so far, kept or not.
    std::int64_t Size() const { return m_size; }
    bool InMemory() const { return m_file < 0; }
    // The bytes at `offset` (fewer at the end), or -1 when they cannot be
    // read or were let go.
    std::int64_t ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count) const;
    // A descriptor that holds all the bytes, for a library that opens files by
    // name: the temporary file, made now if the bytes are still in memory.
    // -1 when it cannot be made.
    int Descriptor();
    const std::string& Error() const { return m_error; }

private:
    bool MoveToFile();
    bool WriteToFile(const std::uint8_t* bytes, std::int64_t count, std::int64_t offset);
    std::int64_t ReadKept(std::int64_t offset, std::uint8_t* into, std::int64_t count) const;

    TemporaryBudget* m_budget;
    std::vector<std::uint8_t> m_memory;
    int m_file = -1;
    std::int64_t m_kept = 0; // the bytes in m_memory or m_file
    std::int64_t m_size = 0;
    bool m_windowed = false;
    std::vector<std::uint8_t> m_window; // the bytes from m_windowStart on
    std::int64_t m_windowStart = 0;
    std::string m_error;
};

// $TMPDIR, or /tmp when it is not set: where temporary files go.
std::string TemporaryDirectory();

// The bytes of a finished store as a scan source.
class StoredMember : public ScanSource {
public:
    explicit StoredMember(const MemberStore& store) : m_store(store) {}
    std::int64_t Length() const override { return m_store.Size(); }
    std::int64_t ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count) override {
        return m_store.ReadAt(offset, into, count);
    }

private:
    const MemberStore& m_store;
};

// An open regular file as a scan source, read with pread; the descriptor
// stays the caller's.
class FileSource : public ScanSource {
public:
    FileSource(int descriptor, std::int64_t length) : m_descriptor(descriptor), m_length(length) {}
    std::int64_t Length() const override { return m_length; }
    std::int64_t ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count) override;
    int Descriptor() const { return m_descriptor; }

private:
    int m_descriptor;
    std::int64_t m_length;
};

} // namespace kestrel
