// ondrix-scan end to end: a generated broadcast with known events, scanned by the program.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <QRegularExpression>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <utility>
#include <vector>

#include "helpers/Broadcast.h"
#include "helpers/Process.h"
#include "helpers/PulseServer.h"
#include "helpers/TestFiles.h"
#include "helpers/SampleLists.h"
#include "lang/Lang.h"
#include "samples/Class_SampleRec.h"

namespace {

const double Block = 2048.0 / 44100;  // one analysis block at the defaults

struct ScanResult {
    int exitCode = -1;
    QString out, err;
};

// Runs the scanner with these variables of the desktop's language set and the others unset.
ScanResult runScanUnder(const QStringList& args, const std::vector<std::pair<QString, QString>>& language,
                        const QByteArray& input = {})
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
        env.remove(name);
    for (const auto& [name, value] : language)
        env.insert(name, value);
    process.setProcessEnvironment(env);
    process.start(ONDRIX_BIN_DIR "/ondrix-scan", args);
    if (!process.waitForStarted())
        return {};
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

// Runs the scanner under a Russian locale (its messages then match the built-in texts) unless
// another locale is given.
ScanResult runScan(const QStringList& args, const QByteArray& input = {}, const QString& locale = "ru_RU.UTF-8")
{
    return runScanUnder(args, {{"LC_ALL", locale}, {"LANG", locale}}, input);
}

struct Detection {
    double seconds;
    QString number, description;
};

std::vector<Detection> parse(const QString& out)
{
    std::vector<Detection> result;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
        QStringList parts = line.split('\t');
        if (parts.size() == 4)  // several files: the file's name first
            parts.removeFirst();
        if (parts.size() == 3)
            result.push_back({parts[0].toDouble(), parts[1], parts[2]});
        else
            result.push_back({-1, line, {}});
    }
    return result;
}

// A detection with the file it was found in, as any of the output formats names it.
struct Row {
    QString file, time, number, description;
    bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Row& row)
{
    return os << (QStringList{row.file, row.time, row.number, row.description}.join(" | ")).toStdString();
}

// Lines of several files' text output: FILE<TAB>SECONDS<TAB>NUMBER<TAB>DESCRIPTION.
std::vector<Row> textRows(const QString& out)
{
    std::vector<Row> rows;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
        const QStringList parts = line.split('\t');
        rows.push_back(parts.size() == 4 ? Row{parts[0], parts[1], parts[2], parts[3]} : Row{line, {}, {}, {}});
    }
    return rows;
}

// CSV as Python's csv module reads it, header first.
std::vector<QStringList> csvRecords(const QString& out)
{
    QProcess python;
    python.start("python3", {"-c", "import csv, json, sys\n"
                                   "print(json.dumps(list(csv.reader(open(sys.stdin.fileno(), encoding='utf-8', newline='')))))"});
    python.write(out.toUtf8());
    python.closeWriteChannel();
    python.waitForFinished(60000);
    std::vector<QStringList> records;
    for (const QJsonValue& record : QJsonDocument::fromJson(python.readAllStandardOutput()).array())
        records.push_back(record.toVariant().toStringList());
    return records;
}

std::vector<Row> csvRows(const QString& out)
{
    std::vector<Row> rows;
    const std::vector<QStringList> records = csvRecords(out);
    EXPECT_FALSE(records.empty()) << out.toStdString();
    if (!records.empty()) {
        EXPECT_EQ(records[0], QStringList({"file", "time", "number", "description"}));
    }
    for (size_t i = 1; i < records.size(); ++i) {
        const QStringList& r = records[i];
        rows.push_back(r.size() == 4 ? Row{r[0], r[1], r[2], r[3]} : Row{r.join(','), {}, {}, {}});
    }
    return rows;
}

// JSON lines: one object of exactly file (string), time (seconds), number and description.
std::vector<Row> jsonRows(const QString& out)
{
    std::vector<Row> rows;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
        QJsonParseError error;
        const QJsonObject object = QJsonDocument::fromJson(line.toUtf8(), &error).object();
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        EXPECT_EQ(object.keys(), QStringList({"description", "file", "number", "time"})) << line.toStdString();
        EXPECT_TRUE(object["time"].isDouble() && object["number"].isDouble()) << line.toStdString();
        rows.push_back({object["file"].toString(), QString::number(object["time"].toDouble(), 'f', 3),
                        QString::number(object["number"].toInt()), object["description"].toString()});
    }
    return rows;
}

struct ScanFixture : ::testing::Test {
    testkit::TempDir dir;
    QString samplesFile = QString::fromStdString(dir.file("Samples.ini"));
    QString freqFile = ONDRIX_SOURCE_DIR "/resources/Ini_Def/Freq.ini";
    testkit::Pcm broadcast;
    std::vector<Detection> truth;

