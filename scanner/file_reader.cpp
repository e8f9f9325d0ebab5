// The block reader: one scan file at a time, read in blocks, and accessors
// that pick numbers and texts out of the block. Numbers in the scanned
// formats are little-endian.

#include "file_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <span>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kestrel {

FileReader::~FileReader() {
    CloseScanFile();
}

int FileReader::OpenScanFile(const std::string& path) {
    return OpenScanFileAt(AT_FDCWD, path);
}

int FileReader::OpenScanFileAt(int directoryDescriptor, const std::string& name) {
    m_openError = 0;
    if (m_scanFile >= 0 || m_source != nullptr)
        return 1;
    // Only regular files are opened: a FIFO, socket or device could block the
    // scan or change state on open. The descriptor is checked again, so a file
    // replaced between the two calls is refused all the same.
    struct stat info {};
    if (::fstatat(directoryDescriptor, name.c_str(), &info, 0) != 0) {
        m_openError = errno;
        return 1;
    }
    if (!S_ISREG(info.st_mode))
        return 1;
    const int descriptor =
        ::openat(directoryDescriptor, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0) {
        m_openError = errno;
        return 1;
    }
    if (::fstat(descriptor, &info) != 0) {
        m_openError = errno;
        ::close(descriptor);
        return 1;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(descriptor);
        return 1;
    }
    m_scanFile = descriptor;
    m_fileLength = info.st_size;
    m_fileTime = static_cast<std::int64_t>(info.st_mtime);
    m_position = 0;
    return 0;
}

int FileReader::OpenSource(ScanSource& source, std::int64_t modified) {
    if (m_scanFile >= 0 || m_source != nullptr)
        return 1;
    m_source = &source;
    m_fileLength = std::max<std::int64_t>(source.Length(), 0);
    m_fileTime = modified;
    m_position = 0;
    return 0;
}

void FileReader::CloseScanFile() {
    if (m_scanFile >= 0)
        ::close(m_scanFile);
    m_scanFile = -1;
    m_source = nullptr;
    m_fileLength = 0;
    m_fileTime = kNoFileTime;
    m_position = 0;
}

int FileReader::SeekScanFile(std::int64_t& offset, int origin) {
    const std::int64_t last = ScanFileLength() - 1;
    std::int64_t target = 0;
    switch (origin) {
    case 0:
        target = offset;
        if (target > last || target < 0)
            return 1;
        break;
    case 1:
        if (offset > last - m_position || offset < -m_position)
            return 1;
        target = m_position + offset;
        break;
    case 2:
        // Counts backwards from the last byte; only a target before the start
        // fails (and one too far on to be represented).
        if (offset > last || offset < last - std::numeric_limits<std::int64_t>::max())
            return 1;
        target = last - offset;
        break;
    default:
        return 0;
    }
    m_position = target;
    offset = target;
    return 0;
}

// Reads up to `count` bytes at `offset`: the number read (fewer only at the
// end of the file), or -1 when the bytes cannot be read.
std::int64_t FileReader::ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count) {
    std::int64_t done = 0;
    while (done < count) {
        std::int64_t got = -1;
        if (m_source != nullptr) {
            got = m_source->ReadAt(offset + done, into + done, count - done);
        } else if (m_scanFile >= 0) {
            got = ::pread(m_scanFile, into + done, static_cast<std::size_t>(count - done),
                          offset + done);
            if (got < 0 && errno == EINTR)
                continue;
        }
        if (got < 0)
            return -1;
        if (got == 0)
            break; // the file shrank under us: what was read stands
        done += got;
    }
    if (m_progress != nullptr)
        m_progress->ReadUpTo(offset + done, ScanFileLength());
    return done;
}

