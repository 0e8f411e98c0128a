#include "app/Ondrix_Unit.h"

#include "app/InfoForms.h"
#include "core/Common_Settings.h"
#include "samples/Class_SampleRec.h"
#include "lang/Lang.h"
#include "widgets/Glyphs.h"
#include "widgets/HeadedLabel.h"
#include "widgets/KvListView.h"
#include "widgets/LedMeter.h"
#include "widgets/RadioGroup.h"
#include "widgets/TrayComp.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

TOndrix::TOndrix(QWidget* Parent)
    : QMainWindow(Parent)
{
    setObjectName("Ondrix");
    setWindowTitle("ONDRIX ");
    setWindowIcon(GlyphIcon(TGlyph::Program));
    QFont WindowFont("Tahoma");
    WindowFont.setPixelSize(11);
    setFont(WindowFont);
    setMinimumSize(300, 300);

    CreateActions();
    CreateMenus();

    auto* Client = new QWidget(this);
    Client->setObjectName("Client");
    auto* Layout = new QVBoxLayout(Client);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);
    FPanelTop = new QWidget;
    FPanelTop->setObjectName("Panel_Top");
    FPanelTop->setFixedHeight(34);
    FPanelTop->hide();
    Layout->addWidget(FPanelTop);
    Layout->addWidget(CreateTopPanel());
    FPageControl = new QTabWidget;
    FPageControl->setObjectName("PageControl");
    FPageControl->setMinimumHeight(195);
    FPageControl->addTab(CreateSamplesSheet(), QString::fromUtf8("Образцы"));
    FPageControl->addTab(CreateSettingsSheet(), QString::fromUtf8("Настройки"));
    Layout->addWidget(FPageControl, 1);
    setCentralWidget(Client);

    // The sample view: cells from the sample list, keys and pop-up menu from the tool bar.
    FSampleView->OnCellData = [this](int Row, int Column, TKvCellData& Cell) { SampleViewCellData(Row, Column, Cell); };
    FSampleView->OnAfterCellData = [this](QPainter& Painter, int Row, int Column, const QRect& Rect) {
        if (Column == 2)
            DrawProgressCell(Painter, Row, Rect);
    };
    FSampleView->OnKeyDown = [this](QKeyEvent* Event) {
        return SampleViewKeyDown(Event->key(), Event->modifiers(), Event->nativeScanCode());
    };
    connect(FSampleView, &QWidget::customContextMenuRequested, this, [this](const QPoint& Position) {
        FSamplePopup->popup(FSampleView->viewport()->mapToGlobal(Position));
    });
    connect(FSamplePopup, &QMenu::aboutToShow, this, &TOndrix::SamplePopupPopup);
    connect(FSampleView->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TOndrix::UpdateSampleButtons);
    connect(FSampleView->model(), &QAbstractItemModel::rowsInserted, this, &TOndrix::UpdateSampleButtons);
    connect(FSampleView->model(), &QAbstractItemModel::rowsRemoved, this, &TOndrix::UpdateSampleButtons);
    FFrequencyView->OnKeyDown = [this](QKeyEvent* Event) { return FrequencyViewKeyDown(Event->key(), Event->modifiers()); };

    FTrayIco = new TTrayComp(this);
    FTrayIco->setObjectName("TrayIco");
    FTrayIco->SetIcon(windowIcon());
    connect(FTrayIco, &TTrayComp::LeftClick, this, &TOndrix::TrayIcoLeftClick);
    connect(FTrayIco, &TTrayComp::RightClick, this, &TOndrix::TrayIcoRightClick);
    connect(FProgIcon, &TRadioGroup::ItemIndexChanged, this, &TOndrix::ProgIconClick);

    // The device selector starts with the default device; the binding adds the devices.
    FComboBox_Device->addItem(GetMessageText("DefaultDevice"));
    FComboBox_Device->setCurrentIndex(0);

    const bool HasHelp = Settings && !Settings->HelpFolder.isEmpty();
    for (QAction* Action : FHelpActions)
        Action->setEnabled(HasHelp);

    FTimer = new QTimer(this);
    FTimer->setObjectName("Timer");
    FTimer->setInterval(1000);
    connect(FTimer, &QTimer::timeout, this, &TOndrix::TimerTimer);
    FTimer_Volume = new QTimer(this);
    FTimer_Volume->setObjectName("Timer_Volume");
    FTimer_Volume->setInterval(50);
    connect(FTimer_Volume, &QTimer::timeout, this, &TOndrix::Timer_VolumeTimer);

    FTree->setCurrentItem(FTree->topLevelItem(0));
    TreeChange();
    FPageControl->setCurrentIndex(0);
    UpdateSampleButtons();
    TimerTimer();
    FTimer->start();
    FTimer_Volume->start();

    resize(768, 574 + menuBar()->sizeHint().height());
    CentreOnWorkArea();
}