    void SetUp() override
    {
        const testkit::Pcm clip = testkit::makeClip(7, 1.5);
        testkit::writeWav(dir.file("jingle.wav"), clip);
        const double clipSpan = std::floor(double(clip.frames()) / 2048.0) * Block;  // its whole blocks

        // 60 s: the jingle at about 10 s and 40 s, the cue "1,5,9" at 25 s, dead air 50..53 s.
        // The jingles start on a block boundary of the scan (see JingleIsFoundWhereverItStarts).
        broadcast = testkit::makeProgramme(60.0);
        const double jingle1 = 215 * Block, jingle2 = 861 * Block;
        testkit::mixAt(broadcast, clip, jingle1);
        testkit::mixAt(broadcast, clip, jingle2);
        testkit::mixAt(broadcast, testkit::makeDtmf("159", 0.12, 0.06), 25.0);
        testkit::silence(broadcast, 50.0, 3.0);
        testkit::writeWav(dir.file("broadcast.wav"), broadcast);

        // The jingle ends with its last whole block; the cue is complete once its last symbol
        // fills a block; the silence has held for 2 s once it has filled a block and 2 s more.
        truth = {{jingle1 + clipSpan, "1", "Jingle"},
                 {25.0 + 2 * 0.18 + Block, "2", "Cue"},
                 {jingle2 + clipSpan, "1", "Jingle"},
                 {50.0 + Block + 2.0, "5", "Dead air"}};

        TSampleList list;
        auto add = [&](TSampleType type, int number, const QString& description) {
            return testkit::AddSample(list, type, number, description);
        };
        TSampleRec* jingle = add(TSampleType::File, 0, "Jingle");
        jingle->Path = QString::fromStdString(dir.file("jingle.wav"));
        jingle->Method = TDetectMethod::Spectral;
        TSampleRec* cue = add(TSampleType::Command, 1, "Cue");
        cue->Command = "1,5,9";
        cue->CommandSpeed = 5;
        TSampleRec* lost = add(TSampleType::File, 2, "Lost jingle");
        lost->Path = QString::fromStdString(dir.file("missing.wav"));
        lost->Method = TDetectMethod::Spectral;
        TSampleRec* air = add(TSampleType::Silence, 4, "Dead air");
        air->SignalTime = 2.0;
        air->SignaldB = -50;
        ASSERT_TRUE(list.SaveToFile(samplesFile));
    }

    void expectTruth(const ScanResult& result)
    {
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        const auto found = parse(result.out);
        ASSERT_EQ(found.size(), truth.size()) << result.out.toStdString();
        for (size_t i = 0; i < truth.size(); ++i) {
            EXPECT_NEAR(found[i].seconds, truth[i].seconds, Block) << "line " << i << ": " << result.out.toStdString();
            EXPECT_EQ(found[i].number, truth[i].number) << i;
            EXPECT_EQ(found[i].description, truth[i].description) << i;
        }
    }
};

}  // namespace

TEST_F(ScanFixture, FindsEveryEventOfTheBroadcastOnTime)
{
    const ScanResult result = runScan({"--samples", samplesFile, "--freq", freqFile, QString::fromStdString(dir.file("broadcast.wav"))});
    expectTruth(result);
    // The sample that cannot be built is reported and left out.
    EXPECT_TRUE(result.err.contains(FormatMessageText("WrongSampleInd", {3, QString::fromStdString(dir.file("missing.wav"))})))
        << result.err.toStdString();
    // Three decimals.
    EXPECT_TRUE(QRegularExpression("^\\d+\\.\\d{3}\t").match(result.out).hasMatch()) << result.out.toStdString();
}

TEST_F(ScanFixture, ClipsRecordedAtOtherRatesAreFound)
{
    // The jingle as the station's editor saved it: at 48 kHz, or at 96 kHz in mono (its
    // tones reach 19 kHz, more than a 22.05 kHz file can hold; the builder's tests cover
    // lower rates).
    struct Case { int rate, channels; };
    for (const Case& c : {Case{48000, 2}, Case{96000, 1}}) {
        SCOPED_TRACE(c.rate);
        testkit::Pcm clip = testkit::makeClip(7, 1.5, 0.25, c.rate);
        if (c.channels == 1) {
            testkit::Pcm mono;
            mono.rate = c.rate;
            mono.channels = 1;
            for (size_t i = 0; i < clip.frames(); ++i)
                mono.samples.push_back(clip.samples[2 * i]);
            clip = mono;
        }
        testkit::writeWav(dir.file("jingle.wav"), clip);
        const ScanResult result = runScan({"--samples", samplesFile, "--freq", freqFile, QString::fromStdString(dir.file("broadcast.wav"))});
        expectTruth(result);
    }
}

