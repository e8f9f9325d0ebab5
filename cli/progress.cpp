#include "progress.h"

#include <sys/ioctl.h>

#include "checked_output.h"
#include "text.h"
#include "walk.h"

namespace kestrel {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

// The fewest columns ShortenCaption can shorten a caption to; a terminal
// narrower than that still gets a line this long.
constexpr std::size_t kNarrowestLine = 30;

} // namespace

ProgressLine::ProgressLine(int descriptor, bool enabled)
    : m_descriptor(descriptor), m_enabled(enabled) {
    winsize size{};
    if (m_enabled && ::ioctl(descriptor, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        m_width = size.ws_col;
}

void ProgressLine::SetCaption(const std::string& caption) {
    m_caption = ReplaceControlCharacters(SanitizeUtf8(caption));
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
    // One column is left free: a line that fills the last column wraps on
    // some terminals, and the erase would then miss its first part.
    const std::size_t width = std::max(m_width, kNarrowestLine + 1) - 1;
    std::string text = std::to_string(m_count) + " files scanned";
    // The caption keeps its start and its end; on a narrow terminal it is left out.
    if (const std::size_t room = width - std::min(width, text.size() + 2); room >= kNarrowestLine)
        text += "  " + ShortenCaption(m_caption, room);
    const std::string line = kEraseLine + text;
    WriteFully(m_descriptor, line.data(), line.size());
}

void ProgressLine::Clear() {
    if (m_enabled && m_drawn)
        WriteFully(m_descriptor, kEraseLine, sizeof kEraseLine - 1);
    m_drawn = false;
}

} // namespace kestrel
