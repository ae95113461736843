#include "analysis/recordjoin.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace recordjoin
{

namespace
{
// True when the second read, shifted back by `shift` records, repeats the
// first read's newest records over the whole overlap.
bool overlapsAt(const zevo::DisplayRecord* first, int firstCount, const zevo::DisplayRecord* second,
                int secondCount, int shift)
{
    // Record first[firstCount - 1] is second[secondCount - 1 - shift].
    const int overlap = std::min(firstCount, secondCount - shift);
    if (shift < 0 || overlap < kMinOverlap)
        return false;
    const zevo::DisplayRecord* a = first + (firstCount - overlap);
    const zevo::DisplayRecord* b = second + (secondCount - shift - overlap);
    // The newest shared record first: a wrong shift almost always fails there.
    if (std::memcmp(a + overlap - 1, b + overlap - 1, sizeof(zevo::DisplayRecord)) != 0)
        return false;
    return std::memcmp(a, b, std::size_t(overlap) * sizeof(zevo::DisplayRecord)) == 0;
}
} // namespace

Joined join(const zevo::DisplayRecord* first, int firstCount, const zevo::DisplayRecord* second,
            int secondCount, int expectedShift)
{
    Joined out;
    firstCount = first ? std::max(0, firstCount) : 0;
    secondCount = second ? std::max(0, secondCount) : 0;
    const int largest = secondCount - kMinOverlap;
    const int start = std::clamp(expectedShift, 0, std::max(0, largest));
    for (int distance = 0; largest >= 0 && distance <= largest; ++distance) {
        // Nearest to the expected shift first, the smaller one of a pair first.
        for (const int shift : {start - distance, start + distance}) {
            if (shift < 0 || shift > largest || (distance == 0 && shift != start))
                continue;
            if (overlapsAt(first, firstCount, second, secondCount, shift)) {
                out.shift = shift;
                break;
            }
        }
        if (out.shift >= 0)
            break;
    }

    out.records.assign(first, first + firstCount);
    if (out.shift >= 0) {
        // The records of the second read after the first read's newest.
        out.records.insert(out.records.end(), second + (secondCount - out.shift),
                           second + secondCount);
    } else {
        out.secondSegment = firstCount;
        out.records.insert(out.records.end(), second, second + secondCount);
    }
    return out;
}

} // namespace recordjoin
