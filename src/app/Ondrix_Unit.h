#pragma once
// The main window: the status strip (monitoring state, level meter, clock), the sample page
// (sample list with its tool bar, program messages) and the settings page (a tree of five
// panels). It is created hidden; the start-up continuation loads the configuration and shows
// it; its closing ends the program. It shows the monitor and forwards the operator's actions;
// what they do is decided below it.

#include <QMainWindow>
#include <QPointer>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <functional>
#include <optional>
#include <memory>

#include "core/MonitorController.h"
#include "samples/Class_Frequency.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QScrollArea;
class QSplitter;
class QTabWidget;
class QTimer;
class QToolBar;
class QToolButton;
class QTreeWidget;
class TLedMeter;
class TKvListView;
class THeadedLabel;
class TRadioGroup;
class TSampleList;
class TSampleRec;
class TSettingsBinding;
class TSettingsModel;
class TMonitorController;
class TInternetClients;
class TWindowWebUpdateUI;
class QPainter;
struct TKvCellData;
class TTrayComp;
class THelpSystem;
class TLanguage;
class TFrequencyPage;

class TOndrix : public QMainWindow {
    Q_OBJECT

public:
    // Tag of the pop-up menu items taken over from the tool bar.
    static constexpr int PopupItemTag = 2147483647;
    // The settings panels never get smaller than this; a smaller scroll box scrolls.
    static constexpr int PanelMinimum = 400;

    explicit TOndrix(QWidget* Parent = nullptr);
    ~TOndrix() override;

    // Runs on the main thread once the start-up window is up: loads the configuration, shows
    // the main window (also when loading failed), closes the start-up window, and leaves the
    // automatic start of samples to the event loop, so it runs after the window is shown.
    void StartupContinue(QWidget* StartupForm);

    // The desktop session ends or the program is asked to stop: close normally.
    // Signal: the one that asked to stop, 0 for the end of the desktop session (the reason the
    // last message gives).
    void SessionEnd(int Signal = 0);

    // Places the window in the middle of its screen's work area, at least 10 pixels inside it.
    void CentreOnWorkArea();

    // Top-left corner for a window of Size centred on WorkArea: halves rounded toward zero,
    // then pulled back so that it ends 10 pixels before the right and bottom edges, then at
    // least 10 pixels from the left and top edges.
    static QPoint CentredOnWorkArea(const QRect& WorkArea, const QSize& Size);
    // A window frame moved and, where it must, shrunk (not below Minimum) so that it lies on the
    // work area at least 10 pixels inside its edges; a frame that lies on it stays as it is.
    static QRect FittedOnWorkArea(const QRect& WorkArea, const QRect& Frame, const QSize& Minimum);
    // Fits the window on the work area of its screen (a placement stored on a larger screen, a
    // default taller than a small one).
    void FitOnScreen();

    // Event handlers named as the operator knows the window's parts.
    void TreeChange();
    void ScrollBoxResize();
    void ProgIconClick();
    void TrayIcoLeftClick();
    void TrayIcoRightClick();
    void TimerTimer();
    void ShowClock();
    void ShowMonitoringState(bool Active);
    void Timer_VolumeTimer();
    void SamplePopupPopup();
    // Handles a key of the sample view as a click on its button; true when the key has one.
    bool SampleViewKeyDown(int Key, Qt::KeyboardModifiers Modifiers, quint32 NativeScanCode = 0);
    bool FrequencyViewKeyDown(int Key, Qt::KeyboardModifiers Modifiers);
    void MExitClick();
    void MWebPageClick();
    void MSupportClick();
    void MEmailClick();
    void MWhatsNewClick();
    void MVersionClick();
    void MContentsClick();
    void MStartingClick();
    void MFAQClick();
    // After a language file has been applied: the first device entry and the settings header
    // follow the new language.
    void LanguageAfterLoadLanguage();

    // The address MEmailClick opens.
    static QString SupportMailUrl(const QString& SupportEmail, const QString& ProductTitle, const QString& VersionText);
    // The header of the settings page for a node's text and its ancestors' texts (outermost
    // first).
    static QString SettingsHeader(const QStringList& Path);

    TLedMeter* Led() const { return FLed; }
    TKvListView* SampleView() const { return FSampleView; }
    TKvListView* LogMessageView() const { return FLogMessageView; }
    TKvListView* FrequencyView() const { return FFrequencyView; }
    TFrequencyPage* FrequencyPage() const { return FFrequencyPage; }
    TTrayComp* TrayIco() const { return FTrayIco; }
    QMenu* SamplePopup() const { return FSamplePopup; }
    QMenu* LanguageMenu() const { return FLanguageMenu; }
    // The window's language component (section "Ondrix"), which also holds the messages.
    TLanguage* Language() const { return FLanguage; }
    QToolBar* SamplesToolBar() const { return FSamplesToolBar; }
    // The tool bar button of a sample action, by its name ("Enable_Btn", ...).
    QToolButton* SampleButton(const QString& Name) const;

    // Whether monitoring runs (the engine is active); the meter and the status follow it.
    std::function<bool()> MonitoringActive;
    // The engine's current channel levels in dB.
    std::function<void(double& LeftdB, double& RightdB)> MonitoringVolumes;
    // The progress (0 to 100) of a row's sample, none when it has no sequence.
    std::function<std::optional<int>(int Row)> SampleProgress;
    // Runs at the end of every one-second tick (scheduled work of the parts below).
    std::function<void()> OnSecond;
    // Runs in the close sequence after the settings are saved (the archive on exit).
    std::function<void()> OnClose;

