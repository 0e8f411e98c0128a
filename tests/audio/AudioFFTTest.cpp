#include "audio/AudioFFT.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

const double Pi = std::acos(-1.0);

// Interleaved stereo frames as the capture delivers them.
struct TFrames {
    std::vector<int16_t> Samples;

    void Add(int16_t Left, int16_t Right)
    {
        Samples.push_back(Left);
        Samples.push_back(Right);
    }
    const void* Data() const { return Samples.data(); }
    int32_t Bytes() const { return static_cast<int32_t>(Samples.size() * sizeof(int16_t)); }
};

TFrames SineFrames(size_t N, double Bin, double Amplitude, double RightAmplitude = 0)
{
    TFrames Frames;
    for (size_t I = 0; I < N; ++I) {
        const double S = std::sin(2 * Pi * Bin * double(I) / double(N));
        Frames.Add(static_cast<int16_t>(std::lround(Amplitude * S)), static_cast<int16_t>(std::lround(RightAmplitude * S)));
    }
    return Frames;
}

// Both peaks 0 and every array empty.
void ExpectNothingAnalysed(const TAudioFFT& FFT)
{
    EXPECT_EQ(FFT.LeftPeak(), 0);
    EXPECT_EQ(FFT.RightPeak(), 0);
    for (TSignalMode Mode : {TSignalMode::Left, TSignalMode::Right, TSignalMode::Add, TSignalMode::Dec}) {
        EXPECT_TRUE(FFT.WaveOf(Mode).empty());
        EXPECT_TRUE(FFT.SpectrumOf(Mode).empty());
    }
}

const TSignalModes AllModes{TSignalMode::Left, TSignalMode::Right, TSignalMode::Add, TSignalMode::Dec};

TEST(SignalModes, MaskBitsFollowTheModeNumbers)
{
    EXPECT_EQ(TSignalModes{TSignalMode::Left}.Mask(), 1);
    EXPECT_EQ(TSignalModes{TSignalMode::Right}.Mask(), 2);
    EXPECT_EQ(TSignalModes{TSignalMode::Add}.Mask(), 4);
    EXPECT_EQ(TSignalModes{TSignalMode::Dec}.Mask(), 8);
    EXPECT_EQ(AllModes.Mask(), 15);
    EXPECT_TRUE(TSignalModes{}.Empty());
    EXPECT_EQ(TSignalModes::FromMask(0xFF), AllModes);
    EXPECT_FALSE(AllModes.Contains(static_cast<TSignalMode>(7)));
}

TEST(BinAndFrequency, ValuesAtTheDefaultRate)
{
    EXPECT_EQ(BinOf(1000, 1024, 44100), 46);
    EXPECT_EQ(BinOf(15000, 1024, 44100), 696);
    EXPECT_EQ(BinOf(950, 1024, 44100), 44);
    EXPECT_EQ(BinOf(1050, 1024, 44100), 48);
    EXPECT_EQ(FreqOf(46, 1024, 44100), 990);
}

TEST(BinAndFrequency, DegenerateArgumentsGiveZeroInsteadOfDividingByZero)
{
    EXPECT_EQ(BinOf(1000, 1024, 0), 0);
    EXPECT_EQ(BinOf(1000, 1024, 1), 0);
    EXPECT_EQ(FreqOf(46, 0, 44100), 0);
    // A frequency far beyond any spectrum lands beyond it instead of wrapping into it.
    EXPECT_GT(BinOf(2000000000, 4096, 44100), 4096);
    EXPECT_LT(BinOf(-50, 1024, 44100), 1);
}

TEST(AudioFFT, EmptyChannelSetComputesNothingWhateverTheInput)
{
    TAudioFFT FFT;
    const TFrames Frames = SineFrames(2048, 10, 30000, 30000);
    FFT.Process(Frames.Data(), Frames.Bytes());
    ExpectNothingAnalysed(FFT);
}

TEST(AudioFFT, PeakOfMinus32768Is32768)
{
    TAudioFFT FFT;
    FFT.SetChannels({TSignalMode::Left});
    TFrames Frames;
    for (int I = 0; I < 1024; ++I)
        Frames.Add(I == 100 ? int16_t(-32768) : int16_t(1000), I == 7 ? int16_t(-12) : int16_t(5));
    FFT.Process(Frames.Data(), Frames.Bytes());
    EXPECT_EQ(FFT.LeftPeak(), 32768);
    EXPECT_EQ(FFT.RightPeak(), 12);
}

