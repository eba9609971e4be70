#include "reportdialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace diagnostika::report {

ReportDialog::ReportDialog(const Details& details, const QString& path, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("protokol"));
    setWindowTitle(QStringLiteral("Protokol z merania"));
    auto* form = new QFormLayout(this);
    const auto entry = [this](const char* name, const QString& text) {
        auto* edit = new QLineEdit(text, this);
        edit->setObjectName(QString::fromLatin1(name));
        return edit;
    };
    machine_ = entry("stroj", details.machine);
    place_ = entry("miesto", details.place);
    person_ = entry("meral", details.person);
    note_ = new QPlainTextEdit(details.note, this);
    note_->setObjectName(QStringLiteral("poznamka"));
    note_->setTabChangesFocus(true);
    path_ = entry("subor", QDir::toNativeSeparators(path));
    auto* choose = new QPushButton(QStringLiteral("&Vybrať..."), this);
    choose->setObjectName(QStringLiteral("vybrat"));
    connect(choose, &QPushButton::clicked, this, &ReportDialog::choosePath);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(path_, 1);
    pathRow->addWidget(choose);

    form->addRow(QStringLiteral("&Stroj:"), machine_);
    form->addRow(QStringLiteral("&Miesto:"), place_);
    form->addRow(QStringLiteral("Mera&l:"), person_);
    form->addRow(QStringLiteral("&Poznámka:"), note_);
    form->addRow(QStringLiteral("&Súbor:"), pathRow);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Vytvoriť"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("&Zrušiť"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
    resize(480, sizeHint().height());
}

void ReportDialog::choosePath()
{
    const QString chosen = QFileDialog::getSaveFileName(this, QStringLiteral("Uložiť protokol"),
                                                        path(), QStringLiteral("PDF (*.pdf)"));
    if (!chosen.isEmpty())
        path_->setText(QDir::toNativeSeparators(chosen));
}

Details ReportDialog::details() const
{
    return {machine_->text().trimmed(), place_->text().trimmed(), person_->text().trimmed(),
            note_->toPlainText()};
}

QString ReportDialog::path() const
{
    return QDir::fromNativeSeparators(path_->text().trimmed());
}

} // namespace diagnostika::report
