#pragma once
// A monitoring controller on a temporary data folder, driven by the Qt event loop as in the
// program. Audio comes from a generated WAV through the stream device (as fast as it is
// taken); a failing device comes from the fake at the device seam.

#include "core/MonitorController.h"
#include "core/QueuePump.h"
#include "core/SettingsModel.h"

#include "DataFolder.h"
#include "audio/AudioIOStream.h"
#include "audio/FakeWaveIn.h"
#include "helpers/QtPrinters.h"
#include "helpers/QtWait.h"
#include "helpers/SampleLists.h"
#include "helpers/StretchSource.h"
#include "helpers/TestFiles.h"
#include "lang/Lang.h"


#include <gtest/gtest.h>

#include <functional>

class ControllerFixture : public ::testing::Test {
protected:
    TTestDataFolder Data;
    TMainThreadQueue Queue;
    TQueuePump Pump{Queue};
    // The fake device's state outlives the engine, whose last stop still uses the device.
    FakeDevice::State Fake;
    TSettingsModel Model;
    TMonitorController Controller{*Data.Settings, Model, Queue};
    QList<TOndrixMessage> Posted;
    int InputEnds = 0;

    void SetUp() override
    {
        FrequencyTable.clear();
        QObject::connect(&Controller, &TMonitorController::MessageAdded,
                         [this](const TOndrixMessage& Message) { Posted.append(Message); });
        Controller.Engine().OnInputEnd = [this](TAudioDetector&) { ++InputEnds; };
    }

    void TearDown() override { FrequencyTable.clear(); }

    // Waits, running the event loop, until Done holds or Seconds have passed.
    static bool WaitFor(const std::function<bool()>& Done, int Seconds = 60)
    {
        return testkit::processEventsUntil(Done, std::chrono::seconds(Seconds));
    }
    // Runs the event loop for a while (to see that something does not happen).
    static void RunFor(int MSecs) { testkit::processEventsFor(std::chrono::milliseconds(MSecs)); }

    // The capture delivers this programme (written as a WAV file) as fast as it is taken.
    void Feed(const testkit::Pcm& Programme)
    {
        const std::string File = Data.Root.file("feed.wav");
        testkit::writeWav(File, Programme);
        Controller.Engine().CaptureDevice = [File] {
            return std::make_unique<TStreamWaveIn>([File] { return std::make_unique<TAudioFileSource>(File); },
                                                   TPacing::AsFastAsTaken);
        };
    }
    // The capture delivers these stretches one after another, as fast as they are taken.
    void FeedStretches(const std::vector<testkit::Stretch>& Stretches)
    {
        Controller.Engine().CaptureDevice = [Stretches] {
            return std::make_unique<TStreamWaveIn>([Stretches] { return std::make_unique<testkit::StretchSource>(Stretches); },
                                                   TPacing::AsFastAsTaken);
        };
    }
    // The capture is the fake device (for a device that fails).
    void FeedFake()
    {
        Controller.Engine().CaptureDevice = [this] { return std::make_unique<FakeDevice>(Fake); };
    }

    TSampleRec* Add(TSampleType Type, int Number, const QString& Description)
    {
        return testkit::AddSample(Controller.Samples(), Type, Number, Description);
    }
    // A clip sample of a generated jingle saved as Name.
    TSampleRec* AddClip(int Number, const QString& Description, const testkit::Pcm& Clip, const std::string& Name)
    {
        testkit::writeWav(Data.Root.file(Name), Clip);
        TSampleRec* Sample = Add(TSampleType::File, Number, Description);
        Sample->Path = QString::fromStdString(Data.Root.file(Name));
        return Sample;
    }

    QStringList Texts() const
    {
        QStringList Result;
        for (const TOndrixMessage& Message : Posted)
            Result.append(Message.Text);
        return Result;
    }
    int Count(const QString& Text) const { return int(Texts().count(Text)); }
    static QString Msg(const char* Key, const QVariantList& Args) { return FormatMessageText(Key, Args); }
};