// The root mean square of each channel over the block, only while it is asked for: a full-scale
// square wave, a sine (amplitude / sqrt 2), digital zero.
TEST(AudioFFT, RmsIsTheRootMeanSquareOfEachChannelWhileAskedFor)
{
    TAudioFFT FFT;
    FFT.SetChannels({TSignalMode::Left});
    const TFrames Sine = SineFrames(2048, 16, 10000, 0);
    TFrames Square;
    for (int I = 0; I < 2048; ++I)
        Square.Add(I % 2 ? int16_t(-32768) : int16_t(32767), int16_t(I % 4 < 2 ? 100 : -100));

    FFT.Process(Sine.Data(), Sine.Bytes());
    EXPECT_EQ(FFT.LeftRms(), 0);  // not asked for
    FFT.SetRms(true);
    FFT.Process(Sine.Data(), Sine.Bytes());
    EXPECT_NEAR(FFT.LeftRms(), 10000 / std::sqrt(2.0), 0.5);
    EXPECT_EQ(FFT.RightRms(), 0);
    FFT.Process(Square.Data(), Square.Bytes());
    EXPECT_NEAR(FFT.LeftRms(), std::sqrt((32767.0 * 32767 + 32768.0 * 32768) / 2), 1e-6);
    EXPECT_NEAR(FFT.RightRms(), 100, 1e-9);
    FFT.Clear();
    EXPECT_EQ(FFT.LeftRms(), 0);
    EXPECT_EQ(FFT.RightRms(), 0);
    FFT.SetRms(false);
    FFT.Process(Square.Data(), Square.Bytes());
    EXPECT_EQ(FFT.LeftRms(), 0);
}

TEST(AudioFFT, TrailingPartialFrameIsIgnored)
{
    TAudioFFT FFT;
    FFT.SetChannels(AllModes);
    TFrames Frames = SineFrames(1024, 8, 1000, 1000);
    // Three more bytes of a frame that never completes, loud enough to show if read.
    Frames.Add(-32768, -32768);
    FFT.Process(Frames.Data(), 1024 * 4 + 3);
    EXPECT_EQ(FFT.WaveLeft().size(), 1024u);
    EXPECT_EQ(FFT.SpectrumLeft().size(), 512u);
    EXPECT_EQ(FFT.LeftPeak(), 1000);
    EXPECT_EQ(FFT.RightPeak(), 1000);
}

TEST(AudioFFT, ChannelSignalsTruncateTowardZero)
{
    struct TCase {
        int16_t L, R;
        int32_t Add, Dec;
    };
    const TCase Cases[] = {
        {-3, 0, -1, -1}, {0, 3, 1, -1}, {3, 0, 1, 1}, {0, -3, -1, 1}, {-32768, -32768, -32768, 0},
        {32767, -32768, 0, 32767}, {-32768, 32767, 0, -32767},
    };
    TAudioFFT FFT;
    FFT.SetChannels(AllModes);
    TFrames Frames;
    for (const TCase& C : Cases)
        Frames.Add(C.L, C.R);
    FFT.Process(Frames.Data(), Frames.Bytes());
    ASSERT_EQ(FFT.WaveAdd().size(), std::size(Cases));
    for (size_t I = 0; I < std::size(Cases); ++I) {
        SCOPED_TRACE(I);
        EXPECT_EQ(FFT.WaveLeft()[I], Cases[I].L);
        EXPECT_EQ(FFT.WaveRight()[I], Cases[I].R);
        EXPECT_EQ(FFT.WaveAdd()[I], Cases[I].Add);
        EXPECT_EQ(FFT.WaveDec()[I], Cases[I].Dec);
    }
}

TEST(AudioFFT, OnlyRequestedModesAreFilledAndSpectrumOfPicksEachMode)
{
    TAudioFFT FFT;
    FFT.SetChannels({TSignalMode::Right, TSignalMode::Dec});
    // Left carries bin 20, right bin 40: Right shows only 40, Dec (half the difference) both.
    TFrames Frames;
    for (int I = 0; I < 2048; ++I)
        Frames.Add(static_cast<int16_t>(std::lround(8000 * std::sin(2 * Pi * 20 * I / 2048))),
                   static_cast<int16_t>(std::lround(8000 * std::sin(2 * Pi * 40 * I / 2048))));
    FFT.Process(Frames.Data(), Frames.Bytes());
    EXPECT_TRUE(FFT.WaveLeft().empty());
    EXPECT_TRUE(FFT.WaveAdd().empty());
    EXPECT_TRUE(FFT.SpectrumLeft().empty());
    EXPECT_TRUE(FFT.SpectrumAdd().empty());
    EXPECT_EQ(&FFT.SpectrumOf(TSignalMode::Right), &FFT.SpectrumRight());
    EXPECT_EQ(&FFT.SpectrumOf(TSignalMode::Dec), &FFT.SpectrumDec());
    EXPECT_EQ(&FFT.SpectrumOf(TSignalMode::Left), &FFT.SpectrumLeft());
    EXPECT_EQ(&FFT.SpectrumOf(TSignalMode::Add), &FFT.SpectrumAdd());
    EXPECT_TRUE(FFT.SpectrumOf(static_cast<TSignalMode>(9)).empty());

    const TSpectrumData& Right = FFT.SpectrumRight();
    ASSERT_EQ(Right.size(), 1024u);
    EXPECT_NEAR(Right[40], 8000, 1);
    EXPECT_LE(Right[20], 1);
    const TSpectrumData& Dec = FFT.SpectrumDec();
    EXPECT_NEAR(Dec[20], 4000, 1);
    EXPECT_NEAR(Dec[40], 4000, 1);
}

