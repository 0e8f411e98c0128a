#include "app/Ondrix_Unit.h"
#include "app/SessionEnd.h"
#include "app/Startup.h"
#include "app/StartupForm.h"
#include "util/BusyCursor.h"

#include <QApplication>
#include <QCursor>
#include <QDeadlineTimer>
#include <QLabel>
#include <QPointer>
#include <QScreen>

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

namespace {

TEST(StartupTest, CentresOnTheWorkAreaWithinItsMargins)
{
    struct Case {
        QRect WorkArea;
        QSize Size;
        QPoint Expected;
    };
    const Case Cases[] = {
        {{0, 0, 1280, 1024}, {800, 600}, {240, 212}},
        {{0, 0, 1281, 1025}, {800, 600}, {240, 212}},          // halves rounded toward zero
        {{-1280, 0, 1280, 1024}, {800, 600}, {-1040, 212}},    // a screen left of the primary
        {{0, 30, 1280, 994}, {800, 600}, {240, 227}},          // a panel above the work area
        {{0, 0, 810, 610}, {800, 600}, {10, 10}},              // too tight: 10 pixels from left and top
        {{0, 0, 815, 1024}, {800, 600}, {10, 212}},            // pulled back from the right, kept 10 from the left
        {{0, 0, 600, 400}, {800, 600}, {10, 10}},              // larger than the work area
        {{100, 100, 1000, 800}, {400, 300}, {400, 350}},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(TOndrix::CentredOnWorkArea(C.WorkArea, C.Size), C.Expected)
            << C.WorkArea.x() << "," << C.WorkArea.y() << " " << C.WorkArea.width() << "x" << C.WorkArea.height();
}

TEST(StartupTest, StartupFormShowsItsPicture)
{
    QPointer<TStartupForm> Form = new TStartupForm;
    EXPECT_EQ(Form->size(), QSize(404, 69));
    EXPECT_TRUE(Form->windowFlags() & Qt::FramelessWindowHint);
    const auto* Image = Form->findChild<QLabel*>("Image");
    ASSERT_NE(Image, nullptr);
    EXPECT_EQ(Image->pixmap().size(), QSize(400, 65));
    EXPECT_EQ(Image->geometry(), QRect(2, 2, 400, 65));

    TOndrix Window;
    Form->PlaceNear(&Window);
    const QRect Area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(Form->pos(), QPoint(Area.left() + (Area.width() - 404) / 2, Area.top() + (Area.height() - 69) / 2));
    Form->show();
    Form->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(Form.isNull()) << "the start-up window frees itself on closing";
}

TEST(StartupTest, ContinuationShowsTheWindowAndClosesTheStartupForm)
{
    TOndrix Window;
    QPointer<TStartupForm> Form = new TStartupForm;
    Form->show();
    int Done = 0;
    QObject::connect(&Window, &TOndrix::StartupDone, [&] { ++Done; });
    Window.StartupContinue(Form);
    EXPECT_TRUE(Window.isVisible());
    EXPECT_EQ(Done, 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(Form.isNull());

    int Closed = 0;
    QObject::connect(&Window, &TOndrix::Closed, [&] { ++Closed; });
    Window.SessionEnd();
    EXPECT_FALSE(Window.isVisible());
    EXPECT_EQ(Closed, 1);
}

TEST(StartupTest, StopSignalsArriveAsOneCallOnTheMainThread)
{
    for (int Signal : {SIGTERM, SIGINT, SIGHUP}) {
        int Calls = 0;
        {
            TSessionEndWatcher Watcher([&] { ++Calls; });
            std::raise(Signal);
            const QDeadlineTimer Deadline(10000);
            while (Calls == 0 && !Deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        EXPECT_EQ(Calls, 1) << Signal;
    }
}

}  // namespace

namespace {

TEST(StartupTest, BusyCursorShowsTheHourglassWhileCounted)
{
    InstallBusyCursor();
    BeginBusyCursor();
    BeginBusyCursor();
    QCoreApplication::processEvents();
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EndBusyCursor();
    QCoreApplication::processEvents();
    EXPECT_NE(QGuiApplication::overrideCursor(), nullptr);
    // Ended on another thread: the cursor still goes back on the main thread.
    std::thread([] { EndBusyCursor(); }).join();
    QCoreApplication::processEvents();
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    SetBusyCursorHandler({});
}

}  // namespace
