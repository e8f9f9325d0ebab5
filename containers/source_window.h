#pragma once

#include <algorithm>
#include <cstdint>

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

} // namespace kestrel
