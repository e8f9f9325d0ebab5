// Member bytes in memory, then in an unlinked temporary file.

#include "member_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kestrel {

namespace {

// The first allocation of a member in memory; it doubles from there.
constexpr std::int64_t kFirstMemoryBlock = 64 * 1024;

// The bytes this thread's stores hold in memory. Each scanning thread reads
// one file on disk at a time, so these are the members open inside it.
thread_local std::int64_t t_bytesInMemory = 0;

// A file in the temporary directory without a name: O_TMPFILE where the file
// system has it, else a named file unlinked at once.
int OpenUnlinkedTemporaryFile(std::string& error) {
    const std::string directory = TemporaryDirectory();
    int descriptor = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (descriptor >= 0)
        return descriptor;
    std::string pattern = directory + "/kestrel-member-XXXXXX";
    descriptor = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (descriptor < 0) {
        error = "no temporary file in " + directory + ": " + std::strerror(errno);
        return -1;
    }
    ::unlink(pattern.c_str());
    return descriptor;
}

bool WriteAll(int descriptor, const std::uint8_t* bytes, std::int64_t count, std::int64_t offset) {
    while (count > 0) {
        const ssize_t wrote = ::pwrite(descriptor, bytes, static_cast<std::size_t>(count), offset);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        bytes += wrote;
        offset += wrote;
        count -= wrote;
    }
    return true;
}

} // namespace

std::string TemporaryDirectory() {
    const char* directory = std::getenv("TMPDIR");
    return directory != nullptr && directory[0] != '\0' ? directory : "/tmp";
}

MemberStore::~MemberStore() {
    if (m_file >= 0)
        ::close(m_file);
    else
        t_bytesInMemory -= m_size;
}

// A store whose bytes cannot all be moved keeps them in memory: what was
// appended so far can still be read.
bool MemberStore::MoveToFile() {
    const int file = OpenUnlinkedTemporaryFile(m_error);
    if (file < 0)
        return false;
    if (!WriteAll(file, m_memory.data(), m_size, 0)) {
        m_error = std::string("temporary file not written: ") + std::strerror(errno);
        ::close(file);
        return false;
    }
    m_file = file;
    std::vector<std::uint8_t>().swap(m_memory);
    t_bytesInMemory -= m_size;
    return true;
}

bool MemberStore::Append(const std::uint8_t* bytes, std::int64_t count) {
    if (!m_error.empty())
        return false;
    if (count <= 0)
        return true;
    const bool fitsInMemory =
        m_size + count <= kMaxMemberInMemory && t_bytesInMemory + count <= kMaxMemberInMemory;
    if (m_file < 0 && !fitsInMemory && !MoveToFile())
        return false;
    if (m_file >= 0) {
        if (!WriteAll(m_file, bytes, count, m_size)) {
            m_error = std::string("temporary file not written: ") + std::strerror(errno);
            return false;
        }
    } else {
        const auto needed = static_cast<std::size_t>(m_size + count);
        if (needed > m_memory.capacity())
            m_memory.reserve(std::min<std::size_t>(
                std::max<std::size_t>({needed, 2 * m_memory.capacity(), kFirstMemoryBlock}),
                kMaxMemberInMemory));
        m_memory.insert(m_memory.end(), bytes, bytes + count);
        t_bytesInMemory += count;
    }
    m_size += count;
    return true;
}

bool MemberStore::AppendZeros(std::int64_t count) {
    static const std::uint8_t zeros[kFirstMemoryBlock] = {};
    while (count > 0) {
        const std::int64_t piece = std::min(count, kFirstMemoryBlock);
        if (!Append(zeros, piece))
            return false;
        count -= piece;
    }
    return true;
}

std::int64_t MemberStore::ReadAt(std::int64_t offset, std::uint8_t* into,
                                 std::int64_t count) const {
    if (offset < 0 || count < 0)
        return -1;
    if (offset >= m_size)
        return 0;
    count = std::min(count, m_size - offset);
    if (m_file < 0) {
        std::memcpy(into, m_memory.data() + offset, static_cast<std::size_t>(count));
        return count;
    }
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t got =
            ::pread(m_file, into + done, static_cast<std::size_t>(count - done), offset + done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return done > 0 ? done : -1;
        done += got;
    }
    return done;
}

int MemberStore::Descriptor() {
    if (m_file < 0 && m_error.empty() && !MoveToFile())
        return -1;
    return m_file;
}

std::int64_t FileSource::ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count) {
    if (offset < 0 || count < 0)
        return -1;
    if (offset >= m_length)
        return 0;
    count = std::min(count, m_length - offset);
    for (;;) {
        const ssize_t got = ::pread(m_descriptor, into, static_cast<std::size_t>(count), offset);
        if (got < 0 && errno == EINTR)
            continue;
        return got;
    }
}

} // namespace kestrel
