#pragma once

// Joins two reads of the display buffer taken some time apart into one
// series. Display records carry no counter or time stamp, but a record that
// both reads hold is the same 256 bytes in each: the second read, shifted
// back by the records streamed in between, repeats the end of the first. The
// shift is found by comparing bytes, starting where the time between the
// reads says it should be and moving outward, and is accepted only when the
// whole overlap matches. No record is then kept twice and none is lost.
//
// When no shift makes the reads overlap (the stream stalled, the rate
// changed, more time passed than the buffer holds) the two reads are kept
// as two segments, one after the other.

#include "device/protocol.h"

#include <vector>

namespace recordjoin
{

struct Joined {
    std::vector<zevo::DisplayRecord> records;
    // Records streamed between the two reads (the second read's newest record
    // is `shift` records after the first read's); -1 when they do not overlap.
    int shift = -1;
    // Where the second segment begins when the reads do not overlap; -1 when
    // the series is one.
    int secondSegment = -1;

    bool joined() const { return secondSegment < 0; }
};

// Overlaps shorter than this are not trusted: a few equal records (a stalled
// stream repeating zeros) match anywhere.
constexpr int kMinOverlap = 64;

// `first` and `second` are oldest first; `expectedShift` is the time between
// the reads times the display rate.
Joined join(const zevo::DisplayRecord* first, int firstCount, const zevo::DisplayRecord* second,
            int secondCount, int expectedShift);

} // namespace recordjoin
