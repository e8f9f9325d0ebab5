#pragma once

#include <cstdint>

namespace kestrel {

// Where the bytes of a scan come from when they are not a file on disk: a
// member inside an archive, a compressed file or a disk image. The scanner
// reads a source through the same block reader as a file.
class ScanSource {
public:
    virtual ~ScanSource() = default;
    // The length in bytes, fixed for as long as the source is scanned.
    virtual std::int64_t Length() const = 0;
    // Reads up to `count` bytes at `offset` into `into`: the number of bytes
    // read (fewer only at the end of the source), or -1 when the bytes cannot
    // be read.
    virtual std::int64_t ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count) = 0;
};

} // namespace kestrel