TEST_F(ScanFixture, DataFolderIsReadAndLeftAsItWas)
{
    // A data folder in use by a monitor: its sample list, a temporary recording, and no
    // Freq.ini yet (the default table beside the program is read in its place).
    const std::string data = dir.file("data");
    std::filesystem::create_directories(data + "/Ini");
    std::filesystem::create_directories(data + "/Temp");
    std::filesystem::copy_file(samplesFile.toStdString(), data + "/Ini/Samples.ini");
    testkit::writeText(data + "/Temp/recording.wav", "in use");
    expectTruth(runScan({"/Data=" + QString::fromStdString(data), QString::fromStdString(dir.file("broadcast.wav"))}));
    EXPECT_FALSE(std::filesystem::exists(data + "/Ini/Freq.ini"));
    EXPECT_EQ(testkit::readText(data + "/Temp/recording.wav"), "in use");

    // Without /Data the per-user folder is looked at, not made.
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", QString::fromStdString(dir.file("xdg")));
    process.setProcessEnvironment(env);
    process.start(ONDRIX_BIN_DIR "/ondrix-scan", {QString::fromStdString(dir.file("broadcast.wav"))});
    ASSERT_TRUE(process.waitForFinished(120000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(process.readAllStandardError().contains("Samples.ini"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("xdg")));
}

TEST_F(ScanFixture, MissingSampleListOrTableIsAnError)
{
    const QString missing = QString::fromStdString(dir.file("missing.ini"));
    const QString wav = QString::fromStdString(dir.file("broadcast.wav"));
    for (const QStringList& args : {QStringList{"--samples", missing, "--freq", freqFile, wav},
                                    QStringList{"--samples", samplesFile, "--freq", missing, wav}}) {
        const ScanResult result = runScan(args);
        EXPECT_EQ(result.exitCode, 1) << args.join(' ').toStdString();
        EXPECT_TRUE(result.err.contains(missing)) << result.err.toStdString();
        EXPECT_TRUE(result.out.isEmpty());
    }
}

TEST_F(ScanFixture, SamplesThatCanNeverBeFoundAreNamedOnStandardError)
{
    TSampleList list;
    ASSERT_TRUE(list.LoadFromFile(samplesFile));
    testkit::AddSample(list, TSampleType::Command, 6, "Lost cue")->Command = "x,yy";
    TSampleRec* partly = testkit::AddSample(list, TSampleType::Command, 7, "Half cue");
    partly->Command = "x,2";
    testkit::Pcm blip;
    blip.appendTones(0.02, {5000});
    testkit::writeWav(dir.file("blip.wav"), blip);
    testkit::AddSample(list, TSampleType::File, 8, "Blip")->Path = QString::fromStdString(dir.file("blip.wav"));
    ASSERT_TRUE(list.SaveToFile(samplesFile));
    const std::string table = dir.file("Freq.ini");
    testkit::writeText(table, testkit::readText(freqFile.toStdString()) + "\r\nID=a,b\r\nFreq=1000\r\nFreqDelta=20\r\n");

    const ScanResult result = runScan({"--samples", samplesFile, "--freq", QString::fromStdString(table),
                                       QString::fromStdString(dir.file("broadcast.wav"))});
    expectTruth(result);
    for (const QString& text : {FormatMessageText("NeverFoundNoCommand", {7, "Lost cue"}),
                                FormatMessageText("UnknownCommands", {8, "Half cue", "\"x\""}),
                                FormatMessageText("NeverFoundShortClip", {9, "Blip", 46}),
                                FormatMessageText("FreqIDNotDialable", {"a,b", QString::fromStdString(table)})})
        EXPECT_TRUE(result.err.contains(text)) << text.toStdString() << "\n" << result.err.toStdString();
}

TEST_F(ScanFixture, SamplesWithValuesThatDoNotParseAreNamedAndLeftOut)
{
    // Watched with their fallbacks, the first would fire all through the programme (0 dB) and
    // the second would look for a clip without a file.
    const std::string bad = "\r\nDescription=Air typo\r\nNumber=5\r\nType=Silence\r\nSignaldB=-50dB\r\n"
                            "SignalTime=2 s\r\n\r\nDescription=Mistyped\r\nNumber=6\r\nType=Silense\r\n"
                            "\r\nDescription=Keyless\r\nNumber=7\r\nTpye=Silence\r\n";
    const std::string text = testkit::readText(samplesFile.toStdString()) + bad;
    testkit::writeText(samplesFile.toStdString(), text);

    const ScanResult result = runScan({"--samples", samplesFile, "--freq", freqFile,
                                       QString::fromStdString(dir.file("broadcast.wav"))});
    expectTruth(result);
    const auto value = [](const char* key, const char* read) {
        return FormatMessageText("SampleValueNotRead", {key, read});
    };
    for (const QString& warning :
         {FormatMessageText("SampleNotWatched", {6, "Air typo", value("SignaldB", "-50dB") + "; " + value("SignalTime", "2 s")}),
          FormatMessageText("SampleNotWatched", {7, "Mistyped", value("Type", "Silense")}),
          FormatMessageText("SampleNotWatched", {8, "Keyless", FormatMessageText("SampleKeyMissing", {"Type"})})})
        EXPECT_TRUE(result.err.contains(warning)) << warning.toStdString() << "\n" << result.err.toStdString();
    EXPECT_FALSE(result.err.contains("\"\"")) << "no file error for a mistyped type: " << result.err.toStdString();
    EXPECT_EQ(testkit::readText(samplesFile.toStdString()), text);
}

// Every message, the scanner's own ones too, follows the desktop's language as gettext reads
// it, whether the locale was generated or not: Russian built in, English from the language file.
TEST_F(ScanFixture, MessagesFollowTheDesktopsLanguage)
{
    struct Case {
        std::vector<std::pair<QString, QString>> Language;
        bool Russian;
    };
    const Case cases[] = {
        {{{"LANG", "en_US.UTF-8"}}, false},
        {{{"LANG", "ru_RU.UTF-8"}}, true},
        {{{"LANG", "C.UTF-8"}}, false},
        {{}, false},
        {{{"LANG", "en_GB.UTF-8"}, {"LANGUAGE", "ru_RU:en"}}, true},
        {{{"LANG", "ru_RU.UTF-8"}, {"LC_MESSAGES", "en_US.UTF-8"}}, false},
        {{{"LANG", "en_US.UTF-8"}, {"LC_ALL", "ru_UA.UTF-8"}}, true},
        {{{"LC_ALL", "C"}, {"LANGUAGE", "ru"}}, false},  // gettext: LANGUAGE does not count under C
    };
    const QString missing = QString::fromStdString(dir.file("missing.wav"));
    const QString lost = QString::fromStdString(dir.file("missing.wav"));  // the clip of sample 3
    for (const Case& c : cases) {
        QStringList names;
        for (const auto& [name, value] : c.Language)
            names << name + "=" + value;
        SCOPED_TRACE(names.join(' ').toStdString());
        const ScanResult result = runScanUnder({"--samples", samplesFile, "--freq", freqFile, missing}, c.Language);
        EXPECT_EQ(result.exitCode, 1);
        const QStringList expected =
            c.Russian ? QStringList{FormatMessageText("WrongSampleInd", {3, lost}), FormatMessageText("ScanCannotRead", {missing, ""})}
                      : QStringList{"Could not load the file of sample No. 3 \"" + lost + "\"", "cannot read \"" + missing + "\": "};
        for (const QString& text : expected)
            EXPECT_TRUE(result.err.contains(text)) << text.toStdString() << "\n" << result.err.toStdString();
        const ScanResult usage = runScanUnder({"--bogus", missing}, c.Language);
        EXPECT_EQ(usage.exitCode, 2);
        const QString bogus = c.Russian ? FormatMessageText("ScanSeeHelp", {FormatMessageText("ScanUnknownOption", {"--bogus"})})
                                        : "unknown option --bogus (see --help)";
        EXPECT_TRUE(usage.err.contains(bogus)) << usage.err.toStdString();
    }
}

TEST_F(ScanFixture, EveryDetectionStaysOnItsOwnLine)
{
    // A description holding a NUL, a tab and a line break, as a hand-edited list can.
    TSampleList list;
    ASSERT_TRUE(list.LoadFromFile(samplesFile));
    list.FindByNumber(0)->Description = QString("Jin") + QChar(0) + "gle\tone";
    ASSERT_TRUE(list.SaveToFile(samplesFile));
    const ScanResult result = runScan({"--samples", samplesFile, "--freq", freqFile, QString::fromStdString(dir.file("broadcast.wav"))});
    const auto found = parse(result.out);
    ASSERT_EQ(found.size(), truth.size()) << result.out.toStdString();
    EXPECT_EQ(found[0].description, "Jin gle one");
    EXPECT_EQ(found[1].description, "Cue");
}

TEST_F(ScanFixture, SeveralFilesNameTheFileOnEachLine)
{
    const QString first = QString::fromStdString(dir.file("broadcast.wav"));
    const QString second = QString::fromStdString(dir.file("again.wav"));
    std::filesystem::copy_file(first.toStdString(), second.toStdString());
    const ScanResult result = runScan({"--samples", samplesFile, "--freq", freqFile, first, second});
    EXPECT_EQ(result.exitCode, 0);
    const QStringList lines = result.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), qsizetype(2 * truth.size())) << result.out.toStdString();
    for (qsizetype i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(lines[i].startsWith((i < qsizetype(truth.size()) ? first : second) + "\t")) << lines[i].toStdString();
}

// The same detections as text, as CSV rows for a spreadsheet and as JSON lines for a report;
// names and descriptions holding commas, quotes, letters beyond ASCII and control characters
// come back exactly as they are.
TEST_F(ScanFixture, DetectionsArePrintedAsTextCsvOrJson)
{
    TSampleList list;
    ASSERT_TRUE(list.LoadFromFile(samplesFile));
    const QString jingle = "Jingle, \"Früh\"", cue = QString("Cue") + QChar(1) + "two";
    list.FindByNumber(0)->Description = jingle;
    list.FindByNumber(1)->Description = cue;
    ASSERT_TRUE(list.SaveToFile(samplesFile));
    const QString first = QString::fromStdString(dir.file("broadcast.wav"));
    const QString second = QString::fromStdString(dir.file("take, 2.wav"));
    std::filesystem::copy_file(first.toStdString(), second.toStdString());
    const QStringList args{"--samples", samplesFile, "--freq", freqFile, first, second};

    // The text as it has always been printed, a control character as a blank.
    const ScanResult text = runScan(args);
    ASSERT_EQ(text.exitCode, 0) << text.err.toStdString();
    const std::vector<Row> lines = textRows(text.out);
    ASSERT_EQ(lines.size(), 2 * truth.size()) << text.out.toStdString();
    EXPECT_EQ(lines[0].description, jingle);
    EXPECT_EQ(lines[1].description, "Cue two");
    EXPECT_EQ(lines.back().file, second);
    std::vector<Row> exact = lines;
    for (Row& row : exact)
        row.description = row.number == "2" ? cue : row.description;

    struct Case {
        const char* format;
        std::vector<Row> (*read)(const QString&);
        const std::vector<Row>& expected;
    };
    for (const Case& c : {Case{"text", textRows, lines}, Case{"csv", csvRows, exact}, Case{"json", jsonRows, exact}}) {
        SCOPED_TRACE(c.format);
        const ScanResult result = runScan(QStringList{"--format", c.format} + args);
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        EXPECT_EQ(c.read(result.out), c.expected) << result.out.toStdString();
        if (c.format == std::string("text")) {
            EXPECT_EQ(result.out, text.out);
        }
        if (c.format == std::string("json")) {
            EXPECT_TRUE(result.out.contains("\"Cue\\u0001two\"")) << result.out.toStdString();
        }
    }

    // A single file is named all the same, standard input as "-".
    const QByteArray raw(reinterpret_cast<const char*>(broadcast.samples.data()), qsizetype(broadcast.samples.size() * 2));
    const std::vector<Row> fromInput = csvRows(runScan({"--format", "csv", "--samples", samplesFile, "--freq", freqFile, "-"}, raw).out);
    ASSERT_EQ(fromInput.size(), truth.size());
    for (size_t i = 0; i < truth.size(); ++i)
        EXPECT_EQ(fromInput[i], (Row{"-", exact[i].time, exact[i].number, exact[i].description}));
}

TEST_F(ScanFixture, UnknownOutputFormatIsACommandLineError)
{
    struct Case {
        const char* locale;
        QString message;
    };
    for (const Case& c : {Case{"ru_RU.UTF-8", FormatMessageText("ScanSeeHelp", {FormatMessageText("ScanUnknownFormat", {"xml"})})},
                          Case{"C.UTF-8", "unknown --format \"xml\": choose text, csv or json (see --help)"}}) {
        SCOPED_TRACE(c.locale);
        const ScanResult result = runScan({"--format", "xml", "--samples", samplesFile, "--freq", freqFile,
                                           QString::fromStdString(dir.file("broadcast.wav"))},
                                          {}, c.locale);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_TRUE(result.err.contains(c.message)) << result.err.toStdString();
        EXPECT_TRUE(result.out.isEmpty()) << result.out.toStdString();
    }
}

TEST_F(ScanFixture, SignalsEndAScanWaitingOnAnOpenPipe)
{
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        QProcess process;
        process.start(ONDRIX_BIN_DIR "/ondrix-scan", {"--samples", samplesFile, "--freq", freqFile, "-"});
        ASSERT_TRUE(process.waitForStarted());
        ASSERT_TRUE(testkit::pollUntil([&] { return testkit::catchesSignal(pid_t(process.processId()), signal); },
                                       std::chrono::seconds(60)));
        // A second of audio, then the writer goes quiet without closing the pipe.
        process.write(QByteArray(44100 * 4, '\0'));
        process.waitForBytesWritten(30000);
        ::kill(pid_t(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(60000)) << "the scan waited for the pipe";
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 128 + signal);
    }
}

