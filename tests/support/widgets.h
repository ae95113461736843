#pragma once

// Finding and pressing the widgets of a window by the object names its form
// gives them. A name that finds nothing ends the run with that name: a
// renamed widget must not pass as a null pointer.

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QtTest>

template <typename T = QWidget> T* child(const QObject* parent, const char* name)
{
    T* found = parent->findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no widget %s", name);
    return found;
}
template <typename T = QWidget> T* child(const QObject& parent, const char* name)
{
    return child<T>(&parent, name);
}

// A mouse click on the named button, as the operator makes it.
inline void click(const QObject* parent, const char* name)
{
    QTest::mouseClick(child<QAbstractButton>(parent, name), Qt::LeftButton);
}

// A standard button of the window's "buttonBox".
inline QPushButton* standardButton(const QObject* window, QDialogButtonBox::StandardButton which)
{
    return child<QDialogButtonBox>(window, "buttonBox")->button(which);
}

// The button of the window's "buttonBox" that reads `text`; null if none does.
inline QAbstractButton* buttonNamed(const QObject* window, const QString& text)
{
    for (QAbstractButton* b : child<QDialogButtonBox>(window, "buttonBox")->buttons())
        if (b->text() == text)
            return b;
    return nullptr;
}
