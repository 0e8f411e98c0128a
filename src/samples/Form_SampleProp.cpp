#include "samples/Form_SampleProp.h"

#include "audio/AudioLandmarks.h"
#include "audio/AudioPlay.h"
#include "audio/WaveInfo.h"
#include "lang/Lang.h"
#include "lang/Language_Forms.h"
#include "lang/Language_Functions.h"
#include "samples/Form_Common.h"
#include "util/DateTime.h"
#include "util/IniFile.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QDateTime>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWidgetAction>

#include <cmath>

namespace {

constexpr int MaxSpinValue = 99999999;
constexpr int CommandMenuRows = 10;
constexpr int MaxRemindMinutes = 9999;
// A clip's strength from this on is called strong; below TLandmarkStrength::WeakBelow, weak.
constexpr int StrongFrom = 80;
// Longer files are not measured: reading one would hold the dialog up, and a clip is seconds long.
constexpr double MaxMeasuredSeconds = 60;
const QString FormSection = QStringLiteral("TSamplePropertyForm");

// A spin box for seconds that keeps a stored fraction visible (2.5 stays 2.5) without padding
// whole numbers with zeros.
class TSecondsSpinBox : public QDoubleSpinBox {
public:
    using QDoubleSpinBox::QDoubleSpinBox;

    QString textFromValue(double Value) const override
    {
        QString Text = locale().toString(Value, 'f', decimals());
        const QChar Point = locale().decimalPoint().at(0);
        if (Text.contains(Point)) {
            while (Text.endsWith(u'0'))
                Text.chop(1);
            if (Text.endsWith(Point))
                Text.chop(1);
        }
        return Text;
    }
};

template <class T>
T* Named(T* Widget, const char* Name)
{
    Widget->setObjectName(QLatin1String(Name));
    return Widget;
}

QLabel* NewLabel(const char* Name, const QString& Text)
{
    return Named(new QLabel(Text), Name);
}

QSpinBox* NewSpin(const char* Name, int Min, int Max)
{
    auto* Spin = Named(new QSpinBox, Name);
    Spin->setRange(Min, Max);
    return Spin;
}

QSlider* NewTrackBar(const char* Name, int Min, int Max)
{
    auto* Slider = Named(new QSlider(Qt::Horizontal), Name);
    Slider->setRange(Min, Max);
    Slider->setPageStep(1);
    Slider->setMinimumWidth(220);
    return Slider;
}

// A value label beside a track bar, wide enough for its longest text.
QLabel* NewValueLabel(const char* Name, const QString& Widest)
{
    auto* Label = NewLabel(Name, QString());
    Label->setMinimumWidth(Label->fontMetrics().horizontalAdvance(Widest) + 8);
    Label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return Label;
}

QToolButton* NewToolButton(const char* Name, const QString& Text)
{
    auto* Button = Named(new QToolButton, Name);
    Button->setText(Text);
    return Button;
}

QWidget* Row(std::initializer_list<QWidget*> Widgets, int StretchIndex = -1)
{
    auto* Panel = new QWidget;
    auto* Layout = new QHBoxLayout(Panel);
    Layout->setContentsMargins(0, 0, 0, 0);
    int I = 0;
    for (QWidget* Widget : Widgets)
        Layout->addWidget(Widget, I++ == StretchIndex ? 1 : 0);
    if (StretchIndex < 0)
        Layout->addStretch(1);
    return Panel;
}

}  // namespace

