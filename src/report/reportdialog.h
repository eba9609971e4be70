#pragma once
// "Protokol z merania": asks for what the measurement was (machine, place, person, a note) and the
// file to write the report to.

#include "reportcontent.h"

#include <QDialog>

class QLineEdit;
class QPlainTextEdit;

namespace diagnostika::report {

class ReportDialog : public QDialog {
    Q_OBJECT
public:
    // `details` as last entered; `path` the file offered.
    ReportDialog(const Details& details, const QString& path, QWidget* parent = nullptr);

    Details details() const;
    QString path() const;

private:
    void choosePath();

    QLineEdit* machine_;
    QLineEdit* place_;
    QLineEdit* person_;
    QPlainTextEdit* note_;
    QLineEdit* path_;
};

} // namespace diagnostika::report
