#include "messages.h"

#include <QMessageBox>
#include <utility>

namespace diagnostika {
namespace {

InformationPresenter& presenter()
{
    static InformationPresenter current;
    return current;
}

} // namespace

QString applicationTitle()
{
    return QStringLiteral("Diagnostika");
}

void showInformation(QWidget* parent, const QString& title, const QString& text)
{
    if (presenter()) {
        presenter()(parent, title, text);
        return;
    }
    // Texts separate their lines with CR LF; the label would show the CR as a glyph.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(QMessageBox::Information, title, shown, QMessageBox::Ok, parent);
    box.exec();
}

InformationPresenter setInformationPresenter(InformationPresenter replacement)
{
    return std::exchange(presenter(), std::move(replacement));
}

} // namespace diagnostika
