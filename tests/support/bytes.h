#pragma once

// Byte helpers shared by the tests that compare what crosses the driver
// boundary, or what reaches a file, with bytes written out by hand.

#include "device/protocol.h"

#include <QByteArray>
#include <QFile>
#include <QString>

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

// A file's whole contents; empty when it cannot be read.
inline QByteArray fileText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