TOndrix::~TOndrix() = default;

QPoint TOndrix::CentredOnWorkArea(const QRect& WorkArea, const QSize& Size)
{
    int Left = WorkArea.left() + (WorkArea.width() - Size.width()) / 2;
    int Top = WorkArea.top() + (WorkArea.height() - Size.height()) / 2;
    const int RightEdge = WorkArea.left() + WorkArea.width();
    const int BottomEdge = WorkArea.top() + WorkArea.height();
    if (Left + Size.width() > RightEdge - 10)
        Left = RightEdge - 10 - Size.width();
    if (Top + Size.height() > BottomEdge - 10)
        Top = BottomEdge - 10 - Size.height();
    Left = std::max(Left, WorkArea.left() + 10);
    Top = std::max(Top, WorkArea.top() + 10);
    return {Left, Top};
}

void TOndrix::CentreOnWorkArea()
{
    const QScreen* Screen = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!Screen)
        return;
    move(CentredOnWorkArea(Screen->availableGeometry(), frameGeometry().size()));
}

QToolButton* TOndrix::SampleButton(const QString& Name) const
{
    return FSamplesToolBar->findChild<QToolButton*>(Name);
}

void TOndrix::UpdateSampleButtons()
{
    const bool Selected = !FSampleView->SelectedRows().isEmpty();
    const bool Any = FSampleView->RowCount() > 0;
    for (QAction* Action : FSamplesToolBar->actions()) {
        const QString Name = Action->objectName();
        if (Action->isSeparator() || Name == "AddSample_Btn_Action")
            continue;
        const bool All = Name == "Enable_All_Btn_Action" || Name == "Disable_All_Btn_Action";
        Action->setEnabled(All ? Any : Selected);
    }
}

void TOndrix::SampleViewCellData(int Row, int Column, TKvCellData& Cell)
{
    if (!FSamples || Row < 0 || Row >= FSamples->Count())
        return;
    const TSampleRec* Sample = FSamples->Items(Row);
    if (Column == 0) {
        Cell.Text = QString::number(Sample->Number + 1);
        Cell.ImageIndex = Sample->Enabled ? 1 : 0;
    } else if (Column == 1) {
        Cell.Text = Sample->Description;
    }
}

void TOndrix::DrawProgressCell(QPainter& Painter, int Row, const QRect& Rect) const
{
    if (!SampleProgress)
        return;
    const std::optional<int> Progress = SampleProgress(Row);
    if (!Progress)
        return;
    const int Percent = std::clamp(*Progress, 0, 100);
    QRect Frame = Rect.adjusted(2, 2, -2, -2);
    Painter.setPen(QColor(128, 0, 0));
    Painter.setBrush(Qt::NoBrush);
    Painter.drawRect(Frame.adjusted(0, 0, -1, -1));
    const QRect Bar = Frame.adjusted(2, 2, -2, -2);
    const int Filled = int(qint64(Percent) * Bar.width() / 100);
    if (Filled > 0)
        Painter.fillRect(QRect(Bar.left(), Bar.top(), Filled, Bar.height()), QColor(255, 102, 102));
    QFont Small("Small Fonts");
    Small.setPointSize(8);
    Painter.setFont(Small);
    Painter.setPen(FSampleView->palette().color(QPalette::Text));
    Painter.drawText(Frame, Qt::AlignCenter | Qt::TextSingleLine, QString::number(Percent) + " %");
}

