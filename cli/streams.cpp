#include "streams.h"

#include <cerrno>
#include <unistd.h>

namespace {

// The sink that SIGINT and SIGTERM write out, and a signal that came while it was flushing.
StdoutSink *terminationSink = nullptr;
volatile std::sig_atomic_t pendingSignal = 0;

} // namespace

void StdoutSink::flush()
{
    m_flushing = 1;
    while (m_error == 0 && m_written < m_length) {
        const auto done = static_cast<std::size_t>(m_written);
        const ssize_t written =
            ::write(m_fd, m_buffer.data() + done, static_cast<std::size_t>(m_length) - done);
        if (written > 0)
            m_written = m_written + static_cast<std::sig_atomic_t>(written);
        else if (written < 0 && errno == EINTR && pendingSignal != 0)
            break; // a reader that takes nothing must not keep a terminated runner alive
        else if (written < 0 && errno != EINTR)
            m_error = errno;
    }
    m_length = 0; // before m_written: the handler never sees more written than held
    m_written = 0;
    m_flushing = 0;
    if (pendingSignal != 0)
        _exit(128 + pendingSignal);
}

StdoutSink::~StdoutSink()
{
    if (terminationSink != this)
        return;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    terminationSink = nullptr;
}

void StdoutSink::flushOnTermination()
{
    terminationSink = this;
    struct sigaction action
    { };
    action.sa_handler = terminate;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    action.sa_flags = 0; // no SA_RESTART: a blocked read or write returns to notice it
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Only async-signal-safe calls here: write and _exit.
void StdoutSink::terminate(int signal)
{
    StdoutSink *sink = terminationSink;
    if (!sink)
        _exit(128 + signal);
    if (sink->m_flushing != 0) {
        pendingSignal = signal; // flush writes the rest, then exits
        return;
    }
    sig_atomic_t done = sink->m_written;
    while (sink->m_error == 0 && done < sink->m_length) {
        const ssize_t written = ::write(sink->m_fd, sink->m_buffer.data() + done,
            static_cast<std::size_t>(sink->m_length - done));
        if (written <= 0 && errno != EINTR)
            break;
        if (written > 0)
            done += static_cast<sig_atomic_t>(written);
    }
    _exit(128 + signal);
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
        if (count < 0)
            m_error = errno;
    }
    if (m_position == m_filled)
        return 0;
    return m_buffer[m_position++];
}
