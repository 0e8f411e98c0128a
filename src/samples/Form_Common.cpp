#include "samples/Form_Common.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QWidget>

#include <algorithm>

QPoint PlaceOverWindow(const QWidget* Owner, QSize Size, const QScreen* Fallback)
{
    const QScreen* Screen = Owner && Owner->screen() ? Owner->screen() : Fallback;
    if (!Screen)
        Screen = QGuiApplication::primaryScreen();
    if (!Screen)
        return {0, 0};
    const QRect Work = Screen->availableGeometry();
    const QRect Over = Owner && Owner->isVisible() ? Owner->frameGeometry() : Work;
    int Left = Over.left() + (Over.width() - Size.width()) / 2;
    int Top = Over.top() + (Over.height() - Size.height()) / 2;
    Left = std::min(Left, Work.left() + Work.width() - 10 - Size.width());
    Top = std::min(Top, Work.top() + Work.height() - 10 - Size.height());
    Left = std::max(Left, Work.left() + 10);
    Top = std::max(Top, Work.top() + 10);
    return {Left, Top};
}

bool ClickForDialogKey(const QKeyEvent* Event, QAbstractButton* Ok, QAbstractButton* Cancel)
{
    switch (Event->key()) {
    case Qt::Key_Escape:
        Cancel->click();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Ok->click();
        return true;
    default:
        return false;
    }
}
