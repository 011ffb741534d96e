#include "streams.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The sink that SIGINT and SIGTERM write out, and a signal that came while it was flushing.
StdoutSink *terminationSink = nullptr;
volatile std::sig_atomic_t pendingSignal = 0;

bool wouldWait(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

// Writes data to fd as far as it goes without waiting for a reader: a reader that has stopped
// reading must not keep a terminated runner alive. Only async-signal-safe calls.
void writeWithoutWaiting(int fd, const char *reopenPath, const std::uint8_t *data, std::size_t size)
{
    struct stat status
    { };
    if (::fstat(fd, &status) != 0)
        return;
    const auto writeAll = [&](auto &&writeSome) {
        while (size > 0) {
            const ssize_t written = writeSome(data, size);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return;
            data += written;
            size -= static_cast<std::size_t>(written);
        }
    };
    if (S_ISREG(status.st_mode) || S_ISBLK(status.st_mode)) {
        // A file takes everything without a reader. Reopening it would start at offset 0.
        writeAll([&](const std::uint8_t *bytes, std::size_t count) {
            return ::write(fd, bytes, count);
        });
        return;
    }
    if (S_ISSOCK(status.st_mode)) {
        writeAll([&](const std::uint8_t *bytes, std::size_t count) {
            return ::send(fd, bytes, count, MSG_DONTWAIT | MSG_NOSIGNAL);
        });
        return;
    }
    // A pipe or a terminal: a non-blocking description of our own leaves the flags of the one
    // we share with the shell alone.
    const int own = ::open(reopenPath, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (own >= 0) {
        writeAll([&](const std::uint8_t *bytes, std::size_t count) {
            return ::write(own, bytes, count);
        });
        ::close(own);
        return;
    }
    // No /proc: a pipe that poll finds room in takes PIPE_BUF bytes without waiting.
    writeAll([&](const std::uint8_t *bytes, std::size_t count) -> ssize_t {
        pollfd ready {fd, POLLOUT, 0};
        if (::poll(&ready, 1, 0) != 1 || (ready.revents & POLLOUT) == 0)
            return 0;
        return ::write(fd, bytes, count < PIPE_BUF ? count : PIPE_BUF);
    });
}

} // namespace

bool waitUntilReady(int fd, short events)
{
    for (;;) {
        pollfd ready {fd, events, 0};
        const int count = ::poll(&ready, 1, -1);
        if (count > 0)
            return true;
        if (count < 0 && (errno != EINTR || pendingSignal != 0))
            return false;
    }
}

void StdoutSink::flush()
{
    m_flushing = 1;
    while (m_error == 0 && m_written < m_length && pendingSignal == 0) {
        const auto done = static_cast<std::size_t>(m_written);
        const ssize_t written =
            ::write(m_fd, m_buffer.data() + done, static_cast<std::size_t>(m_length) - done);
        if (written > 0)
            m_written = m_written + static_cast<std::sig_atomic_t>(written);
        else if (written < 0 && wouldWait(errno)) {
            // Whoever started us made the stream non-blocking: wait for the reader as a
            // blocking write would.
            if (!waitUntilReady(m_fd, POLLOUT) && pendingSignal == 0)
                m_error = errno;
        } else if (written < 0 && errno != EINTR)
            m_error = errno;
    }
    if (pendingSignal != 0)
        finish(pendingSignal);
    m_length = 0; // before m_written: the handler never sees more written than held
    m_written = 0;
    m_flushing = 0;
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
    std::snprintf(m_reopenPath, sizeof m_reopenPath, "/proc/self/fd/%d", m_fd);
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

void StdoutSink::finish(int signal)
{
    const sig_atomic_t done = m_written;
    if (m_error == 0 && done < m_length)
        writeWithoutWaiting(
            m_fd, m_reopenPath, m_buffer.data() + done, static_cast<std::size_t>(m_length - done));
    _exit(128 + signal);
}

void StdoutSink::terminate(int signal)
{
    StdoutSink *sink = terminationSink;
    if (!sink)
        _exit(128 + signal);
    if (sink->m_flushing != 0) {
        pendingSignal = signal; // flush stops writing, writes what it can at once, then exits
        return;
    }
    sink->finish(signal);
}

std::uint8_t StdinSource::get()
{
    if (m_position == m_filled && !m_atEnd) {
        m_sink.flush();
        ssize_t count;
        for (;;) {
            count = ::read(m_fd, m_buffer.data(), m_buffer.size());
            if (count >= 0 || (errno != EINTR && !wouldWait(errno)))
                break;
            if (errno != EINTR && !waitUntilReady(m_fd, POLLIN))
                break;
        }
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
