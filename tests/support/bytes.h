#pragma once

// Byte helpers shared by the tests that compare what crosses the driver
// boundary, or what reaches a file, with bytes written out by hand.

#include "device/protocol.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstring>
#include <initializer_list>
#include <vector>

// A mailbox message written out by hand in hex; the rest of the 32 bytes zero.
inline QByteArray golden(const char* hex)
{
    QByteArray bytes = QByteArray::fromHex(hex);
    bytes.append(QByteArray(int(zevo::MailboxMessage::kSize) - bytes.size(), '\0'));
    return bytes;
}

// The 32 bytes of a message as sent.
inline QByteArray bytesOf(const zevo::MailboxMessage& m)
{
    return QByteArray(reinterpret_cast<const char*>(m.bytes), int(zevo::MailboxMessage::kSize));
}

// Messages in hex, one string each: QCOMPARE with goldenHex() names the
// first message that differs and shows both.
inline QStringList hexOf(const std::vector<zevo::MailboxMessage>& messages)
{
    QStringList out;
    for (const zevo::MailboxMessage& m : messages)
        out << QString::fromLatin1(bytesOf(m).toHex());
    return out;
}
template <typename Hex> QStringList goldenHex(const Hex& messages)
{
    QStringList out;
    for (const char* hex : messages)
        out << QString::fromLatin1(golden(hex).toHex());
    return out;
}
inline QStringList goldenHex(std::initializer_list<const char*> messages)
{
    return goldenHex<std::initializer_list<const char*>>(messages);
}

// A message (a scripted reply) written out by hand in hex, as golden().
inline zevo::MailboxMessage messageOf(const char* hex)
{
    zevo::MailboxMessage m;
    std::memcpy(m.bytes, golden(hex).constData(), zevo::MailboxMessage::kSize);
    return m;
}

// A file's whole contents; empty when it cannot be read.
inline QByteArray fileText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