bool TOndrix::SampleViewKeyDown(int Key, Qt::KeyboardModifiers Modifiers, quint32 NativeScanCode)
{
    const bool Keypad = Modifiers & Qt::KeypadModifier;
    const Qt::KeyboardModifiers Shift =
        Modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    auto Click = [this](const char* Name) {
        if (QToolButton* Button = SampleButton(QString::fromLatin1(Name)))
            Button->click();  // a disabled button does nothing
        return true;
    };
    // The key left of 1: "`"/"~" on a Latin layout, "ё"/"Ё" on a Russian one, X11 key code 49.
    const bool TildeKey = Key == Qt::Key_QuoteLeft || Key == Qt::Key_AsciiTilde || Key == 0x401 || Key == 0x451
                          || NativeScanCode == 49;
    switch (Key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return Click("SampleProp_Btn");
    case Qt::Key_Space:
        // Exact modifiers: Ctrl+Alt+Space is none of these and does nothing.
        if (Shift == Qt::NoModifier)
            return Click("ChangeEnable_Btn");
        if (Shift == Qt::ControlModifier)
            return Click("Enable_Btn");
        if (Shift == Qt::ShiftModifier)
            return Click("Disable_Btn");
        if (Shift == (Qt::ControlModifier | Qt::ShiftModifier))
            return Click("Find_Btn");
        return true;
    case Qt::Key_Insert:
        return Click("AddSample_Btn");
    case Qt::Key_Delete:
        return Click("DelSample_Btn");
    case Qt::Key_Plus:
        return Keypad ? Click("AddSample_Btn") : false;
    case Qt::Key_Minus:
        return Keypad ? Click("DelSample_Btn") : false;
    default:
        break;
    }
    if (TildeKey) {
        if (Shift == Qt::ControlModifier)
            return Click("Enable_All_Btn");
        if (Shift == Qt::ShiftModifier)
            return Click("Disable_All_Btn");
    }
    return false;
}

bool TOndrix::FrequencyViewKeyDown(int Key, Qt::KeyboardModifiers Modifiers)
{
    const bool Keypad = Modifiers & Qt::KeypadModifier;
    const char* Name = nullptr;
    if (Key == Qt::Key_Return || Key == Qt::Key_Enter)
        Name = "FrequencyPropBtn";
    else if (Key == Qt::Key_Insert || (Key == Qt::Key_Plus && Keypad))
        Name = "AddFrequencyBtn";
    else if (Key == Qt::Key_Delete || (Key == Qt::Key_Minus && Keypad))
        Name = "DelFrequencyBtn";
    if (!Name)
        return false;
    if (auto* Button = findChild<QToolButton*>(QString::fromLatin1(Name)))
        Button->click();
    return true;
}

void TOndrix::SamplePopupPopup()
{
    for (QAction* Item : FSamplePopup->actions())
        if (Item->data().toInt() == PopupItemTag) {
            FSamplePopup->removeAction(Item);
            delete Item;
        }
    for (QAction* Button : FSamplesToolBar->actions()) {
        QAction* Item = nullptr;
        if (Button->isSeparator()) {
            Item = FSamplePopup->addSeparator();
        } else {
            const QString Hint = Button->toolTip();
            Item = FSamplePopup->addAction(Button->icon(), Hint.left(Hint.indexOf('\r')));
            Item->setEnabled(Button->isEnabled());
            Item->setObjectName(Button->objectName().chopped(int(qstrlen("_Action"))) + "_Popup");
            QToolButton* ToolButton = qobject_cast<QToolButton*>(FSamplesToolBar->widgetForAction(Button));
            connect(Item, &QAction::triggered, ToolButton, [ToolButton] { ToolButton->click(); });
        }
        Item->setData(PopupItemTag);
    }
}