TSamplePropertyForm::TSamplePropertyForm(QWidget* MainWindow, const TSampleList& List, const TFrequencyRecArr& Table,
                                         const QString& MainIniFile)
    : QDialog(MainWindow)
    , FMainWindow(MainWindow)
    , FList(List)
    , FTable(Table)
    , FMainIniFile(MainIniFile)
    , FPlayer(std::make_unique<TAudioPlayer>())
{
    setObjectName(QStringLiteral("SampleProp"));
    setWindowTitle(QStringLiteral("Образец"));
    // A fixed border with only a close box, kept above the main window.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowStaysOnTopHint);

    // "Список образцов"
    auto* Group_SampleList = Named(new QGroupBox(QStringLiteral("Список образцов")), "Group_SampleList");
    Description = Named(new QLineEdit, "Description");
    Edit_SampleNum = NewSpin("Edit_SampleNum", 1, MaxSpinValue);
    auto* ListGrid = new QGridLayout(Group_SampleList);
    ListGrid->addWidget(NewLabel("Label_Description", QStringLiteral("Название")), 0, 0);
    ListGrid->addWidget(Description, 0, 1);
    ListGrid->addWidget(NewLabel("Label_SampleNum", QStringLiteral("Номер")), 1, 0);
    ListGrid->addWidget(Row({Edit_SampleNum}), 1, 1);
    ListGrid->setColumnStretch(1, 1);

    // "Дополнительно"
    auto* Group_Additional = Named(new QGroupBox(QStringLiteral("Дополнительно")), "Group_Additional");
    Check_AutoStart = Named(new QCheckBox(QStringLiteral("Запустить слежение после запуска программы")), "Check_AutoStart");
    Edit_Delay = NewSpin("Edit_Delay", 0, MaxSpinValue);
    Check_AutoDisable = Named(new QCheckBox(QStringLiteral("Отключить образец после определения")), "Check_AutoDisable");
    Edit_FileExecute = Named(new QLineEdit, "Edit_FileExecute");
    auto* Button_FileExecute = NewToolButton("Button_FileExecute", QStringLiteral("..."));
    Button_FileExecute->setToolTip(QStringLiteral("Выбрать запускаемый файл"));
    auto* AdditionalLayout = new QVBoxLayout(Group_Additional);
    AdditionalLayout->addWidget(Check_AutoStart);
    AdditionalLayout->addWidget(
        Row({NewLabel("Label_Delay", QStringLiteral("Задержка после определения (миллисекунды)")), Edit_Delay}));
    AdditionalLayout->addWidget(Check_AutoDisable);
    AdditionalLayout->addWidget(NewLabel("Label_FileExecute", QStringLiteral("Запустить файл")));
    AdditionalLayout->addWidget(Row({Edit_FileExecute, Button_FileExecute}, 0));

    // "Тип образца": four radio buttons in one row.
    Group_SampleType = Named(new QGroupBox(QStringLiteral("Тип образца")), "Group_SampleType");
    SampleTypeButtons = new QButtonGroup(this);
    auto* TypeLayout = new QHBoxLayout(Group_SampleType);
    const char* const TypeNames[] = {"Radio_File", "Radio_Silence", "Radio_Signal", "Radio_Command"};
    const QString TypeTexts[] = {QStringLiteral("Файл"), QStringLiteral("Тишина"), QStringLiteral("Сигнал"),
                                 QStringLiteral("Команда (DTMF)")};
    for (int I = 0; I < 4; ++I) {
        auto* Radio = Named(new QRadioButton(TypeTexts[I]), TypeNames[I]);
        SampleTypeButtons->addButton(Radio, I);
        TypeLayout->addWidget(Radio);
    }
    TypeLayout->addStretch(1);

    // "Свойства образца": the panels of the types.
    Group_SampleProps = Named(new QGroupBox(QStringLiteral("Свойства образца")), "Group_SampleProps");
    auto* PropsLayout = new QVBoxLayout(Group_SampleProps);

    FilePanel = Named(new QWidget, "FilePanel");
    Filename = Named(new QLineEdit, "Filename");
    auto* Button_Filename = NewToolButton("Button_Filename", QStringLiteral("..."));
    Button_Filename->setToolTip(QStringLiteral("Выбрать файл образца"));
    PlayBut = NewToolButton("PlayBut", QString());
    PlayBut->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    PlayBut->setToolTip(QStringLiteral("Прослушать"));
    StopBut = NewToolButton("StopBut", QString());
    StopBut->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
    StopBut->setToolTip(QStringLiteral("Остановить"));
    PanelFileTime = NewLabel("PanelFileTime", QString());
    PanelFileTime->setFrameShape(QFrame::StyledPanel);
    PanelFileTime->setToolTip(QStringLiteral("Длительность файла"));
    PanelFileTime->setAlignment(Qt::AlignCenter);
    PanelFileTime->setMinimumWidth(PanelFileTime->fontMetrics().horizontalAdvance(QStringLiteral("00:00.000 ")) + 12);
    Combo_Precision = Named(new QComboBox, "Combo_Precision");
    Combo_Precision->addItems({QStringLiteral("Минимум"), QStringLiteral("Низко"), QStringLiteral("Норма"),
                               QStringLiteral("Высоко"), QStringLiteral("Максимум")});
    Check_UseLowFreq = Named(new QCheckBox(QStringLiteral("Учитывать отсутствие частот")), "Check_UseLowFreq");
    auto* FileLayout = new QVBoxLayout(FilePanel);
    FileLayout->setContentsMargins(0, 0, 0, 0);
    FileLayout->addWidget(NewLabel("Label_Filename", QStringLiteral("Файл (*.wav, *.mp3, *.flac, *.ogg, *.opus)")));
    FileLayout->addWidget(Row({Filename, Button_Filename, PlayBut, StopBut, PanelFileTime}, 0));
    FileLayout->addWidget(Row({NewLabel("Label_Precision", QStringLiteral("Точность совпадения")), Combo_Precision}));
    FileLayout->addWidget(Check_UseLowFreq);
    // How reliably the chosen clip is recognised by the level-independent method.
    StrengthPanel = Named(new QWidget, "StrengthPanel");
    Strength = NewLabel("Strength", QString());
    Strength->setWordWrap(true);
    auto* StrengthLayout = new QHBoxLayout(StrengthPanel);
    StrengthLayout->setContentsMargins(0, 0, 0, 0);
    StrengthLayout->addWidget(NewLabel("Label_Strength", QStringLiteral("Надёжность распознавания:")), 0, Qt::AlignTop);
    StrengthLayout->addWidget(Strength, 1);
    StrengthPanel->hide();
    FileLayout->addWidget(StrengthPanel);
    PropsLayout->addWidget(FilePanel);

    SignalPanel = Named(new QWidget, "SignalPanel");
    SignaldB = NewTrackBar("SignaldB", -91, 0);
    SignaldBLab = NewValueLabel("SignaldBLab", QStringLiteral("-91 dB"));
    SignalTime = Named(new TSecondsSpinBox, "SignalTime");
    SignalTime->setRange(0, MaxSpinValue);
    SignalTime->setDecimals(3);
    SignalTime->setSingleStep(1);
    auto* SignalLayout = new QVBoxLayout(SignalPanel);
    SignalLayout->setContentsMargins(0, 0, 0, 0);
    SignalLayout->addWidget(NewLabel("Label_SignaldB", QStringLiteral("Пороговый уровень dB")));
    SignalLayout->addWidget(Row({SignaldB, SignaldBLab}, 0));
    SignalLayout->addWidget(NewLabel("Label_SignalTime", QStringLiteral("Время срабатывания")));
    SignalLayout->addWidget(Row({SignalTime, NewLabel("Label_Seconds", QStringLiteral("секунды"))}));
    // Peak or RMS, in the order of TLevelMode.
    Combo_LevelMode = Named(new QComboBox, "Combo_LevelMode");
    Combo_LevelMode->addItems({QStringLiteral("Пиковый"), QStringLiteral("Среднеквадратичный (RMS)")});
    SignalLayout->addWidget(Row({NewLabel("Label_LevelMode", QStringLiteral("Измерение уровня")), Combo_LevelMode}));
    // Once per episode, with a reminder while it lasts; the reminder needs the episode.
    Check_AlarmOnce =
        Named(new QCheckBox(QStringLiteral("Сообщать один раз, пока держится, и когда закончится")), "Check_AlarmOnce");
    Edit_RemindMinutes = NewSpin("Edit_RemindMinutes", 0, MaxRemindMinutes);
    RemindPanel = Row({NewLabel("Label_RemindMinutes", QStringLiteral("Напоминать каждые")), Edit_RemindMinutes,
                       NewLabel("Label_Minutes", QStringLiteral("минут (0 - не напоминать)"))});
    RemindPanel->setObjectName(QStringLiteral("RemindPanel"));
    RemindPanel->setEnabled(false);  // as the box, until a record fills them
    SignalLayout->addWidget(Check_AlarmOnce);
    SignalLayout->addWidget(RemindPanel);
    PropsLayout->addWidget(SignalPanel);

    ScriptPanel = Named(new QWidget, "ScriptPanel");
    Edit_Command = Named(new QLineEdit, "Edit_Command");
    ClearCommand = NewToolButton("ClearCommand", QStringLiteral("Очистить"));
    AddCommand = NewToolButton("AddCommand", QStringLiteral("Добавить"));
    CommandMenu = Named(new QMenu(this), "CommandMenu");
    TrackBar_DialSpeed = NewTrackBar("TrackBar_DialSpeed", 1, 10);
    Label_DialSpeed = NewValueLabel("Label_DialSpeed", QStringLiteral("10"));
    auto* ScriptLayout = new QVBoxLayout(ScriptPanel);
    ScriptLayout->setContentsMargins(0, 0, 0, 0);
    ScriptLayout->addWidget(NewLabel("Label_Command", QStringLiteral("Набор команд")));
    ScriptLayout->addWidget(Row({Edit_Command, ClearCommand, AddCommand}, 0));
    ScriptLayout->addWidget(NewLabel("Label_DialSpeedTitle", QStringLiteral("Скорость набора (символов в сек)")));
    ScriptLayout->addWidget(Row({TrackBar_DialSpeed, Label_DialSpeed}, 0));
    PropsLayout->addWidget(ScriptPanel);

    // How a clip or a command is recognised.
    MethodPanel = Named(new QWidget, "MethodPanel");
    Combo_Method = Named(new QComboBox, "Combo_Method");
    Combo_Method->addItems({QStringLiteral("Устойчивый (не зависит от уровня)"), QStringLiteral("Спектральный")});
    auto* MethodLayout = new QHBoxLayout(MethodPanel);
    MethodLayout->setContentsMargins(0, 0, 0, 0);
    MethodLayout->addWidget(NewLabel("Label_Method", QStringLiteral("Способ распознавания")));
    MethodLayout->addWidget(Combo_Method);
    MethodLayout->addStretch(1);
    PropsLayout->addWidget(MethodPanel);

    // "Режим распознавания по каналам": four radio buttons in two columns, filled column by column.
    SignalMode = Named(new QGroupBox(QStringLiteral("Режим распознавания по каналам")), "SignalMode");
    SignalModeButtons = new QButtonGroup(this);
    auto* ModeGrid = new QGridLayout(SignalMode);
    const char* const ModeNames[] = {"Radio_Left", "Radio_Right", "Radio_Add", "Radio_Dec"};
    const QString ModeTexts[] = {QStringLiteral("Левый"), QStringLiteral("Правый"), QStringLiteral("Левый + Правый"),
                                 QStringLiteral("Левый - Правый")};
    for (int I = 0; I < 4; ++I) {
        auto* Radio = Named(new QRadioButton(ModeTexts[I]), ModeNames[I]);
        SignalModeButtons->addButton(Radio, I);
        ModeGrid->addWidget(Radio, I % 2, I / 2);
    }

    // "Чувствительность"
    Group_SignalLevel = Named(new QGroupBox(QStringLiteral("Чувствительность")), "Group_SignalLevel");
    TrackBar_Sensitivity = NewTrackBar("TrackBar_Sensitivity", 0, 100);
    Label_Sensitivity = NewValueLabel("Label_Sensitivity", SensitivityText(100));
    auto* LevelLayout = new QHBoxLayout(Group_SignalLevel);
    LevelLayout->addWidget(TrackBar_Sensitivity, 1);
    LevelLayout->addWidget(Label_Sensitivity);

    OkBut = Named(new QPushButton(QStringLiteral("OK")), "OkBut");
    OkBut->setDefault(true);
    CancelBut = Named(new QPushButton(QStringLiteral("Отмена")), "CancelBut");

    auto* MainPanel = Named(new QWidget, "MainPanel");
    auto* MainLayout = new QVBoxLayout(MainPanel);
    MainLayout->setContentsMargins(0, 0, 0, 0);
    for (QWidget* Group : {static_cast<QWidget*>(Group_SampleList), static_cast<QWidget*>(Group_Additional),
                           static_cast<QWidget*>(Group_SampleType), static_cast<QWidget*>(Group_SampleProps),
                           static_cast<QWidget*>(SignalMode), static_cast<QWidget*>(Group_SignalLevel)})
        MainLayout->addWidget(Group);
    auto* Buttons = new QHBoxLayout;
    Buttons->addStretch(1);
    Buttons->addWidget(OkBut);
    Buttons->addWidget(CancelBut);
    auto* DialogLayout = new QVBoxLayout(this);
    DialogLayout->addWidget(MainPanel);
    DialogLayout->addLayout(Buttons);
    // The dialog takes exactly the size of what is visible, so it shrinks and grows with the
    // panels of the chosen type.
    DialogLayout->setSizeConstraint(QLayout::SetFixedSize);
    MainPanel->setMinimumWidth(480);

    connect(Filename, &QLineEdit::textChanged, this, &TSamplePropertyForm::FilenameChange);
    connect(SampleTypeButtons, &QButtonGroup::idClicked, this, &TSamplePropertyForm::Group_SampleTypeClick);
    connect(SignaldB, &QSlider::valueChanged, this, &TSamplePropertyForm::SignaldBChange);
    connect(TrackBar_Sensitivity, &QSlider::valueChanged, this, &TSamplePropertyForm::TrackBar_SensitivityChange);
    connect(TrackBar_DialSpeed, &QSlider::valueChanged, this, &TSamplePropertyForm::TrackBar_DialSpeedChange);
    connect(ClearCommand, &QToolButton::clicked, this, &TSamplePropertyForm::ClearCommandClick);
    connect(AddCommand, &QToolButton::clicked, this, &TSamplePropertyForm::AddCommandClick);
    connect(PlayBut, &QToolButton::clicked, this, &TSamplePropertyForm::PlayButClick);
    connect(StopBut, &QToolButton::clicked, this, &TSamplePropertyForm::StopButClick);
    connect(OkBut, &QPushButton::clicked, this, &TSamplePropertyForm::OkButClick);
    connect(Combo_Method, &QComboBox::currentIndexChanged, this, &TSamplePropertyForm::UpdateStrength);
    // Only the operator's own choice (activated), not one the dialog makes for a new sample.
    connect(Combo_LevelMode, &QComboBox::activated, this, [this] { FLevelModeChosen = true; });
    connect(Check_AlarmOnce, &QCheckBox::toggled, RemindPanel, &QWidget::setEnabled);
    connect(SignalModeButtons, &QButtonGroup::idClicked, this, &TSamplePropertyForm::UpdateStrength);
    connect(CancelBut, &QPushButton::clicked, this, &TSamplePropertyForm::CancelButClick);
    connect(Button_Filename, &QToolButton::clicked, this, [this] {
        const QString Chosen = QFileDialog::getOpenFileName(this, QString(), Filename->text(),
                                                            ClipFileFilter());
        if (!Chosen.isEmpty())
            Filename->setText(Chosen);
    });
    connect(Button_FileExecute, &QToolButton::clicked, this, [this] {
        const QString Chosen = QFileDialog::getOpenFileName(this, QString(), Edit_FileExecute->text());
        if (!Chosen.isEmpty())
            Edit_FileExecute->setText(Chosen);
    });

    FormCreate();
}

