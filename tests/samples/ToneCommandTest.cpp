// Commands of the default frequency table recognised by the tone-set detector (the Robust
// method), fed with generated key presses the way the engine analyses a feed: blocks of 2048
// frames every 1024 frames at 44.1 kHz.

#include "audio/AudioDetector.h"
#include "audio/AudioFFT.h"
#include "helpers/Broadcast.h"
#include "samples/Class_Frequency.h"
#include "samples/Class_SampleRec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr int32_t Rate = 44100;
constexpr size_t BlockFrames = 2048;
constexpr size_t HopFrames = BlockFrames / 2;

const TFrequencyRecArr& DefaultTable()
{
    static const TFrequencyRecArr Table = [] {
        TFrequencyRecArr Loaded;
        LoadFrequencyTable(Loaded, QStringLiteral(ONDRIX_SOURCE_DIR "/resources/Ini_Def/Freq.ini"));
        return Loaded;
    }();
    return Table;
}

// A command sample of the default table: "1,2,3" for the symbols "123".
TSampleRec Command(const std::string& Symbols, int Speed = 5, TDetectMethod Method = TDetectMethod::Robust, int Sense = 50)
{
    TSampleRec Sample;
    Sample.Type = TSampleType::Command;
    Sample.Method = Method;
    Sample.CommandSpeed = Speed;
    Sample.Sense = Sense;
    QStringList Items;
    for (char Symbol : Symbols)
        Items.append(QString(QChar(Symbol)));
    Sample.Command = Items.join(u',');
    return Sample;
}

struct TWatched {
    TSampleRec Sample;
    const TFrequencyRecArr* Table = &DefaultTable();
};

// The stream times (ms) of the blocks in which each sample's sequence, built over its table,
// was found over Pcm, preceded by 0.2 s and followed by 0.5 s of silence. The sequences are
// stepped together and share the block's tone measures, as the engine steps them.
std::vector<std::vector<double>> FoundAt(const std::vector<TWatched>& Samples, const testkit::Pcm& Sent)
{
    testkit::Pcm Pcm;
    Pcm.appendSilence(0.2);
    Pcm.samples.insert(Pcm.samples.end(), Sent.samples.begin(), Sent.samples.end());
    Pcm.appendSilence(0.5);

    TAudioSequenceList Sequences;
    for (const TWatched& Watched : Samples)
        if (!BuildCommandSequence(Watched.Sample, *Watched.Table, Sequences.AddNew()))
            throw std::runtime_error("the command could not be built");
    TSignalModes Channels;
    for (const TAudioSequence& Sequence : Sequences)
        Channels.Include(Sequence.Channel);
    TAudioFFT FFT;
    FFT.SetChannels(Channels);
    TToneAnalysis Tones;
    std::vector<std::vector<double>> Found(Samples.size());
    for (size_t Start = 0; Start + BlockFrames <= Pcm.frames(); Start += HopFrames) {
        FFT.Process(Pcm.samples.data() + Start * 2, int32_t(BlockFrames * 4));
        // The engine's clock counts the frames received, the block's second buffer included.
        const double Ms = 1000.0 * double(Start + BlockFrames) / Rate;
        const TStepInput Input{.Analyser = &FFT, .FrameRate = Rate, .Now = IncMilliseconds(46000.0, Ms), .Tones = &Tones};
        for (int32_t I = 0; I < Sequences.Count(); ++I)
            if (StepSequence(Sequences.Items(I), Input))
                Found[size_t(I)].push_back(Ms - 200.0);
    }
    return Found;
}

std::vector<std::vector<double>> FoundAt(const std::vector<TSampleRec>& Samples, const testkit::Pcm& Sent)
{
    std::vector<TWatched> Watched;
    for (const TSampleRec& Sample : Samples)
        Watched.push_back({Sample});
    return FoundAt(Watched, Sent);
}

std::vector<double> FoundAt(const TSampleRec& Sample, const testkit::Pcm& Sent)
{
    return FoundAt(std::vector<TSampleRec>{Sample}, Sent).front();
}

enum class TBed { None, Speech, Music, Note, Chord, Vowel };

struct TSent {
    std::string Symbols;
    double OnMs = 100, OffMs = 100;
    double LevelDb = -20, TwistDb = 0, Error = 0;
    TBed Bed = TBed::None;
    double BedDb = 0;   // the bed's RMS against the tones'
    double NoteHz = 0;  // TBed::Note: the bed is one steady sine; Vowel: its fundamental
    double OtherHz = 0; // TBed::Chord: the bed is NoteHz and OtherHz, OtherHz OtherDb louder
    double OtherDb = 0;
};

