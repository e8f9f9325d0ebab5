#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kestrel {

// The count of files scanned and the directory being scanned, redrawn in place
// on a terminal at most a few times a second.
class ProgressLine {
public:
    ProgressLine(std::FILE* out, bool enabled) : m_out(out), m_enabled(enabled) {}
    void SetCaption(const std::string& caption);
    void CountFile();
    void Clear();

private:
    void Draw();

    std::FILE* m_out;
    bool m_enabled;
    std::int64_t m_count = 0;
    std::string m_caption;
    std::chrono::steady_clock::time_point m_lastDraw{};
    bool m_drawn = false;
};

} // namespace kestrel
