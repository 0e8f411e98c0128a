#include "widgets/Glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

const QColor Green(0, 140, 0);
const QColor Red(200, 0, 0);
const QColor Blue(0, 70, 170);

void Plus(QPainter& P, const QRectF& R, const QColor& Color)
{
    P.setPen(QPen(Color, R.width() / 5, Qt::SolidLine, Qt::FlatCap));
    P.drawLine(QPointF(R.center().x(), R.top()), QPointF(R.center().x(), R.bottom()));
    P.drawLine(QPointF(R.left(), R.center().y()), QPointF(R.right(), R.center().y()));
}

void Minus(QPainter& P, const QRectF& R, const QColor& Color)
{
    P.setPen(QPen(Color, R.width() / 5, Qt::SolidLine, Qt::FlatCap));
    P.drawLine(QPointF(R.left(), R.center().y()), QPointF(R.right(), R.center().y()));
}

// A lamp: lit (filled with its colour) or dark (outlined).
void Lamp(QPainter& P, const QRectF& R, const QColor& Color, bool Lit)
{
    P.setPen(QPen(Color.darker(140), R.width() / 10));
    P.setBrush(Lit ? Color : QColor(Qt::transparent));
    P.drawEllipse(R);
}

void Draw(QPainter& P, TGlyph Glyph, double S)
{
    const QRectF Full(S * 0.1, S * 0.1, S * 0.8, S * 0.8);
    switch (Glyph) {
    case TGlyph::Add:
        Plus(P, Full.adjusted(S * 0.05, S * 0.05, -S * 0.05, -S * 0.05), Green);
        break;
    case TGlyph::Delete:
        Minus(P, Full.adjusted(S * 0.05, 0, -S * 0.05, 0), Red);
        break;
    case TGlyph::Properties: {
        P.setPen(QPen(Blue, S / 12));
        P.setBrush(QColor(235, 240, 255));
        P.drawRect(Full);
        for (int Line = 1; Line <= 3; ++Line) {
            const double Y = Full.top() + Full.height() * Line / 4.0;
            P.drawLine(QPointF(Full.left() + S * 0.15, Y), QPointF(Full.right() - S * 0.15, Y));
        }
        break;
    }
    case TGlyph::Toggle:
        Lamp(P, QRectF(S * 0.05, S * 0.3, S * 0.45, S * 0.45), Green, true);
        Lamp(P, QRectF(S * 0.5, S * 0.3, S * 0.45, S * 0.45), Green, false);
        break;
    case TGlyph::Enable:
        Lamp(P, Full, Green, true);
        break;
    case TGlyph::Disable:
        Lamp(P, Full, Red, false);
        break;
    case TGlyph::EnableAll:
        Lamp(P, QRectF(S * 0.05, S * 0.05, S * 0.55, S * 0.55), Green, true);
        Lamp(P, QRectF(S * 0.4, S * 0.4, S * 0.55, S * 0.55), Green, true);
        break;
    case TGlyph::DisableAll:
        Lamp(P, QRectF(S * 0.05, S * 0.05, S * 0.55, S * 0.55), Red, false);
        Lamp(P, QRectF(S * 0.4, S * 0.4, S * 0.55, S * 0.55), Red, false);
        break;
    case TGlyph::Find: {
        P.setPen(QPen(QColor(120, 60, 0), S / 8, Qt::SolidLine, Qt::RoundCap));
        P.setBrush(QColor(255, 240, 180));
        P.drawEllipse(QRectF(S * 0.1, S * 0.1, S * 0.5, S * 0.5));
        P.drawLine(QPointF(S * 0.55, S * 0.55), QPointF(S * 0.9, S * 0.9));
        break;
    }
    case TGlyph::CheckOff:
    case TGlyph::CheckOn: {
        const QRectF Box(S * 0.15, S * 0.15, S * 0.7, S * 0.7);
        P.setPen(QPen(QColor(90, 90, 90), S / 14));
        P.setBrush(Qt::white);
        P.drawRect(Box);
        if (Glyph == TGlyph::CheckOn) {
            QPainterPath Mark;
            Mark.moveTo(Box.left() + Box.width() * 0.18, Box.top() + Box.height() * 0.5);
            Mark.lineTo(Box.left() + Box.width() * 0.42, Box.top() + Box.height() * 0.78);
            Mark.lineTo(Box.left() + Box.width() * 0.85, Box.top() + Box.height() * 0.2);
            P.setPen(QPen(Green, S / 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            P.setBrush(Qt::NoBrush);
            P.drawPath(Mark);
        }
        break;
    }
    case TGlyph::Program: {
        P.setPen(Qt::NoPen);
        P.setBrush(QColor(20, 40, 90));
        P.drawRoundedRect(QRectF(0, 0, S, S), S * 0.18, S * 0.18);
        // A level meter: bars rising from green to red.
        const QColor Colors[] = {QColor(0, 200, 0), QColor(0, 200, 0), QColor(230, 230, 0), QColor(230, 0, 0)};
        for (int Bar = 0; Bar < 4; ++Bar) {
            const double Height = S * (0.25 + 0.15 * Bar);
            P.setBrush(Colors[Bar]);
            P.drawRect(QRectF(S * (0.12 + 0.2 * Bar), S * 0.88 - Height, S * 0.15, Height));
        }
        break;
    }
    }
}

}  // namespace

QIcon GlyphIcon(TGlyph Glyph)
{
    QIcon Icon;
    for (int Size : {16, 24, 32, 48, 64}) {
        QPixmap Image(Size, Size);
        Image.fill(Qt::transparent);
        QPainter Painter(&Image);
        Painter.setRenderHint(QPainter::Antialiasing);
        Draw(Painter, Glyph, Size);
        Painter.end();
        Icon.addPixmap(Image);
    }
    return Icon;
}
