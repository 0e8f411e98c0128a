#pragma once
// The sample properties dialog: the operator creates and edits one sample here. It shows only
// the settings of the chosen sample type, the length of a clip (which it can play), and helps
// compose a command string from the frequency table. Values go back into the record only when
// the operator confirms; saving the list and reloading the engine is the caller's business.

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

#include "samples/Class_Frequency.h"
#include "samples/Class_SampleRec.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSlider;
class QSpinBox;
class QToolButton;
class TAudioPlayer;
class TLanguage;

// How reliably the clip of a sample can be recognised: 0..100, or -1 when there is no strength to
// tell (Error then says why the clip cannot be watched, or is empty). The program supplies it,
// building the clip's fingerprint the way the monitor does.
using TClipStrengthFunction = std::function<int(const TSampleRec& Sample, QString* Error)>;

class TSamplePropertyForm : public QDialog {
    Q_OBJECT

public:
    // MainWindow is the window the dialog centres over; List holds the program's samples (for
    // numbers); Table gives the command menu. The dialog writes its placement and last type to
    // section "TSamplePropertyForm" of MainIniFile when it is destroyed (nothing when empty).
    TSamplePropertyForm(QWidget* MainWindow, const TSampleList& List, const TFrequencyRecArr& Table,
                        const QString& MainIniFile = QString());
    ~TSamplePropertyForm() override;

    // Shows the dialog modally for Rec and returns true when OK was pressed; Rec is written
    // only then. A record without a number (-1) gets the list's next free number first; it is
    // a new sample, offered the measure NewSampleLevelMode gives for the type chosen (until
    // the operator picks one) and one alarm per episode.
    bool Execute(TSampleRec& Rec);

    TAudioPlayer& MPlayer() { return *FPlayer; }
    // Shows the chosen clip's strength for the level-independent method; none when unset.
    void SetClipStrength(TClipStrengthFunction Function);
    TLanguage* Language() const { return FLanguage; }

    // Label texts.
    static QString SensitivityText(int Position);  // "50 (+ 0 %)", "30 (- 20 %)"
    // The file chooser's filter for clips: every format the clip reader decodes.
    static QString ClipFileFilter();
    static QString ThresholdText(int Db);           // "-50 dB"
    static QString FileTimeText(double Seconds);     // "01:15.500 "
    static QString StrengthText(int Percent);        // "85 % (Сильно)"
    // The level measure a new sample of Type is offered: RMS for silence, else the peak.
    static TLevelMode NewSampleLevelMode(TSampleType Type);

public slots:
    void FilenameChange();
    void Group_SampleTypeClick();
    void SignaldBChange();
    void TrackBar_SensitivityChange();
    void TrackBar_DialSpeedChange();
    void ClearCommandClick();
    void AddCommandClick();
    void PlayButClick();
    void StopButClick();
    void OkButClick();
    void CancelButClick();
    void CommandMenuClick(const QString& ID);

protected:
    void showEvent(QShowEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;

private:
    void FormCreate();
    void BuildCommandMenu();
    void UpdatePanels();
    void UpdateLayout();
    void UpdateFileTime();
    void UpdateStrength();
    void Fill(const TSampleRec& Rec);
    void WriteBack(TSampleRec& Rec) const;
    TSampleType SelectedType() const;
    void PlaceOverMainWindow();

    QWidget* FMainWindow;
    const TSampleList& FList;
    const TFrequencyRecArr& FTable;
    QString FMainIniFile;
    TSampleRec* FRec = nullptr;
    std::unique_ptr<TAudioPlayer> FPlayer;
    TLanguage* FLanguage = nullptr;
    TClipStrengthFunction FClipStrength;
    QString FStrengthOf;  // the clip, channel and method the strength shown was measured for
    bool FNewSample = false;        // the record had no number when the dialog opened
    bool FLevelModeChosen = false;  // the operator picked the level measure himself

    QLineEdit* Description;
    QSpinBox* Edit_SampleNum;
    QCheckBox* Check_AutoStart;
    QSpinBox* Edit_Delay;
    QCheckBox* Check_AutoDisable;
    QLineEdit* Edit_FileExecute;
    QGroupBox* Group_SampleType;
    QButtonGroup* SampleTypeButtons;
    QGroupBox* Group_SampleProps;
    QWidget* FilePanel;
    QLineEdit* Filename;
    QToolButton* PlayBut;
    QToolButton* StopBut;
    QLabel* PanelFileTime;
    QComboBox* Combo_Precision;
    QCheckBox* Check_UseLowFreq;
    QWidget* StrengthPanel;
    QLabel* Strength;
    QWidget* SignalPanel;
    QSlider* SignaldB;
    QLabel* SignaldBLab;
    QDoubleSpinBox* SignalTime;
    QComboBox* Combo_LevelMode;
    QCheckBox* Check_AlarmOnce;
    QWidget* RemindPanel;
    QSpinBox* Edit_RemindMinutes;
    QWidget* ScriptPanel;
    QLineEdit* Edit_Command;
    QToolButton* ClearCommand;
    QToolButton* AddCommand;
    QMenu* CommandMenu;
    QSlider* TrackBar_DialSpeed;
    QLabel* Label_DialSpeed;
    QWidget* MethodPanel;
    QComboBox* Combo_Method;
    QGroupBox* SignalMode;
    QButtonGroup* SignalModeButtons;
    QGroupBox* Group_SignalLevel;
    QSlider* TrackBar_Sensitivity;
    QLabel* Label_Sensitivity;
    QPushButton* OkBut;
    QPushButton* CancelBut;
};

// Opens the dialog for Rec and returns true when the operator confirmed (see Execute).
bool EditSampleProperties(QWidget* MainWindow, TSampleRec& Rec, const TSampleList& List,
                          const TFrequencyRecArr& Table, const QString& MainIniFile = QString(),
                          TClipStrengthFunction ClipStrength = {});