testkit::Pcm Send(const TSent& Sent)
{
    testkit::Pcm Pcm = testkit::makeDtmfSent(Sent.Symbols, Sent.OnMs / 1000, Sent.OffMs / 1000, Sent.LevelDb,
                                             Sent.TwistDb, Sent.Error);
    if (Sent.Bed == TBed::Speech)
        testkit::addBed(Pcm, testkit::makeSpeechLike(4.0, 11, -20), Sent.BedDb);
    else if (Sent.Bed == TBed::Music)
        testkit::addBed(Pcm, testkit::makeMusicLike(4.0, 5, -20), Sent.BedDb);
    else if (Sent.Bed == TBed::Note) {
        testkit::Pcm Note;
        Note.appendTones(4.0, {Sent.NoteHz}, 0.1);
        testkit::addBed(Pcm, Note, Sent.BedDb);
    } else if (Sent.Bed == TBed::Chord) {
        testkit::Pcm Chord;
        const double Other = 0.1 * std::pow(10.0, Sent.OtherDb / 20);
        Chord.append(4.0, [&](int, size_t N) {
            const double T = double(N) / Rate;
            return int16_t(std::lround(32767 * (0.1 * std::sin(2 * std::acos(-1.0) * Sent.NoteHz * T)
                                                + Other * std::sin(2 * std::acos(-1.0) * Sent.OtherHz * T + 1.0))));
        });
        testkit::addBed(Pcm, Chord, Sent.BedDb);
    } else if (Sent.Bed == TBed::Vowel) {
        // A held vowel whose lower harmonics carry its sound below the band of the tones.
        std::vector<double> Amplitudes(16, 0.005);
        for (size_t K = 0; K < 4; ++K)
            Amplitudes[K] = 0.08;
        testkit::addBed(Pcm, testkit::makeVowel(Sent.NoteHz, Amplitudes, 4.0), Sent.BedDb);
    }
    return Pcm;
}

struct TCase {
    const char* Name;
    std::string Command;
    int Speed;
    TSent Sent;
    size_t Found;
};

