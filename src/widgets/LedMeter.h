#pragma once
// TLedMeter: a stereo LED level meter. Each channel is a row of StepCount LEDs spanning
// PositionMin .. PositionMax dB; LEDs from PositionLow on light in the middle colour, from
// PositionMid on in the high colour. The scale (LablelCount divisions) sits between the rows.
//
// Repainting is cheap: the unlit and the lit meter are drawn once into two pixmaps (again only
// when the size or a property changes); a level change copies the lit part of one over the
// other, and only when the number of lit LEDs changed.

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QStringList>
#include <QWidget>

class TLedMeter : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Stereo READ Stereo WRITE SetStereo)
    Q_PROPERTY(bool Divider READ Divider WRITE SetDivider)
    Q_PROPERTY(bool Gradient READ Gradient WRITE SetGradient)
    Q_PROPERTY(bool SmoothVolume READ SmoothVolume WRITE SetSmoothVolume)
    Q_PROPERTY(int StepCount READ StepCount WRITE SetStepCount)
    Q_PROPERTY(int LablelCount READ LablelCount WRITE SetLablelCount)
    Q_PROPERTY(double PositionMin READ PositionMin WRITE SetPositionMin)
    Q_PROPERTY(double PositionLow READ PositionLow WRITE SetPositionLow)
    Q_PROPERTY(double PositionMid READ PositionMid WRITE SetPositionMid)
    Q_PROPERTY(double PositionMax READ PositionMax WRITE SetPositionMax)
    Q_PROPERTY(bool NoMenu READ NoMenu WRITE SetNoMenu)
    Q_PROPERTY(QStringList MenuItems READ MenuItems WRITE SetMenuItems)

public:
    // The level shown for silence and for a stopped meter.
    static constexpr double SilentdB = -92.0;
    // With SmoothVolume a falling level drops by at most this much per new value (about
    // 30 dB a second at 20 values a second); a rising level shows at once.
    static constexpr double FallPerValuedB = 1.5;

    explicit TLedMeter(QWidget* Parent = nullptr);

    bool Stereo() const { return FStereo; }
    void SetStereo(bool Value);
    // A gap between neighbouring LEDs.
    bool Divider() const { return FDivider; }
    void SetDivider(bool Value);
    // LEDs shaded from light at the top to dark at the bottom.
    bool Gradient() const { return FGradient; }
    void SetGradient(bool Value);
    bool SmoothVolume() const { return FSmoothVolume; }
    void SetSmoothVolume(bool Value) { FSmoothVolume = Value; }
    int StepCount() const { return FStepCount; }
    void SetStepCount(int Value);
    int LablelCount() const { return FLablelCount; }
    void SetLablelCount(int Value);
    double PositionMin() const { return FPositionMin; }
    void SetPositionMin(double Value);
    double PositionLow() const { return FPositionLow; }
    void SetPositionLow(double Value);
    double PositionMid() const { return FPositionMid; }
    void SetPositionMid(double Value);
    double PositionMax() const { return FPositionMax; }
    void SetPositionMax(double Value);
    bool NoMenu() const { return FNoMenu; }
    void SetNoMenu(bool Value);
    // Captions of the pop-up menu's four switches: stereo, divider, gradient, smooth change
    // (a language file sets them).
    const QStringList& MenuItems() const { return FMenuItems; }
    void SetMenuItems(const QStringList& Value);

    // Active (lit) and inactive colours of the low, middle and high ranges.
    void SetActiveColors(const QColor& Low, const QColor& Mid, const QColor& High);
    void SetInactiveColors(const QColor& Low, const QColor& Mid, const QColor& High);
    void SetScaleFont(const QFont& Font);
    const QFont& ScaleFont() const { return FScaleFont; }

    // New channel levels in dB (the right one ignored when not Stereo); smoothed when
    // SmoothVolume is on.
    void SetValues(double LeftdB, double RightdB);
    // Shows these levels at once, without smoothing (a stopped meter goes to SilentdB so).
    void SetValuesNow(double LeftdB, double RightdB);
    double LeftValue() const { return FValue[0]; }
    double RightValue() const { return FValue[1]; }
    // LEDs lit for a level: 0 at or below PositionMin, StepCount at PositionMax.
    int LitSteps(double dB) const;
    int LitLeft() const { return FLit[0]; }
    int LitRight() const { return FLit[1]; }
    // How many times the meter was painted (the cost of a level change shows in it).
    int PaintCount() const { return FPaintCount; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void contextMenuEvent(QContextMenuEvent* Event) override;

private:
    struct TRow {
        int Top = 0;
        int Height = 0;
    };
    void Changed();
    void Rebuild();
    void ApplyValues();
    void DrawLeds(QPainter& Painter, const TRow& Row, bool Lit) const;
    void DrawScale(QPainter& Painter, int Top, int Height) const;
    QColor LedColor(int Step, bool Lit) const;
    int StepLeft(int Step) const;
    QRect BarRect() const;
    QList<TRow> Rows() const;

    bool FStereo = true, FDivider = true, FGradient = true, FSmoothVolume = true, FNoMenu = false;
    int FStepCount = 48, FLablelCount = 12;
    QStringList FMenuItems;
    double FPositionMin = -24, FPositionLow = -6, FPositionMid = -1, FPositionMax = 0;
    QColor FActive[3] = {Qt::green, Qt::yellow, Qt::red};
    QColor FInactive[3] = {QColor(0, 64, 0), QColor(128, 128, 0), QColor(128, 0, 0)};
    QFont FScaleFont;

    double FValue[2] = {SilentdB, SilentdB};
    int FLit[2] = {0, 0};
    QPixmap FOff, FOn;
    bool FDirty = true;
    int FPaintCount = 0;
};
