#pragma once
// Modal information boxes (title, information icon, OK). Every window shows its boxes through here,
// so tests can record them instead of blocking on a modal loop.

#include <QString>
#include <functional>

class QWidget;

namespace diagnostika {

using InformationPresenter =
    std::function<void(QWidget* parent, const QString& title, const QString& text)>;

// The program's own title, for boxes that speak for the program rather than for one window. Window
// captions do not carry it.
QString applicationTitle();

// Shows the box modally and returns when the user has pressed OK.
void showInformation(QWidget* parent, const QString& title, const QString& text);

// Replaces how boxes are shown (tests record them); returns the previous presenter. An empty
// presenter restores the real message box.
InformationPresenter setInformationPresenter(InformationPresenter presenter);

} // namespace diagnostika
