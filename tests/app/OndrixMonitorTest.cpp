// The main window bound to a real monitoring controller: keys switch samples, the progress
// cell fills as a sequence progresses, the meter and the status follow monitoring. Audio comes
// from a generated programme through the stream device, paced in real time as a sound card.
#include "app/Ondrix_Unit.h"
#include "audio/AudioIOStream.h"
#include "core/Common_Settings.h"
#include "core/MonitorController.h"
#include "core/QueuePump.h"
#include "widgets/KvListView.h"
#include "widgets/LedMeter.h"

#include "helpers/QtPrinters.h"
#include "helpers/QtWait.h"
#include "helpers/SampleLists.h"
#include "helpers/TestFiles.h"

#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace {


struct MonitorWindowFixture : ::testing::Test {
    testkit::TempDir Root;
    std::unique_ptr<TSettings> Folders;
    std::unique_ptr<TOndrix> Window;
    TQueuePump Pump{MainThreadQueue()};
    std::unique_ptr<TMonitorController> Controller;

    void SetUp() override
    {
        fs::create_directories(Root.path() / "prog");
        Folders = std::make_unique<TSettings>(
            TSettingsStartup{{"/Data=" + Q(Root.path() / "Station")}, Q(Root.path() / "prog" / "ondrix"), [](qint64) {}});
        Window = std::make_unique<TOndrix>();
        Controller = std::make_unique<TMonitorController>(*Folders, *Window->Model());
        // Six seconds of loud tones, then quiet, as a sound card would deliver them.
        testkit::Pcm Programme;
        Programme.appendTones(6.0, {440, 1000});
        Programme.appendSilence(30.0);
        const std::string Feed = Root.file("feed.wav");
        testkit::writeWav(Feed, Programme);
        Controller->Engine().CaptureDevice = [Feed] {
            return std::make_unique<TStreamWaveIn>([Feed] { return std::make_unique<TAudioFileSource>(Feed); },
                                                   TPacing::RealTime);
        };
        TSampleRec* Loud = testkit::AddSample(Controller->Samples(), TSampleType::Signal, 0, "Loud");
        Loud->SignalTime = 3.0;
        Loud->SignaldB = -30;
        testkit::AddSample(Controller->Samples(), TSampleType::Silence, 1, "Quiet");
        Window->AttachController(Controller.get());
        Window->show();
    }

    void TearDown() override
    {
        Controller.reset();  // stops the engine before the window goes
        Window.reset();
    }

    void Press(int Key, Qt::KeyboardModifiers Modifiers)
    {
        QKeyEvent Event(QEvent::KeyPress, Key, Modifiers);
        QCoreApplication::sendEvent(Window->SampleView(), &Event);
    }

    // The progress cell of row 0 as drawn into an image.
    QImage Cell() const
    {
        QImage Image(QSize(150, 40), QImage::Format_RGB32);
        Image.fill(Qt::white);
        QPainter Painter(&Image);
        Window->SampleView()->OnAfterCellData(Painter, 0, 2, Image.rect());
        return Image;
    }
    // Filled pixels along the top line of the bar.
    int Filled() const
    {
        const QImage Image = Cell();
        int Count = 0;
        for (int X = 4; X < 146; ++X)
            Count += Image.pixelColor(X, 5) == QColor(255, 102, 102) ? 1 : 0;
        return Count;
    }
};

TEST_F(MonitorWindowFixture, SwitchedOnSampleFillsItsBarAndTheMeterFallsSilentWhenStopped)
{
    EXPECT_FALSE(Window->SampleProgress(0).has_value()) << "off: no bar";
    EXPECT_EQ(Cell().pixelColor(2, 20), QColor(Qt::white));

    Window->SampleView()->SelectRows({0});
    Press(Qt::Key_Space, Qt::ControlModifier);  // Enable_Btn
    ASSERT_TRUE(Controller->Samples()[0]->Enabled);
    EXPECT_FALSE(Controller->Samples()[1]->Enabled);
    ASSERT_EQ(Window->SampleProgress(0), 0);
    EXPECT_EQ(Cell().pixelColor(2, 20), QColor(128, 0, 0)) << "a frame with 0 %";
    EXPECT_EQ(Filled(), 0);
    EXPECT_TRUE(Controller->Monitoring());
    EXPECT_EQ(Window->findChild<QLabel*>("Status")->text(), QString::fromUtf8("ВКЛ"));

    // The bar fills as the signal holds, and the meter shows the feed.
    ASSERT_TRUE(testkit::processEventsUntil([&] { return Window->SampleProgress(0).value_or(0) >= 30; }));
    EXPECT_GT(Filled(), 30);
    ASSERT_TRUE(testkit::processEventsUntil([&] { return Window->Led()->LeftValue() > -40; }));

    Press(Qt::Key_Space, Qt::ShiftModifier);  // Disable_Btn
    EXPECT_FALSE(Controller->Samples()[0]->Enabled);
    EXPECT_FALSE(Controller->Monitoring());
    EXPECT_DOUBLE_EQ(Window->Led()->LeftValue(), -92);
    EXPECT_DOUBLE_EQ(Window->Led()->RightValue(), -92);
    EXPECT_TRUE(Window->findChild<QLabel*>("Status")->text().isEmpty());
    EXPECT_FALSE(Window->SampleProgress(0).has_value());
}

TEST_F(MonitorWindowFixture, AllKeysAndMixedToggleSwitchEverySample)
{
    Press(Qt::Key_QuoteLeft, Qt::ControlModifier);  // Enable_All_Btn
    EXPECT_TRUE(Controller->Samples()[0]->Enabled);
    EXPECT_TRUE(Controller->Samples()[1]->Enabled);
    Window->SampleView()->SelectRows({1});
    Press(Qt::Key_Space, Qt::ShiftModifier);
    EXPECT_TRUE(Controller->Samples()[0]->Enabled);
    EXPECT_FALSE(Controller->Samples()[1]->Enabled);
    Window->SampleView()->SelectRows({0, 1});
    Press(Qt::Key_Space, Qt::NoModifier);  // a mixed selection: each one toggles
    EXPECT_FALSE(Controller->Samples()[0]->Enabled);
    EXPECT_TRUE(Controller->Samples()[1]->Enabled);
    // Each switch is a program message in the message view, newest on top.
    const QAbstractItemModel* Messages = Window->LogMessageView()->model();
    ASSERT_GE(Messages->rowCount(), 4);
    EXPECT_EQ(Messages->index(0, 2).data().toString(), QString::fromUtf8("Включен образец № 2 \"Quiet\""));
    EXPECT_EQ(Messages->index(0, 1).data().toString(), QString::fromUtf8("ВКЛЮЧЕН"));
    Press(Qt::Key_AsciiTilde, Qt::ShiftModifier);  // Disable_All_Btn
    EXPECT_FALSE(Controller->Samples()[1]->Enabled);
    EXPECT_FALSE(Controller->Monitoring());
}

}  // namespace
