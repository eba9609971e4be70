#include "qttexts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace diagnostika {

bool installQtTexts(QCoreApplication& app, QTranslator& translator)
{
    // Slovak whatever the user's locale: the whole interface is Slovak, not only its numbers.
    if (!translator.load(QLocale(QLocale::Slovak, QLocale::Slovakia), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    return app.installTranslator(&translator);
}

} // namespace diagnostika