TSamplePropertyForm::~TSamplePropertyForm()
{
    FPlayer->Stop();
    if (FMainIniFile.isEmpty())
        return;
    // Placement and the last type, in the dialog's own section; never applied on opening.
    TIniFile Ini(FMainIniFile);
    const QRect Frame = geometry();
    Ini.WriteString(FormSection, QStringLiteral("NormPos"),
                    QStringLiteral("%1,%2,%3,%4")
                        .arg(Frame.left())
                        .arg(Frame.top())
                        .arg(Frame.left() + Frame.width())
                        .arg(Frame.top() + Frame.height()));
    Ini.WriteInteger(FormSection, QStringLiteral("Group_SampleType_ItemIndex"), int(SelectedType()));
    Ini.UpdateFile();
}

void TSamplePropertyForm::FormCreate()
{
    FLanguage = new TLanguage(this);
    FLanguage->Section = QStringLiteral("SampleProp");
    ApplyLanguageToWindow(this);
    BuildCommandMenu();
}

void TSamplePropertyForm::BuildCommandMenu()
{
    // The table's identifiers in columns of ten. Each entry is an action of the menu; a grid of
    // buttons shows them, since a menu lays its items out in one column.
    auto* Grid = Named(new QWidget(CommandMenu), "CommandMenuGrid");
    auto* Layout = new QGridLayout(Grid);
    Layout->setContentsMargins(2, 2, 2, 2);
    Layout->setSpacing(0);
    for (qsizetype I = 0; I < FTable.size(); ++I) {
        const QString ID = FTable.at(I).ID;
        auto* Item = new QAction(ID, CommandMenu);
        connect(Item, &QAction::triggered, this, [this, ID] {
            CommandMenu->hide();
            CommandMenuClick(ID);
        });
        auto* Button = new QToolButton(Grid);
        Button->setAutoRaise(true);
        Button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        Button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        Button->setDefaultAction(Item);
        // No accelerator keys: an "&" in an identifier is shown as it is.
        Button->setText(QString(ID).replace(u'&', QStringLiteral("&&")));
        Layout->addWidget(Button, int(I % CommandMenuRows), int(I / CommandMenuRows));
    }
    auto* GridAction = new QWidgetAction(CommandMenu);
    GridAction->setDefaultWidget(Grid);
    CommandMenu->addAction(GridAction);
}

