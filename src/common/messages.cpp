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

void showInformation(QWidget* parent, const QString& title, const QString& text)
{
    if (presenter()) {
        presenter()(parent, title, text);
        return;
    }
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
    box.exec();
}

InformationPresenter setInformationPresenter(InformationPresenter replacement)
{
    return std::exchange(presenter(), std::move(replacement));
}

} // namespace diagnostika