TEST(AudioFFT, NewChannelSetTakesEffectAtTheNextBlock)
{
    TAudioFFT FFT;
    FFT.SetChannels({TSignalMode::Left});
    const TFrames Frames = SineFrames(1024, 5, 1000);
    FFT.Process(Frames.Data(), Frames.Bytes());
    FFT.SetChannels({TSignalMode::Right});
    EXPECT_EQ(FFT.SpectrumLeft().size(), 512u);
    EXPECT_TRUE(FFT.SpectrumRight().empty());
    FFT.Process(Frames.Data(), Frames.Bytes());
    EXPECT_TRUE(FFT.SpectrumLeft().empty());
    EXPECT_EQ(FFT.SpectrumRight().size(), 512u);
}

TEST(AudioFFT, ClearEmptiesEverything)
{
    TAudioFFT FFT;
    FFT.SetChannels(AllModes);
    const TFrames Frames = SineFrames(1024, 5, 1000, 700);
    FFT.Process(Frames.Data(), Frames.Bytes());
    FFT.Clear();
    ExpectNothingAnalysed(FFT);
}

TEST(AudioFFT, BadByteCountsAnalyseNothing)
{
    TAudioFFT FFT;
    FFT.SetChannels(AllModes);
    const TFrames Frames = SineFrames(1024, 5, 1000, 700);
    for (int32_t Bytes : {0, 1, 3, -4, -4096}) {
        SCOPED_TRACE(Bytes);
        FFT.Process(Frames.Data(), Frames.Bytes());  // leave a previous block behind
        FFT.Process(Frames.Data(), Bytes);
        ExpectNothingAnalysed(FFT);
    }
    FFT.Process(nullptr, 4096);
    ExpectNothingAnalysed(FFT);
}