QString TSamplePropertyForm::SensitivityText(int Position)
{
    // The stored value first, as the sample file has it ("Sense=50"), then its distance from
    // the neutral 50.
    const int D = Position - 50;
    return QStringLiteral("%1 (%2)").arg(Position).arg(D >= 0 ? QStringLiteral("+ %1 %").arg(D)
                                                             : QStringLiteral("- %1 %").arg(-D));
}

QString TSamplePropertyForm::ClipFileFilter()
{
    // The formats the clip reader decodes (libsndfile); it tells them by their content, so
    // the names only guide the choice.
    return QStringLiteral("WAV, MP3, FLAC, Ogg (*.wav *.mp3 *.flac *.ogg *.oga *.opus);;WAVE PCM (*.wav);;MP3 (*.mp3);;"
                          "FLAC (*.flac);;Ogg Vorbis, Opus (*.ogg *.oga *.opus)");
}

QString TSamplePropertyForm::ThresholdText(int Db)
{
    return QStringLiteral("%1 dB").arg(Db);
}

QString TSamplePropertyForm::FileTimeText(double Seconds)
{
    const double Safe = std::isfinite(Seconds) && Seconds > 0 ? Seconds : 0.0;
    return FormatDateTime(QStringLiteral("nn:ss.zzz"), Safe / 86400.0) + u' ';
}

