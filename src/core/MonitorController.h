#pragma once
// The monitoring controller: decides which samples are monitored, keeps the detection engine in
// step with them, and turns each detection into the sample's actions. It owns the engine, the
// sample list and the program messages, and tells its observers (the main window, the headless
// monitor, tests) when states, messages and levels change. Everything here runs on the main
// thread; the capture thread only posts to the main-thread queue, which a TQueuePump drains.

#include <QList>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

#include "audio/AudioDetector.h"
#include "core/SettingsFile.h"
#include "messages/Class_OndrixMessage.h"
#include "messages/Class_OndrixSubscriber.h"
#include "samples/Class_SampleRec.h"

class TSettings;
class TSettingsModel;

class TMonitorController : public QObject, public IOndrixRemoteControl {
    Q_OBJECT

public:
    // Capture rates and block sizes the (hidden) selectors offer; an index outside gives
    // 44100 Hz and 2048 frames.
    static int FrameRateOfIndex(int Index);
    static int FFTCountOfIndex(int Index);

    // Folders and Model must outlive the controller. The engine's capture posts to Queue.
    TMonitorController(TSettings& Folders, TSettingsModel& Model, TMainThreadQueue& Queue = MainThreadQueue(),
                       QObject* Parent = nullptr);
    ~TMonitorController() override;

    TAudioDetector& Engine() { return FEngine; }
    TSampleList& Samples() { return FSamples; }
    TFrequencyRecArr& Frequencies() { return FrequencyTable; }
    TOndrixMessages& Messages() { return FMessages; }
    TSettingsModel& Model() { return FModel; }
    TConfiguration& Configuration() { return FConfig; }

    // The capture selectors that are not stored: indexes into FrameRateOfIndex and
    // FFTCountOfIndex. A change restarts monitoring once the configuration is loaded.
    int FrequencyIndex() const { return FFrequencyIndex; }
    int FFTSizeIndex() const { return FFFTSizeIndex; }
    void SetFrequencyIndex(int Index);
    void SetFFTSizeIndex(int Index);
    // The device selector's entries: the default device, then the engine's input devices.
    QStringList DeviceSelectorItems();
    // The engine's input devices in its order.
    QStringList DeviceNames();

    // --- Configuration ---
    // Loads the configuration (LoadSettings of SettingsFile.h) with the engine's device list
    // and warns of each sample whose values could not all be read ("SampleNotRead"); from then on a change of the device or of the two hidden selectors restarts monitoring.
    // False when Questions chose to end the program.
    bool LoadSettings(TSettingsQuestions& Questions);
    // Saves everything but the sample list.
    bool SaveSettings(TSettingsQuestions& Questions);

    // --- Start and stop ---
    // Why the program stops, for its last message.
    enum class TStopReason { Signal, SessionEnd, Restart, WindowClosed };
    // Information messages for the log, so that a gap in it can be explained: "ProgramStarted"
    // (version, data folder, capture input) once the configuration is loaded, "ProgramStopped"
    // with the reason (for Signal, the signal's number) as the program closes.
    void ReportProgramStart();
    void ReportProgramStop(TStopReason Reason, int Signal = 0);

    // --- Program messages ---
    // Adds a program message: log file, message list, mail; observers get MessageAdded.
    void AddMessage(TOndrixMessageType MsgType, const QString& Text) override;
    // The same, kept out of the mail whatever the filter says (the mailer's own failures).
    void AddUnmailedMessage(TOndrixMessageType MsgType, const QString& Text);
    // A failure that may otherwise go unseen (the log cannot be written, the archive on exit
    // failed): added as AddMessage does, and its log line is also given to Alert, which the
    // window prints on standard error (the journal of a service).
    void AddAlertMessage(TOndrixMessageType MsgType, const QString& Text);

