#include "lpt/form1.h"
#include "platform/backends.h"
#include "shell/mdiform1.h"
#include "support/fakeclock.h"
#include "support/fakeportio.h"

#include <QAction>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <gtest/gtest.h>

namespace diagnostika {
namespace {

TEST(MenuLpt, OpensOneParallelPortWindowOnItsPort)
{
    Backends backends;
    backends.clock = std::make_unique<test::FakeClock>(); // the recorder keeps it from the start
    auto owned = std::make_unique<test::FakePortIo>();
    test::FakePortIo& io = *owned;
    backends.portIo = std::move(owned);
    MDIForm1 main(backends);

    main.findChild<QAction*>(QStringLiteral("mnuLPTItem"))->trigger();
    ASSERT_TRUE(main.form1().isOpen());
    EXPECT_EQ(main.mdiArea()->subWindowList().size(), 1);
    main.mnuLPTItem_Click();
    EXPECT_EQ(main.mdiArea()->subWindowList().size(), 1) << "the open window comes to the front";

    main.form1().Timer1_Timer();
    EXPECT_EQ(io.log.size(), 55u) << "the window reads through the program's port service";
    main.close();
    EXPECT_EQ(io.releases, 1) << "closing the program lets go of the port";
}

} // namespace
} // namespace diagnostika