QString TSamplePropertyForm::StrengthText(int Percent)
{
    const char* Verdict = Percent < TLandmarkStrength::WeakBelow ? "Soft" : Percent < StrongFrom ? "Medium" : "Strong";
    return QStringLiteral("%1 % (%2)").arg(Percent).arg(GetMessageText(QString::fromLatin1(Verdict)));
}

void TSamplePropertyForm::SetClipStrength(TClipStrengthFunction Function)
{
    FClipStrength = std::move(Function);
    FStrengthOf = QStringLiteral("?");  // measure again
    UpdateStrength();
}

void TSamplePropertyForm::UpdateStrength()
{
    const bool Shown = FClipStrength && Combo_Method->currentIndex() == 0;
    if (StrengthPanel->isVisibleTo(this) != Shown) {
        StrengthPanel->setVisible(Shown);
        UpdateLayout();
    }
    if (!Shown)
        return;
    TSampleRec Probe;
    Probe.Type = TSampleType::File;
    Probe.Method = TDetectMethod::Robust;
    Probe.Path = Filename->text();
    Probe.Number = Edit_SampleNum->value() - 1;
    Probe.Description = Description->text();
    Probe.Sense = TrackBar_Sensitivity->value();
    if (SignalModeButtons->checkedId() >= 0)
        Probe.SignalMode = TSignalMode(SignalModeButtons->checkedId());
    // Building a fingerprint reads the whole clip: only when the clip or its channel changed.
    const QFileInfo Info(Probe.Path);
    const bool Measured = Info.isFile() && AudioFileDuration(Probe.Path.toStdString()) <= MaxMeasuredSeconds;
    const QString Of = Measured ? QStringLiteral("%1|%2|%3")
                                           .arg(Info.absoluteFilePath())
                                           .arg(Info.lastModified().toMSecsSinceEpoch())
                                           .arg(int(Probe.SignalMode))
                                     : QString();
    if (Of == FStrengthOf)
        return;
    FStrengthOf = Of;
    QString Error;
    const int Percent = Of.isEmpty() ? -1 : FClipStrength(Probe, &Error);
    const bool Weak = Percent >= 0 && Percent < TLandmarkStrength::WeakBelow;
    Strength->setText(Percent >= 0 ? StrengthText(Percent) : Error);
    Strength->setToolTip(Weak ? FormatMessageText(QStringLiteral("WeakSample"),
                                                  {qint64(Probe.Number) + 1, Probe.Description, Percent})
                              : QString());
    QPalette Colors = Strength->palette();
    Colors.setColor(QPalette::WindowText,
                    Weak || !Error.isEmpty() ? QColor(Qt::red) : palette().color(QPalette::WindowText));
    Strength->setPalette(Colors);
    UpdateLayout();
}

