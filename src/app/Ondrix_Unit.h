#pragma once
// The main window. It is created hidden, shown once start-up is done, and its closing ends the
// program.

#include <QMainWindow>

class TOndrix : public QMainWindow {
    Q_OBJECT

public:
    explicit TOndrix(QWidget* Parent = nullptr);
};
