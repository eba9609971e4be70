#include "publishdialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace diagnostika::publish {
namespace {

// A line for a file's name with a button that picks it.
QWidget* fileRow(QWidget* parent, QLineEdit*& edit, const char* name, const QString& value,
                 const QString& title)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    edit = new QLineEdit(value, row);
    edit->setObjectName(QString::fromLatin1(name));
    auto* pick = new QPushButton(QStringLiteral("..."), row);
    QLineEdit* target = edit;
    QObject::connect(pick, &QPushButton::clicked, row, [row, target, title] {
        const QString f = QFileDialog::getOpenFileName(row, title, target->text());
        if (!f.isEmpty())
            target->setText(f);
    });
    layout->addWidget(edit, 1);
    layout->addWidget(pick);
    return row;
}

} // namespace

PublishDialog::PublishDialog(const PublishSettings& s, bool running, QWidget* parent)
    : QDialog(parent), base_(s)
{
    setObjectName(QStringLiteral("PublishDialog"));
    setWindowTitle(QStringLiteral("Odosielanie na server"));
    auto* form = new QFormLayout;
    host_ = new QLineEdit(s.host, this);
    host_->setObjectName(QStringLiteral("host"));
    port_ = new QSpinBox(this);
    port_->setObjectName(QStringLiteral("port"));
    port_->setRange(1, 65535);
    port_->setValue(s.port);
    tls_ = new QCheckBox(QStringLiteral("Šifrovať (TLS)"), this);
    tls_->setObjectName(QStringLiteral("tls"));
    tls_->setChecked(s.tls);
    // The usual ports follow the choice of encryption while the user has not set another.
    connect(tls_, &QCheckBox::toggled, this, [this](bool on) {
        if (port_->value() == (on ? 1883 : 8883))
            port_->setValue(on ? 8883 : 1883);
    });
    user_ = new QLineEdit(s.user, this);
    user_->setObjectName(QStringLiteral("user"));
    station_ = new QLineEdit(s.station, this);
    station_->setObjectName(QStringLiteral("station"));
    influx_ = new QCheckBox(QStringLiteral("Aj vo formáte InfluxDB (pre Telegraf)"), this);
    influx_->setObjectName(QStringLiteral("influx"));
    influx_->setChecked(s.influx);
    form->addRow(QStringLiteral("&Server:"), host_);
    form->addRow(QStringLiteral("&Port:"), port_);
    form->addRow(QString(), tls_);
    form->addRow(QStringLiteral("Certifikačná &autorita:"),
                 fileRow(this, ca_, "caFile", s.caFile,
                         QStringLiteral("Certifikát certifikačnej autority")));
    form->addRow(QStringLiteral("Certifikát &stanice:"),
                 fileRow(this, cert_, "certFile", s.certFile,
                         QStringLiteral("Certifikát stanice (nepovinný)")));
    form->addRow(QStringLiteral("&Kľúč stanice:"),
                 fileRow(this, key_, "keyFile", s.keyFile,
                         QStringLiteral("Súkromný kľúč stanice (nepovinný)")));
    form->addRow(QStringLiteral("&Používateľ:"), user_);
    form->addRow(QStringLiteral("Súbor s &heslom:"),
                 fileRow(this, passwordFile_, "passwordFile", s.passwordFile,
                         QStringLiteral("Súbor s heslom")));
    form->addRow(QStringLiteral("&Názov stanice:"), station_);
    form->addRow(QString(), influx_);

    auto* note = new QLabel(QStringLiteral("Heslo sa číta zo súboru pri každom pripojení a "
                                           "nikam sa neukladá. Správy, ktoré server ešte "
                                           "neprijal, čakajú v rade na disku."),
                            this);
    note->setWordWrap(true);
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("problem"));
    problem_->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* start =
        buttons->addButton(QStringLiteral("&Odosielať"), QDialogButtonBox::AcceptRole);
    start->setObjectName(QStringLiteral("start"));
    start->setDefault(true);
    if (running) {
        QPushButton* stop = buttons->addButton(QStringLiteral("&Zastaviť odosielanie"),
                                               QDialogButtonBox::ResetRole);
        stop->setObjectName(QStringLiteral("stop"));
        connect(stop, &QPushButton::clicked, this, [this] {
            stop_ = true;
            accept();
        });
    }
    buttons->addButton(QStringLiteral("Zrušiť"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &PublishDialog::acceptIfComplete);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(problem_);
    layout->addWidget(buttons);
}

PublishSettings PublishDialog::settings() const
{
    PublishSettings s = base_;
    s.host = host_->text().trimmed();
    s.port = port_->value();
    s.tls = tls_->isChecked();
    s.caFile = ca_->text().trimmed();
    s.certFile = cert_->text().trimmed();
    s.keyFile = key_->text().trimmed();
    s.user = user_->text().trimmed();
    s.passwordFile = passwordFile_->text().trimmed();
    s.station = station_->text().trimmed();
    s.influx = influx_->isChecked();
    return s;
}

void PublishDialog::acceptIfComplete()
{
    const PublishSettings s = settings();
    if (s.host.isEmpty())
        problem_->setText(QStringLiteral("Zadajte server."));
    else if (!PublishSettings::validStation(s.station))
        problem_->setText(QStringLiteral("Zadajte názov stanice: jedno slovo bez medzier "
                                         "a znakov /, +, #."));
    else if (s.certFile.isEmpty() != s.keyFile.isEmpty())
        problem_->setText(QStringLiteral("Certifikát stanice a jej kľúč sa zadávajú spolu."));
    else
        accept();
}

} // namespace diagnostika::publish
