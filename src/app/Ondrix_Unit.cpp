#include "app/Ondrix_Unit.h"

#include <QWidget>

TOndrix::TOndrix(QWidget* Parent)
    : QMainWindow(Parent)
{
    setObjectName("Ondrix");
    setWindowTitle("ONDRIX ");
    setCentralWidget(new QWidget(this));
    resize(800, 600);
}