TEST(ToneCommand, GeneratedTonesAreFoundExactlyAsOftenAsSent)
{
    const TCase Cases[] = {
        {"one press of 100 ms is one command", "5", 5, {"5"}, 1},
        {"a press of 40 ms", "5", 5, {"5", 40}, 1},
        {"a press of 500 ms is still one", "5", 5, {"5", 500}, 1},
        {"three presses are three", "5", 5, {"555", 100, 200}, 3},
        {"presses 40 ms apart stay apart", "5", 10, {"555", 60, 40}, 3},
        {"-35 dBFS per tone", "5", 5, {"5", 100, 100, -35}, 1},
        {"-30 dBFS per tone", "159", 5, {"159", 100, 100, -30}, 1},
        {"-55 dBFS is below the floor", "5", 5, {"5", 100, 100, -55}, 0},
        {"full scale", "D", 5, {"D", 100, 100, -6.1}, 1},
        {"high tone 6 dB louder", "2", 5, {"2", 100, 100, -20, 6}, 1},
        {"high tone 6 dB softer", "2", 5, {"2", 100, 100, -20, -6}, 1},
        {"high tone 14 dB louder", "2", 5, {"2", 100, 100, -20, 14}, 0},
        {"high tone 14 dB softer", "2", 5, {"2", 100, 100, -20, -14}, 0},
        {"1.5 % high", "1A", 5, {"1A", 100, 100, -20, 0, 0.015}, 1},
        {"1.5 % low", "1A", 5, {"1A", 100, 100, -20, 0, -0.015}, 1},
        {"3.5 % high", "1", 5, {"1", 100, 100, -20, 0, 0.035}, 0},
        {"3.5 % low", "1", 5, {"1", 100, 100, -20, 0, -0.035}, 0},
        {"3.5 % low, highest keys", "D", 5, {"D", 100, 100, -20, 0, -0.035}, 0},
        {"ten digits at the set speed 5", "1234567890", 5, {"1234567890", 100, 100}, 1},
        {"ten digits at the set speed 10", "1234567890", 10, {"1234567890", 50, 50}, 1},
        {"20 % faster than speed 5", "1234567890", 5, {"1234567890", 83, 84}, 1},
        {"20 % slower than speed 5", "1234567890", 5, {"1234567890", 125, 125}, 1},
        {"20 % faster than speed 10", "*0#", 10, {"*0#", 42, 42}, 1},
        {"20 % slower than speed 10", "*0#", 10, {"*0#", 62, 63}, 1},
        {"twice slower than speed 5 is not the command", "123", 5, {"123", 200, 200}, 0},
        {"a repeated symbol needs two presses", "55", 5, {"55", 100, 100}, 1},
        {"one long press is not a repeated symbol", "55", 5, {"5", 600}, 0},
        {"another order is not the command", "123", 5, {"321", 100, 100}, 0},
        {"speech bed 10 dB under", "147", 5, {"147", 100, 100, -20, 0, 0, TBed::Speech, -10}, 1},
        {"speech bed 5 dB under", "147", 5, {"147", 100, 100, -20, 0, 0, TBed::Speech, -5}, 1},
        {"music bed 10 dB under", "258", 5, {"258", 100, 100, -20, 0, 0, TBed::Music, -10}, 1},
        // A bed whose sound lies below the band of the tones, louder than they are.
        {"a bass note 6 dB over the tones", "159", 5, {"159", 100, 100, -20, 0, 0, TBed::Note, 6, 110}, 1},
        // E6 of a bed, 1.3 % below the column tone of "0", 9 dB under the tones of "*".
        {"a bed's note beside another key's tone", "*", 5, {"*", 100, 100, -20, 0, 0, TBed::Note, -12, 1318.5}, 1},
        // Two keys at once: the tone of "0" exactly, 9 dB under the tones of "*".
        {"another key's tone held under the set", "*", 5, {"*", 100, 100, -20, 0, 0, TBed::Note, -12, 1336}, 0},
        // A bed as loud as the tones whose notes E5 and E6 lie 38 and 18 Hz below the tones of
        // "2", E6 4 dB louder than E5: within a bin or two of each, merged into their lobes.
        {"a bed's notes beside both tones", "2", 5, {"2", 100, 100, -20, 0, 0, TBed::Chord, 3, 659.3, 1318.5, 4}, 1},
        {"two presses under the same bed", "22", 5, {"22", 100, 100, -20, 0, 0, TBed::Chord, 0, 659.3, 1318.5, 4}, 1},
        // A voice at 113 Hz as loud as the tones of "4" (770 and 1209 Hz, the 7th and 11th
        // harmonics of 110 Hz): its own harmonics lie 3 % off the tones.
        {"a voice near a fundamental of the tones", "4", 5, {"4", 100, 100, -20, 0, 0, TBed::Vowel, 0, 113}, 1},
        {"a voice at a fundamental of the tones, 10 dB under", "4", 5, {"4", 100, 100, -20, 0, 0, TBed::Vowel, -10, 110}, 1},
    };
    for (const TCase& C : Cases) {
        const std::vector<double> Found = FoundAt(Command(C.Command, C.Speed), Send(C.Sent));
        EXPECT_EQ(Found.size(), C.Found) << C.Name;
    }
}

// Samples watching the same tones share what a block holds of them only where they ask for
// it alike: with another Sense or FreqDelta each keeps its own verdict, and samples asking
// alike each fire.
TEST(ToneCommand, SamplesOverTheSameTonesKeepTheirOwnLimits)
{
    TFrequencyRecArr Narrow = DefaultTable();
    for (TFrequencyRec& Rec : Narrow)
        for (qint32& Delta : Rec.FreqDelta)
            Delta = 8;
    struct TSample { int Sense; bool NarrowTable; size_t Found; };
    struct TShared { const char* Name; std::string Command; TSent Sent; std::vector<TSample> Samples; };
    const TShared Cases[] = {
        {"-52 dBFS per tone", "5", {"5", 100, 100, -52},
         {{50, false, 0}, {100, false, 1}, {100, false, 1}, {100, true, 1}, {0, false, 0}}},
        {"-35 dBFS per tone", "5", {"5", 100, 100, -35}, {{0, false, 0}, {50, false, 1}, {50, true, 1}, {50, false, 1}}},
        {"1.5 % high", "1A", {"1A", 100, 100, -20, 0, 0.015},
         {{50, false, 1}, {50, true, 0}, {50, false, 1}, {100, true, 0}}},
        {"exact tones", "1A", {"1A", 100, 100, -20}, {{50, true, 1}, {50, false, 1}, {0, true, 1}}},
        {"high tone 8.5 dB louder", "2", {"2", 100, 100, -20, 8.5}, {{100, false, 1}, {50, false, 0}, {100, false, 1}}},
    };
    for (const TShared& C : Cases) {
        std::vector<TWatched> Samples;
        for (const TSample& Each : C.Samples)
            Samples.push_back({Command(C.Command, 5, TDetectMethod::Robust, Each.Sense), Each.NarrowTable ? &Narrow : &DefaultTable()});
        const auto Found = FoundAt(Samples, Send(C.Sent));
        for (size_t I = 0; I < C.Samples.size(); ++I)
            EXPECT_EQ(Found[I].size(), C.Samples[I].Found)
                << C.Name << ": Sense " << C.Samples[I].Sense << (C.Samples[I].NarrowTable ? ", FreqDelta 8" : "");
    }
}

