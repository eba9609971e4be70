#pragma once
// One measurement window's part of a setup file. Each window that keeps settings in setups has one
// section; a window added later brings its own section and touches no other.

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace diagnostika::setup {

class SetupSection {
public:
    virtual ~SetupSection() = default;

    // The window's key in the file ("com", "lpt", ...); never changes once files carry it.
    virtual QString key() const = 0;
    // The window's name for the user, in messages about what was not applied.
    virtual QString caption() const = 0;

    virtual bool isOpen() const = 0;
    // Opens the window as its menu entry does; false when it cannot be opened here (its device
    // service is missing).
    virtual bool open() = 0;
    virtual void close() = 0;

    // Every setting the open window holds, as the user picked it.
    virtual QJsonObject save() const = 0;
    // Applies `settings` to the open window as a user would pick them, so that the window's own
    // handlers run. Returns one text per setting not applied, naming it and why; the rest applies.
    virtual QStringList apply(const QJsonObject& settings) = 0;
};

} // namespace diagnostika::setup
