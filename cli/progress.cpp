#include "progress.h"

#include "walk.h"

namespace kestrel {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

} // namespace

void ProgressLine::SetCaption(const std::string& caption) {
    m_caption = caption;
    Draw();
}

void ProgressLine::CountFile() {
    ++m_count;
    Draw();
}

void ProgressLine::Draw() {
    if (!m_enabled)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (m_drawn && now - m_lastDraw < kRedrawInterval)
        return;
    m_lastDraw = now;
    m_drawn = true;
    std::fprintf(m_out, "\r\033[K%lld files scanned  %s", static_cast<long long>(m_count),
                 ShortenCaption(m_caption).c_str());
    std::fflush(m_out);
}

void ProgressLine::Clear() {
    if (m_enabled && m_drawn) {
        std::fputs("\r\033[K", m_out);
        std::fflush(m_out);
    }
}

} // namespace kestrel