TSampleType TSamplePropertyForm::SelectedType() const
{
    const int Id = SampleTypeButtons->checkedId();
    return Id >= 0 ? TSampleType(Id) : TSampleType::File;
}

void TSamplePropertyForm::FilenameChange()
{
    UpdateFileTime();
    if (Description->text().isEmpty())
        Description->setText(QFileInfo(Filename->text()).completeBaseName());
    UpdateStrength();
}

void TSamplePropertyForm::UpdateFileTime()
{
    PanelFileTime->setText(FileTimeText(AudioFileDuration(Filename->text().toStdString())));
}

void TSamplePropertyForm::Group_SampleTypeClick()
{
    if (FNewSample && !FLevelModeChosen)
        Combo_LevelMode->setCurrentIndex(int(NewSampleLevelMode(SelectedType())));
    UpdatePanels();
}

TLevelMode TSamplePropertyForm::NewSampleLevelMode(TSampleType Type)
{
    // Dead air is as often an open channel's hiss or a studio's hum as digital zero: measured
    // by its peaks, such a floor reads louder than it sounds. A signal's threshold keeps the
    // peak, as operators have always set it.
    return Type == TSampleType::Silence ? TLevelMode::Rms : TLevelMode::Peak;
}

void TSamplePropertyForm::UpdatePanels()
{
    const TSampleType Type = SelectedType();
    const bool File = Type == TSampleType::File;
    const bool Level = Type == TSampleType::Silence || Type == TSampleType::Signal;
    const bool Command = Type == TSampleType::Command;
    FilePanel->setVisible(File);
    SignalPanel->setVisible(Level);
    ScriptPanel->setVisible(Command);
    MethodPanel->setVisible(File || Command);
    SignalMode->setVisible(File || Command);
    Group_SignalLevel->setVisible(File || Command);
    UpdateLayout();
}

