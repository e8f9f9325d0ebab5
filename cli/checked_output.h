#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel {

// Writes all of `size` bytes with write(2): a write cut short or interrupted by
// a signal goes on where it stopped, and a descriptor that is not ready (one
// left non-blocking by another program) is waited for. The errno value of the
// failure, or 0.
int WriteFully(int descriptor, const char* data, std::size_t size);

// Standard output, gathered into large writes; on a terminal each part goes
// out at once. Every write is checked: after the first failure nothing more
// is written, and Error() tells why (EPIPE when the reader has gone).
class CheckedOutput {
public:
    explicit CheckedOutput(int descriptor);
    void Write(std::string_view bytes);
    void Flush();
    int Error() const { return m_error; }

private:
    int m_descriptor;
    bool m_interactive;
    std::string m_buffer;
    int m_error = 0;
};

} // namespace kestrel