// Bytes placed so that the first byte after them is an inaccessible page: reading past the
// end crashes the test instead of passing unnoticed.
class TGuardedBytes {
public:
    explicit TGuardedBytes(const std::vector<uint8_t>& Bytes)
    {
        const size_t Page = size_t(sysconf(_SC_PAGESIZE));
        FSize = (Bytes.size() / Page + 2) * Page;
        void* Mapped = mmap(nullptr, FSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (Mapped == MAP_FAILED)
            throw std::runtime_error("cannot map test memory");
        FBase = static_cast<uint8_t*>(Mapped);
        uint8_t* Guard = FBase + FSize - Page;
        mprotect(Guard, Page, PROT_NONE);
        FData = Guard - Bytes.size();
        std::copy(Bytes.begin(), Bytes.end(), FData);
    }
    ~TGuardedBytes() { munmap(FBase, FSize); }
    TGuardedBytes(const TGuardedBytes&) = delete;
    TGuardedBytes& operator=(const TGuardedBytes&) = delete;
    const uint8_t* Data() const { return FData; }

private:
    uint8_t* FBase = nullptr;
    uint8_t* FData = nullptr;
    size_t FSize = 0;
};

TEST(AudioFFT, NeverReadsPastTheBuffer)
{
    TAudioFFT FFT;
    FFT.SetChannels(AllModes);
    for (int32_t Bytes : {4099, 4098, 4097, 4096, 7, 4, 3, 1}) {
        SCOPED_TRACE(Bytes);
        const TGuardedBytes Block(std::vector<uint8_t>(size_t(Bytes), 0x40));
        FFT.Process(Block.Data(), Bytes);
        EXPECT_EQ(FFT.WaveLeft().size(), size_t(Bytes / 4));
    }
}

TEST(AudioFFT, ExactlyOneFrameReadsItsPeakButHasNoBins)
{
    TAudioFFT FFT;
    FFT.SetChannels({TSignalMode::Left});
    TFrames Frames;
    Frames.Add(-5, 9);
    FFT.Process(Frames.Data(), 4);
    EXPECT_EQ(FFT.LeftPeak(), 5);
    EXPECT_EQ(FFT.RightPeak(), 9);
    EXPECT_EQ(FFT.WaveLeft().size(), 1u);
    EXPECT_TRUE(FFT.SpectrumLeft().empty());
}

TEST(AudioFFT, ConstantInputReadsTwiceItsValueInBinZero)
{
    TAudioFFT FFT;
    TWaveData Wave(2048, 1234);
    const TSpectrumData Spectrum = FFT.ComputeSpectrum(Wave);
    ASSERT_EQ(Spectrum.size(), 1024u);
    EXPECT_EQ(Spectrum[0], 2468);
    for (size_t K = 1; K < Spectrum.size(); ++K)
        ASSERT_EQ(Spectrum[K], 0) << "bin " << K;
}

// A sine centred on bin k reads its amplitude there (or one less after truncation) and
// about nothing elsewhere, at every block size the engine offers.
class BinCentredSine : public testing::TestWithParam<size_t> {};

TEST_P(BinCentredSine, ReadsItsAmplitudeInItsBin)
{
    const size_t N = GetParam();
    TAudioFFT FFT;
    FFT.SetChannels({TSignalMode::Left});
    const size_t Bin = N / 16 + 3;
    const TFrames Frames = SineFrames(N, double(Bin), 10000);
    FFT.Process(Frames.Data(), Frames.Bytes());
    const TSpectrumData& Spectrum = FFT.SpectrumLeft();
    ASSERT_EQ(Spectrum.size(), N / 2);
    EXPECT_GE(Spectrum[Bin], 9999);
    EXPECT_LE(Spectrum[Bin], 10000);
    for (size_t K = 0; K < Spectrum.size(); ++K) {
        if (K != Bin) {
            ASSERT_LE(Spectrum[K], 1) << "bin " << K;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, BinCentredSine, testing::Values(1024, 2048, 4096, 8192));

// Every bin equals Trunc(|X[k]| / (N/2)) of a directly computed DFT of noisy audio.
TEST(AudioFFT, MagnitudesEqualTheTruncatedScaledDft)
{
    const size_t N = 1024;
    std::mt19937 Random(7);
    std::uniform_int_distribution<int> Sample(-32768, 32767);
    TWaveData Wave(N);
    for (auto& V : Wave)
        V = Sample(Random);

    TAudioFFT FFT;
    const TSpectrumData Spectrum = FFT.ComputeSpectrum(Wave);
    ASSERT_EQ(Spectrum.size(), N / 2);

    std::vector<std::complex<long double>> Twiddle(N);
    for (size_t I = 0; I < N; ++I)
        Twiddle[I] = std::polar(1.0L, -2.0L * std::acos(-1.0L) * (long double)I / (long double)N);
    for (size_t K = 0; K < N / 2; ++K) {
        std::complex<long double> X = 0;
        for (size_t I = 0; I < N; ++I)
            X += (long double)Wave[I] * Twiddle[(K * I) % N];
        const long double Exact = std::abs(X) / (long double)(N / 2);
        const auto Expected = static_cast<int32_t>(Exact);
        // Within rounding of a whole number either side is right.
        if (std::fabs(Exact - std::round(Exact)) < 1e-6L) {
            ASSERT_NEAR(Spectrum[K], Expected, 1) << "bin " << K;
        } else {
            ASSERT_EQ(Spectrum[K], Expected) << "bin " << K;
        }
    }
}

TEST(AudioFFT, ShortSignalsGiveShortOrEmptySpectra)
{
    TAudioFFT FFT;
    EXPECT_TRUE(FFT.ComputeSpectrum(TWaveData{}).empty());
    EXPECT_TRUE(FFT.ComputeSpectrum(TWaveData{5}).empty());
    const TSpectrumData Two = FFT.ComputeSpectrum(TWaveData{3, 3});
    ASSERT_EQ(Two.size(), 1u);
    EXPECT_EQ(Two[0], 6);
}

// Two analysers of different block sizes work side by side, each with its own arrays, and
// going back to an earlier size reuses what was made for it.
TEST(AudioFFT, AnalysersOfDifferentSizesDoNotDisturbEachOther)
{
    TAudioFFT Live, File;
    Live.SetChannels({TSignalMode::Left});
    File.SetChannels({TSignalMode::Left});
    const TFrames Short = SineFrames(1024, 12, 5000);
    const TFrames Long = SineFrames(4096, 300, 7000);
    Live.Process(Short.Data(), Short.Bytes());
    File.Process(Long.Data(), Long.Bytes());
    Live.Process(Long.Data(), Long.Bytes());
    Live.Process(Short.Data(), Short.Bytes());
    EXPECT_NEAR(Live.SpectrumLeft()[12], 5000, 1);
    EXPECT_NEAR(File.SpectrumLeft()[300], 7000, 1);
}


// What a reader asks of the analyser decides what it computes, and what it computes equals
// what the full analysis gives: the signals wanted, the magnitudes of the bins wanted (the
// others 0), the complex spectrum of every transformed channel.
TEST(AudioFFT, PartialAnalysisEqualsTheFullOneWhereItIsRead)
{
    struct TCase {
        const char* Name;
        TSignalModes Waves, Magnitudes;
        int32_t FirstBin, LastBin;
    };
    const TCase Cases[] = {
        {"everything", AllModes, AllModes, 0, INT32_MAX},
        {"no signals", {}, AllModes, 0, INT32_MAX},
        {"one band", {TSignalMode::Add}, AllModes, 46, 697},
        {"band beyond the spectrum", {}, {TSignalMode::Left}, 1000, 5000},
        {"band before the spectrum", {}, {TSignalMode::Left}, -20, 3},
        {"reversed band", {}, {TSignalMode::Left}, 600, 100},
        {"no magnitudes", {TSignalMode::Dec}, {}, 0, INT32_MAX},
    };
    std::mt19937 Random(11);
    std::uniform_int_distribution<int> Sample(-20000, 20000);
    TFrames Frames;
    for (int I = 0; I < 2048; ++I)
        Frames.Add(int16_t(Sample(Random)), int16_t(Sample(Random)));

    TAudioFFT Full;
    Full.SetChannels(AllModes);
    Full.Process(Frames.Data(), Frames.Bytes());
    // One analyser for every case: a band read before must not leave stale bins behind.
    TAudioFFT Part;
    Part.SetChannels(AllModes);
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        Part.SetWaves(C.Waves);
        Part.SetMagnitudes(C.Magnitudes, C.FirstBin, C.LastBin);
        Part.Process(Frames.Data(), Frames.Bytes());
        EXPECT_EQ(Part.LeftPeak(), Full.LeftPeak());
        EXPECT_EQ(Part.RightPeak(), Full.RightPeak());
        for (TSignalMode Mode : {TSignalMode::Left, TSignalMode::Right, TSignalMode::Add, TSignalMode::Dec}) {
            SCOPED_TRACE(int(Mode));
            if (C.Waves.Contains(Mode))
                EXPECT_EQ(Part.WaveOf(Mode), Full.WaveOf(Mode));
            else
                EXPECT_TRUE(Part.WaveOf(Mode).empty());
            const auto Complex = Part.ComplexSpectrumOf(Mode);
            const auto FullComplex = Full.ComplexSpectrumOf(Mode);
            ASSERT_EQ(Complex.size(), 1025u);
            EXPECT_TRUE(std::equal(Complex.begin(), Complex.end(), FullComplex.begin()));
            const TSpectrumData& Spectrum = Part.SpectrumOf(Mode);
            if (!C.Magnitudes.Contains(Mode)) {
                EXPECT_TRUE(Spectrum.empty());
                continue;
            }
            ASSERT_EQ(Spectrum.size(), 1024u);
            for (int32_t K = 0; K < 1024; ++K) {
                const bool Wanted = K >= C.FirstBin && K < C.LastBin;
                ASSERT_EQ(Spectrum[size_t(K)], Wanted ? Full.SpectrumOf(Mode)[size_t(K)] : 0) << "bin " << K;
            }
        }
    }
}

// A channel transformed for its complex spectrum alone still has it after a block of
// another size, and a channel not transformed has none.
TEST(AudioFFT, ComplexSpectrumOnlyForTransformedChannels)
{
    TAudioFFT FFT;
    FFT.SetChannels({TSignalMode::Left, TSignalMode::Right});
    FFT.SetSpectra({TSignalMode::Right});
    FFT.SetMagnitudes({}, 0, 0);
    FFT.SetWaves({});
    for (size_t N : {2048u, 1024u}) {
        SCOPED_TRACE(N);
        const TFrames Frames = SineFrames(N, 30, 0, 9000);
        FFT.Process(Frames.Data(), Frames.Bytes());
        EXPECT_TRUE(FFT.ComplexSpectrumOf(TSignalMode::Left).empty());
        const auto Right = FFT.ComplexSpectrumOf(TSignalMode::Right);
        ASSERT_EQ(Right.size(), N / 2 + 1);
        EXPECT_NEAR(std::abs(Right[30]) / double(N / 2), 9000, 1);
        EXPECT_TRUE(FFT.SpectrumRight().empty());
        EXPECT_TRUE(FFT.WaveRight().empty());
        EXPECT_EQ(FFT.RightPeak(), 9000);
    }
}

// Analysers on several threads at once (an offline scan beside live analysis): each makes
// its first transform of a new size concurrently and still reads its own tone.
TEST(AudioFFT, AnalysersOnSeveralThreadsAtOnce)
{
    const size_t Sizes[] = {1024, 2048, 4096, 8192, 512, 256};
    std::vector<int32_t> Read(std::size(Sizes));
    std::vector<std::thread> Threads;
    for (size_t T = 0; T < std::size(Sizes); ++T)
        Threads.emplace_back([&, T] {
            TAudioFFT FFT;
            FFT.SetChannels({TSignalMode::Left});
            const TFrames Frames = SineFrames(Sizes[T], 20, 6000);
            FFT.Process(Frames.Data(), Frames.Bytes());
            Read[T] = FFT.SpectrumLeft()[20];
        });
    for (std::thread& Thread : Threads)
        Thread.join();
    for (size_t T = 0; T < std::size(Sizes); ++T)
        EXPECT_NEAR(Read[T], 6000, 1) << "size " << Sizes[T];
}

// An analyser holds, after a block, what another holds: the peaks and, of every mode, the
// signal, the magnitudes and the transform.
void ExpectTheArraysOf(const TAudioFFT& Analyser, const TAudioFFT& Expected)
{
    EXPECT_EQ(Analyser.LeftPeak(), Expected.LeftPeak());
    EXPECT_EQ(Analyser.RightPeak(), Expected.RightPeak());
    EXPECT_EQ(Analyser.LeftRms(), Expected.LeftRms());
    EXPECT_EQ(Analyser.RightRms(), Expected.RightRms());
    for (TSignalMode Mode : {TSignalMode::Left, TSignalMode::Right, TSignalMode::Add, TSignalMode::Dec}) {
        SCOPED_TRACE(int(Mode));
        EXPECT_EQ(Analyser.WaveOf(Mode), Expected.WaveOf(Mode));
        ASSERT_EQ(Analyser.SpectrumOf(Mode), Expected.SpectrumOf(Mode));
        const auto Complex = Analyser.ComplexSpectrumOf(Mode);
        const auto ExpectedComplex = Expected.ComplexSpectrumOf(Mode);
        ASSERT_EQ(Complex.size(), ExpectedComplex.size());
        ASSERT_TRUE(std::equal(Complex.begin(), Complex.end(), ExpectedComplex.begin()));
    }
}

// Blocks overlapping by half, as the engine forms them, analysed each as the continuation of
// the one before give exactly what each block analysed alone gives: also where the work on
// the shared half cannot be taken over (a block skipped, a Clear, a mode not transformed
// before, another size, an odd frame count, half a block off the transform's alignment).
TEST(AudioFFT, AContinuedBlockGivesWhatTheBlockAloneGives)
{
    // Noise with a full-scale sample now and then, so that peaks fall in either half.
    std::mt19937 Random(23);
    std::uniform_int_distribution<int> Sample(-12000, 12000);
    std::vector<int16_t> Stream;
    for (int I = 0; I < 2 * 40000; ++I)
        Stream.push_back(int16_t(I % 1999 == 0 ? (I % 2 ? 32767 : -32768) : Sample(Random)));

    struct TStep {
        size_t Start;   // first frame of the block
        size_t Frames;
        std::function<void(TAudioFFT&)> Before;  // done to both analysers first
    };
    // Count blocks of Frames from block First on, each half a block after the one before.
    auto Run = [](size_t Frames, size_t First, size_t Count) {
        std::vector<TStep> Steps;
        for (size_t B = First; B < First + Count; ++B)
            Steps.push_back({B * (Frames / 2), Frames, nullptr});
        return Steps;
    };
    auto Join = [](std::vector<TStep> A, const std::vector<TStep>& B) {
        A.insert(A.end(), B.begin(), B.end());
        return A;
    };
    auto First = [](std::vector<TStep> Steps, std::function<void(TAudioFFT&)> Before) {
        Steps.front().Before = std::move(Before);
        return Steps;
    };
    struct TCase {
        const char* Name;
        std::vector<TStep> Steps;
    };
    const TCase Cases[] = {
        {"a run of blocks", Run(2048, 0, 20)},
        {"a block skipped", Join(Run(2048, 0, 3), Run(2048, 4, 4))},
        {"a Clear between", Join(Run(2048, 0, 3), First(Run(2048, 3, 3), [](TAudioFFT& F) { F.Clear(); }))},
        {"a mode transformed from a block on",
         Join(First(Run(2048, 0, 3), [](TAudioFFT& F) { F.SetSpectra({TSignalMode::Left, TSignalMode::Dec}); }),
              First(Run(2048, 3, 4), [](TAudioFFT& F) { F.SetSpectra(AllModes); }))},
        {"another size between", Join(Join(Run(2048, 0, 3), Run(1024, 6, 3)), Run(2048, 4, 3))},
        {"the RMS measured from a block on",
         Join(First(Run(2048, 0, 3), [](TAudioFFT& F) { F.SetRms(false); }),
              First(Run(2048, 3, 3), [](TAudioFFT& F) { F.SetRms(true); }))},
        {"an odd frame count", Run(2047, 0, 6)},
        {"half a block off the alignment", Run(1000, 0, 12)},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        TAudioFFT Continued, Alone;
        for (TAudioFFT* F : {&Continued, &Alone}) {
            F->SetChannels(AllModes);
            F->SetRms(true);
        }
        for (size_t S = 0; S < C.Steps.size(); ++S) {
            SCOPED_TRACE(testing::Message() << "block " << S);
            const TStep& Step = C.Steps[S];
            if (Step.Before) {
                Step.Before(Continued);
                Step.Before(Alone);
            }
            const int16_t* Block = Stream.data() + 2 * Step.Start;
            const auto Bytes = static_cast<int32_t>(Step.Frames * 4);
            Continued.ProcessContinued(Block, Bytes);
            Alone.Process(Block, Bytes);
            ExpectTheArraysOf(Continued, Alone);
            if (testing::Test::HasFatalFailure())
                return;
        }
    }
}

// The caller moves a block's second half elsewhere and says so (the engine keeps the last half
// of a buffer the capture fills again): the block that continues from the copy is taken as
// continuing. A place the last half never lay, or memory the caller reuses for other audio
// after StartOver, is never taken for it.
TEST(AudioFFT, AContinuedBlockFromAMovedHalfGivesWhatTheBlockAloneGives)
{
    std::mt19937 Random(29);
    std::uniform_int_distribution<int> Sample(-15000, 15000);
    std::vector<int16_t> Stream;
    for (int I = 0; I < 2 * 20000; ++I)
        Stream.push_back(int16_t(Sample(Random)));
    constexpr size_t Frames = 2048, Half = Frames / 2;
    auto At = [&](size_t Block) { return Stream.data() + 2 * Block * Half; };

    struct TCase {
        const char* Name;
        // Analyses the blocks through Continued; Analysed is each block's bytes as given.
        std::function<void(TAudioFFT& Continued, std::vector<std::vector<int16_t>>& Analysed)> Run;
    };
    auto Give = [](TAudioFFT& F, std::vector<std::vector<int16_t>>& Analysed, const int16_t* Block) {
        Analysed.emplace_back(Block, Block + 2 * Frames);
        F.ProcessContinued(Block, int32_t(Frames * 4));
    };
    const TCase Cases[] = {
        {"copies told where the last half went",
         [&](TAudioFFT& F, auto& Analysed) {
             for (size_t B = 0; B < 3; ++B)
                 Give(F, Analysed, At(B));
             const int16_t* LastHalf = At(2) + 2 * Half;
             std::vector<std::vector<int16_t>> Copies;
             for (size_t B = 3; B < 7; ++B) {
                 Copies.emplace_back(At(B), At(B) + 2 * Frames);
                 F.LastHalfMoved(LastHalf, Copies.back().data());
                 Give(F, Analysed, Copies.back().data());
                 LastHalf = Copies.back().data() + 2 * Half;
             }
         }},
        {"told of a place the last half never lay",
         [&](TAudioFFT& F, auto& Analysed) {
             for (size_t B = 0; B < 3; ++B)
                 Give(F, Analysed, At(B));
             std::vector<int16_t> Copy(At(5), At(5) + 2 * Frames);
             F.LastHalfMoved(At(0), Copy.data());
             Give(F, Analysed, Copy.data());
         }},
        {"the last half's memory reused after StartOver",
         [&](TAudioFFT& F, auto& Analysed) {
             std::vector<int16_t> Ring(2 * (Frames + Half));
             std::copy(At(0), At(0) + 2 * Frames, Ring.begin());
             Give(F, Analysed, Ring.data());
             F.StartOver();
             std::copy(At(6), At(6) + 2 * Frames, Ring.begin() + 2 * Half);
             Give(F, Analysed, Ring.data() + 2 * Half);
         }},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        TAudioFFT Continued;
        Continued.SetChannels(AllModes);
        std::vector<std::vector<int16_t>> Analysed;
        TAudioFFT Alone;
        Alone.SetChannels(AllModes);
        C.Run(Continued, Analysed);  // the last block is compared
        Alone.Process(Analysed.back().data(), int32_t(Frames * 4));
        ExpectTheArraysOf(Continued, Alone);
    }
}

// A band's level worked out from the transform is the largest (smallest) magnitude the
// spectrum holds in that band: at block sizes of a power of two and of others, on every mode,
// for bands of one bin, many bins, at the spectrum's edges, beyond it and empty.
TEST(AudioFFT, BandMagnitudeIsTheLevelOfTheMagnitudeSpectrum)
{
    std::mt19937 Random(41);
    std::uniform_int_distribution<int> Sample(-32768, 32767);
    std::vector<int16_t> Block;
    for (int I = 0; I < 2 * 4096; ++I)
        Block.push_back(int16_t(I % 300 < 150 ? Sample(Random) / 64 : Sample(Random)));
    for (const int32_t Frames : {2048, 1000, 4096}) {
        SCOPED_TRACE(Frames);
        TAudioFFT FFT;
        FFT.SetChannels(AllModes);
        FFT.Process(Block.data(), Frames * 4);
        const int32_t Half = Frames / 2;
        std::vector<std::pair<int32_t, int32_t>> Bands = {{0, 1}, {0, Half}, {Half - 1, Half}, {Half - 3, Half + 5},
                                                          {-4, 3}, {7, 7}, {9, 2}, {Half, Half + 4}};
        std::uniform_int_distribution<int32_t> Bin(0, Half);
        for (int I = 0; I < 200; ++I) {
            const int32_t First = Bin(Random);
            Bands.emplace_back(First, First + Bin(Random) % 9);
        }
        for (TSignalMode Mode : {TSignalMode::Left, TSignalMode::Right, TSignalMode::Add, TSignalMode::Dec}) {
            const TSpectrumData& Spectrum = FFT.SpectrumOf(Mode);
            ASSERT_EQ(Spectrum.size(), size_t(Half));
            for (const auto& [First, Last] : Bands) {
                SCOPED_TRACE(testing::Message() << "mode " << int(Mode) << ", bins " << First << ".." << Last);
                const auto Begin = Spectrum.begin() + std::clamp(First, 0, Half);
                const auto End = Spectrum.begin() + std::clamp(Last, 0, Half);
                EXPECT_EQ(FFT.BandMagnitude(Mode, First, Last, true), Begin < End ? *std::max_element(Begin, End) : 0);
                EXPECT_EQ(FFT.BandMagnitude(Mode, First, Last, false), Begin < End ? *std::min_element(Begin, End) : 0);
            }
        }
        // A mode not transformed in the last block has no levels.
        FFT.SetSpectra({TSignalMode::Left});
        FFT.Process(Block.data(), Frames * 4);
        EXPECT_EQ(FFT.BandMagnitude(TSignalMode::Right, 0, Half, true), 0);
        EXPECT_GT(FFT.BandMagnitude(TSignalMode::Left, 0, Half, true), 0);
    }
}

// The loops built for every x86-64 processor give, bin for bin, what the loops built for this
// processor give (on one without AVX2 both runs take the same loops): blocks of a power of two
// and of other sizes, odd ones, continued ones, a band of magnitudes and all of them.
TEST(AudioFFT, TheGenericLoopsGiveWhatThisProcessorsLoopsGive)
{
    std::mt19937 Random(31);
    std::uniform_int_distribution<int> Sample(-32768, 32767);
    std::vector<int16_t> Stream;
    for (int I = 0; I < 2 * 12000; ++I)
        Stream.push_back(int16_t(I % 777 == 0 ? -32768 : Sample(Random)));

    struct TResult {
        int32_t LeftPeak, RightPeak;
        double LeftRms, RightRms;
        std::vector<TWaveData> Waves;
        std::vector<TSpectrumData> Spectra;
        std::vector<std::vector<std::complex<double>>> Complex;
        bool operator==(const TResult&) const = default;
    };
    auto Analyse = [&](bool Generic) {
        TAudioFFT::UseGenericLoops(Generic);
        std::vector<TResult> Results;
        TAudioFFT FFT;
        FFT.SetChannels(AllModes);
        FFT.SetRms(true);
        for (const size_t Frames : {2048u, 1000u, 1023u}) {
            for (const int32_t LastBin : {INT32_MAX, 300}) {
                FFT.SetMagnitudes(AllModes, 7, LastBin);
                for (size_t B = 0; B < 10; ++B) {
                    FFT.ProcessContinued(Stream.data() + 2 * B * (Frames / 2), int32_t(Frames * 4 + (B % 3)));
                    TResult R{FFT.LeftPeak(), FFT.RightPeak(), FFT.LeftRms(), FFT.RightRms(), {}, {}, {}};
                    for (TSignalMode Mode : {TSignalMode::Left, TSignalMode::Right, TSignalMode::Add, TSignalMode::Dec}) {
                        R.Waves.push_back(FFT.WaveOf(Mode));
                        R.Spectra.push_back(FFT.SpectrumOf(Mode));
                        const auto Complex = FFT.ComplexSpectrumOf(Mode);
                        R.Complex.emplace_back(Complex.begin(), Complex.end());
                    }
                    Results.push_back(std::move(R));
                }
            }
        }
        TAudioFFT::UseGenericLoops(false);
        return Results;
    };
    const std::vector<TResult> Wide = Analyse(false);
    const std::vector<TResult> Generic = Analyse(true);
    ASSERT_EQ(Wide.size(), Generic.size());
    for (size_t I = 0; I < Wide.size(); ++I)
        EXPECT_TRUE(Wide[I] == Generic[I]) << "block " << I;
}

}  // namespace
