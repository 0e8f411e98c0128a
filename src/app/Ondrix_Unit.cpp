#include "app/Ondrix_Unit.h"

#include "app/FrequencyPage.h"
#include "app/HelpSystem.h"
#include "app/InfoForms.h"
#include "app/WebUpdateUI.h"
#include "core/InternetClients.h"
#include "app/SettingsBinding.h"
#include "core/SampleSequence.h"
#include "core/SettingsFile.h"
#include "core/SettingsModel.h"
#include "core/MonitorController.h"
#include "util/TextFile.h"
#include "core/Common_Settings.h"
#include "samples/Class_SampleRec.h"
#include "lang/Lang.h"
#include "lang/Language_Forms.h"
#include "lang/Language_Functions.h"
#include "samples/Form_SampleProp.h"
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
#include <QSignalBlocker>
#include <QDateTime>
#include <QDesktopServices>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>

namespace {

// Loading and saving ask the operator through message boxes.
class TWindowSettingsQuestions : public TSettingsQuestions {
public:
    explicit TWindowSettingsQuestions(QWidget* Parent) : FParent(Parent) {}

    bool ContinueAfterLoadError(const QString& Error) override
    {
        ShowMessageBox(FParent, TMessageBoxType::Error, Error);
        return ShowMessageBox(FParent, TMessageBoxType::Warning, GetMessageText("LoadSettingsError"), {mbYes, mbNo})
               == mbYes;
    }

    void SaveFailed(const QString& Error) override
    {
        ShowMessageBox(FParent, TMessageBoxType::Error, Error);
        ShowMessageBox(FParent, TMessageBoxType::Warning, GetMessageText("SaveSettingsError"));
    }

private:
    QWidget* FParent;
};

}  // namespace

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
    InstallHintStyle();

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

    FTrayIco = new TTrayComp(this);
    FTrayIco->setObjectName("TrayIco");
    FTrayIco->SetIcon(windowIcon());
    connect(FTrayIco, &TTrayComp::LeftClick, this, &TOndrix::TrayIcoLeftClick);
    connect(FTrayIco, &TTrayComp::RightClick, this, &TOndrix::TrayIcoRightClick);
    connect(FProgIcon, &TRadioGroup::ItemIndexChanged, this, &TOndrix::ProgIconClick);

    // The device selector starts with the default device; the binding adds the devices.
    FComboBox_Device->addItem(GetMessageText("DefaultDevice"));
    FComboBox_Device->setCurrentIndex(0);

    // The manual in the language the chosen language file names; F1 in every window.
    FHelp = new THelpSystem(Settings ? Settings->HelpFolder : QString(), [] {
        const TLanguage* Global = Language::GlobalComponent();
        return Global ? Global->HelpFile : QString();
    }, this);
    for (QAction* Action : FHelpActions)
        Action->setEnabled(FHelp->Available());

    FTimer = new QTimer(this);
    FTimer->setObjectName("Timer");
    FTimer->setInterval(1000);
    connect(FTimer, &QTimer::timeout, this, &TOndrix::TimerTimer);
    FTimer_Volume = new QTimer(this);
    FTimer_Volume->setObjectName("Timer_Volume");
    FTimer_Volume->setInterval(50);
    connect(FTimer_Volume, &QTimer::timeout, this, &TOndrix::Timer_VolumeTimer);

    // Every stored property shows in its control and every edit goes back to the model.
    FModel = new TSettingsModel(this);
    FBinding = new TSettingsBinding(FModel, this);
    FOwnSamples = std::make_unique<TSampleList>();
    SetSampleList(FOwnSamples.get());
    SetFrequencyTable(&FrequencyTable);
    FStateFile = qEnvironmentVariable("ONDRIX_WINDOW_STATE");
    if (!FStateFile.isEmpty()) {
        // The message lines of the state file are composed again only when the view's rows change:
        // formatting every message each second would cost a hidden window more than monitoring.
        const QAbstractItemModel* Messages = FLogMessageView->model();
        const auto Stale = [this] { FStateMessages.reset(); };
        connect(Messages, &QAbstractItemModel::dataChanged, this, Stale);
        connect(Messages, &QAbstractItemModel::rowsInserted, this, Stale);
        connect(Messages, &QAbstractItemModel::rowsRemoved, this, Stale);
        connect(Messages, &QAbstractItemModel::modelReset, this, Stale);
        connect(Messages, &QAbstractItemModel::layoutChanged, this, Stale);
        connect(Messages, &QAbstractItemModel::columnsInserted, this, Stale);
        connect(Messages, &QAbstractItemModel::columnsRemoved, this, Stale);
    }
    connect(findChild<QPushButton*>("SaveSett"), &QPushButton::clicked, this, &TOndrix::SaveSettings);
    connect(findChild<QPushButton*>("Button_Config_ShowBackupFolder"), &QPushButton::clicked, this, [this] {
        if (!Settings)
            return;
        if (QFileInfo(Settings->BackupFolder).isDir())
            QDesktopServices::openUrl(QUrl::fromLocalFile(Settings->BackupFolder));
        else
            ShowMessageBox(this, TMessageBoxType::Error, GetMessageText("FolderNotFound") + "\n" + Settings->BackupFolder);
    });

    FTree->setCurrentItem(FTree->topLevelItem(0));
    TreeChange();
    FPageControl->setCurrentIndex(0);

    // The language system starts with the main window, whose component also holds the message
    // table; then the window translates itself from the chosen file.
    FLanguage = new TLanguage(this);
    FLanguage->Section = "Ondrix";
    FLanguage->OnAfterLoadLanguage = [this](TLanguage&) { LanguageAfterLoadLanguage(); };
    if (Settings)
        Language::InitLanguages(Settings->ProgramFolder, Settings->LanguageFolder, FLanguage, Settings->MainIniFile);
    FillLanguageMenuOfWindow();
    ApplyLanguageToWindow(this);
    UpdateSampleButtons();
    TimerTimer();
    FTimer->start();

    resize(768, 574 + menuBar()->sizeHint().height());
    CentreOnWorkArea();
    FitOnScreen();
}

