// ondrix-scan: watches every sample of a sample list over recordings, as fast as it can, or
// over the live feed, on the same engine as the monitor, and prints each detection.

#include <QCoreApplication>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <map>
#include <memory>

#include "audio/AudioDetector.h"
#include "audio/AudioIOStream.h"
#include "core/Common_Settings.h"
#include "core/SampleSequence.h"
#include "lang/Lang.h"
#include "samples/Class_Frequency.h"
#include "samples/Class_SampleRec.h"
#include "util/DateTime.h"

namespace {

const char* const HelpText =
    "Usage:\n"
    "  ondrix-scan [--samples FILE] [--freq FILE] [/Data=DIR] AUDIO...\n"
    "  ondrix-scan --live [--device N] [--samples FILE] [--freq FILE] [/Data=DIR]\n"
    "\n"
    "Watches every sample of the sample list, as if all were switched on, and prints one line\n"
    "per detection as soon as it is made.\n"
    "\n"
    "Over recordings, each AUDIO file (any format the program reads: WAV, MP3, FLAC, Ogg) is\n"
    "scanned in stream time, as fast as possible, with exactly the timing it would have live.\n"
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
    "  --help          show this text\n"
    "\n"
    "Each clip is recognised by the method stored with its sample (Method=Robust, the default:\n"
    "landmarks that hold at any level and through codecs; Method=Spectral: spectral peaks\n"
    "against fixed levels). A clip too weak to be recognised reliably is named on standard\n"
    "error (\"WeakSample\") and still watched.\n"
    "A sample whose sequence cannot be built is reported on standard error (\"WrongSampleInd\")\n"
    "and the scan goes on without it. An AUDIO file that cannot be read, or whose sample rate\n"
    "is not the engine's 44100 Hz, is reported on standard error and the exit code is 1; the\n"
    "other files are still scanned. Exit code 2: the command line makes no sense.\n";

struct TScanOptions {
    QString SamplesFile;
    QString FreqFile;
    QStringList SettingsArguments;  // /Data=... for the settings object
    QStringList AudioFiles;
    bool Live = false;
    int Device = -1;
    bool Help = false;
};

bool ParseArguments(const QStringList& Args, TScanOptions& Options, QString& Error)
{
    for (qsizetype i = 0; i < Args.size(); ++i) {
        const QString& arg = Args[i];
        auto value = [&](QString& Target) {
            if (i + 1 >= Args.size()) {
                Error = arg + " needs a value";
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
                Error = "--device needs a number from -1 on, not \"" + text + "\"";
                return false;
            }
        } else if (arg.startsWith("/Data=", Qt::CaseInsensitive) || arg.startsWith("\\Data=", Qt::CaseInsensitive)) {
            Options.SettingsArguments << arg;
        } else if (arg.startsWith("--")) {
            Error = "unknown option " + arg;
            return false;
        } else {
            Options.AudioFiles << arg;
        }
    }
    if (Options.Help)
        return true;
    if (Options.Live && !Options.AudioFiles.isEmpty()) {
        Error = "--live takes no AUDIO files";
        return false;
    }
    if (!Options.Live && Options.AudioFiles.isEmpty()) {
        Error = "no AUDIO file given";
        return false;
    }
    return true;
}

// "dd.mm.yyyy hh:nn:ss.zzz" of a day-based local date-time.
QString FormatLiveTime(TDateTime Value)
{
    return FormatDateTime(QStringLiteral("dd.mm.yyyy hh:nn:ss.zzz"), Value);
}

// The sample list and frequency table of the data folder, found exactly as the monitor finds
// them, with the /Data switch among SettingsArguments. False with the error text when the data
// folder cannot be used.
bool FindDataFiles(const QStringList& SettingsArguments, QString& SamplesFile, QString& FreqFile, QString& Error)
{
    try {
        TSettings settings(TSettingsStartup{SettingsArguments, QCoreApplication::applicationFilePath(), {}});
        SamplesFile = settings.SamplesFile;
        FreqFile = settings.FreqFile;
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

volatile std::sig_atomic_t Interrupted = 0;

void OnSignal(int)
{
    Interrupted = 1;
}

class TScanner {
public:
    TScanOptions Options;
    TSampleList Samples;
    TFrequencyRecArr Table;
    TMainThreadQueue Queue;
    TAudioDetector Engine{Queue};
    std::map<const TAudioSequence*, const TSampleRec*> SampleOf;

    // Loads the sample list and the frequency table, and builds a sequence for every sample.
    bool Prepare()
    {
        if (Options.SamplesFile.isEmpty() || Options.FreqFile.isEmpty()) {
            QString samplesFile, freqFile, error;
            if (!FindDataFiles(Options.SettingsArguments, samplesFile, freqFile, error)) {
                PrintError(error);
                return false;
            }
            if (Options.SamplesFile.isEmpty())
                Options.SamplesFile = samplesFile;
            if (Options.FreqFile.isEmpty())
                Options.FreqFile = freqFile;
        }
        QString error;
        if (!Samples.LoadFromFile(Options.SamplesFile, &error) || !LoadFrequencyTable(Table, Options.FreqFile, &error)) {
            PrintError(error);
            return false;
        }
        for (int i = 0; i < Samples.Count(); ++i) {
            const TSampleRec* sample = Samples[i];
            try {
                if (TAudioSequence* sequence = BuildSampleSequence(Engine, *sample, Table)) {
                    SampleOf[sequence] = sample;
                    if (const QString warning = SampleSequenceWarningText(*sample, *sequence); !warning.isEmpty())
                        PrintError(warning);
                }
            } catch (const std::exception& e) {
                PrintError(FormatMessageText("WrongSampleInd", {sample->Number + 1, sample->Path}) + ": "
                           + SampleSequenceErrorText(e));
            }
        }
        return true;
    }

    QString DetectionText(const TAudioSequence& Sequence) const
    {
        const auto it = SampleOf.find(&Sequence);
        if (it == SampleOf.end())
            return QString::number(Sequence.Number + 1);
        return QString::number(it->second->Number + 1) + "\t" + it->second->Description;
    }

    // Scans one file (or standard input for "-"); false when it could not be scanned.
    bool ScanFile(const QString& FileName)
    {
        std::shared_ptr<TPcmSource> source;
        try {
            if (FileName == "-")
                source = std::make_shared<TRawPcmSource>("-", Engine.FrameRate, 2);
            else
                source = std::make_shared<TAudioFileSource>(FileName.toStdString());
        } catch (const std::exception& e) {
            PrintError("cannot read \"" + FileName + "\": " + QString::fromUtf8(e.what()));
            return false;
        }
        if (source->FrameRate() != Engine.FrameRate) {
            PrintError("\"" + FileName + "\" is sampled at " + QString::number(source->FrameRate())
                       + " Hz; the engine runs at " + QString::number(Engine.FrameRate) + " Hz");
            return false;
        }
        // The source opened above is handed to the engine's one capture.
        auto opened = std::make_shared<std::shared_ptr<TPcmSource>>(source);
        source.reset();
        Engine.CaptureDevice = [opened] {
            return std::make_unique<TStreamWaveIn>(
                [opened]() -> std::unique_ptr<TPcmSource> {
                    if (!*opened)
                        throw std::runtime_error("the stream has been read already");
                    return std::make_unique<TSharedSource>(std::move(*opened));
                },
                TPacing::AsFastAsTaken);
        };
        bool ended = false;
        Engine.OnInputEnd = [&](TAudioDetector&) { ended = true; };
        Engine.OnSequenceFound = [&](TAudioSequence& Sequence) {
            const double seconds = double(Engine.StreamFrames()) / Engine.FrameRate;
            PrintLine(QString::number(seconds, 'f', 3) + "\t" + DetectionText(Sequence));
        };
        Engine.ErrorText.clear();
        if (!Engine.Start()) {
            PrintError("cannot scan \"" + FileName + "\": " + QString::fromStdString(Engine.ErrorText));
            return false;
        }
        while (!ended && !Interrupted)
            Queue.WaitAndDrain(std::chrono::seconds(1));
        Engine.Stop();
        Queue.Drain();
        if (!Engine.ErrorText.empty()) {
            PrintError("cannot read \"" + FileName + "\" to its end: " + QString::fromStdString(Engine.ErrorText));
            return false;
        }
        return !Interrupted;
    }

    bool ScanLive()
    {
        Engine.DeviceIndex = Options.Device;
        Engine.OnSequenceFound = [&](TAudioSequence& Sequence) {
            PrintLine(FormatLiveTime(Engine.StreamTime()) + "\t" + DetectionText(Sequence));
        };
        Engine.OnCaptureLost = [](TAudioDetector& Sender) {
            PrintError("capture lost (" + QString::fromStdString(Sender.ErrorText) + "); trying to reopen it");
        };
        Engine.OnCaptureRestored = [](TAudioDetector&) { PrintError("capture is back"); };
        if (!Engine.Start()) {
            PrintError("cannot open capture device " + QString::number(Options.Device) + ": "
                       + QString::fromStdString(Engine.ErrorText));
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

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    TScanner scanner;
    QString error;
    if (!ParseArguments(app.arguments().mid(1), scanner.Options, error)) {
        PrintError(error + " (see --help)");
        return 2;
    }
    if (scanner.Options.Help) {
        std::fputs(HelpText, stdout);
        return 0;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    if (!scanner.Prepare())
        return 1;
    if (scanner.Options.Live)
        return scanner.ScanLive() ? 0 : 1;
    bool ok = true;
    for (const QString& file : scanner.Options.AudioFiles)
        ok = scanner.ScanFile(file) && ok;
    return ok ? 0 : 1;
}
