#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scan_source.h"

namespace kestrel {

// At most this many bytes of one member are held in memory, and at most this
// many of all the members one thread holds at once (a zip inside a zip inside
// a disk image holds one member at each level). A larger member goes on in an
// unlinked temporary file, so a member of gigabytes costs disk space in
// $TMPDIR but no more memory than this.
inline constexpr std::int64_t kMaxMemberInMemory = 64 * 1024 * 1024;

// The bytes of one member as they come out of its container, appended in
// order: in memory up to kMaxMemberInMemory, then in a temporary file in
// $TMPDIR (or /tmp) that has no name from the start. Nothing is ever written
// beside the scanned files.
class MemberStore {
public:
    MemberStore() = default;
    ~MemberStore();
    MemberStore(const MemberStore&) = delete;
    MemberStore& operator=(const MemberStore&) = delete;

    // False when the temporary file cannot be made or written; Error() says why.
    bool Append(const std::uint8_t* bytes, std::int64_t count);
    bool AppendZeros(std::int64_t count);
    std::int64_t Size() const { return m_size; }
    bool InMemory() const { return m_file < 0; }
    // The bytes at `offset` (fewer at the end), or -1 when they cannot be read.
    std::int64_t ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count) const;
    // A descriptor that holds all the bytes, for a library that opens files by
    // name: the temporary file, made now if the bytes are still in memory.
    // -1 when it cannot be made.
    int Descriptor();
    const std::string& Error() const { return m_error; }

private:
    bool MoveToFile();

    std::vector<std::uint8_t> m_memory;
    int m_file = -1;
    std::int64_t m_size = 0;
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