QString TOndrix::SettingsHeader(const QStringList& Path)
{
    QString Header;
    for (qsizetype I = 0; I + 1 < Path.size(); ++I)
        Header += Path.at(I) + " - ";
    return Path.isEmpty() ? QString() : Header + Path.last();
}

void TOndrix::TreeChange()
{
    for (QWidget* Panel : FPanels) {
        Panel->move(0, 0);
        Panel->hide();
        Panel->setMinimumSize(std::max(Panel->minimumWidth(), PanelMinimum), std::max(Panel->minimumHeight(), PanelMinimum));
    }
    ScrollBoxResize();
    const QTreeWidgetItem* Node = FTree->currentItem();
    QStringList Path;
    for (const QTreeWidgetItem* Item = Node; Item; Item = Item->parent())
        Path.prepend(Item->text(0));
    FLabel_Settings_Top->SetText(SettingsHeader(Path));
    if (!Node)
        return;
    const int Position = Node->parent() ? Node->parent()->indexOfChild(const_cast<QTreeWidgetItem*>(Node))
                                        : FTree->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(Node));
    if (Position >= 0 && Position < FPanels.size())
        FPanels.at(Position)->show();
}

void TOndrix::ScrollBoxResize()
{
    for (QWidget* Panel : FPanels)
        Panel->setGeometry(QRect(QPoint(0, 0), FScrollContent->size()));
}

bool TOndrix::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Watched == FScrollContent && Event->type() == QEvent::Resize)
        ScrollBoxResize();
    return QMainWindow::eventFilter(Watched, Event);
}

void TOndrix::ProgIconClick()
{
    FTrayIco->SetMode(FProgIcon->ItemIndex());
}

void TOndrix::TrayIcoLeftClick()
{
    FTrayIco->ShowWindow();
}

void TOndrix::TrayIcoRightClick()
{
    FTrayIco->HideWindow();
}

void TOndrix::changeEvent(QEvent* Event)
{
    QMainWindow::changeEvent(Event);
    if (Event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized))
        // Hidden once the minimising is done, not in the middle of it.
        QTimer::singleShot(0, this, [this] {
            if (windowState() & Qt::WindowMinimized)
                FTrayIco->WindowMinimized();
        });
}

void TOndrix::TimerTimer()
{
    const bool Active = MonitoringActive && MonitoringActive();
    FButton_TestAudio->setEnabled(!Active);
    const QDateTime Now = QDateTime::currentDateTime();
    FTimePanel->setText(Now.toString("hh:mm:ss"));
    FDatePanel->setText(Now.toString("dd.MM.yyyy"));
    setWindowTitle("ONDRIX ");
    QPalette Colors = FStatus->palette();
    if (Active) {
        Colors.setColor(QPalette::Window, Qt::red);
        Colors.setColor(QPalette::WindowText, Qt::white);
        FStatus->setText(GetMessageText("On"));
    } else {
        Colors.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
        FStatus->setText(QString());
    }
    FStatus->setPalette(Colors);
    if (OnSecond)
        OnSecond();
}

void TOndrix::Timer_VolumeTimer()
{
    const bool Active = MonitoringActive && MonitoringActive();
    if (!Active) {
        // Stopped since the last tick: the meter falls silent at once.
        if (FWasActive)
            FLed->SetValuesNow(TLedMeter::SilentdB, TLedMeter::SilentdB);
        FWasActive = false;
        return;
    }
    FWasActive = true;
    double Left = TLedMeter::SilentdB, Right = TLedMeter::SilentdB;
    if (MonitoringVolumes)
        MonitoringVolumes(Left, Right);
    FLed->SetValues(Left, Right);
    if (!SampleProgress)
        return;
    for (int Row : FSampleView->VisibleRows())
        if (SampleProgress(Row))
            FSampleView->InvalidateRow(Row);
}

