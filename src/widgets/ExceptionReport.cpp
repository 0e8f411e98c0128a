#include "widgets/ExceptionReport.h"

#include "lang/Lang.h"
#include "lang/Language_Forms.h"
#include "lang/Language_Functions.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaEnum>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QSysInfo>
#include <QThread>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>

TExceptionDialog::TExceptionDialog(const QString& Text, const QString& Details, QWidget* Parent)
    : QDialog(Parent), FText(Text), FDetails(Details)
{
    setObjectName("Exception");
    setWindowTitle(GetMessageText("Error"));
    setModal(true);

    auto* Icon = new QLabel(this);
    Icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(32, 32));
    Icon->setAlignment(Qt::AlignTop);
    auto* Message = new QLabel(Text, this);
    Message->setObjectName("Label_Error");
    Message->setWordWrap(true);
    Message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Message->setMinimumWidth(360);

    FDetailsView = new QPlainTextEdit(Details, this);
    FDetailsView->setObjectName("Memo_Details");
    FDetailsView->setReadOnly(true);
    FDetailsView->setMinimumHeight(140);
    FDetailsView->hide();

    auto* Copy = new QPushButton(QString::fromUtf8("Копировать"), this);
    Copy->setObjectName("Button_Copy");
    auto* More = new QPushButton(QString::fromUtf8("Подробнее >>"), this);
    More->setObjectName("Button_Details");
    More->setCheckable(true);
    auto* Continue = new QPushButton(GetMessageText("Continue"), this);
    Continue->setObjectName("Button_Continue");
    Continue->setDefault(true);
    auto* Terminate = new QPushButton(GetMessageText("Exit"), this);
    Terminate->setObjectName("Button_Terminate");

    connect(Copy, &QPushButton::clicked, this, [this] { QGuiApplication::clipboard()->setText(ReportText()); });
    connect(More, &QPushButton::toggled, this, [this](bool On) {
        FDetailsView->setVisible(On);
        adjustSize();
    });
    connect(Continue, &QPushButton::clicked, this, &QDialog::reject);
    connect(Terminate, &QPushButton::clicked, this, [this] {
        FTerminate = true;
        accept();
    });

    auto* Top = new QHBoxLayout;
    Top->addWidget(Icon);
    Top->addWidget(Message, 1);
    auto* Buttons = new QHBoxLayout;
    Buttons->addWidget(Copy);
    Buttons->addWidget(More);
    Buttons->addStretch(1);
    Buttons->addWidget(Continue);
    Buttons->addWidget(Terminate);
    auto* Layout = new QVBoxLayout(this);
    Layout->addLayout(Top);
    Layout->addWidget(FDetailsView, 1);
    Layout->addLayout(Buttons);

    auto* Language = new TLanguage(this);
    Language->Section = "Exception";
    ApplyLanguageToWindow(this);
}

QString TExceptionDialog::ReportText() const
{
    return FText + "\n\n" + FDetails;
}

namespace {

QString TypeName(const std::type_info& Type)
{
    int Status = 0;
    char* Name = abi::__cxa_demangle(Type.name(), nullptr, nullptr, &Status);
    const QString Result = QString::fromUtf8(Status == 0 && Name ? Name : Type.name());
    std::free(Name);
    return Result;
}

QString ExceptionTypeName(std::exception_ptr Error)
{
    try {
        std::rethrow_exception(Error);
    } catch (const std::exception& E) {
        return TypeName(typeid(E));
    } catch (...) {
        const std::type_info* Type = abi::__cxa_current_exception_type();
        return Type ? TypeName(*Type) : QString("unknown");
    }
}

bool ReportOpen = false;

}  // namespace

QString ExceptionText(std::exception_ptr Error)
{
    try {
        std::rethrow_exception(Error);
    } catch (const std::exception& E) {
        const QString Text = QString::fromUtf8(E.what());
        return Text.isEmpty() ? GetMessageText("UnknownError") : Text;
    } catch (...) {
        return GetMessageText("UnknownError");
    }
}

void ReportEscapedException(std::exception_ptr Error, const QObject* Receiver, const QEvent* Event)
{
    const QString Text = ExceptionText(Error);
    QStringList Details;
    Details << "Exception: " + ExceptionTypeName(Error);
    if (Receiver)
        Details << QString("Object: %1 \"%2\"").arg(QString::fromUtf8(Receiver->metaObject()->className()), Receiver->objectName());
    if (Event) {
        const char* EventName = QMetaEnum::fromType<QEvent::Type>().valueToKey(Event->type());
        Details << "Event: " + (EventName ? QString::fromUtf8(EventName) : QString::number(int(Event->type())));
    }
    Details << "Thread: " + QString(QThread::currentThread() == qApp->thread() ? "main" : "other");
    Details << "Time: " + QDateTime::currentDateTime().toString("dd.MM.yyyy hh:mm:ss");
    Details << "Program: " + QCoreApplication::applicationName() + " " + QCoreApplication::applicationVersion();
    Details << "Qt: " + QString::fromUtf8(qVersion());
    Details << "System: " + QSysInfo::prettyProductName() + " (" + QSysInfo::currentCpuArchitecture() + ")";
    const QString DetailText = Details.join('\n');

    std::fprintf(stderr, "Unhandled exception: %s\n%s\n", Text.toUtf8().constData(), DetailText.toUtf8().constData());
    std::fflush(stderr);

    if (ReportOpen || !qobject_cast<QApplication*>(QCoreApplication::instance())
        || QThread::currentThread() != qApp->thread())
        return;
    ReportOpen = true;
    TExceptionDialog Dialog(Text, DetailText);
    Dialog.exec();
    ReportOpen = false;
    if (Dialog.TerminateChosen())
        std::_Exit(3);
}
