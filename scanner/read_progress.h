#pragma once

#include <cstdint>

namespace kestrel {

// Told how far the reads of the scan file (or source) have got, for a front
// end that shows its progress inside one large file. Called on the scanning
// thread after every read, so it must be quick.
class ReadProgress {
public:
    virtual ~ReadProgress() = default;
    // A read of the scan file, `length` bytes long, ended at `offset`.
    virtual void ReadUpTo(std::int64_t offset, std::int64_t length) = 0;
};

} // namespace kestrel
