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

    // From now on SIGINT and SIGTERM write out what this sink holds and end the process with
    // 128 + the signal's number, also in the middle of a run or of an input wait.
    void flushOnTermination();

private:
    static constexpr int BufferSize = 1 << 16;
    static void terminate(int signal);

    int m_fd;
    int m_error = 0;
    bool m_lineBuffered = false;
    std::vector<std::uint8_t> m_buffer;
    // Read by the signal handler: the bytes held, how many of them are written, and whether
    // flush is writing them (the handler then leaves the rest to flush).
    volatile std::sig_atomic_t m_length = 0;
    volatile std::sig_atomic_t m_written = 0;
    volatile std::sig_atomic_t m_flushing = 0;
};

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
