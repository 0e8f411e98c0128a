#include "app/OndrixApplication.h"

#include "widgets/ExceptionReport.h"

TOndrixApplication::TOndrixApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

bool TOndrixApplication::notify(QObject* Receiver, QEvent* Event)
{
    try {
        return QApplication::notify(Receiver, Event);
    } catch (...) {
        ReportEscapedException(std::current_exception(), Receiver, Event);
        return false;
    }
}
