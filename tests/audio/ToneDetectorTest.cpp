// The measures the tone-set detector takes from a block: a tone's power and frequency from the
// Hann-windowed spectrum, how steady it is, and the power of a band.

#include "audio/AudioDetector.h"
#include "audio/AudioFFT.h"
#include "audio/ToneDetector.h"
#include "helpers/TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr int32_t Rate = 44100;
constexpr double BlockSeconds = 2048.0 / Rate;

struct TSine {
    double Hz, Amplitude;  // amplitude as a share of full scale
};

// A block of 2048 frames holding the sines from its frame From on (silence before).
testkit::Pcm Block(const std::vector<TSine>& Sines, double FromSeconds = 0)
{
    testkit::Pcm Pcm;
    Pcm.appendSilence(FromSeconds);
    const double TwoPi = 2 * std::acos(-1.0);
    Pcm.append(BlockSeconds - FromSeconds, [&](int, size_t N) {
        double V = 0;
        for (const TSine& Sine : Sines)
            V += Sine.Amplitude * std::sin(TwoPi * Sine.Hz * double(N) / Rate + 0.3);
        return int16_t(std::lround(V * 32767));
    });
    return Pcm;
}

TEST(ToneAnalysis, MeasuresEachToneWhereverItFallsBetweenBins)
{
    struct TCase { double Hz, Amplitude; };
    // 697 Hz lies a third of a bin above bin 32, 1336 Hz a half bin above 61, 1033.6 Hz on bin 48.
    const TCase Cases[] = {{697, 0.3}, {1336, 0.01}, {1033.59375, 0.1}, {941.5, 0.0178}, {1633, 0.5}};
    for (const TCase& C : Cases) {
        const testkit::Pcm Pcm = Block({{C.Hz, C.Amplitude}});
        TAudioFFT FFT;
        FFT.SetChannels({TSignalMode::Right});
        FFT.Process(Pcm.samples.data(), int32_t(Pcm.samples.size() * 2));
        TToneAnalysis Analysis;
        Analysis.Use(&FFT, Rate);
        const TToneLevel Level = Analysis.Tone(TSignalMode::Right, int32_t(std::lround(C.Hz)), 30);
        const double Expected = std::pow(C.Amplitude * 32767, 2);
        EXPECT_NEAR(Level.Power / Expected, 1.0, 0.03) << C.Hz;
        EXPECT_NEAR(Level.Frequency, C.Hz, 1.0) << C.Hz;
        EXPECT_LT(Level.Spread, 0.03) << C.Hz;
        // Both tones' power is the band's power.
        EXPECT_NEAR(Analysis.BandPower(TSignalMode::Right, 500, 2000) / Expected, 1.0, 0.03) << C.Hz;
    }
}

TEST(ToneAnalysis, BandHoldsEveryToneInIt)
{
    const testkit::Pcm Pcm = Block({{697, 0.1}, {1209, 0.2}, {3000, 0.3}});
    TAudioFFT FFT;
    FFT.SetChannels({TSignalMode::Left});
    FFT.Process(Pcm.samples.data(), int32_t(Pcm.samples.size() * 2));
    TToneAnalysis Analysis;
    Analysis.Use(&FFT, Rate);
    const double Unit = std::pow(0.1 * 32767, 2);
    struct TBand { int32_t Lo, Hi; double Units; };
    const TBand Bands[] = {{500, 2000, 5}, {500, 1000, 1}, {1000, 4000, 13}, {4000, 8000, 0}};
    for (const TBand& Band : Bands)
        EXPECT_NEAR(Analysis.BandPower(TSignalMode::Left, Band.Lo, Band.Hi) / Unit, Band.Units, 0.1) << Band.Lo;
    // The measures are kept for the block and dropped with the next one.
    EXPECT_GT(Analysis.Tone(TSignalMode::Left, 697, 20).Power, 0);
    const testkit::Pcm Quiet = Block({});
    FFT.Process(Quiet.samples.data(), int32_t(Quiet.samples.size() * 2));
    Analysis.Use(&FFT, Rate);
    EXPECT_EQ(Analysis.Tone(TSignalMode::Left, 697, 20).Power, 0);
    EXPECT_EQ(Analysis.BandPower(TSignalMode::Left, 500, 2000), 0);
}

