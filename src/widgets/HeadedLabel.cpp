#include "widgets/HeadedLabel.h"

#include <QLinearGradient>
#include <QPainter>

THeadedLabel::THeadedLabel(QWidget* Parent)
    : QWidget(Parent)
{
    QFont Bold = font();
    Bold.setBold(true);
    Bold.setPixelSize(15);
    setFont(Bold);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void THeadedLabel::SetText(const QString& Text)
{
    FText = Text;
    setToolTip(Text);
    update();
}

void THeadedLabel::SetColors(const QColor& From, const QColor& To)
{
    FFrom = From;
    FTo = To;
    update();
}

QSize THeadedLabel::sizeHint() const { return {200, fontMetrics().height() + 12}; }
QSize THeadedLabel::minimumSizeHint() const { return {20, fontMetrics().height() + 12}; }

void THeadedLabel::paintEvent(QPaintEvent*)
{
    QPainter Painter(this);
    QLinearGradient Fill(rect().topLeft(), rect().topRight());
    Fill.setColorAt(0, FFrom);
    Fill.setColorAt(1, FTo);
    Painter.fillRect(rect(), Fill);
    Painter.setPen(Qt::white);
    // Too long for the strip: cut with an ellipsis rather than clip mid-letter.
    const QRect Text = rect().adjusted(6, 0, -6, 0);
    Painter.drawText(Text, Qt::AlignCenter, fontMetrics().elidedText(FText, Qt::ElideRight, Text.width()));
}
