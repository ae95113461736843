#pragma once

// The [PostMortem] group: whether a trip of the feedback is captured, where
// the files go, how long after the trip the second read of the display
// buffer is taken, and how many files are kept (the oldest go first).

#include <QString>

struct PostMortemSettings {
    bool enabled = true;
    QString folder = defaultFolder();
    double postTriggerSeconds = 2.0;
    int keep = 200;

    // "postmortem" in the user's data location.
    static QString defaultFolder();

    // The display buffer covers about 14 s: a later second read would no
    // longer overlap the first.
    static constexpr double kMaxPostTriggerSeconds = 10.0;
};
