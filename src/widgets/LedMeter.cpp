#include "widgets/LedMeter.h"

#include <QContextMenuEvent>
#include <QLinearGradient>
#include <QMenu>
#include <QPainter>

#include <algorithm>
#include <cmath>

TLedMeter::TLedMeter(QWidget* Parent)
    : QWidget(Parent)
{
    FScaleFont = font();
    FScaleFont.setPixelSize(9);
    FMenuItems = {QString::fromUtf8("Стерео"), QString::fromUtf8("Разделитель"), QString::fromUtf8("Градиент"),
                  QString::fromUtf8("Плавное изменение")};
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void TLedMeter::SetStereo(bool Value) { FStereo = Value; Changed(); }
void TLedMeter::SetDivider(bool Value) { FDivider = Value; Changed(); }
void TLedMeter::SetGradient(bool Value) { FGradient = Value; Changed(); }
void TLedMeter::SetStepCount(int Value) { FStepCount = std::max(1, Value); Changed(); }
void TLedMeter::SetLablelCount(int Value) { FLablelCount = std::max(0, Value); Changed(); }
void TLedMeter::SetPositionMin(double Value) { FPositionMin = Value; Changed(); }
void TLedMeter::SetPositionLow(double Value) { FPositionLow = Value; Changed(); }
void TLedMeter::SetPositionMid(double Value) { FPositionMid = Value; Changed(); }
void TLedMeter::SetPositionMax(double Value) { FPositionMax = Value; Changed(); }
void TLedMeter::SetNoMenu(bool Value) { FNoMenu = Value; }

void TLedMeter::SetMenuItems(const QStringList& Value)
{
    // Always four captions: missing ones keep theirs.
    for (qsizetype I = 0; I < FMenuItems.size() && I < Value.size(); ++I)
        FMenuItems[I] = Value.at(I);
}

void TLedMeter::SetActiveColors(const QColor& Low, const QColor& Mid, const QColor& High)
{
    FActive[0] = Low;
    FActive[1] = Mid;
    FActive[2] = High;
    Changed();
}

void TLedMeter::SetInactiveColors(const QColor& Low, const QColor& Mid, const QColor& High)
{
    FInactive[0] = Low;
    FInactive[1] = Mid;
    FInactive[2] = High;
    Changed();
}

void TLedMeter::SetScaleFont(const QFont& Font)
{
    FScaleFont = Font;
    Changed();
}

void TLedMeter::Changed()
{
    FDirty = true;
    FLit[0] = LitSteps(FValue[0]);
    FLit[1] = LitSteps(FValue[1]);
    update();
}

int TLedMeter::LitSteps(double dB) const
{
    const double Range = FPositionMax - FPositionMin;
    if (!(Range > 0) || !std::isfinite(dB))
        return 0;
    const double Steps = (dB - FPositionMin) / Range * FStepCount;
    // A level exactly on an LED's upper edge lights it, whatever the rounding of the division.
    return std::clamp(int(std::floor(Steps + 1e-9)), 0, FStepCount);
}

void TLedMeter::SetValues(double LeftdB, double RightdB)
{
    const double New[2] = {LeftdB, FStereo ? RightdB : LeftdB};
    for (int C = 0; C < 2; ++C) {
        const double Value = std::isfinite(New[C]) ? New[C] : SilentdB;
        if (FSmoothVolume && Value < FValue[C])
            FValue[C] = std::max(Value, FValue[C] - FallPerValuedB);
        else
            FValue[C] = Value;
    }
    ApplyValues();
}

void TLedMeter::SetValuesNow(double LeftdB, double RightdB)
{
    FValue[0] = std::isfinite(LeftdB) ? LeftdB : SilentdB;
    FValue[1] = FStereo ? (std::isfinite(RightdB) ? RightdB : SilentdB) : FValue[0];
    ApplyValues();
}

void TLedMeter::ApplyValues()
{
    const int Left = LitSteps(FValue[0]);
    const int Right = LitSteps(FValue[1]);
    if (Left == FLit[0] && Right == FLit[1])
        return;  // the same LEDs stay lit: nothing to paint
    FLit[0] = Left;
    FLit[1] = Right;
    update();
}

QSize TLedMeter::sizeHint() const { return {400, 35}; }
QSize TLedMeter::minimumSizeHint() const { return {60, 20}; }

QRect TLedMeter::BarRect() const
{
    return rect().adjusted(4, 2, -4, -2);
}

QList<TLedMeter::TRow> TLedMeter::Rows() const
{
    const QRect Bar = BarRect();
    const int ScaleHeight = FLablelCount > 0 ? QFontMetrics(FScaleFont).height() : 2;
    QList<TRow> Result;
    if (FStereo) {
        const int RowHeight = std::max(1, (Bar.height() - ScaleHeight) / 2);
        Result.append({Bar.top(), RowHeight});
        Result.append({Bar.bottom() + 1 - RowHeight, RowHeight});
    } else {
        Result.append({Bar.top(), std::max(1, Bar.height() - ScaleHeight)});
    }
    return Result;
}

int TLedMeter::StepLeft(int Step) const
{
    const QRect Bar = BarRect();
    return Bar.left() + int(qint64(Step) * Bar.width() / FStepCount);
}

QColor TLedMeter::LedColor(int Step, bool Lit) const
{
    // An LED takes the colour of the range its upper edge falls in.
    const double Top = FPositionMin + (Step + 1) * (FPositionMax - FPositionMin) / FStepCount;
    const int Range = Top > FPositionMid + 1e-9 ? 2 : Top > FPositionLow + 1e-9 ? 1 : 0;
    return Lit ? FActive[Range] : FInactive[Range];
}

void TLedMeter::DrawLeds(QPainter& Painter, const TRow& Row, bool Lit) const
{
    for (int Step = 0; Step < FStepCount; ++Step) {
        const int Left = StepLeft(Step);
        const int Right = StepLeft(Step + 1) - (FDivider ? 1 : 0);
        if (Right <= Left)
            continue;
        const QRect Led(Left, Row.Top, Right - Left, Row.Height);
        const QColor Color = LedColor(Step, Lit);
        if (FGradient) {
            QLinearGradient Shade(Led.topLeft(), Led.bottomLeft());
            Shade.setColorAt(0, Color.lighter(160));
            Shade.setColorAt(0.45, Color);
            Shade.setColorAt(1, Color.darker(150));
            Painter.fillRect(Led, Shade);
        } else {
            Painter.fillRect(Led, Color);
        }
    }
}

void TLedMeter::DrawScale(QPainter& Painter, int Top, int Height) const
{
    if (FLablelCount <= 0 || Height <= 0)
        return;
    const QRect Bar = BarRect();
    Painter.setFont(FScaleFont);
    Painter.setPen(QColor(200, 200, 200));
    const QFontMetrics Metrics(FScaleFont);
    int LastRight = Bar.left() - 1000;
    for (int K = 0; K <= FLablelCount; ++K) {
        const double Value = FPositionMin + K * (FPositionMax - FPositionMin) / FLablelCount;
        const QString Text = QString::number(std::lround(Value));
        const int X = Bar.left() + int(qint64(K) * Bar.width() / FLablelCount);
        const int Width = Metrics.horizontalAdvance(Text);
        // Labels keep inside the meter and never overlap: a crowded scale skips some.
        const int Left = std::clamp(X - Width / 2, 0, std::max(0, width() - Width));
        if (Left <= LastRight + 3)
            continue;
        Painter.drawText(QRect(Left, Top, Width, Height), Qt::AlignCenter, Text);
        LastRight = Left + Width;
    }
}

void TLedMeter::Rebuild()
{
    const qreal Ratio = devicePixelRatioF();
    for (int Lit = 0; Lit < 2; ++Lit) {
        QPixmap Image(size() * Ratio);
        Image.setDevicePixelRatio(Ratio);
        Image.fill(Qt::black);
        QPainter Painter(&Image);
        const QList<TRow> Bars = Rows();
        for (const TRow& Row : Bars)
            DrawLeds(Painter, Row, Lit != 0);
        const int ScaleTop = Bars.first().Top + Bars.first().Height;
        const int ScaleBottom = Bars.size() > 1 ? Bars.last().Top : BarRect().bottom() + 1;
        DrawScale(Painter, ScaleTop, ScaleBottom - ScaleTop);
        (Lit ? FOn : FOff) = Image;
    }
    FDirty = false;
}

void TLedMeter::resizeEvent(QResizeEvent* Event)
{
    FDirty = true;
    QWidget::resizeEvent(Event);
}

void TLedMeter::paintEvent(QPaintEvent*)
{
    ++FPaintCount;
    if (FDirty || FOff.size() != size() * devicePixelRatioF())
        Rebuild();
    QPainter Painter(this);
    Painter.drawPixmap(0, 0, FOff);
    const QList<TRow> Bars = Rows();
    const qreal Ratio = devicePixelRatioF();
    for (int C = 0; C < Bars.size(); ++C) {
        if (FLit[C] <= 0)
            continue;
        const TRow& Row = Bars[C];
        const QRect Target(StepLeft(0), Row.Top, StepLeft(FLit[C]) - StepLeft(0), Row.Height);
        const QRectF Source(Target.left() * Ratio, Target.top() * Ratio, Target.width() * Ratio, Target.height() * Ratio);
        Painter.drawPixmap(Target, FOn, Source);
    }
}

void TLedMeter::contextMenuEvent(QContextMenuEvent* Event)
{
    if (FNoMenu) {
        Event->ignore();
        return;
    }
    QMenu Menu(this);
    struct TChoice {
        bool (TLedMeter::*Get)() const;
        void (TLedMeter::*Set)(bool);
    };
    const TChoice Choices[] = {
        {&TLedMeter::Stereo, &TLedMeter::SetStereo},
        {&TLedMeter::Divider, &TLedMeter::SetDivider},
        {&TLedMeter::Gradient, &TLedMeter::SetGradient},
        {&TLedMeter::SmoothVolume, &TLedMeter::SetSmoothVolume},
    };
    for (qsizetype I = 0; I < FMenuItems.size(); ++I) {
        const TChoice& Choice = Choices[I];
        QAction* Action = Menu.addAction(FMenuItems.at(I));
        Action->setCheckable(true);
        Action->setChecked((this->*Choice.Get)());
        connect(Action, &QAction::toggled, this, [this, Set = Choice.Set](bool On) { (this->*Set)(On); });
    }
    Menu.exec(Event->globalPos());
}
