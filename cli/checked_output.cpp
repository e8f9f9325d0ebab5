#include "checked_output.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace kestrel {

namespace {

// Output is handed to the system in pieces of this size: large enough that a
// run over millions of files makes few calls, small enough to stream.
constexpr std::size_t kOutputBufferSize = 1 << 16;

} // namespace

int WriteFully(int descriptor, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(descriptor, data, size);
        if (written >= 0) {
            data += written;
            size -= static_cast<std::size_t>(written);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            pollfd ready{descriptor, POLLOUT, 0};
            ::poll(&ready, 1, -1);
        } else if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

CheckedOutput::CheckedOutput(int descriptor)
    : m_descriptor(descriptor), m_interactive(::isatty(descriptor) != 0) {
    m_buffer.reserve(kOutputBufferSize);
}

void CheckedOutput::Write(std::string_view bytes) {
    if (m_error != 0)
        return;
    m_buffer.append(bytes);
    if (m_interactive || m_buffer.size() >= kOutputBufferSize)
        Flush();
}

void CheckedOutput::Flush() {
    if (m_error == 0 && !m_buffer.empty())
        m_error = WriteFully(m_descriptor, m_buffer.data(), m_buffer.size());
    m_buffer.clear();
}

} // namespace kestrel
