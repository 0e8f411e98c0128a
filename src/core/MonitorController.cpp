#include "core/MonitorController.h"

#include "core/Common_Settings.h"
#include "core/FileExecute.h"
#include "core/SampleSequence.h"
#include "core/SettingsModel.h"
#include "lang/Lang.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// The level meter's reading while monitoring is off.
constexpr double SilentLevelDb = -92.0;

QStringList ToQStringList(const std::vector<std::string>& Names)
{
    QStringList Result;
    Result.reserve(qsizetype(Names.size()));
    for (const std::string& Name : Names)
        Result.append(QString::fromStdString(Name));
    return Result;
}

// Rows from first to last, each once, inside the list.
QList<int> ValidRows(const QList<int>& Rows, int Count)
{
    QList<int> Result;
    for (const int Row : Rows) {
        if (Row >= 0 && Row < Count)
            Result.append(Row);
    }
    std::sort(Result.begin(), Result.end());
    Result.erase(std::unique(Result.begin(), Result.end()), Result.end());
    return Result;
}

// How long an episode lasted, as hours, minutes and seconds: 0:10:00.
QString LengthText(qint64 Ms)
{
    const qint64 Seconds = (std::max<qint64>(Ms, 0) + 500) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(Seconds / 3600)
        .arg(Seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(Seconds % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

int TMonitorController::FrameRateOfIndex(int Index)
{
    static const int Rates[] = {22050, 32000, 44100, 48000, 64000, 96000};
    return Index >= 0 && Index < int(std::size(Rates)) ? Rates[Index] : 44100;
}

int TMonitorController::FFTCountOfIndex(int Index)
{
    static const int Counts[] = {1024, 2048, 4096, 8192};
    return Index >= 0 && Index < int(std::size(Counts)) ? Counts[Index] : 2048;
}

TMonitorController::TMonitorController(TSettings& Folders, TSettingsModel& Model, TMainThreadQueue& Queue,
                                       QObject* Parent)
    : QObject(Parent)
    , FFolders(Folders)
    , FModel(Model)
    , FQueue(Queue)
    , FEngine(Queue)
    , FConfig{Model, FSamples, FrequencyTable}
{
    FEngine.FrameRate = 44100;
    FEngine.DeviceIndex = 0;
    FEngine.FFTCount = 2048;
    FEngine.OnSequenceFound = [this](TAudioSequence& Sequence) { AudioDetectorSequenceFound(Sequence); };
    FEngine.OnAlarmChange = [this](TAudioSequence& Sequence, TAlarmChange Change, int32_t LastedMs) {
        AudioDetectorAlarmChange(Sequence, Change, LastedMs);
    };
    FEngine.OnVolumeChange = [this](TAudioDetector&, int32_t, int32_t, double LeftDb, double RightDb) {
        emit LevelsChanged(LeftDb, RightDb);
    };
    FEngine.OnCaptureLost = [this](TAudioDetector& Sender) {
        AddMessage(msgError, FormatMessageText(QStringLiteral("CaptureLost"),
                                               {CaptureDeviceName(), QString::fromStdString(Sender.ErrorText)}));
        Sender.ErrorText.clear();
    };
    FEngine.OnCaptureRestored = [this](TAudioDetector&) {
        AddMessage(msgInfo, FormatMessageText(QStringLiteral("CaptureRestored"), {CaptureDeviceName()}));
    };
    FEngine.OnAudioDropped = [this](TAudioDetector&, uint32_t Frames) {
        FDroppedUntold += Frames;
        ReportAudioFaults();
    };
    FEngine.OnAnalysisError = [this](TAudioDetector&) { ReportAudioFaults(); };
    FFaultClock.start();

    FMessages.LogFolder = Folders.LogFolder;
    SyncMessageSettings();
    connect(&FModel, &TSettingsModel::Changed, this, [this](const QString& Key) {
        SyncMessageSettings();
        if (FRestartOnCaptureChange && Key == QLatin1String(SettingKey::Device))
            RestartMonitoring();
    });

    NotifySampleFound = [this](int Number, std::function<void()> Done) {
        FSocket.NotifySampleFound(Number, FModel.Bool(SettingKey::ExternalWait_Checked), std::move(Done));
    };
    NotifySampleEnded = [this](int Number) { FSocket.NotifySampleEnded(Number); };

    FTimer.setInterval(1000);
    connect(&FTimer, &QTimer::timeout, this, &TMonitorController::TimerTimer);
    FTimer.start();
}

TMonitorController::~TMonitorController()
{
    FEngine.OnSequenceFound = nullptr;
    FEngine.OnAlarmChange = nullptr;
    FEngine.OnCaptureLost = nullptr;
    FEngine.OnCaptureRestored = nullptr;
    FEngine.OnAudioDropped = nullptr;
    FEngine.OnAnalysisError = nullptr;
    FEngine.OnVolumeChange = nullptr;
    FEngine.Stop();
}

void TMonitorController::SyncMessageSettings()
{
    namespace K = SettingKey;
    FMessages.LogFileCreate = FModel.Bool(K::LogFileCreate_Checked);
    // The count is a fraction in the settings; the list keeps whole messages.
    const double Count = FModel.Float(K::LogCount_Value);
    FMessages.LogCount = std::isfinite(Count) ? int(std::clamp(Count, 0.0, double(std::numeric_limits<int>::max()))) : 0;
    FMessages.EmailMessagesCheck = FModel.Bool(K::EmailMessagesCheck_Checked);
    FMessages.MsgOnOffSampleCheck = FModel.Bool(K::MsgOnOffSampleCheck_Checked);
    FMessages.MsgDetectSampleCheck = FModel.Bool(K::MsgDetectSampleCheck_Checked);
    FMessages.MsgCommandCheck = FModel.Bool(K::MsgCommandCheck_Checked);
    FMessages.MsgErrorCheck = FModel.Bool(K::MsgErrorCheck_Checked);
    FMessages.MsgNotDetectSampleCheck = FModel.Bool(K::MsgNotDetectSampleCheck_Checked);
}

void TMonitorController::SetFrequencyIndex(int Index)
{
    if (Index == FFrequencyIndex)
        return;
    FFrequencyIndex = Index;
    if (FRestartOnCaptureChange)
        RestartMonitoring();
}

void TMonitorController::SetFFTSizeIndex(int Index)
{
    if (Index == FFFTSizeIndex)
        return;
    FFFTSizeIndex = Index;
    if (FRestartOnCaptureChange)
        RestartMonitoring();
}

QStringList TMonitorController::DeviceNames()
{
    return ToQStringList(FEngine.DeviceNames());
}

QStringList TMonitorController::DeviceSelectorItems()
{
    return QStringList{GetMessageText(QStringLiteral("DefaultDevice"))} + DeviceNames();
}

QString TMonitorController::CaptureDeviceName()
{
    const int Index = FModel.Int(SettingKey::Device);
    const QStringList Items = DeviceSelectorItems();
    return Index >= 0 && Index < Items.size() ? Items[Index] : QString();
}

bool TMonitorController::LoadSettings(TSettingsQuestions& Questions)
{
    const bool GoOn = ::LoadSettings(FFolders, FConfig, DeviceNames(), Questions);
    SyncMessageSettings();
    // Values of the sample list that could not be read: in the list and the log, headless too.
    for (int I = 0; I < FSamples.Count(); ++I)
        if (const QString Warning = SampleLoadProblemsText(*FSamples[I], QStringLiteral("SampleNotRead"));
            !Warning.isEmpty())
            AddMessage(msgError, Warning);
    emit SampleCountChanged(FSamples.Count());
    // A failed load leaves the capture selectors unconnected, as the steps after the failure
    // never ran.
    FRestartOnCaptureChange = FFolders.SettingsLoaded;
    return GoOn;
}

void TMonitorController::ReportProgramStart()
{
    AddMessage(msgInfo, FormatMessageText(QStringLiteral("ProgramStarted"),
                                          {FFolders.VersionText, QDir::toNativeSeparators(FFolders.DataFolder),
                                           CaptureDeviceName()}));
}

void TMonitorController::ReportProgramStop(TStopReason Reason, int Signal)
{
    QString Why;
    switch (Reason) {
    case TStopReason::Signal: {
        const char* Name = sigabbrev_np(Signal);
        Why = FormatMessageText(QStringLiteral("StopSignal"),
                                {Name ? QStringLiteral("SIG") + QString::fromLatin1(Name) : QString::number(Signal)});
        break;
    }
    case TStopReason::SessionEnd:
        Why = GetMessageText(QStringLiteral("StopSessionEnd"));
        break;
    case TStopReason::Restart:
        Why = GetMessageText(QStringLiteral("StopRestart"));
        break;
    case TStopReason::WindowClosed:
        Why = GetMessageText(QStringLiteral("StopWindowClosed"));
        break;
    }
    AddMessage(msgInfo, FormatMessageText(QStringLiteral("ProgramStopped"), {Why}));
}

bool TMonitorController::SaveSettings(TSettingsQuestions& Questions)
{
    return ::SaveSettings(FFolders, FConfig, Questions);
}

void TMonitorController::AddMessage(TOndrixMessageType MsgType, const QString& Text)
{
    ProcessAddedMessage(MsgType, Text, true);
}

void TMonitorController::AddUnmailedMessage(TOndrixMessageType MsgType, const QString& Text)
{
    ProcessAddedMessage(MsgType, Text, false);
}

void TMonitorController::AddAlertMessage(TOndrixMessageType MsgType, const QString& Text)
{
    const TOndrixMessage Message = ProcessAddedMessage(MsgType, Text, true);
    emit Alert(MessageLogLine(Message));
}

TOndrixMessage TMonitorController::ProcessAddedMessage(TOndrixMessageType MsgType, const QString& Text, bool MayMail)
{
    TOndrixMessage Message{MsgType, Text, FMessages.Clock ? FMessages.Clock() : Now()};
    // A log file that cannot be written keeps the line pending; the detection's actions and
    // the observers go on regardless.
    QString Error;
    const bool Logged = FMessages.ProcessMessage(Message, &Error, MayMail);
    emit MessageAdded(Message);
    LogWritten(Logged, Error);
    return Message;
}

void TMonitorController::LogWritten(bool Written, const QString& Error)
{
    if (Written) {
        FLogFailureTold = false;
        return;
    }
    if (FLogFailureTold)
        return;
    // Once per failure: the message's own line cannot be written either, and joins the
    // pending ones.
    FLogFailureTold = true;
    AddAlertMessage(msgError, FormatMessageText(QStringLiteral("LogWriteFailed"), {Error, FMessages.MaxPendingLogLines}));
}

TSampleRec* TMonitorController::Row(int Index) const
{
    return Index >= 0 && Index < FSamples.Count() ? FSamples.Items(Index) : nullptr;
}

void TMonitorController::SetSampleEnabled(TSampleRec* Sample, bool Enable, bool Reload)
{
    if (!Sample || Sample->Enabled == Enable)
        return;
    if (Enable && Sample->Type == TSampleType::File && !QFileInfo::exists(Sample->Path)) {
        Sample->Enabled = false;
        AddMessage(msgError, FormatMessageText(QStringLiteral("WrongSampleInd"), {Sample->Number + 1, Sample->Path}));
        return;
    }
    if (!Enable && !Sample->Detected) {
        AddMessage(msgSampleNotDetect,
                   FormatMessageText(QStringLiteral("SampleNotFound"), {Sample->Number + 1, Sample->Description}));
    }
    Sample->Enabled = Enable;
    if (Enable) {
        Sample->Detected = false;
        FJustEnabled.insert(Sample);
    }
    ReportSampleState(Sample, Enable);
    emit SamplesChanged();
    if (Reload)
        ReloadEngine();
}

bool TMonitorController::SetSampleEnabledByNumber(int Number, bool Enable, bool Reload)
{
    TSampleRec* Sample = FSamples.FindByNumber(Number);
    if (!Sample)
        return false;
    SetSampleEnabled(Sample, Enable, Reload);
    return true;
}

QString TMonitorController::RemoteVersionText() const
{
    return FFolders.VersionText;
}

std::optional<QString> TMonitorController::RemoteSampleDescription(int Number) const
{
    if (const TSampleRec* Sample = FSamples.FindByNumber(Number))
        return Sample->Description;
    return std::nullopt;
}

void TMonitorController::ReportSampleState(TSampleRec* Sample, bool Enabled)
{
    if (!Sample)
        return;
    const int Position = FSamples.IndexOf(Sample) + 1;
    if (Enabled)
        AddMessage(msgSampleEnable, FormatMessageText(QStringLiteral("SampleEnabled"), {Position, Sample->Description}));
    else
        AddMessage(msgSampleDisable, FormatMessageText(QStringLiteral("SampleDisabled"), {Position, Sample->Description}));
}

void TMonitorController::ReloadEngine()
{
    // Automation switches samples all day, often while another sample's clip, command or dead
    // air is half way through: a sequence built the same as before goes on with the match it
    // has under way, and only the samples that changed start afresh.
    TAudioSequenceList Previous = std::move(FEngine.Sequences);
    FEngine.Sequences.Clear();
    for (int I = 0; I < FSamples.Count(); ++I) {
        TSampleRec* Sample = FSamples.Items(I);
        Sample->Sequence = nullptr;
        LoadSampleIntoEngine(Sample);
        if (Sample->Sequence)
            Sample->Sequence = KeepMatchUnderWay(Previous, *Sample->Sequence);
    }
    FJustEnabled.clear();
    UpdateMonitoring();
    emit SamplesChanged();
    TimerTimer();
}

TAudioSequence* TMonitorController::KeepMatchUnderWay(TAudioSequenceList& Previous, TAudioSequence& Built)
{
    for (int32_t I = 0; I < Previous.Count(); ++I) {
        if (!SameTarget(Previous.Items(I), Built))
            continue;
        // The new sequence is the last of the list: the one before takes its place.
        FEngine.Sequences.Delete(FEngine.Sequences.IndexOf(&Built));
        return &FEngine.Sequences.Add(Previous.Extract(I));
    }
    return &Built;
}

void TMonitorController::LoadSampleIntoEngine(TSampleRec* Sample)
{
    if (!Sample)
        return;
    Sample->Sequence = nullptr;
    if (!Sample->Enabled)
        return;
    try {
        // Appends the sequence (with the sample's Number and Hold) or leaves the list as it was.
        Sample->Sequence = BuildSampleSequence(FEngine, *Sample, FrequencyTable);
        // A sample just switched on that will never be found, or only poorly, is named once,
        // not at every later rebuild.
        if (Sample->Sequence && FJustEnabled.contains(Sample)) {
            for (const QString& Reason : SampleNeverFoundReasons(FEngine, *Sample, FrequencyTable))
                AddMessage(msgError, Reason);
            const QString Warning = SampleSequenceWarningText(*Sample, *Sample->Sequence);
            if (!Warning.isEmpty())
                AddMessage(msgInfo, Warning);
        }
    } catch (const std::exception& Error) {
        Sample->Sequence = nullptr;
        AddMessage(msgError, FormatMessageText(QStringLiteral("WrongSampleInd"), {Sample->Number + 1, Sample->Path}));
        // Why, so that the operator can mend it.
        const QString Reason = SampleSequenceErrorText(Error);
        if (!Reason.isEmpty())
            AddMessage(msgError, Reason);
        ReportSampleState(Sample, false);
        Sample->Enabled = false;
    }
}

void TMonitorController::UpdateMonitoring()
{
    const bool AnyOn = [this] {
        for (int I = 0; I < FSamples.Count(); ++I) {
            if (FSamples.Items(I)->Enabled)
                return true;
        }
        return false;
    }();
    if (AnyOn)
        StartMonitoring();
    else
        StopMonitoring();
}

void TMonitorController::StartMonitoring()
{
    FEngine.UpdateChannels();
    if (FEngine.Active())
        return;
    ApplyCaptureSettings(FEngine);
    if (FEngine.Start()) {
        // The engine counts failed blocks per run.
        FAnalysisErrorsTold = 0;
        emit MonitoringChanged(true);
        return;
    }
    if (!FEngine.ErrorText.empty()) {
        AddMessage(msgError, QString::fromStdString(FEngine.ErrorText));
        FEngine.ErrorText.clear();
    }
    Disable_All_BtnClick();
}

void TMonitorController::StopMonitoring()
{
    if (!FEngine.Active())
        return;
    FEngine.Stop();
    emit LevelsChanged(SilentLevelDb, SilentLevelDb);
    emit MonitoringChanged(false);
}

void TMonitorController::RestartMonitoring()
{
    if (!FEngine.Active())
        return;
    StopMonitoring();
    StartMonitoring();
}

void TMonitorController::ApplyCaptureSettings(TAudioDetector& Detector) const
{
    // Entry 0 is the default device (-1 to the engine); nothing selected gives -2, which no
    // device has, so monitoring then fails to start and says so.
    Detector.DeviceIndex = FModel.Int(SettingKey::Device) - 1;
    Detector.FrameRate = FrameRateOfIndex(FFrequencyIndex);
    Detector.FFTCount = FFTCountOfIndex(FFFTSizeIndex);
}

void TMonitorController::AutoStartSamples()
{
    for (int I = 0; I < FSamples.Count(); ++I) {
        TSampleRec* Sample = FSamples.Items(I);
        // A sample whose values could not all be read waits for the operator.
        if (Sample->AutoStart && !Sample->HasLoadProblems())
            SetSampleEnabled(Sample, true, false);
    }
    ReloadEngine();
}

void TMonitorController::SetRows(const QList<int>& Rows, const std::function<bool(const TSampleRec&)>& Enable)
{
    const QList<int> Valid = ValidRows(Rows, FSamples.Count());
    if (Valid.isEmpty())
        return;
    for (const int Index : Valid) {
        TSampleRec* Sample = Row(Index);
        SetSampleEnabled(Sample, Enable(*Sample), false);
    }
    ReloadEngine();
}

void TMonitorController::Enable_BtnClick(const QList<int>& Rows)
{
    SetRows(Rows, [](const TSampleRec&) { return true; });
}

void TMonitorController::Disable_BtnClick(const QList<int>& Rows)
{
    SetRows(Rows, [](const TSampleRec&) { return false; });
}

void TMonitorController::ChangeEnable_BtnClick(const QList<int>& Rows)
{
    SetRows(Rows, [](const TSampleRec& Sample) { return !Sample.Enabled; });
}

void TMonitorController::Enable_All_BtnClick()
{
    QList<int> All;
    for (int I = 0; I < FSamples.Count(); ++I)
        All.append(I);
    SetRows(All, [](const TSampleRec&) { return true; });
}

void TMonitorController::Disable_All_BtnClick()
{
    QList<int> All;
    for (int I = 0; I < FSamples.Count(); ++I)
        All.append(I);
    if (All.isEmpty()) {
        // Nothing to switch off, but a failed start still leaves monitoring stopped.
        ReloadEngine();
        return;
    }
    SetRows(All, [](const TSampleRec&) { return false; });
}

void TMonitorController::SaveSampleListReported()
{
    QString Error;
    if (!SaveSampleList(FFolders, FConfig, &Error))
        AddMessage(msgError, Error);
}

void TMonitorController::AddSample_BtnClick(const TSampleEditor& Edit)
{
    auto Sample = std::make_unique<TSampleRec>();
    if (!Edit || !Edit(*Sample))
        return;
    FSamples.Add(std::move(Sample));
    FSamples.SortByNumber();
    emit SampleCountChanged(FSamples.Count());
    SaveSampleListReported();
}

void TMonitorController::SampleProp_BtnClick(const QList<int>& Rows, const TSampleEditor& Edit)
{
    const QList<int> Valid = ValidRows(Rows, FSamples.Count());
    if (Valid.isEmpty() || !Edit)
        return;
    TSampleRec* Sample = Row(Valid.first());
    if (!Edit(*Sample))
        return;
    FSamples.SortByNumber();
    emit SampleCountChanged(FSamples.Count());
    SaveSampleListReported();
    if (Sample->Enabled)
        ReloadEngine();
    else
        emit SamplesChanged();
}

void TMonitorController::DelSample_BtnClick(const QList<int>& Rows, const std::function<bool()>& Confirm)
{
    const QList<int> Valid = ValidRows(Rows, FSamples.Count());
    if (Valid.isEmpty())
        return;
    if (Confirm && !Confirm())
        return;
    bool AnyOn = false;
    for (auto It = Valid.crbegin(); It != Valid.crend(); ++It) {
        AnyOn = AnyOn || Row(*It)->Enabled;
        FJustEnabled.remove(Row(*It));
        FSamples.Delete(*It);
    }
    emit SampleCountChanged(FSamples.Count());
    SaveSampleListReported();
    if (AnyOn)
        ReloadEngine();
    else
        emit SamplesChanged();
}

void TMonitorController::Find_BtnClick(const QList<int>& Rows)
{
    const QList<int> Valid = ValidRows(Rows, FSamples.Count());
    // Collected first by number: handling one may rebuild or change the list.
    QList<int> Numbers;
    for (auto It = Valid.crbegin(); It != Valid.crend(); ++It) {
        if (Row(*It)->Enabled)
            Numbers.append(Row(*It)->Number);
    }
    for (const int Number : Numbers)
        HandleDetection(FSamples.FindByNumber(Number));
}

bool TMonitorController::Button_TestAudioClick(QString* Text)
{
    bool Ok = true;
    QString ErrorText;
    if (!FEngine.Active()) {
        TAudioDetector Test(FQueue);
        Test.CaptureDevice = FEngine.CaptureDevice;
        ApplyCaptureSettings(Test);
        Ok = Test.TryStart();
        ErrorText = QString::fromStdString(Test.ErrorText);
    }
    if (Text) {
        *Text = Ok ? GetMessageText(QStringLiteral("AudioTested"))
                   : GetMessageText(QStringLiteral("AudioNotTested")) + QStringLiteral("\r\n") + ErrorText;
    }
    return Ok;
}

void TMonitorController::AudioDetectorSequenceFound(TAudioSequence& Sequence)
{
    const int Number = Sequence.Number;
    // The actions may wait, start programs or rebuild the engine: never inside the analysis of
    // a buffer. They run on a later turn of the event loop.
    QMetaObject::invokeMethod(this, [this, Number] { HandleDetection(FSamples.FindByNumber(Number)); },
                              Qt::QueuedConnection);
}

void TMonitorController::AudioDetectorAlarmChange(TAudioSequence& Sequence, TAlarmChange Change, int32_t LastedMs)
{
    const int Number = Sequence.Number;
    QMetaObject::invokeMethod(this, [this, Number, Change, LastedMs] { HandleAlarmChange(Number, Change, LastedMs); },
                              Qt::QueuedConnection);
}

void TMonitorController::HandleAlarmChange(int Number, TAlarmChange Change, int LastedMs)
{
    const TSampleRec* Sample = FSamples.FindByNumber(Number);
    if (!Sample)
        return;
    const QVariantList Arguments{Sample->Number + 1, Sample->Description, LengthText(LastedMs)};
    if (Change == acReminder) {
        AddMessage(msgSampleDetect, FormatMessageText(QStringLiteral("SampleReminder"), Arguments));
    } else if (Change == acEnded) {
        if (NotifySampleEnded)
            NotifySampleEnded(Number);
        AddMessage(msgSampleDetect, FormatMessageText(QStringLiteral("SampleEnded"), Arguments));
    }
}

void TMonitorController::HandleDetection(TSampleRec* Sample)
{
    if (!Sample)
        return;
    const int Number = Sample->Number;
    // A sample that switches itself off fires once: a rebuild during its delay may re-arm its
    // sequence (when the sample was edited meanwhile), and a second find before the first
    // handling has switched it off is dropped.
    if (Sample->AutoDisable) {
        if (FOncePending.contains(Number))
            return;
        FOncePending.insert(Number);
    }
    if (Sample->SampleWait > 0)
        QTimer::singleShot(Sample->SampleWait, this, [this, Number] { ContinueDetection(Number); });
    else
        ContinueDetection(Number);
}

void TMonitorController::ContinueDetection(int Number)
{
    TSampleRec* Sample = FSamples.FindByNumber(Number);
    if (!Sample) {
        FOncePending.remove(Number);
        return;
    }
    Sample->Detected = true;
    emit SamplesChanged();
    if (!NotifySampleFound) {
        FinishDetection(Number);
        return;
    }
    // The answers may come later (ExternalWait); the controller may be gone by then.
    QPointer<TMonitorController> Self(this);
    NotifySampleFound(Number, [Self, Number] {
        if (Self)
            Self->FinishDetection(Number);
    });
}

void TMonitorController::FinishDetection(int Number)
{
    FOncePending.remove(Number);
    TSampleRec* Sample = FSamples.FindByNumber(Number);
    if (!Sample)
        return;
    if (Sample->AutoDisable)
        SetSampleEnabled(Sample, false, true);
    // A rebuild does not free records, but look again in case the list changed.
    Sample = FSamples.FindByNumber(Number);
    if (!Sample)
        return;
    if (!Sample->FileExecute.trimmed().isEmpty()) {
        QString Error;
        if (!FileExecute(Sample->FileExecute, &Error))
            AddMessage(msgError, FormatMessageText(QStringLiteral("FileExecuteError"), {Sample->FileExecute, Error}));
    }
    AddMessage(msgSampleDetect, FormatMessageText(QStringLiteral("SampleFound"), {Sample->Number + 1, Sample->Description}));
    emit DetectionHandled(Number);
}

void TMonitorController::TimerTimer()
{
    // Lines kept while the log could not be written go out as soon as it can be again, not
    // only with the next message.
    if (!FMessages.PendingLogLines().isEmpty()) {
        QString Error;
        LogWritten(FMessages.FlushLog(&Error), Error);
    }
    ReportAudioFaults();
    emit Tick();
}

void TMonitorController::ReportAudioFaults()
{
    const qint64 Now = FFaultClock.elapsed();
    auto Due = [this, Now](qint64& Last) {
        if (Last >= 0 && Now - Last < FaultReportInterval)
            return false;
        Last = Now;
        return true;
    };
    if (FDroppedUntold > 0 && Due(FLastDropReport)) {
        const qint64 Ms = qint64(FDroppedUntold * 1000 / uint64_t(std::max(FEngine.FrameRate, 1)));
        FDroppedUntold = 0;
        AddMessage(msgError, FormatMessageText(QStringLiteral("AudioDropped"), {Ms}));
    }
    const uint64_t Errors = FEngine.AnalysisErrors();
    if (Errors < FAnalysisErrorsTold)
        FAnalysisErrorsTold = 0;
    if (Errors > FAnalysisErrorsTold && Due(FLastErrorReport)) {
        const qint64 Count = qint64(Errors - FAnalysisErrorsTold);
        FAnalysisErrorsTold = Errors;
        AddMessage(msgError, FormatMessageText(QStringLiteral("AnalysisErrors"),
                                               {Count, QString::fromStdString(FEngine.LastAnalysisError())}));
    }
}
