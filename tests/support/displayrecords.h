#pragma once

#include "device/protocol.h"

#include <vector>

// Display records whose every field says where it came from: record i,
// field f holds i * 1000 + f + 0.25.
inline std::vector<zevo::DisplayRecord> numberedRecords(int count)
{
    std::vector<zevo::DisplayRecord> records(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        for (int f = 0; f < 32; ++f)
            records[std::size_t(i)].value[f] = i * 1000.0 + f + 0.25;
    return records;
}