// The command is found in the block that completes its last symbol: after the last symbol
// began, never before, and within two blocks of it.
TEST(ToneCommand, FoundInTheBlockOfTheLastSymbol)
{
    struct TTiming { const char* Name; int Speed; TSent Sent; double LastStartMs; };
    const TTiming Cases[] = {
        {"100 ms presses", 5, {"1234", 100, 100}, 600},
        {"40 ms presses", 10, {"1234", 40, 60}, 300},
        {"250 ms presses", 3, {"1234", 250, 83}, 999},
    };
    for (const TTiming& C : Cases) {
        const std::vector<double> Found = FoundAt(Command("1234", C.Speed), Send(C.Sent));
        ASSERT_EQ(Found.size(), 1u) << C.Name;
        EXPECT_GT(Found[0], C.LastStartMs) << C.Name;
        EXPECT_LE(Found[0], C.LastStartMs + 2 * 1000.0 * BlockFrames / Rate) << C.Name;
    }
}

// Held vowels of a voice whose strong harmonics fall on the two tones of a key while its lower
// harmonics carry little more than they do: the 6th and 14th of 116.2 Hz on "A" (697 and
// 1626 Hz), the 7th and 12th of 100.75 Hz on "1" (705 and 1209 Hz).
testkit::Pcm Vowels()
{
    const auto Voice = [](std::initializer_list<int> Strong, int Low) {
        std::vector<double> Amplitudes(20, 0.004);
        for (int K = 1; K <= Low; ++K)
            Amplitudes[size_t(K - 1)] = 0.05;
        for (int K : Strong)
            Amplitudes[size_t(K - 1)] = 0.1;
        return Amplitudes;
    };
    testkit::Pcm Pcm;
    for (int Repeat = 0; Repeat < 3; ++Repeat) {
        for (const testkit::Pcm& Vowel : {testkit::makeVowel(697.0 / 6, Voice({6, 14}, 5), 0.5),
                                          testkit::makeVowel(100.75, Voice({7, 12}, 6), 0.5)}) {
            Pcm.samples.insert(Pcm.samples.end(), Vowel.samples.begin(), Vowel.samples.end());
            Pcm.appendSilence(0.3);
        }
    }
    return Pcm;
}

// Speech and music without commands: not one symbol of the table is taken from them, and
// no command of three symbols.
TEST(ToneCommand, SpeechAndMusicDoNotTalkOff)
{
    std::vector<TSampleRec> Samples;
    for (const TFrequencyRec& Symbol : DefaultTable())
        Samples.push_back(Command(Symbol.ID.toStdString()));
    for (const char* Symbols : {"123", "159", "*0#", "A5D", "789", "000"})
        Samples.push_back(Command(Symbols));
    struct TProgramme { const char* Name; testkit::Pcm Pcm; };
    const TProgramme Programmes[] = {
        {"low voice", testkit::makeSpeechLike(30.0, 1, -18, 85)},
        {"middle voice", testkit::makeSpeechLike(30.0, 2, -18, 140)},
        {"high voice", testkit::makeSpeechLike(30.0, 3, -18, 210)},
        {"loud voice", testkit::makeSpeechLike(30.0, 4, -8, 120)},
        {"music", testkit::makeMusicLike(30.0, 6, -14)},
        {"other music", testkit::makeMusicLike(30.0, 7, -14)},
        {"vowels on the tones of keys", Vowels()},
    };
    for (const TProgramme& Programme : Programmes) {
        const auto Found = FoundAt(Samples, Programme.Pcm);
        for (size_t I = 0; I < Samples.size(); ++I)
            EXPECT_EQ(Found[I].size(), 0u) << Programme.Name << ": " << Samples[I].Command.toStdString();
    }
}

}  // namespace
