#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "byte_observer.h"
#include "read_progress.h"
#include "scan_source.h"

namespace kestrel {

// One block read is at most this many bytes, so no count taken from a file can
// size an allocation beyond it. A version resource fits, as its 16-bit length
// field counts at most 65535 bytes; longer tables (PE import descriptors, LX
// import modules) are read a block at a time.
inline constexpr std::int64_t kMaxBlockSize = 65536;

// The block reader under every format reader: one scan file (or source) at a
// time, read in blocks, and accessors that pick little-endian numbers and
// texts out of the block last read. Open and seek answer 0 on success and 1
// on failure. Every accessor checks its range against the block: a number
// whose bytes are not all inside it is 0, a text stops at its end, a negative
// start gives the empty text. Files are only ever read.
class FileReader {
public:
    FileReader() = default;
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // Opens a regular file (links followed) read-only; a FIFO, socket or
    // device is never opened. Fails while another file or source is open.
    int OpenScanFile(const std::string& path);
    // The same for `name` in the open directory `directoryDescriptor`.
    int OpenScanFileAt(int directoryDescriptor, const std::string& name);
    // Reads `source` as the scan file, with the time `modified`; it must
    // outlive the scan.
    int OpenSource(ScanSource& source, std::int64_t modified);
    void CloseScanFile();
    // Why the last open failed: an errno value, or 0 when it opened or was
    // passed over as not a regular file.
    int OpenError() const { return m_openError; }
    std::int64_t ScanFileLength() const { return m_fileLength; }
    // The scan file's time of last change in seconds since the epoch, or
    // kNoFileTime.
    std::int64_t FileTime() const { return m_fileTime; }
    static constexpr std::int64_t kNoFileTime = INT64_MIN;

    // origin 0 from the start, 1 from the current position, 2 backwards from
    // the last byte. On success the offset becomes the new position.
    int SeekScanFile(std::int64_t& offset, int origin);
    std::int64_t Position() const { return m_position; }
    // Reads up to `count` bytes (at most kMaxBlockSize) at the position into a
    // block of `count` bytes: the number read, fewer at the end of the file,
    // 0 when the read fails. The bytes past those read are 0. A count of 0 or
    // less keeps the block and is the result.
    std::int64_t ReadBlock(std::int64_t count);
    std::int64_t BufferFill() const { return m_bufferFill; }
    std::span<const std::uint8_t> Block() const { return m_fileBuffer; }

    int BufByte(std::int64_t index) const;
    std::int32_t BufWord(std::int64_t index) const;
    std::int32_t BufDword(std::int64_t index) const;
    std::string BufZString(std::int64_t position) const; // 1-based position
    std::string BufZStringN(std::int64_t index, std::int64_t maxLength) const;
    // The text after the first text and the zero bytes that end it.
    std::string BufSecondString(std::int64_t index, std::int64_t length) const;
    // The length-prefixed text at `index`, as far as the block holds it.
    std::string BufCountedString(std::int64_t index) const;
    // The same, as far as the bytes read hold it.
    std::string BufCountedName(std::int64_t index) const;
    std::string BufChars(std::int64_t index, std::int64_t count) const;
    // 16-bit codes up to a zero one, each as one byte ('_' above 255).
    std::string BufWideString(std::int64_t index, std::int64_t length) const;
    // The 16-bit text after a 16-bit key and the zero codes that end it.
    std::string BufWideText(std::int64_t index, std::int64_t length) const;
    // 0 not found; +p found as 8-bit characters at 1-based position p;
    // -p found as 16-bit little-endian characters at position p.
    std::int64_t BufFind(std::int64_t start, std::string_view text) const;
    // The same test at 1-based `position` only.
    std::int64_t BufMatchAt(std::int64_t position, std::string_view text) const;

    // The stop test of a search run on another thread; the flag must outlive
    // the scans.
    void SetStopFlag(const std::atomic<bool>* stop) { m_stop = stop; }
    bool StopRequested() const {
        return m_stop != nullptr && m_stop->load(std::memory_order_relaxed);
    }

    // Told after every read how far it got, or null; it must outlive the scans.
    void SetReadProgress(ReadProgress* progress) { m_progress = progress; }

    // An observer of every file's bytes, or null; it must outlive the scans.
    void SetByteObserver(ByteObserver* observer) { m_observer = observer; }
    // A file's bytes begin for the observer.
    void StartObservedFile();
    // Hands the observer the bytes the readers left unread; false when a stop
    // was asked for on the way.
    bool ObserveRestOfFile();

    // The scan file's bytes at `offset`, leaving the position and the block
    // as they are: for a reader that looks beyond the block (a packer's
    // loader). The count read, or -1.
    std::int64_t ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count);

private:
    // The scan-file slot holds a descriptor or a source, or neither when free.
    int m_scanFile = -1;
    ScanSource* m_source = nullptr;
    std::int64_t m_fileLength = 0;         // length of the scan file when it was opened
    std::int64_t m_fileTime = kNoFileTime; // its time of last change, in seconds
    std::int64_t m_position = 0;           // 0-based position of the scan file
    int m_openError = 0;                   // errno of the last failed open
    // The block last read: the size of the request, the bytes past the
    // fill 0.
    std::vector<std::uint8_t> m_fileBuffer;
    std::int64_t m_bufferFill = 0;
    const std::atomic<bool>* m_stop = nullptr;
    ByteObserver* m_observer = nullptr;
    ReadProgress* m_progress = nullptr;
    bool m_observing = false;        // the observer has not seen the whole file yet
    std::int64_t m_observedUpTo = 0; // the bytes before this offset were seen
};

} // namespace kestrel