TEST(ToneAnalysis, AGlidingOrCutToneSpreadsBeyondItsLobe)
{
    TAudioFFT FFT;
    FFT.SetChannels({TSignalMode::Left});
    TToneAnalysis Analysis;
    const auto SpreadOf = [&](const testkit::Pcm& Pcm) {
        FFT.Process(Pcm.samples.data(), int32_t(Pcm.samples.size() * 2));
        Analysis.Use(&FFT, Rate);
        return Analysis.Tone(TSignalMode::Left, 1000, 30).Spread;
    };
    // A voice's harmonic about 1000 Hz gliding by Share of it within the block.
    const auto Glide = [](double Share) {
        testkit::Pcm Pcm;
        double Phase = 0;
        Pcm.append(BlockSeconds, [&](int Channel, size_t N) {
            if (Channel == 0)
                Phase += 2 * std::acos(-1.0) * 1000 * (1 - Share / 2 + Share * double(N) / 2048) / Rate;
            return int16_t(std::lround(0.2 * 32767 * std::sin(Phase)));
        });
        return Pcm;
    };
    struct TCase { const char* Name; testkit::Pcm Pcm; double Least, Most; };
    const TCase Cases[] = {
        {"steady", Block({{1000, 0.2}}), 0, 0.03},
        {"gliding 10 %", Glide(0.10), 0.1, 100},
        {"gliding 20 %", Glide(0.20), 0.3, 100},
        {"cut to the last third", Block({{1000, 0.2}}, BlockSeconds * 2 / 3), 0.3, 100},
    };
    for (const TCase& C : Cases) {
        const double Spread = SpreadOf(C.Pcm);
        EXPECT_GE(Spread, C.Least) << C.Name;
        EXPECT_LE(Spread, C.Most) << C.Name;
    }
}

// A tone with a steady partial beside it, closer than the window's lobe: told apart with
// each one's power and frequency; a lone sine, or a tone with a partial far weaker or far
// louder than itself, is left as it is measured.
TEST(ToneAnalysis, ResolvesAToneFromAPartialBesideIt)
{
    struct TCase {
        const char* Name;
        std::vector<TSine> Sines;
        int32_t Frequency, Tolerance;
        bool Resolved;
        double ToneHz, ToneAmplitude, BesideHz, BesideAmplitude;
    };
    const TCase Cases[] = {
        {"E6 18 Hz below 1336 Hz, 4 dB louder", {{1336, 0.1}, {1318.5, 0.158}}, 1336, 20, true, 1336, 0.1, 1318.5, 0.158},
        {"E5 38 Hz below 697 Hz", {{697, 0.1}, {659.3, 0.1}}, 697, 13, true, 697, 0.1, 659.3, 0.1},
        {"a partial above, the tone 1 % high", {{1221, 0.05}, {1250, 0.08}}, 1209, 20, true, 1221, 0.05, 1250, 0.08},
        // 2 % of 4100 Hz reaches past the bins fitted about the tone.
        {"the widest tolerance at 4100 Hz", {{4100, 0.1}, {4125, 0.1}}, 4100, 82, true, 4100, 0.1, 4125, 0.1},
        {"a lone sine", {{1336, 0.1}}, 1336, 20, false, 0, 0, 0, 0},
        {"a lone sine 1.5 % high", {{707.5, 0.1}}, 697, 13, false, 0, 0, 0, 0},
        {"a partial 20 dB under the tone", {{1336, 0.1}, {1318.5, 0.01}}, 1336, 20, false, 0, 0, 0, 0},
        {"a tone 20 dB under the partial", {{1336, 0.01}, {1318.5, 0.1}}, 1336, 20, false, 0, 0, 0, 0},
    };
    for (const TCase& C : Cases) {
        const testkit::Pcm Pcm = Block(C.Sines);
        TAudioFFT FFT;
        FFT.SetChannels({TSignalMode::Left});
        FFT.Process(Pcm.samples.data(), int32_t(Pcm.samples.size() * 2));
        TToneAnalysis Analysis;
        Analysis.Use(&FFT, Rate);
        const TResolvedTone Tone = Analysis.Resolve(TSignalMode::Left, C.Frequency, C.Tolerance);
        ASSERT_EQ(Tone.Resolved, C.Resolved) << C.Name;
        if (!C.Resolved)
            continue;
        EXPECT_NEAR(Tone.Tone.Frequency, C.ToneHz, 1.0) << C.Name;
        EXPECT_NEAR(Tone.BesideFrequency, C.BesideHz, 1.0) << C.Name;
        EXPECT_NEAR(std::sqrt(Tone.Tone.Power) / 32767, C.ToneAmplitude, 0.1 * C.ToneAmplitude) << C.Name;
        EXPECT_NEAR(std::sqrt(Tone.BesidePower) / 32767, C.BesideAmplitude, 0.1 * C.BesideAmplitude) << C.Name;
        EXPECT_LT(Tone.Tone.Spread, 0.01) << C.Name;
    }
}