void TSamplePropertyForm::UpdateLayout()
{
    layout()->activate();
    adjustSize();
}

void TSamplePropertyForm::SignaldBChange()
{
    SignaldBLab->setText(ThresholdText(SignaldB->value()));
}

void TSamplePropertyForm::TrackBar_SensitivityChange()
{
    Label_Sensitivity->setText(SensitivityText(TrackBar_Sensitivity->value()));
}

void TSamplePropertyForm::TrackBar_DialSpeedChange()
{
    Label_DialSpeed->setText(QString::number(TrackBar_DialSpeed->value()));
}

void TSamplePropertyForm::ClearCommandClick()
{
    Edit_Command->clear();
}

void TSamplePropertyForm::AddCommandClick()
{
    // Under the button's lower left corner (lower right for right-to-left menus); above the
    // button when the menu would run past the bottom of the monitor.
    const QSize MenuSize = CommandMenu->sizeHint();
    const bool RightToLeft = CommandMenu->layoutDirection() == Qt::RightToLeft;
    QPoint At = AddCommand->mapToGlobal(RightToLeft ? AddCommand->rect().bottomRight() : AddCommand->rect().bottomLeft());
    if (RightToLeft)
        At.rx() -= MenuSize.width();
    const QScreen* Screen = AddCommand->screen();
    if (Screen && At.y() + MenuSize.height() > Screen->geometry().bottom())
        At.setY(AddCommand->mapToGlobal(QPoint(0, 0)).y() - MenuSize.height());
    CommandMenu->popup(At);
}

void TSamplePropertyForm::CommandMenuClick(const QString& ID)
{
    QString Text = Edit_Command->text();
    if (!Text.isEmpty())
        Text += u',';
    Edit_Command->setText(Text + ID);
}

void TSamplePropertyForm::PlayButClick()
{
    const QString Path = Filename->text();
    if (!QFileInfo(Path).isFile())
        return;
    if (FPlayer->Open(Path.toStdString()) && FPlayer->Mode() != TAudioPlayer::TMode::NotReady && FPlayer->Play())
        return;
    // The operator hears nothing: say why beside the button.
    QToolTip::showText(PlayBut->mapToGlobal(PlayBut->rect().bottomLeft()),
                       QString::fromStdString(FPlayer->ErrorText), PlayBut);
}

void TSamplePropertyForm::StopButClick()
{
    if (FPlayer->Mode() == TAudioPlayer::TMode::Playing)
        FPlayer->Stop();
}

void TSamplePropertyForm::OkButClick()
{
    accept();
}

void TSamplePropertyForm::CancelButClick()
{
    reject();
}

void TSamplePropertyForm::keyPressEvent(QKeyEvent* Event)
{
    if (!ClickForDialogKey(Event, OkBut, CancelBut))
        QDialog::keyPressEvent(Event);
}

void TSamplePropertyForm::showEvent(QShowEvent* Event)
{
    QDialog::showEvent(Event);
    SignaldBChange();
    TrackBar_SensitivityChange();
    TrackBar_DialSpeedChange();
    UpdateLayout();
    PlaceOverMainWindow();
}

void TSamplePropertyForm::PlaceOverMainWindow()
{
    move(PlaceOverWindow(FMainWindow, frameGeometry().size(), screen()));
}