    // --- External programs ---
    // The local socket they connect to; serving starts with Socket().Listen().
    TOndrixSocketServer& Socket() { return FSocket; }
    // Their requests (all on the main thread).
    QString RemoteVersionText() const override;
    bool RemoteSetSampleEnabled(int Number, bool Enable, bool Reload) override { return SetSampleEnabledByNumber(Number, Enable, Reload); }
    std::optional<QString> RemoteSampleDescription(int Number) const override;
    void RemoteEnableAll() override { Enable_All_BtnClick(); }
    void RemoteDisableAll() override { Disable_All_BtnClick(); }
    void RemoteReloadEngine() override { ReloadEngine(); }

    // --- Switching samples ---
    // Switches one sample on or off with its messages; rebuilds the engine when Reload.
    void SetSampleEnabled(TSampleRec* Sample, bool Enable, bool Reload);
    // Posts "SampleEnabled" or "SampleDisabled" with the sample's position in the list + 1.
    void ReportSampleState(TSampleRec* Sample, bool Enabled);
    // Rebuilds every sequence from the samples and starts or stops monitoring. A sample whose
    // sequence comes out as it was keeps the match it has under way.
    void ReloadEngine();
    // Builds and registers the sequence of one switched-on sample; a sample whose sequence
    // cannot be built is switched off with "WrongSampleInd" and "SampleDisabled".
    void LoadSampleIntoEngine(TSampleRec* Sample);
    void UpdateMonitoring();
    void StartMonitoring();
    void StopMonitoring();
    void RestartMonitoring();
    // Copies device, rate and block size into an engine.
    void ApplyCaptureSettings(TAudioDetector& Detector) const;
    // Switches on the samples marked for automatic start whose values were all read, then
    // rebuilds once.
    void AutoStartSamples();
    // By the sample's stored Number (external programs): false, changing nothing, when no
    // sample has that number.
    bool SetSampleEnabledByNumber(int Number, bool Enable, bool Reload);

    // --- The sample tool bar, on the selected rows (indexes into Samples) ---
    void Enable_BtnClick(const QList<int>& Rows);
    void Disable_BtnClick(const QList<int>& Rows);
    void ChangeEnable_BtnClick(const QList<int>& Rows);
    void Enable_All_BtnClick();
    void Disable_All_BtnClick();
    // Edit shows the sample dialog on the record and returns whether it was confirmed.
    using TSampleEditor = std::function<bool(TSampleRec& Sample)>;
    // A new sample with defaults; on confirmation it is added, sorted in and the list saved.
    void AddSample_BtnClick(const TSampleEditor& Edit);
    // Edits the first selected sample; on confirmation the list is sorted and saved, and the
    // engine rebuilt when the sample is on.
    void SampleProp_BtnClick(const QList<int>& Rows, const TSampleEditor& Edit);
    // Confirm asks "DeleteSampleS" once for all rows; deleting a switched-on sample rebuilds.
    void DelSample_BtnClick(const QList<int>& Rows, const std::function<bool()>& Confirm);
    // Handles a detection of every selected switched-on sample at once, as if found.
    void Find_BtnClick(const QList<int>& Rows);
    // The capture test: a second engine opens the capture with the current settings and closes
    // it. Text is what the operator is shown ("AudioTested", or "AudioNotTested" with the
    // capture's error). While monitoring runs the live capture proves it and nothing is opened.
    bool Button_TestAudioClick(QString* Text = nullptr);

    // --- Detections ---
    // The engine's find: hands the detection to a later turn of the event loop.
    void AudioDetectorSequenceFound(TAudioSequence& Sequence);
    // The engine's reminder or end of a sample's episode (AlarmOnce): handed to a later turn
    // of the event loop like a find.
    void AudioDetectorAlarmChange(TAudioSequence& Sequence, TAlarmChange Change, int32_t LastedMs);
    // A reminder posts "SampleReminder" with how long the episode has lasted; an end tells the
    // external programs (NotifySampleEnded) and posts "SampleEnded" with its length. Both are
    // messages of a detection (logged, and mailed as the find is). A sample no longer in the
    // list is left alone.
    void HandleAlarmChange(int Number, TAlarmChange Change, int LastedMs);
    // The actions of a detection: the sample's delay (monitoring goes on meanwhile), Detected,
    // the notification of external programs, AutoDisable, FileExecute, "SampleFound". After
    // the delay and after the notification the sample is found again by its number; when it
    // has gone the handling ends there.
    void HandleDetection(TSampleRec* Sample);
    // Tells the external programs about a detection and calls Done once they have all
    // answered or been given up (at once when nobody is waited for). By default the socket's
    // subscribers, waited for when ExternalWait is ticked; unset: nobody is told.
    using TNotifyEvent = std::function<void(int Number, std::function<void()> Done)>;
    TNotifyEvent NotifySampleFound;
    // Tells the external programs that the episode of a sample that alarms once has ended. By
    // default the socket's subscribers; unset: nobody is told.
    std::function<void(int Number)> NotifySampleEnded;