TEST_F(ScanFixture, RawPcmFromStandardInputScansLikeTheFile)
{
    QByteArray raw(reinterpret_cast<const char*>(broadcast.samples.data()), qsizetype(broadcast.samples.size() * 2));
    expectTruth(runScan({"--samples", samplesFile, "--freq", freqFile, "-"}, raw));
}

TEST_F(ScanFixture, UnusableAudioFilesAreErrorsAndTheOthersAreStillScanned)
{
    testkit::Pcm other;
    other.rate = 22050;
    other.appendSilence(1.0);
    testkit::writeWav(dir.file("other-rate.wav"), other);
    testkit::writeText(dir.file("text.wav"), "not audio at all");
    const ScanResult result = runScan({"--samples", samplesFile, "--freq", freqFile, QString::fromStdString(dir.file("other-rate.wav")),
                                       QString::fromStdString(dir.file("text.wav")), QString::fromStdString(dir.file("gone.wav")),
                                       QString::fromStdString(dir.file("broadcast.wav"))});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains("text.wav")) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains("gone.wav")) << result.err.toStdString();
    // Another sample rate is no reason to refuse a recording: it is scanned like the others.
    EXPECT_FALSE(result.err.contains("other-rate.wav")) << result.err.toStdString();
    EXPECT_EQ(parse(result.out).size(), truth.size());
}