void TSamplePropertyForm::Fill(const TSampleRec& Rec)
{
    Description->setText(Rec.Description);
    Edit_SampleNum->setValue(int(std::clamp<qint64>(qint64(Rec.Number) + 1, 1, MaxSpinValue)));
    if (QAbstractButton* Type = SampleTypeButtons->button(int(Rec.Type)))
        Type->setChecked(true);
    else
        SampleTypeButtons->button(int(TSampleType::File))->setChecked(true);
    UpdatePanels();
    Edit_Delay->setValue(Rec.SampleWait);
    Filename->setText(Rec.Path);
    TrackBar_Sensitivity->setValue(Rec.Sense);
    Check_AutoDisable->setChecked(Rec.AutoDisable);
    Check_AutoStart->setChecked(Rec.AutoStart);
    Check_UseLowFreq->setChecked(Rec.UseLowFreq);
    Combo_Precision->setCurrentIndex(std::clamp(Rec.Precision, 0, Combo_Precision->count() - 1));
    if (QAbstractButton* Mode = SignalModeButtons->button(int(Rec.SignalMode)))
        Mode->setChecked(true);
    SignalTime->setValue(std::isfinite(Rec.SignalTime) ? Rec.SignalTime : 0.0);
    SignaldB->setValue(std::isfinite(Rec.SignaldB) ? int(std::clamp(std::trunc(Rec.SignaldB), -1e9, 1e9)) : 0);
    Edit_Command->setText(Rec.Command);
    TrackBar_DialSpeed->setValue(Rec.CommandSpeed);
    Combo_Method->setCurrentIndex(Rec.Method == TDetectMethod::Spectral ? 1 : 0);
    const TLevelMode LevelMode = FNewSample ? NewSampleLevelMode(Rec.Type) : Rec.LevelMode;
    Combo_LevelMode->setCurrentIndex(LevelMode == TLevelMode::Rms ? 1 : 0);
    // A new sample alarms once per episode; a stored one keeps what it had.
    Check_AlarmOnce->setChecked(FNewSample || Rec.AlarmOnce);
    RemindPanel->setEnabled(Check_AlarmOnce->isChecked());
    Edit_RemindMinutes->setValue(Rec.RemindMinutes);
    Edit_FileExecute->setText(Rec.FileExecute);
    UpdateFileTime();
    UpdateStrength();
}

void TSamplePropertyForm::WriteBack(TSampleRec& Rec) const
{
    Rec.Description = Description->text();

    // A number another sample already has is silently replaced by the next free one.
    const int Shown = Edit_SampleNum->value();
    bool Taken = false;
    for (int I = 0; I < FList.Count(); ++I)
        if (FList[I] != &Rec && FList[I]->Number == Shown - 1)
            Taken = true;
    Rec.Number = Taken && qint64(Shown) != qint64(Rec.Number) + 1 ? FList.NextFreeNumber() : Shown - 1;

    const TSampleType Type = SelectedType();
    Rec.Type = Type;
    Rec.SampleWait = Edit_Delay->value();
    Rec.Sense = TrackBar_Sensitivity->value();
    Rec.AutoDisable = Check_AutoDisable->isChecked();
    Rec.AutoStart = Check_AutoStart->isChecked();
    Rec.UseLowFreq = Check_UseLowFreq->isChecked();
    if (SignalModeButtons->checkedId() >= 0)
        Rec.SignalMode = TSignalMode(SignalModeButtons->checkedId());

    // Only the fields of the chosen type; the others keep their values.
    switch (Type) {
    case TSampleType::File:
        Rec.Path = Filename->text();
        Rec.Precision = Combo_Precision->currentIndex();
        Rec.Method = Combo_Method->currentIndex() == 1 ? TDetectMethod::Spectral : TDetectMethod::Robust;
        break;
    case TSampleType::Silence:
    case TSampleType::Signal:
        Rec.SignalTime = std::trunc(SignalTime->value());
        Rec.SignaldB = SignaldB->value();
        Rec.LevelMode = Combo_LevelMode->currentIndex() == 1 ? TLevelMode::Rms : TLevelMode::Peak;
        Rec.AlarmOnce = Check_AlarmOnce->isChecked();
        Rec.RemindMinutes = Edit_RemindMinutes->value();
        break;
    case TSampleType::Command:
        Rec.Command = Edit_Command->text();
        Rec.CommandSpeed = TrackBar_DialSpeed->value();
        Rec.Method = Combo_Method->currentIndex() == 1 ? TDetectMethod::Spectral : TDetectMethod::Robust;
        break;
    }
    Rec.FileExecute = Edit_FileExecute->text();
    // The operator has seen and confirmed the values: they replace what the file could not say.
    Rec.AcceptEditedValues();
}

bool TSamplePropertyForm::Execute(TSampleRec& Rec)
{
    FRec = &Rec;
    // A record without a number is one the operator is making now.
    FNewSample = Rec.Number == -1;
    FLevelModeChosen = false;
    if (Rec.Number == -1)
        Rec.Number = FList.NextFreeNumber();
    Fill(Rec);
    const bool Confirmed = exec() == QDialog::Accepted;
    FPlayer->Stop();
    if (Confirmed)
        WriteBack(Rec);
    UpdatePanels();
    return Confirmed;
}

bool EditSampleProperties(QWidget* MainWindow, TSampleRec& Rec, const TSampleList& List, const TFrequencyRecArr& Table,
                          const QString& MainIniFile, TClipStrengthFunction ClipStrength)
{
    TSamplePropertyForm Form(MainWindow, List, Table, MainIniFile);
    Form.SetClipStrength(std::move(ClipStrength));
    return Form.Execute(Rec);
}
