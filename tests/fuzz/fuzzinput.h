#pragma once

// Reads a fuzz input as a stream of small decisions and pieces of data. Every
// read succeeds: past the end it yields zeros and empty pieces, so a target
// never has to check for a short input and every input, however short, runs.

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

class FuzzInput
{
public:
    FuzzInput(const uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool empty() const { return m_pos >= m_size; }
    std::size_t remaining() const { return m_size - m_pos; }

    uint8_t byte() { return empty() ? 0 : m_data[m_pos++]; }
    bool flag() { return (byte() & 1) != 0; }

    // A plain value from the next sizeof(T) bytes (fewer at the end, the
    // rest zero).
    template <typename T> T value()
    {
        static_assert(std::is_trivially_copyable<T>::value, "plain values only");
        T v{};
        copy(&v, sizeof(T));
        return v;
    }

    // A number in [low, high].
    int inRange(int low, int high)
    {
        const uint32_t span = uint32_t(int64_t(high) - int64_t(low)) + 1u;
        const uint32_t raw = value<uint16_t>();
        return span == 0 ? int(raw) : int(int64_t(low) + int64_t(raw % span));
    }

    // Copies up to `bytes` bytes to `destination`; returns how many there were.
    std::size_t copy(void* destination, std::size_t bytes)
    {
        const std::size_t n = std::min(bytes, remaining());
        if (n)
            std::memcpy(destination, m_data + m_pos, n);
        m_pos += n;
        return n;
    }

    // The bytes up to the next `separator` (dropped) or the end.
    QByteArray piece(char separator = '\0')
    {
        const std::size_t start = m_pos;
        while (!empty() && char(m_data[m_pos]) != separator)
            ++m_pos;
        const QByteArray bytes(reinterpret_cast<const char*>(m_data + start), int(m_pos - start));
        m_pos += empty() ? 0 : 1;
        return bytes;
    }
    QString text(char separator = '\0') { return QString::fromUtf8(piece(separator)); }

    QByteArray rest()
    {
        const QByteArray bytes(reinterpret_cast<const char*>(m_data + m_pos), int(remaining()));
        m_pos = m_size;
        return bytes;
    }

private:
    const uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// A broken expectation: said on stderr, then the process aborts so that the
// fuzzer keeps the input and the replay test fails.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: expectation failed: %s\n", __FILE__, __LINE__,            \
                         #condition);                                                              \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// The application object that timers, settings and text codecs expect,
// made once per process. It gets a command line of its own: the fuzzer's
// options are none of Qt's business. Qt's warnings about odd input (there
// are many) are dropped; its fatal errors still abort.
void startQt();

// Where a target keeps the files it writes: a fresh folder in memory when
// the system has one. Settings are flushed to the disk on every save, which
// on a real disk would cost more than everything else an input does.
QString scratchFolderTemplate();