TEST_F(ScanFixture, CommandLineErrorsAndHelp)
{
    const ScanResult help = runScan({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* topic : {"--samples", "--freq", "/Data=", "--live", "--device", "WrongSampleInd", "44100", "-",
                              "FILE<TAB>", "resampled", "never be found", "130", "143", "--jobs"})
        EXPECT_TRUE(help.out.contains(topic)) << topic;
    for (const QStringList& args : {QStringList{}, QStringList{"--bogus", "x.wav"}, QStringList{"--samples"},
                                    QStringList{"--live", "x.wav"}, QStringList{"--live", "--device", "two"},
                                    QStringList{"-j", "0", "x.wav"}, QStringList{"-jx", "x.wav"}, QStringList{"--jobs"}}) {
        const ScanResult result = runScan(args);
        EXPECT_EQ(result.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_FALSE(result.err.isEmpty());
    }
}

// The audio server's client library is loaded for live capture only: a scan of files never
// maps it (nor what it brings along), and --live still hears the feed through it. Nothing is
// played into the feed, whose monitor then records silence: the dead air is found live.
TEST_F(ScanFixture, TheAudioServerLibraryIsLoadedForLiveCaptureOnly)
{
    testkit::PulseServer server;
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_DEBUG", "files");  // the dynamic loader names each library it loads
        process.setProcessEnvironment(env);
        process.start(ONDRIX_BIN_DIR "/ondrix-scan", {"--samples", samplesFile, "--freq", freqFile,
                                                      QString::fromStdString(dir.file("broadcast.wav"))});
        ASSERT_TRUE(process.waitForFinished(120000));
        const QString loaded = QString::fromUtf8(process.readAllStandardError());
        EXPECT_EQ(parse(QString::fromUtf8(process.readAllStandardOutput())).size(), truth.size());
        ASSERT_TRUE(loaded.contains("libsndfile")) << "the loader's trace is missing";
        EXPECT_FALSE(loaded.contains("libpulse")) << loaded.toStdString();
    }
    QProcess live;
    live.start(ONDRIX_BIN_DIR "/ondrix-scan", {"--live", "--device", "0", "--samples", samplesFile, "--freq", freqFile});
    ASSERT_TRUE(live.waitForStarted());
    QString out;
    testkit::pollUntil(
        [&] {
            live.waitForReadyRead(100);
            out += QString::fromUtf8(live.readAllStandardOutput());
            return out.contains('\n') || live.state() == QProcess::NotRunning;
        },
        std::chrono::seconds(60));
    ::kill(pid_t(live.processId()), SIGINT);
    ASSERT_TRUE(live.waitForFinished(60000));
    EXPECT_EQ(live.exitCode(), 128 + SIGINT) << live.readAllStandardError().toStdString();
    // "dd.mm.yyyy hh:nn:ss.zzz", the sample's number and its description.
    EXPECT_TRUE(QRegularExpression("^\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\t5\tDead air\n")
                    .match(out)
                    .hasMatch())
        << out.toStdString() << live.readAllStandardError().toStdString();
}

// A day of recordings is scanned on every processor: the files scanned at once print exactly
// what they print one after another, each file's lines together and in the order given, a
// broken file's error in its place.
TEST_F(ScanFixture, FilesScannedAtOnceGiveTheOutputOfOneAtATime)
{
    testkit::writeText(dir.file("broken.wav"), "RIFF but nothing after it");
    QStringList files;
    for (int i = 0; i < 4; ++i) {
        const std::string copy = dir.file("hour-" + std::to_string(i) + ".wav");
        std::filesystem::copy_file(dir.file("broadcast.wav"), copy);
        files << QString::fromStdString(copy);
        if (i == 1)
            files << QString::fromStdString(dir.file("broken.wav"));
    }
    const QStringList args{"--samples", samplesFile, "--freq", freqFile};
    const ScanResult one = runScan(args + QStringList{"-j", "1"} + files);
    EXPECT_EQ(one.exitCode, 1);
    ASSERT_EQ(one.out.count('\n'), qsizetype(4 * truth.size())) << one.out.toStdString();
    for (const QStringList& jobs : {QStringList{"-j", "3"}, QStringList{"--jobs", "2"}, QStringList{"-j8"}, QStringList{}}) {
        SCOPED_TRACE(jobs.join(' ').toStdString());
        const ScanResult many = runScan(args + jobs + files);
        EXPECT_EQ(many.exitCode, 1);
        EXPECT_EQ(many.out, one.out);
        EXPECT_EQ(many.err, one.err);
    }
}

// The workers of -j start from the clip prints the first scanner built, landmark prints
// shared between the threads: each file still gets exactly what a scan of its own gives.
TEST_F(ScanFixture, RobustClipsScannedAtOnceGiveTheOutputOfOneAtATime)
{
    const testkit::Pcm phrase = testkit::playPhrase(testkit::makePhrase(4, 8, 0.25));
    testkit::writeWav(dir.file("phrase.wav"), phrase);
    TSampleList list;
    testkit::AddSample(list, TSampleType::File, 0, "Phrase")->Path = QString::fromStdString(dir.file("phrase.wav"));
    TSampleRec* left = testkit::AddSample(list, TSampleType::File, 1, "Phrase left");
    left->Path = QString::fromStdString(dir.file("phrase.wav"));
    left->SignalMode = TSignalMode::Left;
    ASSERT_TRUE(list.SaveToFile(samplesFile));
    QStringList files;
    for (int i = 0; i < 3; ++i) {
        testkit::Pcm programme = testkit::makeProgramme(15.0, unsigned(20 + i));
        testkit::mixAt(programme, phrase, 2.0 + 0.7 * i);
        testkit::mixAt(programme, phrase, 9.3);
        const std::string file = dir.file("robust-" + std::to_string(i) + ".wav");
        testkit::writeWav(file, programme);
        files << QString::fromStdString(file);
    }
    const QStringList args{"--samples", samplesFile, "--freq", freqFile};
    const ScanResult one = runScan(args + QStringList{"-j", "1"} + files);
    EXPECT_EQ(one.exitCode, 0) << one.err.toStdString();
    for (const QString& file : files)
        EXPECT_TRUE(one.out.contains(file + "\t")) << one.out.toStdString();
    const ScanResult many = runScan(args + QStringList{"-j", "3"} + files);
    EXPECT_EQ(many.exitCode, 0);
    EXPECT_EQ(many.out, one.out);
    EXPECT_EQ(many.err, one.err);
}

// A jingle on air starts wherever it starts, not on a block boundary of the scan: found once
// in every file, whatever its offset to the blocks.
TEST_F(ScanFixture, JingleIsFoundWhereverItStarts)
{
    const testkit::Pcm clip = testkit::makeClip(7, 1.5);
    QStringList files;
    for (int offset = 0; offset < 2048; offset += 97) {
        testkit::Pcm pcm = testkit::makeProgramme(3.0, unsigned(offset));
        testkit::mixAt(pcm, clip, 1.0 + offset / 44100.0);
        const std::string file = dir.file("offset-" + std::to_string(offset) + ".wav");
        testkit::writeWav(file, pcm);
        files << QString::fromStdString(file);
    }
    const ScanResult result = runScan(QStringList{"--samples", samplesFile, "--freq", freqFile} + files);
    EXPECT_EQ(result.out.count("\tJingle"), files.size()) << result.out.toStdString();
}

// Logger recordings are often made at 48, 32 or 22.05 kHz, in mono or stereo: each is heard at
// the engine's rate, and its jingle, cue and dead air are printed at the file's own times, as
// they are in the recording it was made from.
TEST(ScanRates, RecordingsAtAnyRateAreScannedInTheirOwnTime)
{
    testkit::TempDir dir;
    testkit::Pcm programme = testkit::makeProgramme(30.0, 5);
    const testkit::Pcm jingle = testkit::playPhrase(testkit::makePhrase(3, 8, 0.25));
    testkit::writeWav(dir.file("jingle.wav"), jingle);
    testkit::mixAt(programme, jingle, 4.0);
    testkit::mixAt(programme, testkit::makeDtmf("159", 0.12, 0.06), 14.0);
    testkit::silence(programme, 21.0, 4.0);
    const std::string original = dir.file("programme.wav");
    testkit::writeWav(original, programme);

    TSampleList list;
    testkit::AddSample(list, TSampleType::File, 0, "Jingle")->Path = QString::fromStdString(dir.file("jingle.wav"));
    testkit::AddSample(list, TSampleType::Command, 1, "Cue")->Command = "1,5,9";
    TSampleRec* air = testkit::AddSample(list, TSampleType::Silence, 2, "Dead air");
    air->SignalTime = 2.0;
    air->SignaldB = -50;
    const QString samples = QString::fromStdString(dir.file("Samples.ini"));
    ASSERT_TRUE(list.SaveToFile(samples));
    const auto scan = [&](const std::string& file) {
        return runScan({"--samples", samples, "--freq", ONDRIX_SOURCE_DIR "/resources/Ini_Def/Freq.ini",
                        QString::fromStdString(file)});
    };
    const ScanResult reference = scan(original);
    ASSERT_EQ(reference.exitCode, 0) << reference.err.toStdString();
    const std::vector<Detection> expected = parse(reference.out);
    ASSERT_EQ(expected.size(), 3u) << reference.out.toStdString();

    struct Case {
        int rate, channels;
    };
    for (const Case c : {Case{48000, 1}, Case{32000, 2}, Case{22050, 2}, Case{22050, 1}}) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " channel(s)");
        // Made as a logger's recording is: by another program's resampler.
        const std::string recording = dir.file("recording.wav");
        const testkit::ProcessResult sox = testkit::runProcess(
            {"sox", original, "-r", std::to_string(c.rate), "-c", std::to_string(c.channels), recording});
        ASSERT_EQ(sox.exitCode, 0) << sox.err;
        const ScanResult result = scan(recording);
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        const std::vector<Detection> found = parse(result.out);
        ASSERT_EQ(found.size(), expected.size()) << result.out.toStdString();
        for (size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i].number, expected[i].number) << result.out.toStdString();
            EXPECT_NEAR(found[i].seconds, expected[i].seconds, Block) << result.out.toStdString();
        }
    }
}

