#pragma once

#include <cstdint>
#include <vector>

// Buffered writer of program output to a file descriptor, bytes passed unchanged. After a
// failed write it drops everything and keeps the error for the caller to report.
class StdoutSink
{
public:
    explicit StdoutSink(int fd)
        : m_fd(fd)
    {
        m_buffer.reserve(BufferSize);
    }
    void put(std::uint8_t byte)
    {
        m_buffer.push_back(byte);
        if (m_buffer.size() == BufferSize)
            flush();
    }
    // Writes out everything buffered.
    void flush();
    // The errno of the first failed write (EPIPE: the reader has gone), or 0.
    int error() const { return m_error; }

private:
    static constexpr std::size_t BufferSize = 1 << 16;
    int m_fd;
    int m_error = 0;
    std::vector<std::uint8_t> m_buffer;
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
    std::uint8_t get();

private:
    int m_fd;
    StdoutSink &m_sink;
    std::vector<std::uint8_t> m_buffer = std::vector<std::uint8_t>(1 << 16);
    std::size_t m_position = 0;
    std::size_t m_filled = 0;
    bool m_atEnd = false;
};
