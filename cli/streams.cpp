#include "streams.h"

#include <cerrno>
#include <unistd.h>

void StdoutSink::flush()
{
    std::size_t done = 0;
    while (m_error == 0 && done < m_buffer.size()) {
        const ssize_t written = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (written < 0 && errno != EINTR)
            m_error = errno;
        else if (written > 0)
            done += static_cast<std::size_t>(written);
    }
    m_buffer.clear();
}

std::uint8_t StdinSource::get()
{
    if (m_position == m_filled && !m_atEnd) {
        m_sink.flush();
        ssize_t count;
        do {
            count = ::read(m_fd, m_buffer.data(), m_buffer.size());
        } while (count < 0 && errno == EINTR);
        m_position = 0;
        m_filled = count > 0 ? static_cast<std::size_t>(count) : 0;
        m_atEnd = count <= 0;
    }
    if (m_position == m_filled)
        return 0;
    return m_buffer[m_position++];
}
