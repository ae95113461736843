#pragma once

// The user levels and their login names. The level in force is the
// process-wide `userLevel` (device/globals.h); every window that gates a
// control on it compares against these names, never against bare numbers.

#include <QString>

namespace zevo
{

enum UserLevel : int {
    LevelCruise = 0, // looks only; the lowest level asks for no password
    LevelUser = 1,   // runs the feedback; takes the operator lock
    LevelAdmin = 2,  // also changes the settings; takes the operator lock
};

constexpr bool isUserLevel(int level)
{
    return level >= LevelCruise && level <= LevelAdmin;
}

// The levels that run the feedback and hold the operator lock.
constexpr bool operatesFeedback(int level)
{
    return level == LevelUser || level == LevelAdmin;
}

// The login name of a level ("cruise", "user", "admin"); empty for any
// other number.
inline QString userLevelName(int level)
{
    switch (level) {
    case LevelCruise:
        return QStringLiteral("cruise");
    case LevelUser:
        return QStringLiteral("user");
    case LevelAdmin:
        return QStringLiteral("admin");
    default:
        return QString();
    }
}

} // namespace zevo