std::int64_t FileReader::ReadBlock(std::int64_t count) {
    if (count <= 0) {
        m_bufferFill = count;
        return m_bufferFill;
    }
    count = std::min(count, kMaxBlockSize);
    const std::int64_t remaining = std::max<std::int64_t>(0, ScanFileLength() - m_position);
    const std::int64_t wanted = std::min(count, remaining);
    m_fileBuffer.assign(static_cast<std::size_t>(count), 0);
    const std::int64_t done = ReadAt(m_position, m_fileBuffer.data(), wanted);
    if (done < 0) {
        // A failed read counts no byte as read.
        std::fill(m_fileBuffer.begin(), m_fileBuffer.end(), std::uint8_t{0});
        m_bufferFill = 0;
        return 0;
    }
    // The observer takes the bytes that follow those it has seen.
    if (m_observing && m_position <= m_observedUpTo && m_observedUpTo < m_position + done) {
        const std::int64_t skip = m_observedUpTo - m_position;
        m_observer->AddBytes(
            std::span<const std::uint8_t>(m_fileBuffer)
                .subspan(static_cast<std::size_t>(skip), static_cast<std::size_t>(done - skip)));
        m_observedUpTo = m_position + done;
    }
    m_position += done;
    m_bufferFill = done;
    return m_bufferFill;
}

void FileReader::StartObservedFile() {
    m_observing = m_observer != nullptr;
    m_observedUpTo = 0;
    if (m_observing)
        m_observer->StartFile();
}

// Hands the observer the bytes the readers left unread, a block at a time;
// false when a stop was asked for on the way. A read that fails leaves the
// observer short of the file's length.
bool FileReader::ObserveRestOfFile() {
    if (!m_observing)
        return true;
    m_observing = false;
    std::vector<std::uint8_t> block;
    while (m_observedUpTo < ScanFileLength()) {
        if (StopRequested())
            return false;
        const std::int64_t count = std::min(kMaxBlockSize, ScanFileLength() - m_observedUpTo);
        block.resize(static_cast<std::size_t>(count));
        const std::int64_t got = ReadAt(m_observedUpTo, block.data(), count);
        if (got <= 0)
            return true;
        m_observer->AddBytes(
            std::span<const std::uint8_t>(block).first(static_cast<std::size_t>(got)));
        m_observedUpTo += got;
    }
    return true;
}

int FileReader::BufByte(std::int64_t index) const {
    if (index < 0 || index >= static_cast<std::int64_t>(m_fileBuffer.size()))
        return 0;
    return m_fileBuffer[static_cast<std::size_t>(index)];
}

std::int32_t FileReader::BufWord(std::int64_t index) const {
    if (index < 0 || index > static_cast<std::int64_t>(m_fileBuffer.size()) - 2)
        return 0;
    return BufByte(index) | (BufByte(index + 1) << 8);
}

std::int32_t FileReader::BufDword(std::int64_t index) const {
    if (index < 0 || index > static_cast<std::int64_t>(m_fileBuffer.size()) - 4)
        return 0;
    const std::uint32_t value = static_cast<std::uint32_t>(BufByte(index)) |
                                static_cast<std::uint32_t>(BufByte(index + 1)) << 8 |
                                static_cast<std::uint32_t>(BufByte(index + 2)) << 16 |
                                static_cast<std::uint32_t>(BufByte(index + 3)) << 24;
    return static_cast<std::int32_t>(value);
}

std::string FileReader::BufZString(std::int64_t position) const {
    return BufZStringN(position - 1, static_cast<std::int64_t>(m_fileBuffer.size()));
}

std::string FileReader::BufZStringN(std::int64_t index, std::int64_t maxLength) const {
    const auto size = static_cast<std::int64_t>(m_fileBuffer.size());
    if (index < 0 || index >= size || maxLength <= 0)
        return {};
    const std::int64_t end = index + std::min(maxLength, size - index);
    std::string text;
    for (std::int64_t i = index; i < end && m_fileBuffer[static_cast<std::size_t>(i)] != 0; ++i)
        text += static_cast<char>(m_fileBuffer[static_cast<std::size_t>(i)]);
    return text;
}

std::string FileReader::BufSecondString(std::int64_t index, std::int64_t length) const {
    const auto size = static_cast<std::int64_t>(m_fileBuffer.size());
    if (index < 0 || index >= size || length <= 0)
        return {};
    const std::int64_t end = index + std::min(length, size - index);
    std::int64_t i = index;
    while (i < end && BufByte(i) != 0)
        ++i; // the first text
    while (i < end && BufByte(i) == 0)
        ++i; // the zero bytes between the two
    if (i >= end)
        return {};
    return BufZStringN(i, end - i);
}