    // The samples the sample view shows, row i showing item i; sets the row count.
    void SetSampleList(const TSampleList* Samples);
    // Monitoring stopped: the meter shows silence at once.
    void ShowMeterSilent();
    void SampleViewCellData(int Row, int Column, TKvCellData& Cell);
    QCheckBox* FindCheck(const QString& Name) const;

    // Binds the window to the monitor: the sample list, the frequency table and the messages
    // it shows, the levels and progress it draws, and the operations its buttons and keys run.
    // The controller works on Model() and must not outlive the window's use of it.
    void AttachController(TMonitorController* Controller);
    TMonitorController* Controller() const { return FController; }
    // Binds the e-mail page's test button and the update menu item to the internet clients
    // and shows their boxes over this window. The clients must not outlive the window's use.
    void AttachInternet(TInternetClients* Internet);
    TWindowWebUpdateUI* WebUpdateUI() const { return FWebUpdateUI.get(); }
    // The Help menu's update check and the e-mail page's test button.
    void MCheckForUpdatesClick();
    void Button_Email_TestClick();
    // Shows the sample dialog on a sample; true when confirmed (the dialogs set it).
    std::function<bool(TSampleRec& Sample)> EditSample;

    // The settings the window shows and edits (owned by the window).
    TSettingsModel* Model() const { return FModel; }
    TSettingsBinding* Binding() const { return FBinding; }
    // The frequency table the frequency page shows and edits.
    void SetFrequencyTable(TFrequencyRecArr* Table);
    // Applies the stored placement, page height and column layouts of the model to the window.
    void ApplyStoredLayout();
    // Takes the window's placement, page height and column layouts into the model.
    void StoreLayout();
    // Saves the configuration (the button "Сохранить настройки", closing, before an archive).
    void SaveSettings();
    // Writes what the window shows, for automated runs (ONDRIX_WINDOW_STATE names the file).
    void WriteWindowState(const QString& FileName) const;

signals:
    // The start-up continuation has shown the window.
    void StartupDone();
    // The window has closed; the program ends.
    void Closed();

protected:
    void closeEvent(QCloseEvent* Event) override;
    void changeEvent(QEvent* Event) override;
    void showEvent(QShowEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void CreateActions();
    void CreateMenus();
    QWidget* CreateTopPanel();
    QWidget* CreateSamplesSheet();
    QWidget* CreateSettingsSheet();
    QWidget* CreateProgramPanel();
    QWidget* CreateRecordPanel();
    QWidget* CreateFrequencyPanel();
    QWidget* CreateEmailPanel();
    QWidget* CreateConfigPanel();
    void UpdateSampleButtons();
    void DrawProgressCell(QPainter& Painter, int Row, const QRect& Rect) const;
    void OpenHelp(int Topic);
    // The language menu: the built-in language and the listed files, the choice checked.
    void FillLanguageMenuOfWindow();
    // Lays the window's controls out at its present size, shown or not.
    void LayOutNow();
    // The 50 ms timer runs while the window can be seen (shown, not minimised).
    void UpdateVolumeTimer();
    static void InstallHintStyle();

    void LoadAndStart();
    // Reads the configuration into the settings model (main settings file, column layouts,
    // sample list, frequency table).
    void LoadSettings();
    // Switches on the samples marked for automatic start.
    void AutoStartSamples();

    QWidget* FPanelTop = nullptr;
    QWidget* FTopPanel = nullptr;
    QLabel* FStatus = nullptr;
    TLedMeter* FLed = nullptr;
    QLabel* FTimePanel = nullptr;
    QLabel* FDatePanel = nullptr;
    QTabWidget* FPageControl = nullptr;
    QToolBar* FSamplesToolBar = nullptr;
    TKvListView* FSampleView = nullptr;
    QMenu* FSamplePopup = nullptr;
    QSplitter* FSamplesSplitter = nullptr;
    TKvListView* FLogMessageView = nullptr;
    QTreeWidget* FTree = nullptr;
    QWidget* FSettingsTreePanel = nullptr;
    THeadedLabel* FLabel_Settings_Top = nullptr;
    QScrollArea* FScrollBox = nullptr;
    QWidget* FScrollContent = nullptr;
    QList<QWidget*> FPanels;
    TKvListView* FFrequencyView = nullptr;
    TFrequencyPage* FFrequencyPage = nullptr;
    TRadioGroup* FProgIcon = nullptr;
    QComboBox* FComboBox_Device = nullptr;
    QPushButton* FButton_TestAudio = nullptr;
    TTrayComp* FTrayIco = nullptr;
    QMenu* FLanguageMenu = nullptr;
    TLanguage* FLanguage = nullptr;
    QTimer* FTimer = nullptr;
    QTimer* FTimer_Volume = nullptr;
    QList<QAction*> FHelpActions;
    THelpSystem* FHelp = nullptr;
    const TSampleList* FSamples = nullptr;
    TSettingsModel* FModel = nullptr;
    TSettingsBinding* FBinding = nullptr;
    std::unique_ptr<TSampleList> FOwnSamples;
    QString FStateFile;
    mutable std::optional<QStringList> FStateMessages;  // the state file's message lines, while current
    QPointer<TMonitorController> FController;
    QPointer<TInternetClients> FInternet;
    std::unique_ptr<TWindowWebUpdateUI> FWebUpdateUI;
    bool FConfigurationLoaded = false;
    bool FSamplesLoaded = false;
    // The signal that asked the window to close (0: the desktop session ended); -1 while none has.
    int FStopSignal = -1;
    bool FFrequenciesLoaded = false;
    bool FWasActive = false;
    std::optional<bool> FStatusShown;  // the monitoring state the status panel shows
    bool FFittedAfterShow = false;
    bool FStarted = false;
};
