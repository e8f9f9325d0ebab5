#pragma once

#include <cstdint>
#include <span>

namespace kestrel {

// Sees the bytes of every file the scanner scans, each byte once and in file
// order, for a digest of the whole file. The scanner hands it the bytes its
// readers read from the start of the file on (a marker scan reads them all);
// before a file's first report it reads whatever the readers left unread.
// When the file could not be read to its end, the observer has seen fewer
// bytes than the report's size.
class ByteObserver {
public:
    virtual ~ByteObserver() = default;
    // A file begins; none of its bytes has been seen.
    virtual void StartFile() = 0;
    // The file's next bytes, right after those seen before.
    virtual void AddBytes(std::span<const std::uint8_t> bytes) = 0;
};

} // namespace kestrel
