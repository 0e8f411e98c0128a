// The status line the service notifier gives systemd: what monitoring does, the samples on and
// the last detection, as the controller's states change.

#include "core/ServiceNotifier.h"

#include "ControllerFixture.h"

#include <QRegularExpression>

TEST_F(ControllerFixture, TheServiceStatusTellsCaptureSamplesAndTheLastDetection)
{
    TServiceNotifier Service(Controller);
    Add(TSampleType::Silence, 0, "quiet");
    Add(TSampleType::Signal, 1, "loud");
    EXPECT_EQ(Service.StatusText(), "Monitoring off; 0 of 2 samples on; no detection yet");
    EXPECT_EQ(Service.WatchdogInterval(), 0);  // not started by systemd

    Fake.openResult = 5;
    FeedFake();
    Controller.Engine().FirstRetryInterval = Controller.Engine().RetryInterval = 3600 * 1000;
    Controller.Enable_BtnClick({0});
    EXPECT_EQ(Service.StatusText(), "Capture not running: " + Controller.CaptureProblem()
                                        + "; 1 of 2 samples on; no detection yet");

    Controller.Disable_All_BtnClick();
    Fake.openResult = 0;
    Controller.Enable_All_BtnClick();
    ASSERT_TRUE(Controller.CaptureRunning());
    Controller.Find_BtnClick({1});
    ASSERT_TRUE(WaitFor([&] { return Service.StatusText().contains("last detection"); }));
    EXPECT_TRUE(QRegularExpression("^Capturing from \"[^\"]+\"; 2 of 2 samples on; "
                                   "last detection \\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d No\\. 2 \"loud\"$")
                    .match(Service.StatusText())
                    .hasMatch())
        << Service.StatusText().toStdString();
}
