#include "widgets/LedMeter.h"

#include <QCoreApplication>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(LedMeterTest, LevelsLightTheirShareOfTheScale)
{
    TLedMeter Meter;  // 48 LEDs from -24 to 0 dB: half a dB each
    struct Case {
        double dB;
        int Lit;
    };
    const Case Cases[] = {
        {-92, 0}, {-24, 0}, {-23.6, 0}, {-23.5, 1}, {-12, 24}, {-6, 36}, {-0.5, 47}, {0, 48}, {6, 48},
        {std::numeric_limits<double>::quiet_NaN(), 0}, {-std::numeric_limits<double>::infinity(), 0},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(Meter.LitSteps(C.dB), C.Lit) << C.dB;

    Meter.SetPositionMin(-48);  // the stored lower end moves the scale
    EXPECT_EQ(Meter.LitSteps(-24), 24);
    Meter.SetPositionMax(Meter.PositionMin());  // an empty range lights nothing
    EXPECT_EQ(Meter.LitSteps(0), 0);
}

TEST(LedMeterTest, SmoothVolumeRisesAtOnceAndFallsGradually)
{
    TLedMeter Meter;
    Meter.SetValues(-3, -10);
    EXPECT_DOUBLE_EQ(Meter.LeftValue(), -3);
    EXPECT_DOUBLE_EQ(Meter.RightValue(), -10);
    Meter.SetValues(-20, -10);
    EXPECT_DOUBLE_EQ(Meter.LeftValue(), -3 - TLedMeter::FallPerValuedB);
    Meter.SetValues(-20, -2);
    EXPECT_DOUBLE_EQ(Meter.LeftValue(), -3 - 2 * TLedMeter::FallPerValuedB);
    EXPECT_DOUBLE_EQ(Meter.RightValue(), -2);
    // A stopped meter shows silence at once.
    Meter.SetValuesNow(TLedMeter::SilentdB, TLedMeter::SilentdB);
    EXPECT_DOUBLE_EQ(Meter.LeftValue(), -92);
    EXPECT_EQ(Meter.LitLeft(), 0);
    EXPECT_EQ(Meter.LitRight(), 0);

    Meter.SetSmoothVolume(false);
    Meter.SetValues(-3, -3);
    Meter.SetValues(-20, -20);
    EXPECT_DOUBLE_EQ(Meter.LeftValue(), -20);

    Meter.SetStereo(false);  // one channel: the right one follows the left
    Meter.SetValues(-5, -50);
    EXPECT_DOUBLE_EQ(Meter.RightValue(), -5);
}

// The colour in the middle of LED Step of the top row.
QColor LedPixel(TLedMeter& Meter, int Step)
{
    const QImage Image = Meter.grab().toImage();
    const int BarLeft = 4;
    const int BarWidth = Meter.width() - 8;
    const int X = BarLeft + int((Step + 0.5) * BarWidth / Meter.StepCount());
    return Image.pixelColor(X, 5);
}

TEST(LedMeterTest, LitAndUnlitLedsTakeTheColoursOfTheirRange)
{
    TLedMeter Meter;
    Meter.SetGradient(false);
    Meter.SetActiveColors(Qt::green, Qt::yellow, Qt::red);
    Meter.SetInactiveColors(QColor(0, 64, 0), QColor(128, 128, 0), QColor(128, 0, 0));
    Meter.resize(488, 35);
    Meter.SetValuesNow(-3, -3);  // 42 LEDs lit: green up to -6 dB, then yellow
    EXPECT_EQ(LedPixel(Meter, 0), QColor(Qt::green));
    EXPECT_EQ(LedPixel(Meter, 35), QColor(Qt::green));
    EXPECT_EQ(LedPixel(Meter, 36), QColor(Qt::yellow));
    EXPECT_EQ(LedPixel(Meter, 41), QColor(Qt::yellow));
    EXPECT_EQ(LedPixel(Meter, 42), QColor(128, 128, 0));
    EXPECT_EQ(LedPixel(Meter, 47), QColor(128, 0, 0));
    Meter.SetValuesNow(0, 0);
    EXPECT_EQ(LedPixel(Meter, 47), QColor(Qt::red));
    Meter.SetValuesNow(TLedMeter::SilentdB, TLedMeter::SilentdB);
    EXPECT_EQ(LedPixel(Meter, 0), QColor(0, 64, 0));
}

TEST(LedMeterTest, RepaintsOnlyWhenTheLitLedsChange)
{
    TLedMeter Meter;
    Meter.resize(488, 35);
    Meter.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Meter));
    Meter.SetValuesNow(-12, -12);
    QCoreApplication::processEvents();
    const int Painted = Meter.PaintCount();
    for (double dB : {-11.9, -11.8, -11.7, -11.6})  // the same 24 LEDs stay lit
        Meter.SetValues(dB, dB);
    QCoreApplication::processEvents();
    EXPECT_EQ(Meter.PaintCount(), Painted);
    Meter.SetValues(-6, -6);
    QTRY_VERIFY(Meter.PaintCount() > Painted);
}

}  // namespace
