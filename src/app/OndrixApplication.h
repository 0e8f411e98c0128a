#pragma once
// The program's application object. An exception that escapes the handling of an event (a
// button's click handler, a timer, a queued call) is caught here and shown in the exception
// report instead of ending the program; the event counts as not handled.

#include <QApplication>

class TOndrixApplication : public QApplication {
    Q_OBJECT

public:
    TOndrixApplication(int& argc, char** argv);

    bool notify(QObject* Receiver, QEvent* Event) override;
};
