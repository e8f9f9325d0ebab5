// Member bytes in memory, then in an unlinked temporary file.

#include "member_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
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

std::string SizeText(std::int64_t bytes) {
    static constexpr const char* kUnits[] = {"bytes", "KiB", "MiB", "GiB"};
    int unit = 0;
    while (unit < 3 && bytes >= 1024 && bytes % 1024 == 0) {
        bytes /= 1024;
        ++unit;
    }
    return std::to_string(bytes) + " " + kUnits[unit];
}

// The scanner takes a signature in 8-bit or in 16-bit characters alike.
bool ScannerSeeksIn(const std::uint8_t* head, std::int64_t length) {
    const auto startsWith = [&](std::string_view text) {
        const auto size = static_cast<std::int64_t>(text.size());
        if (length >= size && std::memcmp(head, text.data(), text.size()) == 0)
            return true;
        if (length < 2 * size)
            return false;
        for (std::int64_t i = 0; i < size; ++i) {
            if (head[2 * i] != static_cast<std::uint8_t>(text[i]) || head[2 * i + 1] != 0)
                return false;
        }
        return true;
    };
    return startsWith("MZ") || startsWith("NetWare Loadable Module");
}

MemberStore::~MemberStore() {
    if (m_file >= 0) {
        ::close(m_file);
        if (m_budget != nullptr)
            m_budget->held -= m_kept;
    } else {
        t_bytesInMemory -= m_kept;
    }
}

// Bytes that would pass the budget are refused before any is written.
bool MemberStore::WriteToFile(const std::uint8_t* bytes, std::int64_t count, std::int64_t offset) {
    const int file = m_file;
    if (m_budget != nullptr && count > m_budget->limit - m_budget->held) {
        m_error = "more than " + SizeText(m_budget->limit) +
                  " in temporary files; reported from what was kept";
        return false;
    }
    if (!WriteAll(file, bytes, count, offset)) {
        m_error = std::string("temporary file not written: ") + std::strerror(errno);
        return false;
    }
    if (m_budget != nullptr)
        m_budget->held += count;
    return true;
}

// A store whose bytes cannot all be moved keeps them in memory: what was
// appended so far can still be read.
bool MemberStore::MoveToFile() {
    m_file = OpenUnlinkedTemporaryFile(m_error);
    if (m_file < 0)
        return false;
    if (!WriteToFile(m_memory.data(), m_kept, 0)) {
        ::close(m_file);
        m_file = -1;
        return false;
    }
    std::vector<std::uint8_t>().swap(m_memory);
    t_bytesInMemory -= m_kept;
    return true;
}

bool MemberStore::Append(const std::uint8_t* bytes, std::int64_t count) {
    if (!m_error.empty())
        return false;
    if (count <= 0)
        return true;
    if (m_windowed) {
        m_window.insert(m_window.end(), bytes, bytes + count);
        m_size += count;
        return true;
    }
    const bool fitsInMemory =
        m_kept + count <= kMaxMemberInMemory && t_bytesInMemory + count <= kMaxMemberInMemory;
    if (m_file < 0 && !fitsInMemory && !MoveToFile())
        return false;
    if (m_file >= 0) {
        if (!WriteToFile(bytes, count, m_kept))
            return false;
    } else {
        const auto needed = static_cast<std::size_t>(m_kept + count);
        if (needed > m_memory.capacity())
            m_memory.reserve(std::min<std::size_t>(
                std::max<std::size_t>({needed, 2 * m_memory.capacity(), kFirstMemoryBlock}),
                kMaxMemberInMemory));
        m_memory.insert(m_memory.end(), bytes, bytes + count);
        t_bytesInMemory += count;
    }
    m_kept += count;
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

void MemberStore::KeepWindow() {
    m_windowed = true;
    m_windowStart = m_size;
}

void MemberStore::KeepHead(std::int64_t length) {
    if (!m_windowed || m_kept != 0 || m_windowStart != 0)
        return;
    const auto head = static_cast<std::size_t>(std::clamp<std::int64_t>(length, 0, m_size));
    m_memory.assign(m_window.begin(), m_window.begin() + head);
    m_window.erase(m_window.begin(), m_window.begin() + head);
    m_windowStart = m_kept = head;
    t_bytesInMemory += m_kept;
}

void MemberStore::KeepWhole() {
    if (!m_windowed || m_kept != 0 || m_windowStart != 0)
        return;
    m_windowed = false;
    m_memory.swap(m_window);
    m_kept = m_size;
    t_bytesInMemory += m_kept;
}

// The window's front is cut only once it is at least half of it, so that a
// reader going forward in small blocks moves each byte about once.
void MemberStore::Release(std::int64_t offset) {
    if (!m_windowed)
        return;
    const std::int64_t drop = std::min(offset, m_size) - m_windowStart;
    if (drop <= 0 || 2 * drop < std::ssize(m_window))
        return;
    m_window.erase(m_window.begin(), m_window.begin() + drop);
    m_windowStart += drop;
}

void MemberStore::RewindWindow() {
    if (!m_windowed)
        return;
    m_window.clear();
    m_windowStart = m_kept;
    m_size = m_kept;
}

std::int64_t MemberStore::ReadKept(std::int64_t offset, std::uint8_t* into,
                                   std::int64_t count) const {
    if (count <= 0) // a read of nothing may come with no buffer at all
        return 0;
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

std::int64_t MemberStore::ReadAt(std::int64_t offset, std::uint8_t* into,
                                 std::int64_t count) const {
    if (offset < 0 || count < 0)
        return -1;
    if (offset >= m_size)
        return 0;
    count = std::min(count, m_size - offset);
    std::int64_t done = 0;
    if (offset < m_kept) {
        const std::int64_t wanted = std::min(count, m_kept - offset);
        done = ReadKept(offset, into, wanted);
        if (done < wanted)
            return done;
    }
    if (done < count) {
        const std::int64_t at = offset + done;
        if (at < m_windowStart)
            return done > 0 ? done : -1;
        const std::int64_t piece = std::min(count - done, m_size - at);
        std::memcpy(into + done, m_window.data() + (at - m_windowStart),
                    static_cast<std::size_t>(piece));
        done += piece;
    }
    return done;
}

int MemberStore::Descriptor() {
    if (m_windowed)
        return -1;
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
