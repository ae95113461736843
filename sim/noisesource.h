#pragma once

#include <cstdint>

// Cheap, deterministic random numbers for the per-tick noise of the model:
// xorshift64* for the bits, a table of standard-normal quantiles for the
// Gaussian values (one 64-bit draw yields five of them). No allocation, no
// branch on the fast path beyond the refill.
class NoiseSource
{
public:
    explicit NoiseSource(uint64_t seed);

    // Standard normal value (mean 0, deviation 1 within 0.1 %).
    double gauss()
    {
        if (m_bitsLeft == 0) {
            m_bits = next();
            m_bitsLeft = 5;
        }
        const double v = m_table[m_bits & (kTableSize - 1)];
        m_bits >>= kTableBits;
        --m_bitsLeft;
        return v;
    }

    // Uniform in [0, 1).
    double uniform() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }

private:
    static constexpr int kTableBits = 12;
    static constexpr int kTableSize = 1 << kTableBits;

    uint64_t next()
    {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return m_state * 0x2545F4914F6CDD1DULL;
    }

    static const double* table();

    const double* m_table;
    uint64_t m_state;
    uint64_t m_bits = 0;
    int m_bitsLeft = 0;
};