TOndrix::~TOndrix()
{
    // The messages' component goes with the window.
    if (Language::GlobalComponent() == FLanguage)
        Language::ResetLanguages();
}

void TOndrix::FillLanguageMenuOfWindow()
{
    if (!Settings)
        return;
    TLanguageMenuActions Actions;
    // Going back to the built-in texts: the settings are saved on the way out.
    Actions.Restart = [] {
        if (Settings)
            Settings->RequestRestart(false);
    };
    FillLanguageMenu(FLanguageMenu, Actions);
}

void TOndrix::InstallHintStyle()
{
    // The application's hints: bold on a light peach background, framed in the shadow colour.
    QPalette Hints = QToolTip::palette();
    Hints.setColor(QPalette::ToolTipBase, QColor(255, 225, 210));
    Hints.setColor(QPalette::ToolTipText, QApplication::palette().color(QPalette::WindowText));
    Hints.setColor(QPalette::Window, QColor(255, 225, 210));
    Hints.setColor(QPalette::WindowText, QApplication::palette().color(QPalette::WindowText));
    QToolTip::setPalette(Hints);
    QFont HintFont("Tahoma");
    HintFont.setPointSize(8);
    HintFont.setBold(true);
    QToolTip::setFont(HintFont);
}

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

QRect TOndrix::FittedOnWorkArea(const QRect& WorkArea, const QRect& Frame, const QSize& Minimum)
{
    // At most the work area less a margin on each side, at least the window's minimum.
    const int Margin = 10;
    QRect Fitted = Frame;
    Fitted.setWidth(std::max(Minimum.width(), std::min(Frame.width(), WorkArea.width() - 2 * Margin)));
    Fitted.setHeight(std::max(Minimum.height(), std::min(Frame.height(), WorkArea.height() - 2 * Margin)));
    // Moved in only where it sticks out: a window that fits stays where the operator left it.
    if (Fitted.right() > WorkArea.right())
        Fitted.moveRight(WorkArea.right() - Margin);
    if (Fitted.bottom() > WorkArea.bottom())
        Fitted.moveBottom(WorkArea.bottom() - Margin);
    if (Fitted.left() < WorkArea.left())
        Fitted.moveLeft(WorkArea.left() + Margin);
    if (Fitted.top() < WorkArea.top())
        Fitted.moveTop(WorkArea.top() + Margin);
    return Fitted;
}

void TOndrix::FitOnScreen()
{
    const QScreen* Screen = QGuiApplication::screenAt(frameGeometry().center());
    if (!Screen)
        Screen = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!Screen)
        return;
    const QRect Frame = frameGeometry();
    const QRect Fitted = FittedOnWorkArea(Screen->availableGeometry(), Frame, minimumSize());
    if (Fitted == Frame)
        return;
    // The frame (title bar, borders) stays around the new client rectangle.
    resize(width() + Fitted.width() - Frame.width(), height() + Fitted.height() - Frame.height());
    move(Fitted.topLeft());
}