// A tone set of own tones and other tones of its table, each (Hz, tolerance in Hz).
TToneSet SetOf(const std::vector<std::pair<int32_t, int32_t>>& Own, const std::vector<std::pair<int32_t, int32_t>>& Others)
{
    TToneSet Set;
    for (const auto& [Hz, Within] : Own)
        Set.Tones.push_back({Hz, Within, Within});
    Set.Present = Set.Tones.size();
    for (const auto& [Hz, Within] : Others)
        Set.Tones.push_back({Hz, Within, Within});
    Set.MinPower = std::pow(0.005 * 32767, 2);
    Set.LooseRival = 0.4;
    return Set;
}

// What a set reads of its tones by their place in the analysis's register is what the analysis
// measures of them looked up by frequency and tolerance: for tones other sets share at another
// tolerance, in the other channel than the one the set was bound for, in another analysis than
// the one it was bound to, in the next block, and once the register has filled and started over.
TEST(ToneAnalysis, SetTonesReadByPlaceAreTheTonesLookedUp)
{
    // Stereo blocks: the left and right channels hold other tones.
    const auto Stereo = [](const std::vector<TSine>& Left, const std::vector<TSine>& Right) {
        testkit::Pcm Pcm;
        const double TwoPi = 2 * std::acos(-1.0);
        Pcm.append(BlockSeconds, [&](int Channel, size_t N) {
            double V = 0;
            for (const TSine& Sine : Channel == 0 ? Left : Right)
                V += Sine.Amplitude * std::sin(TwoPi * Sine.Hz * double(N) / Rate + 0.3);
            return int16_t(std::lround(V * 32767));
        });
        return Pcm;
    };
    // 707 Hz lies within 14 Hz of 697 Hz, beyond 8 Hz.
    const testkit::Pcm Blocks[] = {
        Stereo({{707, 0.2}, {1209, 0.1}, {770, 0.01}}, {{1336, 0.2}, {697, 0.05}}),
        Stereo({{1336, 0.1}}, {{707, 0.3}, {1209, 0.3}}),
        Stereo({{697, 0.2}, {1336, 0.2}, {852, 0.02}}, {}),
    };
    std::vector<TToneSet> Sets = {
        SetOf({{697, 14}, {1209, 24}}, {{770, 15}, {1336, 26}}),
        SetOf({{697, 8}, {1209, 24}}, {{770, 15}}),
        SetOf({{1336, 26}}, {{697, 14}, {852, 17}}),
        SetOf({{697, 14}, {1336, 26}}, {{852, 17}, {1209, 24}}),
    };
    // Sets of one tone each, more than the register holds.
    std::vector<TToneSet> Many;
    for (int32_t Hz = 600; Hz < 1500; Hz += 3)
        Many.push_back(SetOf({{Hz, 10}}, {}));
    const TSignalMode Modes[] = {TSignalMode::Left, TSignalMode::Right};
    const auto Same = [](const TToneLevel& A, const TToneLevel& B) {
        return A.Power == B.Power && A.Frequency == B.Frequency && A.Spread == B.Spread;
    };
    // Every tone of every set read by place and looked up (in a fresh analysis, which looks it
    // up), in both channels, and the first check on the set's powers alike.
    const auto Check = [&](TToneAnalysis& Analysis, const TAudioFFT& FFT, std::vector<TToneSet>& Of, const char* Step,
                           size_t Block) {
        for (size_t S = 0; S < Of.size(); ++S)
            for (const TSignalMode Mode : Modes) {
                TToneAnalysis Fresh;
                Fresh.Use(&FFT, Rate);
                TToneSet Unbound = Of[S];
                Unbound.Register = 0;
                for (size_t I = 0; I < Of[S].Tones.size(); ++I) {
                    const TToneSet::TTone& Tone = Of[S].Tones[I];
                    ASSERT_TRUE(Same(Analysis.Tone(Mode, Of[S], I), Fresh.Tone(Mode, Tone.Frequency, Tone.Within)))
                        << Step << ", block " << Block << ", set " << S << ", tone " << I << ", mode " << int(Mode);
                    ASSERT_EQ(Analysis.TonePower(Mode, Of[S], I), Fresh.TonePower(Mode, Tone.Frequency, Tone.Within))
                        << Step << ", block " << Block << ", set " << S << ", tone " << I;
                }
                ASSERT_EQ(Analysis.MayHold(Of[S], Mode), Fresh.MayHold(Unbound, Mode)) << Step << ", block " << Block << ", set " << S;
            }
    };
    TAudioFFT FFT, OtherFFT;
    FFT.SetChannels({TSignalMode::Left, TSignalMode::Right});
    OtherFFT.SetChannels({TSignalMode::Left, TSignalMode::Right});
    TToneAnalysis Analysis, Other;
    for (size_t B = 0; B < std::size(Blocks); ++B) {
        FFT.Process(Blocks[B].samples.data(), int32_t(Blocks[B].samples.size() * 2));
        Analysis.Use(&FFT, Rate);
        for (TToneSet& Set : Sets)
            Analysis.Bind(Set, TSignalMode::Left);
        Check(Analysis, FFT, Sets, "bound for the left channel", B);
        // The same sets in another analysis over another block.
        const testkit::Pcm& Next = Blocks[(B + 1) % std::size(Blocks)];
        OtherFFT.Process(Next.samples.data(), int32_t(Next.samples.size() * 2));
        Other.Use(&OtherFFT, Rate);
        Check(Other, OtherFFT, Sets, "bound to another analysis", B);
        // Bound for each channel in turn, then all of the many, which fill the register.
        for (const TSignalMode Mode : Modes) {
            for (TToneSet& Set : Sets)
                Analysis.Bind(Set, Mode);
            Check(Analysis, FFT, Sets, "bound for each channel", B);
        }
        for (TToneSet& Set : Many)
            Analysis.Bind(Set, TSignalMode::Right);
        for (TToneSet& Set : Sets)
            Analysis.Bind(Set, TSignalMode::Left);
        Check(Analysis, FFT, Many, "many", B);
        Check(Analysis, FFT, Sets, "after the many", B);
    }
}