    // The once-a-second tick (also run once right after each rebuild).
    void TimerTimer();

    // Faults of the live audio that can come many times a second (audio dropped because
    // processing fell behind, blocks whose analysis failed) are told at once, then each kind at
    // most once per this many ms with what has gathered meanwhile ("AudioDropped",
    // "AnalysisErrors").
    int FaultReportInterval = 60000;

    // The engine runs.
    bool Monitoring() const { return FEngine.Active(); }
    // The name of the device monitoring uses, as the operator knows it.
    QString CaptureDeviceName();

signals:
    // The sample list's rows show something new (states, progress); repaint.
    void SamplesChanged();
    // The sample list now has Count rows.
    void SampleCountChanged(int Count);
    // Monitoring has started or stopped.
    void MonitoringChanged(bool Active);
    // A program message was added.
    void MessageAdded(const TOndrixMessage& Message);
    // The log line of a message added by AddAlertMessage (after MessageAdded).
    void Alert(const QString& LogLine);
    // New levels of the live capture in dB (-92 on both channels when monitoring stops).
    void LevelsChanged(double LeftDb, double RightDb);
    // Once a second, and right after each rebuild: clock, status, scheduled work.
    void Tick();
    // A detection's actions have all run (after "SampleFound" was posted).
    void DetectionHandled(int Number);

private:
    // Adds the message (see AddMessage) and returns it.
    TOndrixMessage ProcessAddedMessage(TOndrixMessageType MsgType, const QString& Text, bool MayMail);
    // Tells a failure to write the log once, until the log is written again.
    void LogWritten(bool Written, const QString& Error);
    TSampleRec* Row(int Index) const;
    void SetRows(const QList<int>& Rows, const std::function<bool(const TSampleRec&)>& Enable);
    void SaveSampleListReported();
    void SyncMessageSettings();
    void ContinueDetection(int Number);
    void FinishDetection(int Number);
    // Tells the gathered audio faults when they are due.
    void ReportAudioFaults();
    // Built, just appended to the engine's list, or the sequence of Previous that watches for
    // the same (taken out of Previous and put in Built's place, with its match under way).
    TAudioSequence* KeepMatchUnderWay(TAudioSequenceList& Previous, TAudioSequence& Built);

    TSettings& FFolders;
    TSettingsModel& FModel;
    TMainThreadQueue& FQueue;
    TAudioDetector FEngine;
    TSampleList FSamples;
    TOndrixMessages FMessages;
    TConfiguration FConfig;
    QTimer FTimer;
    int FFrequencyIndex = 2;
    int FFFTSizeIndex = 1;
    bool FRestartOnCaptureChange = false;
    // The log could not be written and the operator was told; cleared once it is written again.
    bool FLogFailureTold = false;
    // Numbers of samples that switch themselves off whose detection is being handled.
    QSet<int> FOncePending;
    // Samples switched on since the last rebuild (compared by address only, never used).
    QSet<const TSampleRec*> FJustEnabled;
    // Audio faults: frames dropped and not told yet, failed blocks of this run told so far,
    // and when each kind was last told (ms of FFaultClock; -1: never).
    uint64_t FDroppedUntold = 0;
    uint64_t FAnalysisErrorsTold = 0;
    QElapsedTimer FFaultClock;
    qint64 FLastDropReport = -1;
    qint64 FLastErrorReport = -1;
    // Last, so that it goes first: its connections close while the rest still stands.
    TOndrixSocketServer FSocket{*this};
};
