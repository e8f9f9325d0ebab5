#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

#include "scan_source.h"

namespace kestrel {

// The bytes of a source from `start` on, `length` of them at most (all the
// rest when -1): an archive or cabinet a self-extracting program carries,
// which its reader then reads as a file of its own.
class SourceWindow : public ScanSource {
public:
    SourceWindow(ScanSource& source, std::int64_t start, std::int64_t length = -1)
        : m_source(source), m_start(start) {
        const std::int64_t rest = std::max<std::int64_t>(source.Length() - start, 0);
        m_length = length < 0 ? rest : std::min(length, rest);
    }
    std::int64_t Length() const override { return m_length; }
    std::int64_t ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count) override {
        if (offset < 0 || count < 0)
            return -1;
        if (offset >= m_length)
            return 0;
        return m_source.ReadAt(m_start + offset, into, std::min(count, m_length - offset));
    }

private:
    ScanSource& m_source;
    std::int64_t m_start;
    std::int64_t m_length;
};

// Bytes made in memory (an unpacked program, a floppy's sectors), read as a
// file; the bytes stay the caller's.
class BytesSource : public ScanSource {
public:
    explicit BytesSource(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    std::int64_t Length() const override { return std::ssize(m_bytes); }
    std::int64_t ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count) override {
        if (offset < 0 || count < 0)
            return -1;
        const std::int64_t n = std::clamp<std::int64_t>(Length() - offset, 0, count);
        if (n > 0)
            std::memcpy(into, m_bytes.data() + offset, static_cast<std::size_t>(n));
        return n;
    }

private:
    std::span<const std::uint8_t> m_bytes;
};

} // namespace kestrel
