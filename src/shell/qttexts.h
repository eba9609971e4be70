#pragma once
// Qt's own texts in Slovak: the child windows' system menus, the tool tips of their buttons, the
// standard buttons of message boxes. Everything else the user reads is the program's own.

class QCoreApplication;
class QTranslator;

namespace diagnostika {

// Loads Qt's Slovak translation into `translator` and installs it in `app`; returns whether it was
// found (without it Qt speaks English, and nothing else changes).
bool installQtTexts(QCoreApplication& app, QTranslator& translator);

} // namespace diagnostika