void TOndrix::LayOutNow()
{
    for (QLayout* Layout : {layout(), centralWidget()->layout()})
        if (Layout) {
            Layout->invalidate();
            Layout->activate();
        }
}

void TOndrix::UpdateVolumeTimer()
{
    // The meter and the progress bars are drawn only while someone can see them: hidden in the
    // notification area or minimised, the window costs no more than the monitor behind it.
    if (isVisible() && !isMinimized()) {
        if (!FTimer_Volume->isActive()) {
            FTimer_Volume->start();
            Timer_VolumeTimer();
        }
    } else {
        FTimer_Volume->stop();
    }
}

void TOndrix::hideEvent(QHideEvent* Event)
{
    QMainWindow::hideEvent(Event);
    UpdateVolumeTimer();
}

void TOndrix::showEvent(QShowEvent* Event)
{
    QMainWindow::showEvent(Event);
    UpdateVolumeTimer();
    ShowClock();
    if (FFittedAfterShow)
        return;
    FFittedAfterShow = true;
    // Only a shown window knows its frame; a placement that does not fit with it is fitted once.
    QTimer::singleShot(0, this, [this] {
        if (isVisible() && !isMaximized() && !isMinimized())
            FitOnScreen();
    });
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
    return FFrequencyPage->FrequencyViewKeyDown(Key, Modifiers);
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
            // The hint's first line; a translated hint breaks its lines with LF alone.
            const QString Hint = Button->toolTip();
            Item = FSamplePopup->addAction(Button->icon(), Hint.section(QRegularExpression("[\r\n]"), 0, 0));
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

void TOndrix::LanguageAfterLoadLanguage()
{
    // The first device entry is the message table's text, never a device name from the file.
    if (FComboBox_Device->count() > 0)
        FComboBox_Device->setItemText(0, GetMessageText("DefaultDevice"));
    TreeChange();
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

void TOndrix::resizeEvent(QResizeEvent* Event)
{
    QMainWindow::resizeEvent(Event);
    // A narrow window keeps the clock whole: the date goes first, and the settings tree gives
    // the panels room.
    FDatePanel->setVisible(width() >= 480);
    FSettingsTreePanel->setFixedWidth(width() >= 560 ? 200 : 150);
}

void TOndrix::changeEvent(QEvent* Event)
{
    QMainWindow::changeEvent(Event);
    if (Event->type() == QEvent::WindowStateChange)
        UpdateVolumeTimer();
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
    ShowMonitoringState(Active);
    // The clock is drawn only while someone can see it; showing the window sets it at once.
    if (isVisible() && !isMinimized())
        ShowClock();
    if (OnSecond)
        OnSecond();
    if (!FStateFile.isEmpty())
        WriteWindowState(FStateFile);
}

void TOndrix::ShowClock()
{
    const QDateTime Now = QDateTime::currentDateTime();
    FTimePanel->setText(Now.toString("hh:mm:ss"));
    FDatePanel->setText(Now.toString("dd.MM.yyyy"));
    setWindowTitle("ONDRIX ");
}

void TOndrix::ShowMonitoringState(bool Active)
{
    // Touched only on a change: a new palette every second repolishes the panel, shown or not.
    const QString Text = Active ? GetMessageText("On") : QString();
    if (FStatusShown && *FStatusShown == Active && FStatus->text() == Text)
        return;
    FStatusShown = Active;
    QPalette Colors = FStatus->palette();
    if (Active) {
        Colors.setColor(QPalette::Window, Qt::red);
        Colors.setColor(QPalette::WindowText, Qt::white);
    } else {
        Colors.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
    }
    FStatus->setText(Text);
    FStatus->setPalette(Colors);
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
    FHelp->ShowTopic(Topic);
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
    // External programs reach the monitor once its configuration is loaded (when another
    // monitor serves the socket, this one runs on without it and says so).
    if (FController)
        FController->Socket().Listen();
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
    FStarted = true;
    if (!FStateFile.isEmpty())
        WriteWindowState(FStateFile);
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
    if (!Settings)
        return;
    TConfiguration Own{*FModel, *FOwnSamples, FrequencyTable};
    TConfiguration& Config = FController ? FController->Configuration() : Own;
    TWindowSettingsQuestions Questions(this);
    QStringList Devices;
    for (int I = 1; I < FComboBox_Device->count(); ++I)
        Devices << FComboBox_Device->itemText(I);
    const bool GoOn = FController ? FController->LoadSettings(Questions) : ::LoadSettings(*Settings, Config, Devices, Questions);
    if (!GoOn) {
        // The operator chose to stop: at once, saving nothing.
        std::fflush(nullptr);
        std::_Exit(1);
    }
    if (FController)
        FController->ReportProgramStart();
    FSamplesLoaded = Config.SamplesLoaded;
    FFrequenciesLoaded = Config.FrequenciesLoaded;
    FConfigurationLoaded = true;
    SetSampleList(FSamples);
    FFrequencyPage->Redraw();
    ApplyStoredLayout();
}

void TOndrix::SetFrequencyTable(TFrequencyRecArr* Table)
{
    FFrequencyPage->SetTable(Table ? *Table : FrequencyTable);
}

void TOndrix::ApplyStoredLayout()
{
    const QRect Placement = FModel->Rect(SettingKey::NormPos);
    if (Placement.left() < Placement.right()) {
        setGeometry(Placement);
    } else {
        // No stored placement: the page control takes its stored height. The window's own
        // layout goes first, so that the page control has its real height to start from (a
        // window not yet shown has never been laid out).
        const int Height = FModel->Int(SettingKey::PageControl_Height);
        if (Height >= FPageControl->minimumHeight()) {
            LayOutNow();
            resize(width(), std::max(minimumHeight(), height() + Height - FPageControl->height()));
        }
        CentreOnWorkArea();
    }
    FitOnScreen();
    ApplyColumnLayout(FModel->ColumnLayout(ColumnView::SampleView), *FSampleView, false);
    ApplyColumnLayout(FModel->ColumnLayout(ColumnView::MessageView), *FLogMessageView, false);
    ApplyColumnLayout(FModel->ColumnLayout(ColumnView::FrequencyView), *FFrequencyView, true);
}

void TOndrix::StoreLayout()
{
    FModel->SetRect(SettingKey::NormPos, normalGeometry());
    FModel->SetInt(SettingKey::ShowCmd, isMinimized() ? 2 : isMaximized() ? 3 : 1);
    FModel->SetInt(SettingKey::PageControl_Height, FPageControl->height());
    FModel->SetColumnLayout(ColumnView::SampleView, ViewColumnLayout(*FSampleView));
    FModel->SetColumnLayout(ColumnView::MessageView, ViewColumnLayout(*FLogMessageView));
    FModel->SetColumnLayout(ColumnView::FrequencyView, ViewColumnLayout(*FFrequencyView));
}

void TOndrix::SaveSettings()
{
    StoreLayout();
    if (!Settings || !FConfigurationLoaded)
        return;
    TWindowSettingsQuestions Questions(this);
    if (FController) {
        FController->SaveSettings(Questions);
        return;
    }
    TConfiguration Config{*FModel, *FOwnSamples, FrequencyTable, FSamplesLoaded, FFrequenciesLoaded};
    ::SaveSettings(*Settings, Config, Questions);
}

void TOndrix::WriteWindowState(const QString& FileName) const
{
    QStringList Lines;
    Lines << QString("Size=%1x%2").arg(width()).arg(height());
    const auto RectText = [](const QRect& R) {
        return QString("%1,%2,%3x%4").arg(R.left()).arg(R.top()).arg(R.width()).arg(R.height());
    };
    Lines << "Frame=" + RectText(frameGeometry());
    if (const QScreen* Screen = screen())
        Lines << "WorkArea=" + RectText(Screen->availableGeometry());
    Lines << "Page=" + (FPageControl->currentWidget() ? FPageControl->currentWidget()->objectName() : QString());
    Lines << "Status=" + FStatus->text();
    Lines << QString("Visible=%1").arg(isVisible() ? 1 : 0);
    Lines << QString("Started=%1").arg(FStarted ? 1 : 0);
    const QAbstractItemModel* Rows = FSampleView->model();
    for (int Row = 0; Row < Rows->rowCount(); ++Row)
        Lines << QString("Sample=%1|%2|%3")
                     .arg(Rows->index(Row, 0).data().toString(),
                          FSamples && Row < FSamples->Count() && FSamples->Items(Row)->Enabled ? "on" : "off",
                          Rows->index(Row, 1).data().toString());
    if (!FStateMessages) {
        QStringList MessageLines;
        const QAbstractItemModel* Messages = FLogMessageView->model();
        for (int Row = 0; Row < Messages->rowCount(); ++Row)
            MessageLines << QString("Message=%1|%2|%3")
                                .arg(Messages->index(Row, 0).data().toString(), Messages->index(Row, 1).data().toString(),
                                     Messages->index(Row, 2).data().toString());
        FStateMessages = MessageLines;
    }
    Lines << *FStateMessages;
    WriteTextFileIfChanged(FileName, Lines);
}

void TOndrix::AutoStartSamples()
{
    if (FController)
        FController->AutoStartSamples();
}

void TOndrix::closeEvent(QCloseEvent* Event)
{
    QMainWindow::closeEvent(Event);
    if (!Event->isAccepted())
        return;
    FTimer->stop();
    if (FController) {
        using TReason = TMonitorController::TStopReason;
        FController->ReportProgramStop(Settings && Settings->RestartRequested ? TReason::Restart
                                       : FStopSignal > 0                      ? TReason::Signal
                                       : FStopSignal == 0                     ? TReason::SessionEnd
                                                                              : TReason::WindowClosed,
                                       FStopSignal);
    }
    if (!Settings || !Settings->SkipSaveOnClose)
        SaveSettings();
    if (OnClose)
        OnClose();
    if (!FStateFile.isEmpty())
        WriteWindowState(FStateFile);
    emit Closed();
}

void TOndrix::SessionEnd(int Signal)
{
    FStopSignal = Signal;
    // Every sample off with its messages, as the "all off" button does, then close normally.
    if (FController)
        FController->Disable_All_BtnClick();
    close();
}

void TOndrix::AttachController(TMonitorController* Controller)
{
    FController = Controller;
    TMonitorController* C = Controller;
    SetSampleList(&C->Samples());
    SetFrequencyTable(&C->Frequencies());
    MonitoringActive = [C] { return C->Monitoring(); };
    MonitoringVolumes = [C](double& Left, double& Right) {
        Left = C->Engine().LeftVolumedB();
        Right = C->Engine().RightVolumedB();
    };
    SampleProgress = [C](int Row) -> std::optional<int> {
        if (Row < 0 || Row >= C->Samples().Count() || !C->Samples().Items(Row)->Sequence)
            return std::nullopt;
        return C->Samples().Items(Row)->Sequence->Progress(C->Engine().StreamTime());
    };
    connect(C, &TMonitorController::SamplesChanged, this, [this] { FSampleView->viewport()->update(); });
    connect(C, &TMonitorController::SampleCountChanged, this, [this](int Count) { FSampleView->SetRowCount(Count); });
    connect(C, &TMonitorController::MonitoringChanged, this, [this](bool Active) {
        if (!Active)
            ShowMeterSilent();
        TimerTimer();
    });
    FLogMessageView->OnCellData = [C](int Row, int Column, TKvCellData& Cell) {
        const std::optional<TMessageCell> Data = C->Messages().CellData(Row, Column);
        if (!Data)
            return;
        Cell.Text = Data->Text;
        Cell.Background = QColor(Data->Background.R, Data->Background.G, Data->Background.B);
        Cell.TextColor = QColor(Data->TextColor.R, Data->TextColor.G, Data->TextColor.B);
    };
    connect(C, &TMonitorController::MessageAdded, this,
            [this, C] { FLogMessageView->SetRowCount(C->Messages().Messages().Count()); });
    connect(findChild<QPushButton*>("Button_ClearLog"), &QPushButton::clicked, this, [this, C] {
        C->Messages().ClearMessages();
        FLogMessageView->SetRowCount(C->Messages().Messages().Count());
    });

    // The sample dialog edits the controller's records; numbers come from its list and the
    // command menu from its frequency table.
    if (!EditSample)
        EditSample = [this, C](TSampleRec& Sample) {
            return EditSampleProperties(this, Sample, C->Samples(), C->Frequencies(),
                                        Settings ? Settings->MainIniFile : QString(), SampleClipStrength);
        };

    // The sample tool bar runs the controller's operations on the selected rows.
    auto On = [this](const char* Name, std::function<void()> Run) {
        QAction* Action = FSamplesToolBar->findChild<QAction*>(QString::fromLatin1(Name) + "_Action");
        connect(Action, &QAction::triggered, this, std::move(Run));
    };
    On("Enable_Btn", [this, C] { C->Enable_BtnClick(FSampleView->SelectedRows()); });
    On("Disable_Btn", [this, C] { C->Disable_BtnClick(FSampleView->SelectedRows()); });
    On("ChangeEnable_Btn", [this, C] { C->ChangeEnable_BtnClick(FSampleView->SelectedRows()); });
    On("Enable_All_Btn", [C] { C->Enable_All_BtnClick(); });
    On("Disable_All_Btn", [C] { C->Disable_All_BtnClick(); });
    On("Find_Btn", [this, C] { C->Find_BtnClick(FSampleView->SelectedRows()); });
    On("AddSample_Btn", [this, C] {
        if (EditSample)
            C->AddSample_BtnClick(EditSample);
    });
    On("SampleProp_Btn", [this, C] {
        if (EditSample)
            C->SampleProp_BtnClick(FSampleView->SelectedRows(), EditSample);
    });
    On("DelSample_Btn", [this, C] {
        C->DelSample_BtnClick(FSampleView->SelectedRows(), [this] {
            return AskQuestion(this, GetMessageText("DeleteSampleS"));
        });
    });
    connect(FSampleView, &TKvListView::RowDoubleClicked, this, [this] {
        if (QToolButton* Button = SampleButton("SampleProp_Btn"))
            Button->click();
    });

    // Capture settings: the device list, the stored device, the capture test.
    const QSignalBlocker Quiet(FComboBox_Device);
    FComboBox_Device->clear();
    FComboBox_Device->addItems(C->DeviceSelectorItems());
    FComboBox_Device->setCurrentIndex(0);
    connect(FModel, &TSettingsModel::Changed, this, [this](const QString& Key) {
        if (Key == SettingKey::Device && FComboBox_Device->currentIndex() != FModel->Int(SettingKey::Device)) {
            const QSignalBlocker Restoring(FComboBox_Device);
            FComboBox_Device->setCurrentIndex(FModel->Int(SettingKey::Device));
        }
    });
    connect(FComboBox_Device, &QComboBox::currentIndexChanged, this, [this, C](int Index) {
        FModel->SelectDevice(Index, C->DeviceNames());
    });
    connect(findChild<QComboBox*>("Combo_Frequency"), &QComboBox::currentIndexChanged, C, &TMonitorController::SetFrequencyIndex);
    connect(findChild<QComboBox*>("Combo_FFTSize"), &QComboBox::currentIndexChanged, C, &TMonitorController::SetFFTSizeIndex);
    connect(FButton_TestAudio, &QPushButton::clicked, this, [this, C] {
        QString Text;
        if (C->Button_TestAudioClick(&Text))
            ShowMessageBox(this, TMessageBoxType::Information, Text);
        else
            ShowMessageBox(this, TMessageBoxType::Error, Text);
    });
    TimerTimer();
}

void TOndrix::AttachInternet(TInternetClients* Internet)
{
    FInternet = Internet;
    QCheckBox* AutoUpdates = FindCheck("Check_AutoUpdates");
    FWebUpdateUI = std::make_unique<TWindowWebUpdateUI>(this, AutoUpdates ? AutoUpdates->text() : QString());
    Internet->SetUI(FWebUpdateUI.get());
    if (auto* Test = findChild<QPushButton*>("Button_Email_Test")) {
        Test->setEnabled(true);
        connect(Test, &QPushButton::clicked, this, &TOndrix::Button_Email_TestClick);
    }
    if (auto* Updates = findChild<QAction*>("MCheckForUpdates")) {
        Updates->setEnabled(true);
        connect(Updates, &QAction::triggered, this, &TOndrix::MCheckForUpdatesClick);
    }
}

void TOndrix::MCheckForUpdatesClick()
{
    if (!FInternet)
        return;
    // The box's check box shows the settings page's caption in the language shown now.
    if (QCheckBox* AutoUpdates = FindCheck("Check_AutoUpdates"))
        FWebUpdateUI->AutoUpdatesCaption = AutoUpdates->text();
    FInternet->MCheckForUpdatesClick();
}

void TOndrix::Button_Email_TestClick()
{
    if (FInternet)
        FInternet->SendTestMail();
}

QCheckBox* TOndrix::FindCheck(const QString& Name) const
{
    return findChild<QCheckBox*>(Name);
}
