#include "app/StartupForm.h"

#include "core/Common_Settings.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>

TStartupForm::TStartupForm(QWidget* Parent)
    : QWidget(Parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName("StartupForm");
    setAttribute(Qt::WA_DeleteOnClose);
    const QPixmap Image = Picture();
    auto* Label = new QLabel(this);
    Label->setObjectName("Image");
    Label->setPixmap(Image);
    Label->setGeometry(2, 2, Image.width(), Image.height());
    setFixedSize(404, Image.height() + 4);
    setStyleSheet("TStartupForm { background: #202830; }");
}

QPixmap TStartupForm::Picture()
{
    QPixmap Image(400, 65);
    QPainter Painter(&Image);
    QLinearGradient Fill(0, 0, 400, 65);
    Fill.setColorAt(0, QColor(24, 44, 72));
    Fill.setColorAt(1, QColor(40, 110, 150));
    Painter.fillRect(Image.rect(), Fill);
    // A row of level bars, as the level meter shows them.
    for (int I = 0; I < 24; ++I) {
        const int Height = 8 + (I * 37 % 29);
        Painter.fillRect(300 + I * 4, 56 - Height, 2, Height, QColor(120, 220, 120, 180));
    }
    QFont Font = Painter.font();
    Font.setPixelSize(30);
    Font.setBold(true);
    Painter.setFont(Font);
    Painter.setPen(Qt::white);
    Painter.drawText(QRect(14, 4, 280, 40), Qt::AlignLeft | Qt::AlignVCenter, "ONDRIX");
    Font.setPixelSize(11);
    Font.setBold(false);
    Painter.setFont(Font);
    Painter.drawText(QRect(16, 42, 280, 18), Qt::AlignLeft | Qt::AlignVCenter,
                     "Version " + TCommonSettings::ProgramVersionText());
    return Image;
}

void TStartupForm::PlaceNear(const QWidget* Near)
{
    const QScreen* Screen = Near ? QGuiApplication::screenAt(Near->frameGeometry().center()) : nullptr;
    if (!Screen)
        Screen = Near && Near->screen() ? Near->screen() : QGuiApplication::primaryScreen();
    if (!Screen)
        return;
    const QRect Area = Screen->availableGeometry();
    move(Area.left() + (Area.width() - width()) / 2, Area.top() + (Area.height() - height()) / 2);
}
