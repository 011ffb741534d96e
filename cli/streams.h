#pragma once

#include <csignal>
#include <cstdint>
#include <vector>

// Buffered writer of program output to a file descriptor, bytes passed unchanged. After a
// failed write it drops everything and keeps the error for the caller to report.
class StdoutSink
{
public:
    explicit StdoutSink(int fd)
        : m_fd(fd)
        , m_buffer(BufferSize)
    { }
    StdoutSink(const StdoutSink &) = delete;
    StdoutSink &operator=(const StdoutSink &) = delete;
    // Gives SIGINT and SIGTERM back their default action when they were this sink's.
    ~StdoutSink();

    void put(std::uint8_t byte)
    {
        m_buffer[static_cast<std::size_t>(m_length)] = byte;
        m_length = m_length + 1;
        if (m_length == BufferSize || (m_lineBuffered && byte == '\n'))
            flush();
    }
    // Writes out everything buffered.
    void flush();
    // Line-buffered (as for a terminal): every line break writes out the line.
    void setLineBuffered(bool lineBuffered) { m_lineBuffered = lineBuffered; }
    // The errno of the first failed write (EPIPE: the reader has gone), or 0.
    int error() const { return m_error; }

    // From now on SIGINT and SIGTERM write out what this sink holds, as far as the reader
    // takes it without waiting, and end the process with 128 + the signal's number, also in
    // the middle of a run, of an input wait or of a write to a reader that takes nothing.
    void flushOnTermination();

private:
    static constexpr int BufferSize = 1 << 16;
    static void terminate(int signal);
    // Writes what the reader takes of the bytes not written yet, then ends the process.
    [[noreturn]] void finish(int signal);

    int m_fd;
    int m_error = 0;
    bool m_lineBuffered = false;
    char m_reopenPath[32] = {}; // /proc/self/fd/N, for a description of m_fd's file of its own
    std::vector<std::uint8_t> m_buffer;
    // Read by the signal handler: the bytes held, how many of them are written, and whether
    // flush is writing them (the handler then leaves the rest to flush).
    volatile std::sig_atomic_t m_length = 0;
    volatile std::sig_atomic_t m_written = 0;
    volatile std::sig_atomic_t m_flushing = 0;
};

// Waits until fd is ready for events (POLLIN or POLLOUT), for a descriptor that does not
// wait itself (O_NONBLOCK, set by whoever started us). False when SIGINT or SIGTERM came
// while this sink's termination is set up, or poll failed.
bool waitUntilReady(int fd, short events);

// Buffered reader of program input; the end of input reads as the byte 0. Before every
// read from the descriptor it flushes the sink, so a prompt shows before the program waits.
class StdinSource
{
public:
    StdinSource(int fd, StdoutSink &sink)
        : m_fd(fd)
        , m_sink(sink)
    { }
    // The next byte; 0 at the end of input and after a read error.
    std::uint8_t get();
    // Whether the last get found the input at its end (or a read error) instead of a byte.
    bool ended() const { return m_atEnd && m_position == m_filled; }
    // The errno of a failed read, or 0.
    int error() const { return m_error; }

private:
    int m_fd;
    StdoutSink &m_sink;
    std::vector<std::uint8_t> m_buffer = std::vector<std::uint8_t>(1 << 16);
    std::size_t m_position = 0;
    std::size_t m_filled = 0;
    bool m_atEnd = false;
    int m_error = 0;
};