// The set "1" of the default table (697 and 1209 Hz) as a slice holds it: its tones present,
// the table's other tones absent, each within 2 %.
TToneSet DigitOne()
{
    TAudioSample Slice;
    const auto Add = [&Slice](int32_t Hz, TFreqKind Kind) {
        TFreqData& Peak = Slice.Peaks.AddNew();
        Peak.Frequency = Hz;
        Peak.Tolerance = Hz / 50;
        Peak.Kind = Kind;
        Peak.Sense = 50;
    };
    Add(697, fkPresent);
    Add(1209, fkPresent);
    for (const int32_t Hz : {770, 852, 941, 1336, 1477, 1633})
        Add(Hz, fkAbsent);
    TToneSet Set;
    Set.Assign(Slice);
    return Set;
}

// A caller of the grade alone may have it before the set's tones are told apart from the
// partials beside them; the block's measure kept for the set is then not the whole one, and
// a later caller of every measure (the release of a held press) gets the whole one, as an
// analysis asked for it first gives it.
TEST(ToneAnalysis, AMeasureForTheGradeAloneIsNotTakenForTheWholeOne)
{
    struct TCase {
        const char* Name;
        std::vector<TSine> Sines;
        bool GradeAlone;  // the grade is had without the whole measure
    };
    const TCase Cases[] = {
        // A partial 38 Hz below 697 Hz, a loud voice below the band, and 770 Hz 14 dB under
        // the tones: held only alone in the band, which the rival rules out.
        {"a partial beside, a rival, loud below", {{697, 0.1}, {659.3, 0.1}, {1209, 0.1}, {200, 0.3}, {770, 0.02}}, true},
        {"a partial beside, no rival, loud below", {{697, 0.1}, {659.3, 0.1}, {1209, 0.1}, {200, 0.3}}, false},
        {"a partial beside, a rival, quiet below", {{697, 0.1}, {659.3, 0.1}, {1209, 0.1}, {770, 0.02}}, false},
        {"clean tones, a rival, loud below", {{697, 0.1}, {1209, 0.1}, {200, 0.3}, {770, 0.02}}, false},
    };
    const TToneSet Set = DigitOne();
    for (const TCase& C : Cases) {
        const testkit::Pcm Pcm = Block(C.Sines);
        TAudioFFT FFT;
        FFT.SetChannels({TSignalMode::Left});
        FFT.Process(Pcm.samples.data(), int32_t(Pcm.samples.size() * 2));
        TToneAnalysis Whole, Shared;
        Whole.Use(&FFT, Rate);
        Shared.Use(&FFT, Rate);
        const TToneSetMeasure Expected = Whole.ToneSet(TSignalMode::Left, Set);
        ASSERT_TRUE(Expected.Whole) << C.Name;
        const TToneSetMeasure ForGrade = Shared.ToneSet(TSignalMode::Left, Set, TToneSetNeed::Grade);
        EXPECT_EQ(ForGrade.Grade, Expected.Grade) << C.Name;
        EXPECT_EQ(!ForGrade.Whole, C.GradeAlone) << C.Name;
        // Then every measure, and the grade again, from the measure kept for the block.
        for (const TToneSetNeed Need : {TToneSetNeed::Everything, TToneSetNeed::Grade}) {
            const TToneSetMeasure Measure = Shared.ToneSet(TSignalMode::Left, Set, Need);
            EXPECT_TRUE(Measure.Whole) << C.Name;
            EXPECT_EQ(Measure.Grade, Expected.Grade) << C.Name;
            EXPECT_EQ(Measure.Weakest, Expected.Weakest) << C.Name;
            EXPECT_EQ(Measure.Share, Expected.Share) << C.Name;
            EXPECT_EQ(Measure.Frequencies, Expected.Frequencies) << C.Name;
        }
        if (C.GradeAlone) {
            EXPECT_NE(ForGrade.Weakest, Expected.Weakest) << C.Name << ": the fit changes nothing here";
        }
    }
}

