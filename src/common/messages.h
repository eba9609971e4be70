#pragma once
// Modal information boxes (title, information icon, OK). Every window shows its boxes through here,
// so tests can record them instead of blocking on a modal loop.

#include <QString>
#include <functional>

class QWidget;

namespace diagnostika {

using InformationPresenter = std::function<void(QWidget* parent, const QString& title,
                                                const QString& text, const QString& detail)>;

// The program's own title, for boxes that speak for the program rather than for one window. Window
// captions do not carry it.
QString applicationTitle();

// Shows the box modally and returns when the user has pressed OK, or when `parent` went away while
// the box waited (the box goes with it). A non-empty `detail` is shown under the text, for a user
// who wants to know more (who holds a port, which lock file).
void showInformation(QWidget* parent, const QString& title, const QString& text,
                     const QString& detail = QString());

// Replaces how boxes are shown (tests record them); returns the previous presenter. An empty
// presenter restores the real message box.
InformationPresenter setInformationPresenter(InformationPresenter presenter);

} // namespace diagnostika
