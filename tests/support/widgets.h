#pragma once
// Finding a window's controls by the names the windows give them.

#include <QObject>
#include <QString>
#include <gtest/gtest.h>

namespace diagnostika::test {

// The descendant of `root` named `name`, of type T; fails the test when there is none.
template <typename T> T* control(const QObject* root, const QString& name)
{
    T* found = root ? root->findChild<T*>(name) : nullptr;
    EXPECT_NE(found, nullptr) << "no control " << name.toStdString();
    return found;
}

template <typename T> T* control(const QObject* root, const char* name)
{
    return control<T>(root, QString::fromLatin1(name));
}

} // namespace diagnostika::test