TEST(ToneAnalysis, NothingToMeasureWithoutTheChannelsSpectrum)
{
    const testkit::Pcm Pcm = Block({{697, 0.3}});
    TAudioFFT FFT;
    FFT.SetChannels({TSignalMode::Left});
    FFT.Process(Pcm.samples.data(), int32_t(Pcm.samples.size() * 2));
    EXPECT_EQ(FFT.ComplexSpectrumOf(TSignalMode::Left).size(), 1025u);
    EXPECT_TRUE(FFT.ComplexSpectrumOf(TSignalMode::Dec).empty());
    TToneAnalysis Analysis;
    Analysis.Use(&FFT, Rate);
    EXPECT_EQ(Analysis.Tone(TSignalMode::Dec, 697, 30).Power, 0);
    Analysis.Use(nullptr, Rate);
    EXPECT_EQ(Analysis.Tone(TSignalMode::Left, 697, 30).Power, 0);
    FFT.Clear();
    EXPECT_TRUE(FFT.ComplexSpectrumOf(TSignalMode::Left).empty());
}

// A tone-set sequence steps through StepSequence like any spectral one: without an analyser
// it finds nothing, and it keeps the model's rules for found sequences.
TEST(ToneAnalysis, ToneSetSequenceWithoutAnalyserIsNeverFound)
{
    TAudioSequence Sequence;
    Sequence.Method = mmToneSet;
    TFreqData& Peak = Sequence.Samples.AddNew().Peaks.AddNew();
    Peak.Frequency = 1000;
    Peak.Tolerance = 30;
    Peak.Sense = 100;
    for (int I = 0; I < 5; ++I)
        EXPECT_FALSE(StepSequence(Sequence, {.Analyser = nullptr, .FrameRate = Rate, .Now = 1.0 + I / 86400.0}));
    EXPECT_EQ(Sequence.Progress(2.0), 0);
}

}  // namespace