void TOndrix::ShowMeterSilent()
{
    FLed->SetValuesNow(TLedMeter::SilentdB, TLedMeter::SilentdB);
    FLed->repaint();
}

void TOndrix::SetSampleList(const TSampleList* Samples)
{
    FSamples = Samples;
    FSampleView->SetRowCount(Samples ? Samples->Count() : 0);
}

QString TOndrix::SupportMailUrl(const QString& SupportEmail, const QString& ProductTitle, const QString& VersionText)
{
    return "mailto:\"Veltrano\" <" + SupportEmail + ">?subject=" + ProductTitle + " - [v. " + VersionText + "]";
}

void TOndrix::MExitClick()
{
    close();
}

void TOndrix::MWebPageClick()
{
    if (Settings)
        QDesktopServices::openUrl(QUrl(Settings->HomePageUrl));
}

void TOndrix::MSupportClick()
{
    if (Settings)
        QDesktopServices::openUrl(QUrl(Settings->SupportUrl));
}

void TOndrix::MEmailClick()
{
    if (!Settings)
        return;
    const QString Recipient = "\"Veltrano\" <" + Settings->SupportEmail + ">";
    const QString Subject = Settings->ProductTitle + " - [v. " + Settings->VersionText + "]";
    QDesktopServices::openUrl(QUrl::fromEncoded("mailto:" + QUrl::toPercentEncoding(Recipient, "@") + "?subject="
                                                + QUrl::toPercentEncoding(Subject)));
}

void TOndrix::MWhatsNewClick()
{
    TWhatsNewForm Form(Settings ? Settings->WhatsNewFile : QString(), this);
    Form.exec();
}

void TOndrix::MVersionClick()
{
    TAboutForm Form(Settings ? Settings->ProductTitle : QString("Ondrix"),
                    Settings ? Settings->VersionText : TCommonSettings::ProgramVersionText(), this);
    Form.exec();
}

void TOndrix::OpenHelp(int Topic)
{
    if (!Settings || Settings->HelpFolder.isEmpty())
        return;
    QUrl Page = QUrl::fromLocalFile(Settings->HelpFolder + "index.html");
    if (Topic > 0)
        Page.setFragment(QString::number(Topic));
    QDesktopServices::openUrl(Page);
}

void TOndrix::MContentsClick() { OpenHelp(0); }
void TOndrix::MStartingClick() { OpenHelp(2000); }
void TOndrix::MFAQClick() { OpenHelp(2001); }

void TOndrix::StartupContinue(QWidget* StartupForm)
{
    try {
        LoadAndStart();
    } catch (...) {
        // Loading reports its own errors; the window is shown whatever happened.
    }
    show();
    raise();
    activateWindow();
    if (Settings && FindCheck("Check_RunMinimized") && FindCheck("Check_RunMinimized")->isChecked()) {
        if (FProgIcon->ItemIndex() == TTrayComp::Mode_Tray)
            FTrayIco->HideWindow();
        else
            showMinimized();
    }
    if (StartupForm)
        StartupForm->close();
    emit StartupDone();
}

void TOndrix::LoadAndStart()
{
    LoadSettings();
    // Queued: it runs once this continuation has returned and the window is up.
    QTimer::singleShot(0, this, &TOndrix::AutoStartSamples);
}

void TOndrix::LoadSettings()
{
    // Nothing is stored yet beyond the files the settings object prepares.
}

void TOndrix::AutoStartSamples()
{
    // No sample is switched on automatically yet.
}

void TOndrix::closeEvent(QCloseEvent* Event)
{
    QMainWindow::closeEvent(Event);
    if (!Event->isAccepted())
        return;
    FTimer->stop();
    emit Closed();
}

void TOndrix::SessionEnd()
{
    close();
}

QCheckBox* TOndrix::FindCheck(const QString& Name) const
{
    return findChild<QCheckBox*>(Name);
}
