#pragma once
// Setup sections that need more than a window's controls: the order window, whose capture is a
// state its buttons step through rather than a control's value, and publishing, which is no
// window at all but the program's link to a broker.

#include "setupsection.h"

#include <functional>
#include <memory>

namespace diagnostika {
class OrderForm;
namespace publish {
class Publisher;
struct PublishSettings;
} // namespace publish
} // namespace diagnostika

namespace diagnostika::setup {

class ControlSection;

// The order window's controls, and "capture": "priebežne" (the last frames as they come),
// "podľa otáčok" (armed for the speed range), or "ručne" (capturing from the moment it applies).
class OrderSection final : public SetupSection {
public:
    OrderSection(std::function<OrderForm*()> form, std::function<void()> open);
    ~OrderSection() override;

    QString key() const override;
    QString caption() const override;
    bool isOpen() const override;
    bool open() override;
    void close() override;
    QJsonObject save() const override;
    QStringList apply(const QJsonObject& settings) override;

private:
    std::function<OrderForm*()> form_;
    std::unique_ptr<ControlSection> controls_;
};

// Publishing: listed while it runs, with its settings; applying starts it as the dialog does
// (through `start`), leaving it out stops it. A password is never part of it: only the file that
// holds one, and a password given in the file is refused rather than used.
class PublishSection final : public SetupSection {
public:
    PublishSection(publish::Publisher& publisher,
                   std::function<void(const publish::PublishSettings&)> start);

    QString key() const override { return QStringLiteral("publish"); }
    QString caption() const override { return QStringLiteral("Odosielanie na server"); }
    bool isOpen() const override;
    bool open() override { return true; }
    void close() override;
    QJsonObject save() const override;
    QStringList apply(const QJsonObject& settings) override;

private:
    publish::Publisher& publisher_;
    std::function<void(const publish::PublishSettings&)> start_;
};

} // namespace diagnostika::setup
