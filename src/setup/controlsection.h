#pragma once
// A setup section over a window's own controls, found by their names: lists, entries, scroll bars,
// check boxes and groups of option buttons. Saving reads what each control shows; applying picks
// each value as a user does (a list's item is selected and reported as picked, an entry's text is
// typed and finished, a scroll bar moved, a box clicked), so the window reacts through its
// handlers.

#include "setupsection.h"

#include <QPointer>
#include <functional>
#include <vector>

class QWidget;

namespace diagnostika {
class MeasurementForm;
}

namespace diagnostika::setup {

struct ControlSetting {
    QString key;          // the setting's name in the file
    QStringList controls; // one control's name, or the option buttons of one choice
};

class ControlSection final : public SetupSection {
public:
    // `form` gives the window's object when it exists (null before its first use); `open` opens the
    // window as its menu entry does. Settings apply in the order given: a list whose items depend
    // on another comes after it, a port last, so it opens with the rest in place.
    ControlSection(QString key, QString caption, std::function<MeasurementForm*()> form,
                   std::function<void()> open, std::vector<ControlSetting> settings);

    QString key() const override { return key_; }
    QString caption() const override { return caption_; }
    bool isOpen() const override;
    bool open() override;
    void close() override;
    QJsonObject save() const override;
    QStringList apply(const QJsonObject& settings) override;

private:
    QWidget* control(const QString& name) const;

    QString key_;
    QString caption_;
    std::function<MeasurementForm*()> form_;
    std::function<void()> open_;
    std::vector<ControlSetting> settings_;
};

// The settings of the windows the program has, in the order they apply.
std::vector<ControlSetting> serialWindowSettings();
std::vector<ControlSetting> parallelWindowSettings();
std::vector<ControlSetting> gameWindowSettings();
std::vector<ControlSetting> trendWindowSettings();
std::vector<ControlSetting> vibrationWindowSettings();
std::vector<ControlSetting> orderWindowSettings();

} // namespace diagnostika::setup