std::string FileReader::BufCountedString(std::int64_t index) const {
    if (index < 0)
        return {};
    return BufChars(index + 1, BufByte(index));
}

std::string FileReader::BufCountedName(std::int64_t index) const {
    if (index < 0)
        return {};
    return BufChars(index + 1, std::min<std::int64_t>(BufByte(index), m_bufferFill - index - 1));
}

std::string FileReader::BufChars(std::int64_t index, std::int64_t count) const {
    const auto size = static_cast<std::int64_t>(m_fileBuffer.size());
    if (index < 0 || index >= size || count <= 0)
        return {};
    const auto first = m_fileBuffer.begin() + index;
    return std::string(first, first + std::min(count, size - index));
}

namespace {

// A 16-bit code as one character: codes above 255 have none in the code page.
char WideCodeCharacter(std::int32_t code) {
    return code > 255 ? '_' : static_cast<char>(code);
}

} // namespace

std::string FileReader::BufWideString(std::int64_t index, std::int64_t length) const {
    const auto size = static_cast<std::int64_t>(m_fileBuffer.size());
    if (index < 0 || length <= 0)
        return {};
    // Every code lies inside the range and inside the buffer; an odd last byte is ignored.
    const std::int64_t lastCode = std::min(index + length - 2, size - 2);
    std::string text;
    for (std::int64_t i = index; i <= lastCode; i += 2) {
        const std::int32_t code = BufWord(i);
        if (code == 0)
            break;
        text += WideCodeCharacter(code);
    }
    return text;
}

std::string FileReader::BufWideText(std::int64_t index, std::int64_t length) const {
    const auto size = static_cast<std::int64_t>(m_fileBuffer.size());
    if (index < 0 || length <= 0)
        return {};
    const std::int64_t lastCode = std::min(index + length - 2, size - 2);
    std::int64_t i = index;
    while (i <= lastCode && BufWord(i) != 0)
        i += 2; // the key
    while (i <= lastCode && BufWord(i) == 0)
        i += 2; // the zero padding after it
    if (i > lastCode)
        return {};
    return BufWideString(i, lastCode - i + 2);
}

std::int64_t FileReader::BufFind(std::int64_t start, std::string_view text) const {
    if (text.empty())
        return 0;
    const auto size = static_cast<std::int64_t>(m_fileBuffer.size());
    const auto length = static_cast<std::int64_t>(text.size());
    const std::uint8_t* const data = m_fileBuffer.data();
    const auto first = static_cast<std::uint8_t>(text[0]);
    std::int64_t i = std::max<std::int64_t>(start - 1, 0);
    while (i < size) {
        const void* hit = std::memchr(data + i, first, static_cast<std::size_t>(size - i));
        if (hit == nullptr)
            return 0;
        i = static_cast<const std::uint8_t*>(hit) - data;
        if (2 * length <= size - i) {
            std::int64_t k = 0;
            while (k < length && data[i + 2 * k] == static_cast<std::uint8_t>(text[k]) &&
                   data[i + 2 * k + 1] == 0)
                ++k;
            if (k == length)
                return -(i + 1);
        }
        if (length <= size - i && std::memcmp(data + i, text.data(), text.size()) == 0)
            return i + 1;
        ++i;
    }
    return 0;
}

std::int64_t FileReader::BufMatchAt(std::int64_t position, std::string_view text) const {
    const std::int64_t i = position - 1;
    const auto size = static_cast<std::int64_t>(m_fileBuffer.size());
    const auto length = static_cast<std::int64_t>(text.size());
    if (text.empty() || i < 0 || BufByte(i) != static_cast<std::uint8_t>(text[0]))
        return 0;
    if (2 * length <= size - i) {
        std::int64_t k = 0;
        while (k < length && BufByte(i + 2 * k) == static_cast<std::uint8_t>(text[k]) &&
               BufByte(i + 2 * k + 1) == 0)
            ++k;
        if (k == length)
            return -position;
    }
    if (length > size - i)
        return 0;
    return BufChars(i, length) == text ? position : 0;
}

} // namespace kestrel