// The README's worked example: the project's demo script writes a broadcast and a sample list,
// and the scanner finds the jingle twice, the cue and the dead air.
TEST(ScanDemo, TheReadmeExampleFindsEveryEvent)
{
    testkit::TempDir dir;
    const QString folder = QString::fromStdString(dir.file("demo"));
    QProcess script;
    script.start("python3", {ONDRIX_SOURCE_DIR "/scripts/make-demo.py", folder});
    ASSERT_TRUE(script.waitForFinished(300000));
    ASSERT_EQ(script.exitCode(), 0) << script.readAllStandardError().toStdString();
    const ScanResult result = runScan({"--samples", folder + "/Samples.ini", "--freq", ONDRIX_SOURCE_DIR "/resources/Ini_Def/Freq.ini",
                                       folder + "/broadcast.wav"});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
    const auto found = parse(result.out);
    const std::vector<Detection> expected = {{11.5, "1", "Jingle"}, {25.4, "2", "Cue"}, {41.5, "1", "Jingle"}, {52.1, "3", "Dead air"}};
    ASSERT_EQ(found.size(), expected.size()) << result.out.toStdString();
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(found[i].seconds, expected[i].seconds, 0.1) << i;
        EXPECT_EQ(found[i].number, expected[i].number) << i;
        EXPECT_EQ(found[i].description, expected[i].description) << i;
    }
}

