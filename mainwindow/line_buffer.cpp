#include "line_buffer.h"

namespace kestrel {

bool LineBuffer::Append(std::string_view line, LineKind kind) {
    const std::size_t start = m_text.Size();
    if (!m_text.Append(line.data(), line.size()))
        return false;
    if (!m_entries.Append(static_cast<std::uint64_t>(start) << kKindBits |
                          static_cast<std::uint64_t>(kind))) {
        m_text.Truncate(start);
        return false;
    }
    return true;
}

bool LineBuffer::Append(const LineBuffer& lines) {
    const std::size_t count = m_entries.Size();
    const std::size_t textStart = m_text.Size();
    if (!m_text.Append(lines.m_text.Data(), lines.m_text.Size()))
        return false;
    for (std::size_t i = 0; i < lines.Count(); ++i) {
        if (!m_entries.Append(lines.m_entries[i] +
                              (static_cast<std::uint64_t>(textStart) << kKindBits))) {
            m_entries.Truncate(count);
            m_text.Truncate(textStart);
            return false;
        }
    }
    return true;
}

std::string_view LineBuffer::Line(std::size_t index) const {
    if (index >= Count())
        return {};
    const std::size_t start = Start(index);
    const std::size_t end = index + 1 < Count() ? Start(index + 1) : m_text.Size();
    return std::string_view(m_text.Data() + start, end - start);
}

LineKind LineBuffer::Kind(std::size_t index) const {
    if (index >= Count())
        return LineKind::InReport;
    return static_cast<LineKind>(m_entries[index] & kKindMask);
}

void LineBuffer::Clear() {
    m_text.Release();
    m_entries.Release();
}

} // namespace kestrel
