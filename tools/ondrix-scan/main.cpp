// ondrix-scan: watches every sample of a sample list over recordings, as fast as it can, or
// over the live feed, on the same engine as the monitor, and prints each detection.

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "audio/AudioDetector.h"
#include "audio/AudioIOStream.h"
#include "audio/ClipPrintCache.h"
#include "core/Common_Settings.h"
#include "core/SampleSequence.h"
#include "lang/Lang.h"
#include "lang/Language_Functions.h"
#include "samples/Class_Frequency.h"
#include "samples/Class_SampleRec.h"
#include "util/DateTime.h"
#include "util/KeyValueText.h"

namespace {

const char* const HelpText =
    "Usage:\n"
    "  ondrix-scan [-j N] [--format F] [--samples FILE] [--freq FILE] [/Data=DIR] AUDIO...\n"
    "  ondrix-scan --live [--device N] [--format F] [--samples FILE] [--freq FILE] [/Data=DIR]\n"
    "\n"
    "Watches every sample of the sample list, as if all were switched on, and prints one line\n"
    "per detection as soon as it is made.\n"
    "\n"
    "Over recordings, each AUDIO file (any format the program reads: WAV, MP3, FLAC, Ogg; any\n"
    "sample rate, mono, stereo or more channels) is scanned in stream time, as fast as\n"
    "possible, with exactly the timing it would have live. A file at another rate than the\n"
    "engine's 44100 Hz is resampled as it is read; a file of more than two channels is heard\n"
    "by its first two (front left and right).\n"
    "\"-\" reads raw PCM from standard input: 16-bit little-endian stereo at 44100 Hz. A line is\n"
    "  SECONDS<TAB>NUMBER<TAB>DESCRIPTION\n"
    "where SECONDS is the time from the start of that file at the end of the analysis block\n"
    "that completed the match (three decimals) and NUMBER is the sample's number as shown.\n"
    "\n"
    "With --live the live feed of capture device N (default -1, the default input; 0, 1, ...\n"
    "the sources of the audio server in its order) is watched until interrupted, and each line\n"
    "starts with the local time of the detection, \"dd.mm.yyyy hh:nn:ss.zzz\".\n"
    "\n"
    "Options:\n"
    "  --samples FILE  the sample list (default: Samples.ini of the data folder)\n"
    "  --freq FILE     the frequency command table (default: Freq.ini of the data folder)\n"
    "  /Data=DIR       the data folder, chosen as the monitor chooses it when not given\n"
    "  --live          watch the live feed instead of files\n"
    "  --device N      the capture device for --live\n"
    "  -j N, --jobs N  scan up to N AUDIO files at once (default: the number of processors)\n"
    "  --format F      how detections are printed: text (the default, the lines above), csv\n"
    "                  or json (see below)\n"
    "  --help          show this text\n"
    "\n"
    "Each clip is recognised by the method stored with its sample (Method=Robust, the default:\n"
    "landmarks that hold at any level and through codecs; Method=Spectral: spectral peaks\n"
    "against fixed levels). A clip too weak to be recognised reliably is named on standard\n"
    "error (\"WeakSample\") and still watched.\n"
    "With more than one AUDIO file, each line starts with the file's name and a tab, as grep\n"
    "names the file of each match:\n"
    "  FILE<TAB>SECONDS<TAB>NUMBER<TAB>DESCRIPTION\n"
    "With several files scanned at once, each file's lines (and its errors) are printed\n"
    "together, in the order the files were given, once that file is done; with -j 1 every\n"
    "line is printed as soon as its detection is made.\n"
    "A description always stays on its line: control characters (tabs, line breaks, NUL) in it\n"
    "are printed as blanks.\n"
    "\n"
    "--format csv prints the header line \"file,time,number,description\" and one row per\n"
    "detection, quoted as RFC 4180 quotes (a field holding a comma, a quote or a line break is\n"
    "put in quotes, its quotes doubled); the description is kept as it is. --format json prints\n"
    "one JSON object per line and detection:\n"
    "  {\"file\":\"FILE\",\"time\":SECONDS,\"number\":NUMBER,\"description\":\"DESCRIPTION\"}\n"
    "Both name the file of every detection, even of a single one (\"-\" for standard input);\n"
    "the time is the one the text prints, with --live the local date-time as a string (and\n"
    "the file empty, null in JSON).\n"
    "\n"
    "Clips of the sample list may have any sample rate: they are resampled to the engine's\n"
    "44100 Hz when their fingerprint is built.\n"
    "\n"
    "Warnings on standard error, each naming the sample; the scan goes on:\n"
    "  - a sample with a value that does not parse (a number with a unit, an unknown Type=)\n"
    "    or without a Type= line is named with the key and the text, and left out;\n"
    "  - a sample whose sequence cannot be built (\"WrongSampleInd\": its clip is missing,\n"
    "    unreadable or has nothing to recognise) is left out;\n"
    "  - a sample that can never be found: a command none of whose identifiers the frequency\n"
    "    table holds, a clip shorter than one analysis block (46 ms);\n"
    "  - identifiers of a command that the table lacks (they are skipped), and identifiers of\n"
    "    the table that no command can dial (empty, or holding a comma).\n"
    "\n"
    "The scanner only reads: it creates, copies and deletes nothing in the data folder. A sample\n"
    "list or frequency table that does not exist is an error; without --freq, a data folder\n"
    "that has no Freq.ini yet is read with the default table installed with the program.\n"
    "Messages follow the desktop's language (LANGUAGE, LC_ALL, LC_MESSAGES, LANG; the locale\n"
    "need not be generated): Russian under Russian, English otherwise.\n"
    "\n"
    "Exit codes: 0 all files scanned; 1 a file, the sample list or the frequency table could\n"
    "not be read (the other AUDIO files are still scanned); 2 the command line makes no sense;\n"
    "130 (SIGINT) or 143 (SIGTERM) the scan was interrupted, at once, even while waiting on a\n"
    "pipe.\n";

// How detections are printed: tab-separated lines, CSV rows, or JSON lines.
enum class TOutputFormat { Text, Csv, Json };

struct TScanOptions {
    QString SamplesFile;
    QString FreqFile;
    QStringList SettingsArguments;  // /Data=... for the settings object
    QStringList AudioFiles;
    bool Live = false;
    int Device = -1;
    int Jobs = 0;  // files scanned at once; 0: one per processor
    TOutputFormat Format = TOutputFormat::Text;
    bool Help = false;
};

std::optional<TOutputFormat> ParseOutputFormat(const QString& Name)
{
    if (Name == "text")
        return TOutputFormat::Text;
    if (Name == "csv")
        return TOutputFormat::Csv;
    if (Name == "json")
        return TOutputFormat::Json;
    return std::nullopt;
}

bool ParseArguments(const QStringList& Args, TScanOptions& Options, QString& Error)
{
    for (qsizetype i = 0; i < Args.size(); ++i) {
        const QString& arg = Args[i];
        auto value = [&](QString& Target) {
            if (i + 1 >= Args.size()) {
                Error = FormatMessageText("ScanNeedsValue", {arg});
                return false;
            }
            Target = Args[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            Options.Help = true;
        } else if (arg == "--samples") {
            if (!value(Options.SamplesFile))
                return false;
        } else if (arg == "--freq") {
            if (!value(Options.FreqFile))
                return false;
        } else if (arg == "--live") {
            Options.Live = true;
        } else if (arg == "--device") {
            QString text;
            if (!value(text))
                return false;
            bool ok = false;
            Options.Device = text.toInt(&ok);
            if (!ok || Options.Device < -1) {
                Error = FormatMessageText("ScanDeviceNumber", {text});
                return false;
            }
        } else if (arg == "-j" || arg == "--jobs" || (arg.startsWith("-j") && arg.size() > 2)) {
            QString text = arg.mid(2);
            if (arg.size() <= 2 || arg == "--jobs") {
                if (!value(text))
                    return false;
            }
            bool ok = false;
            Options.Jobs = text.toInt(&ok);
            if (!ok || Options.Jobs < 1) {
                Error = FormatMessageText("ScanJobsNumber", {arg.left(arg == "--jobs" ? 6 : 2), text});
                return false;
            }
        } else if (arg == "--format") {
            QString text;
            if (!value(text))
                return false;
            const std::optional<TOutputFormat> format = ParseOutputFormat(text);
            if (!format) {
                Error = FormatMessageText("ScanUnknownFormat", {text});
                return false;
            }
            Options.Format = *format;
        } else if (arg.startsWith("/Data=", Qt::CaseInsensitive) || arg.startsWith("\\Data=", Qt::CaseInsensitive)) {
            Options.SettingsArguments << arg;
        } else if (arg.startsWith("--")) {
            Error = FormatMessageText("ScanUnknownOption", {arg});
            return false;
        } else {
            Options.AudioFiles << arg;
        }
    }
    if (Options.Help)
        return true;
    if (Options.Live && !Options.AudioFiles.isEmpty()) {
        Error = GetMessageText("ScanLiveNoFiles");
        return false;
    }
    if (!Options.Live && Options.AudioFiles.isEmpty()) {
        Error = GetMessageText("ScanNoAudio");
        return false;
    }
    return true;
}

// Halves of an analysis block read from a file at a time: 15 of 2048 frames are 60 KB, a
// read the file reader takes straight into the capture buffer.
constexpr int32_t FileReadHalves = 15;

// "dd.mm.yyyy hh:nn:ss.zzz" of a day-based local date-time.
QString FormatLiveTime(TDateTime Value)
{
    return FormatDateTime(QStringLiteral("dd.mm.yyyy hh:nn:ss.zzz"), Value);
}

// One detection as it is printed.
struct TDetection {
    QString File;  // the AUDIO file as given; empty with --live
    QString Time;  // as the text prints it: seconds from the start of the file, or the live date-time
    bool Live = false;
    int Number = 0;                      // the sample's number as shown
    std::optional<QString> Description;  // none for a sequence that has no sample
};

const char* const CsvHeader = "file,time,number,description";

// A CSV field as RFC 4180 writes it: in quotes, its quotes doubled, when it holds a comma, a
// quote or a line break.
QString CsvField(const QString& Text)
{
    const bool special = std::any_of(Text.begin(), Text.end(), [](QChar c) { return c == ',' || c == '"' || c == '\r' || c == '\n'; });
    return special ? '"' + QString(Text).replace('"', "\"\"") + '"' : Text;
}

// A value as JSON text, written by Qt's writer: control characters as \u00XX, other
// characters as UTF-8.
QString JsonText(const QJsonValue& Value)
{
    const QByteArray array = QJsonDocument(QJsonArray{Value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// The line (without its line break) that prints a detection in Format. A text line names the
// file only when NameFile (several files are scanned), and keeps its description on the line.
QString DetectionLine(TOutputFormat Format, const TDetection& Detection, bool NameFile)
{
    const QString description = Detection.Description.value_or(QString());
    switch (Format) {
    case TOutputFormat::Csv:
        return CsvField(Detection.File) + "," + CsvField(Detection.Time) + "," + QString::number(Detection.Number) + ","
               + CsvField(description);
    case TOutputFormat::Json:
        // Written field by field: a QJsonObject would sort the keys.
        return "{\"file\":" + JsonText(Detection.Live ? QJsonValue() : QJsonValue(Detection.File))
               + ",\"time\":" + JsonText(Detection.Live ? QJsonValue(Detection.Time) : QJsonValue(Detection.Time.toDouble()))
               + ",\"number\":" + QString::number(Detection.Number) + ",\"description\":" + JsonText(description) + "}";
    case TOutputFormat::Text:
        break;
    }
    QString line = NameFile ? OneField(Detection.File) + "\t" : QString();
    line += Detection.Time + "\t" + QString::number(Detection.Number);
    if (Detection.Description)
        line += "\t" + OneField(*Detection.Description);
    return line;
}

// The sample list and frequency table of the data folder, found exactly as the monitor finds
// them (but read-only: nothing is created, copied or deleted), with the /Data switch among
// SettingsArguments. False with the error text when the data
// folder cannot be used.
bool FindDataFiles(const QStringList& SettingsArguments, QString& SamplesFile, QString& FreqFile, QString& Error)
{
    try {
        TSettingsStartup startup{SettingsArguments, QCoreApplication::applicationFilePath(), {}};
        startup.ReadOnly = true;
        const TSettings settings(startup);
        SamplesFile = settings.SamplesFile;
        FreqFile = settings.FreqFile;
        // The monitor copies the default table on its first start; until it has, the scanner
        // reads the default where the monitor would copy it from.
        if (!QFileInfo::exists(FreqFile) && QFileInfo::exists(settings.DefaultIniFolder + "Freq.ini"))
            FreqFile = settings.DefaultIniFolder + "Freq.ini";
        return true;
    } catch (const ESettingsError& e) {
        Error = e.Text();
        return false;
    }
}

void PrintError(const QString& Text)
{
    std::fprintf(stderr, "ondrix-scan: %s\n", Text.toUtf8().constData());
    std::fflush(stderr);
}

void PrintLine(const QString& Text)
{
    std::fputs((Text + "\n").toUtf8().constData(), stdout);
    std::fflush(stdout);
}

// The signal that interrupted the scan, 0 while none has.
volatile std::sig_atomic_t Interrupted = 0;
// The standard input being read, so that an interruption ends a read waiting on a pipe.
std::atomic<TRawPcmSource*> WaitingInput{nullptr};
static_assert(std::atomic<TRawPcmSource*>::is_always_lock_free);

// Async-signal-safe: Cancel is one write to an event descriptor.
void OnSignal(int Number)
{
    Interrupted = Number;
    if (TRawPcmSource* Input = WaitingInput.load())
        Input->Cancel();
}

class TScanner {
public:
    TScanOptions Options;
    TSampleList Samples;
    TFrequencyRecArr Table;
    TMainThreadQueue Queue;
    TAudioDetector Engine{Queue};
    std::map<const TAudioSequence*, const TSampleRec*> SampleOf;
    // Where detections and warnings go: at once to standard output and error, unless a scan
    // of several files at a time keeps them for their file.
    std::function<void(const QString&)> Line = PrintLine;
    std::function<void(const QString&)> Error = PrintError;

    // Loads the sample list and the frequency table, and builds a sequence for every sample.
    bool Prepare()
    {
        if (Options.SamplesFile.isEmpty() || Options.FreqFile.isEmpty()) {
            QString samplesFile, freqFile, error;
            if (!FindDataFiles(Options.SettingsArguments, samplesFile, freqFile, error)) {
                Error(error);
                return false;
            }
            if (Options.SamplesFile.isEmpty())
                Options.SamplesFile = samplesFile;
            if (Options.FreqFile.isEmpty())
                Options.FreqFile = freqFile;
        }
        // A file that is not there would read as an empty list and look like "nothing found".
        for (const QString& file : {Options.SamplesFile, Options.FreqFile}) {
            if (!QFileInfo(file).isFile()) {
                Error(FormatMessageText("ScanFileMissing", {file}));
                return false;
            }
        }
        QString error;
        QStringList warnings;
        if (!Samples.LoadFromFile(Options.SamplesFile, &error)
            || !LoadFrequencyTable(Table, Options.FreqFile, &error, &warnings)) {
            Error(error);
            return false;
        }
        for (const QString& warning : warnings)
            Error(warning);
        for (int i = 0; i < Samples.Count(); ++i) {
            const TSampleRec* sample = Samples[i];
            // A value that could not be read would be watched with a fallback nobody chose.
            if (sample->HasLoadProblems()) {
                Error(SampleLoadProblemsText(*sample, "SampleNotWatched"));
                continue;
            }
            // Built before the reasons are looked for, which then take the clip's length from
            // the build instead of reading the clip again; printed after them all the same.
            TAudioSequence* sequence = nullptr;
            QString failure;
            try {
                sequence = BuildSampleSequence(Engine, *sample, Table);
            } catch (const std::exception& e) {
                failure = FormatMessageText("WrongSampleInd", {sample->Number + 1, sample->Path}) + ": "
                          + SampleSequenceErrorText(e);
            }
            for (const QString& reason : SampleNeverFoundReasons(Engine, *sample, Table))
                Error(reason);
            if (!failure.isEmpty()) {
                Error(failure);
                continue;
            }
            if (sequence) {
                SampleOf[sequence] = sample;
                if (const QString warning = SampleSequenceWarningText(*sample, *sequence); !warning.isEmpty())
                    Error(warning);
            }
        }
        return true;
    }

    // Prints the detection of Sequence in File (none with --live) at Time.
    void PrintDetection(const TAudioSequence& Sequence, const QString& File, const QString& Time)
    {
        TDetection detection{File, Time, Options.Live, Sequence.Number + 1, std::nullopt};
        if (const auto it = SampleOf.find(&Sequence); it != SampleOf.end()) {
            detection.Number = it->second->Number + 1;
            detection.Description = it->second->Description;
        }
        Line(DetectionLine(Options.Format, detection, Options.AudioFiles.size() > 1));
    }

    // Scans one file (or standard input for "-"); false when it could not be scanned.
    bool ScanFile(const QString& FileName)
    {
        std::shared_ptr<TPcmSource> source;
        try {
            if (FileName == "-") {
                auto input = std::make_shared<TRawPcmSource>("-", Engine.FrameRate, 2);
                WaitingInput = input.get();
                if (Interrupted)
                    input->Cancel();
                source = input;
            } else {
                std::unique_ptr<TPcmSource> file = std::make_unique<TAudioFileSource>(FileName.toStdString());
                // A recording at another rate is heard at the engine's; it lasts as long, so
                // the times printed are the file's own.
                if (file->FrameRate() != Engine.FrameRate)
                    file = std::make_unique<TResampledSource>(std::move(file), Engine.FrameRate);
                source = std::move(file);
            }
        } catch (const std::exception& e) {
            Error(FormatMessageText("ScanCannotRead", {FileName, QString::fromUtf8(e.what())}));
            return false;
        }
        // The source opened above is handed to the engine's one capture. A file is read
        // many halves of a block at a time, its last part in whole halves; standard input,
        // which may be fed as it is recorded, half a block at a time, so that each block is
        // analysed as soon as its audio is in.
        auto opened = std::make_shared<std::shared_ptr<TPcmSource>>(source);
        source.reset();
        Engine.CaptureHalves = FileName == "-" ? 1 : FileReadHalves;
        const auto granule = uint32_t(Engine.FFTCount) * 2;
        Engine.CaptureDevice = [opened, granule] {
            return std::make_unique<TStreamWaveIn>(
                [opened]() -> std::unique_ptr<TPcmSource> {
                    if (!*opened)
                        throw std::runtime_error("the stream has been read already");
                    return std::make_unique<TSharedSource>(std::move(*opened));
                },
                TPacing::AsFastAsTaken, granule);
        };
        bool ended = false;
        Engine.OnInputEnd = [&](TAudioDetector&) { ended = true; };
        Engine.OnSequenceFound = [&](TAudioSequence& Sequence) {
            const double seconds = double(Engine.StreamFrames()) / Engine.FrameRate;
            PrintDetection(Sequence, FileName, QString::number(seconds, 'f', 3));
        };
        Engine.ErrorText.clear();
        if (!Engine.Start()) {
            WaitingInput = nullptr;
            Error(FormatMessageText("ScanCannotScan", {FileName, QString::fromStdString(Engine.ErrorText)}));
            return false;
        }
        while (!ended && !Interrupted)
            Queue.WaitAndDrain(std::chrono::seconds(1));
        Engine.Stop();
        WaitingInput = nullptr;
        Queue.Drain();
        if (!Engine.ErrorText.empty()) {
            Error(FormatMessageText("ScanReadToEnd", {FileName, QString::fromStdString(Engine.ErrorText)}));
            return false;
        }
        return !Interrupted;
    }

    bool ScanLive()
    {
        Engine.DeviceIndex = Options.Device;
        Engine.OnSequenceFound = [&](TAudioSequence& Sequence) {
            PrintDetection(Sequence, QString(), FormatLiveTime(Engine.StreamTime()));
        };
        Engine.OnCaptureLost = [](TAudioDetector& Sender) {
            PrintError(FormatMessageText("ScanCaptureLost", {QString::fromStdString(Sender.ErrorText)}));
        };
        Engine.OnCaptureRestored = [](TAudioDetector&) { PrintError(GetMessageText("ScanCaptureBack")); };
        if (!Engine.Start()) {
            Error(FormatMessageText("ScanCannotCapture", {Options.Device, QString::fromStdString(Engine.ErrorText)}));
            return false;
        }
        while (!Interrupted)
            Queue.WaitAndDrain(std::chrono::milliseconds(500));
        Engine.Stop();
        Queue.Drain();
        return true;
    }

private:
    // Lends a source that is already open to the stream device.
    class TSharedSource final : public TPcmSource {
    public:
        explicit TSharedSource(std::shared_ptr<TPcmSource> ASource) : Source(std::move(ASource)) {}
        int FrameRate() const override { return Source->FrameRate(); }
        int Channels() const override { return Source->Channels(); }
        int BitsPerSample() const override { return Source->BitsPerSample(); }
        size_t Read(uint8_t* Buffer, size_t Size) override { return Source->Read(Buffer, Size); }

    private:
        std::shared_ptr<TPcmSource> Source;
    };
};

int JobCount(const TScanOptions& Options)
{
    if (Options.Jobs > 0)
        return Options.Jobs;
    return std::max(1, int(std::thread::hardware_concurrency()));
}

// Scans the files on Jobs threads at once, each with an engine of its own (First, prepared,
// is one of them). Each file's lines and errors are kept and printed together, in the order
// of the files, on this thread, once that file is done. False when a file could not be scanned.
bool ScanAtOnce(TScanner& First, int Jobs)
{
    struct TFileOutput {
        std::vector<std::pair<bool, QString>> Lines;  // (error, text)
        bool Ok = false;
        bool Done = false;
    };
    const QStringList Files = First.Options.AudioFiles;
    std::vector<TFileOutput> Outputs(size_t(Files.size()));
    std::mutex Lock;
    std::condition_variable Changed;
    int Running = Jobs;
    std::atomic<qsizetype> Next{0};

    const auto Work = [&](TScanner& Scanner) {
        for (qsizetype I = Next++; I < Files.size() && !Interrupted; I = Next++) {
            TFileOutput Output;
            Scanner.Line = [&Output](const QString& Text) { Output.Lines.emplace_back(false, Text); };
            Scanner.Error = [&Output](const QString& Text) { Output.Lines.emplace_back(true, Text); };
            Output.Ok = Scanner.ScanFile(Files[I]);
            Output.Done = true;
            std::lock_guard Guard(Lock);
            Outputs[size_t(I)] = std::move(Output);
            Changed.notify_all();
        }
        std::lock_guard Guard(Lock);
        --Running;
        Changed.notify_all();
    };
    // The clip prints the first scanner built, taken before any worker runs: each worker's
    // engine starts from them (read-only, shared) instead of decoding every clip again.
    const TClipPrintCache Prints = First.Engine.ClipPrints();
    std::vector<std::thread> Workers;
    Workers.emplace_back([&] { Work(First); });
    for (int J = 1; J < Jobs; ++J)
        Workers.emplace_back([&] {
            // Built from the same files as the first: what they had to say, it has said.
            TScanner Scanner;
            Scanner.Options = First.Options;
            Scanner.Engine.ClipPrints() = Prints;
            Scanner.Error = [](const QString&) {};
            if (Scanner.Prepare())
                Work(Scanner);
            else {
                std::lock_guard Guard(Lock);
                --Running;
                Changed.notify_all();
            }
        });

    bool Ok = true;
    for (size_t I = 0; I < Outputs.size(); ++I) {
        std::unique_lock Guard(Lock);
        Changed.wait(Guard, [&] { return Outputs[I].Done || Running == 0; });
        if (!Outputs[I].Done)
            break;  // interrupted before this file was scanned
        const TFileOutput Output = std::move(Outputs[I]);
        Guard.unlock();
        for (const auto& [IsError, Text] : Output.Lines)
            IsError ? PrintError(Text) : PrintLine(Text);
        Ok = Output.Ok && Ok;
    }
    for (std::thread& Worker : Workers)
        Worker.join();
    return Ok;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // Every text in the desktop's language: Russian built in, any other the English file.
    Language::UseDesktopLanguage(TCommonSettings::InstalledLanguageFolder(QCoreApplication::applicationFilePath()));
    TScanner scanner;
    QString error;
    if (!ParseArguments(app.arguments().mid(1), scanner.Options, error)) {
        PrintError(FormatMessageText("ScanSeeHelp", {error}));
        return 2;
    }
    if (scanner.Options.Help) {
        std::fputs(HelpText, stdout);
        return 0;
    }
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGINT, SIGTERM})
        sigaction(number, &action, nullptr);
    if (!scanner.Prepare())
        return 1;
    if (scanner.Options.Format == TOutputFormat::Csv)
        PrintLine(CsvHeader);
    auto exitCode = [](bool ok) { return Interrupted ? 128 + int(Interrupted) : ok ? 0 : 1; };
    if (scanner.Options.Live)
        return exitCode(scanner.ScanLive());
    const int jobs = int(std::min<qsizetype>(JobCount(scanner.Options), scanner.Options.AudioFiles.size()));
    if (jobs > 1)
        return exitCode(ScanAtOnce(scanner, jobs));
    bool ok = true;
    for (const QString& file : scanner.Options.AudioFiles) {
        if (Interrupted)
            break;
        ok = scanner.ScanFile(file) && ok;
    }
    return exitCode(ok);
}
