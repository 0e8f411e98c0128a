#pragma once
// The start-up window: a borderless picture shown while the configuration loads.

#include <QPixmap>
#include <QWidget>

class TStartupForm : public QWidget {
    Q_OBJECT

public:
    // Deletes itself when closed.
    explicit TStartupForm(QWidget* Parent = nullptr);

    // Places the window in the middle of the work area of the screen nearest to Near.
    void PlaceNear(const QWidget* Near);

    static QPixmap Picture();  // 400 by 65 pixels
};
