#pragma once
// "Odosielanie na server": the broker, TLS, the user and the file holding the password, the
// station's name. The password never passes through here: only the file's name.

#include "publish/publishsettings.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace diagnostika::publish {

class PublishDialog : public QDialog {
    Q_OBJECT
public:
    // `running`: publishing is on now, so the dialog offers to stop it.
    PublishDialog(const PublishSettings& settings, bool running, QWidget* parent = nullptr);

    PublishSettings settings() const;
    // After exec(): Accepted with `stopRequested()` false starts publishing with settings().
    bool stopRequested() const { return stop_; }

private:
    void acceptIfComplete();

    QLineEdit* host_ = nullptr;
    QSpinBox* port_ = nullptr;
    QCheckBox* tls_ = nullptr;
    QLineEdit* ca_ = nullptr;
    QLineEdit* cert_ = nullptr;
    QLineEdit* key_ = nullptr;
    QLineEdit* user_ = nullptr;
    QLineEdit* passwordFile_ = nullptr;
    QLineEdit* station_ = nullptr;
    QCheckBox* influx_ = nullptr;
    QLabel* problem_ = nullptr;
    PublishSettings base_;
    bool stop_ = false;
};

} // namespace diagnostika::publish
