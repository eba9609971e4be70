#include "messages.h"

#include <QMessageBox>
#include <QPointer>
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

void showInformation(QWidget* parent, const QString& title, const QString& text,
                     const QString& detail)
{
    if (presenter()) {
        presenter()(parent, title, text, detail);
        return;
    }
    // Texts separate their lines with CR LF; the label would show the CR as a glyph.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    // The box is the parent's child, and the modal loop lets events run: a window closed meanwhile
    // (the user's exit, a timed screenshot) destroys the box with it and ends the loop. So the box
    // lives on the heap, guarded, and only a box still alive is deleted here.
    const QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::Information, title, shown, QMessageBox::Ok, parent);
    if (!detail.isEmpty())
        box->setInformativeText(detail);
    box->exec();
    delete box.data();
}

InformationPresenter setInformationPresenter(InformationPresenter replacement)
{
    return std::exchange(presenter(), std::move(replacement));
}

} // namespace diagnostika
