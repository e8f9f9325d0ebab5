#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel {

// The count of files scanned and the directory being searched, redrawn in
// place on a terminal at most a few times a second. The text holds no control
// character and is cut to the terminal's width, so "\r" and erase-line always
// take all of it away again.
class ProgressLine {
public:
    ProgressLine(int descriptor, bool enabled);
    bool Enabled() const { return m_enabled; }
    void SetCaption(const std::string& caption);
    void CountFile();
    // Erases the line when it is drawn: before a message, and before the run ends.
    void Clear();

private:
    void Draw();

    int m_descriptor;
    bool m_enabled;
    std::size_t m_width = 80; // columns of the terminal
    std::int64_t m_count = 0;
    std::string m_caption;
    std::chrono::steady_clock::time_point m_lastDraw{};
    bool m_drawn = false;
};

// What erases the progress line: back to the start of the line, erase to its end.
inline constexpr char kEraseLine[] = "\r\033[K";

} // namespace kestrel
