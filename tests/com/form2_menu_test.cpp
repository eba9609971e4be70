// The main window's "&Meranie COM" entry and the serial window's single object.
#include "com/form2.h"
#include "platform/backends.h"
#include "shell/mdiform1.h"
#include "support/fakeclock.h"
#include "support/fakeserial.h"

#include <QCoreApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <gtest/gtest.h>

namespace diagnostika::test {
namespace {

Backends fakeBackends(bool withSerial)
{
    Backends b;
    b.clock = std::make_unique<FakeClock>();
    if (withSerial)
        b.serial = std::make_unique<FakeSerialLinesProvider>();
    return b;
}

TEST(Form2Menu, OpensOneSerialWindowAndBringsItBack)
{
    Backends backends = fakeBackends(true);
    auto& serial = static_cast<FakeSerialLinesProvider&>(*backends.serial);
    {
        MDIForm1 main(backends);
        main.mnuSerialItem_Click();
        Form2& form = main.form2();
        ASSERT_TRUE(form.isOpen());
        main.mnuSerialItem_Click();
        EXPECT_EQ(main.mdiArea()->subWindowList().size(), 1);
        EXPECT_EQ(serial.created, 1);

        ASSERT_TRUE(serial.lines()->open(1, nullptr));
        form.close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(serial.log, (std::vector<std::string>{"open 1", "close", "destroyed"}));

        main.mnuSerialItem_Click();
        EXPECT_EQ(&main.form2(), &form);
        EXPECT_TRUE(form.isOpen());
        EXPECT_EQ(serial.created, 2);
    }
    // The main window's end takes the open serial window and its control with it.
    EXPECT_EQ(serial.log.back(), "destroyed");
}

TEST(Form2Menu, WithoutTheSerialServiceTheEntryDoesNothing)
{
    Backends backends = fakeBackends(false);
    MDIForm1 main(backends);
    main.mnuSerialItem_Click();
    EXPECT_TRUE(main.mdiArea()->subWindowList().isEmpty());
    EXPECT_THROW(main.form2(), std::logic_error);
}

} // namespace
} // namespace diagnostika::test