// The scanner's whole output on a generated programme, compared with the output stored in
// tests/tools/golden/scan.txt: every detection, its time and its order, for clips and commands
// of both methods, silence and a level on one channel, from a WAV and from an MP3 of it. A change
// meant to make the engine faster must leave it as it is. A change meant to alter detection
// rewrites it with
//     ONDRIX_UPDATE_GOLDEN=1 build/bin/test_tools --gtest_filter='ScanGolden.*'
// and the commit says why the detections moved.
TEST(ScanGolden, OutputOnAGeneratedProgrammeIsTheStoredOne)
{
    testkit::TempDir dir;
    testkit::Pcm programme = testkit::makeProgramme(90.0, 11);
    const testkit::Pcm robust = testkit::playPhrase(testkit::makePhrase(4, 8, 0.25));
    const testkit::Pcm spectral = testkit::makeClip(5, 1.5, 0.2);
    testkit::writeWav(dir.file("robust.wav"), robust);
    testkit::writeWav(dir.file("spectral.wav"), spectral);
    testkit::mixAt(programme, robust, 10.0);
    testkit::Pcm quieter = robust;
    testkit::gain(quieter, -8.0);
    testkit::mixAt(programme, quieter, 55.3);
    testkit::mixAt(programme, spectral, 30.0);
    testkit::mixAt(programme, spectral, 62.1);
    testkit::mixAt(programme, testkit::makeDtmf("159", 0.12, 0.06), 20.0);
    testkit::mixAt(programme, testkit::makeDtmfSent("2468", 0.1, 0.1, -20.0, 2.0), 70.0);
    testkit::Pcm burst;
    burst.appendTones(2.0, {440.0, 660.0}, 0.45);
    testkit::mixAt(programme, burst, 40.0);
    testkit::silence(programme, 80.0, 4.0);
    testkit::writeWav(dir.file("programme.wav"), programme);
    testkit::encodeMp3(dir.file("programme.wav"), dir.file("programme.mp3"));

    TSampleList list;
    TSampleRec* rec = testkit::AddSample(list, TSampleType::File, 0, "Robust jingle");
    rec->Path = QString::fromStdString(dir.file("robust.wav"));
    rec = testkit::AddSample(list, TSampleType::File, 1, "Spectral jingle");
    rec->Path = QString::fromStdString(dir.file("spectral.wav"));
    rec->Method = TDetectMethod::Spectral;
    rec = testkit::AddSample(list, TSampleType::Command, 2, "Cue 159");
    rec->Command = "1,5,9";
    rec = testkit::AddSample(list, TSampleType::Command, 3, "Cue 2468 spectral");
    rec->Command = "2,4,6,8";
    rec->Method = TDetectMethod::Spectral;
    rec = testkit::AddSample(list, TSampleType::Silence, 4, "Dead air");
    rec->SignalTime = 2.0;
    rec->SignaldB = -50;
    rec = testkit::AddSample(list, TSampleType::Signal, 5, "Loud on the right");
    rec->SignalMode = TSignalMode::Right;
    rec->SignalTime = 1.0;
    rec->SignaldB = -6;
    rec = testkit::AddSample(list, TSampleType::File, 6, "Robust jingle, left");
    rec->Path = QString::fromStdString(dir.file("robust.wav"));
    rec->SignalMode = TSignalMode::Left;
    const QString samples = QString::fromStdString(dir.file("Samples.ini"));
    ASSERT_TRUE(list.SaveToFile(samples));

    QString output;
    for (const char* file : {"programme.wav", "programme.mp3"}) {
        const ScanResult result = runScan({"-j", "1", "--samples", samples, "--freq", ONDRIX_SOURCE_DIR "/resources/Ini_Def/Freq.ini",
                                           QString::fromStdString(dir.file(file))});
        ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
        output += QString("# %1\n").arg(file) + result.out;
    }
    const std::string stored = ONDRIX_SOURCE_DIR "/tests/tools/golden/scan.txt";
    if (std::getenv("ONDRIX_UPDATE_GOLDEN")) {
        std::filesystem::create_directories(std::filesystem::path(stored).parent_path());
        testkit::writeText(stored, output.toStdString());
    }
    ASSERT_TRUE(std::filesystem::exists(stored)) << "no stored output: run with ONDRIX_UPDATE_GOLDEN=1";
    EXPECT_EQ(output.toStdString(), testkit::readText(stored));
}
