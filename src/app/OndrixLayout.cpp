// The main window's controls: built once, each named as the settings files and language files
// know it (its objectName).

#include "app/Ondrix_Unit.h"

#include "app/FrequencyPage.h"
#include "widgets/Glyphs.h"
#include "widgets/HeadedLabel.h"
#include "widgets/KvListView.h"
#include "widgets/LedMeter.h"
#include "widgets/RadioGroup.h"

#include "mail/Class_OndrixEmailer.h"
#include "messages/Class_OndrixMessage.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTimeEdit>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString U(const char* Text)
{
    return QString::fromUtf8(Text);
}

template <typename T>
T* Named(T* Widget, const char* Name)
{
    Widget->setObjectName(QString::fromLatin1(Name));
    return Widget;
}

QCheckBox* Check(QWidget* Parent, const char* Name, const char* Caption)
{
    return Named(new QCheckBox(U(Caption), Parent), Name);
}

QSpinBox* Spin(QWidget* Parent, const char* Name, int Minimum, int Maximum, int Value)
{
    auto* Box = Named(new QSpinBox(Parent), Name);
    Box->setRange(Minimum, Maximum);
    Box->setValue(Value);
    Box->setMinimumWidth(90);
    return Box;
}

// The caption of a form row, named so that a language file can reach it.
QLabel* Caption(const char* Name, const char* Text)
{
    return Named(new QLabel(U(Text)), Name);
}

QLineEdit* Edit(QWidget* Parent, const char* Name)
{
    auto* Line = Named(new QLineEdit(Parent), Name);
    Line->setMinimumWidth(160);
    return Line;
}

// A settings panel: a plain widget whose content starts at the top left.
QWidget* Panel(const char* Name, QVBoxLayout*& Layout)
{
    auto* Widget = Named(new QWidget, Name);
    Layout = new QVBoxLayout(Widget);
    Layout->setContentsMargins(10, 10, 10, 10);
    Layout->setSpacing(8);
    return Widget;
}

// Text of the status strip's panels: 19 pixels high.
QFont PanelFont(const QFont& Base, bool Bold)
{
    QFont Font = Base;
    Font.setPixelSize(19);
    Font.setBold(Bold);
    return Font;
}

}  // namespace

void TOndrix::CreateActions()
{
    FSamplesToolBar = Named(new QToolBar, "SamplesToolBar");
    FSamplesToolBar->setIconSize(QSize(20, 20));
    FSamplesToolBar->setMovable(false);
    FSamplesToolBar->setFloatable(false);
    struct TButton {
        const char* Name;
        TGlyph Glyph;
        const char* Hint;
        const char* Keys;
        bool SeparatorAfter;
    };
    const TButton Buttons[] = {
        {"AddSample_Btn", TGlyph::Add, "Добавить образец", "[ Insert ], [ Серый + ]", false},
        {"DelSample_Btn", TGlyph::Delete, "Удалить образец", "[ Delete ], [ Серый - ]", false},
        {"SampleProp_Btn", TGlyph::Properties, "Свойства образца", "[ Enter ]", true},
        {"ChangeEnable_Btn", TGlyph::Toggle, "Включить/Отключить образец", "[ Пробел ]", false},
        {"Enable_Btn", TGlyph::Enable, "Включить образец", "[ Ctrl + Пробел ]", false},
        {"Disable_Btn", TGlyph::Disable, "Отключить образец", "[ Shift + Пробел ]", true},
        {"Enable_All_Btn", TGlyph::EnableAll, "Включить все образцы", "[ Ctrl + ~ ]", false},
        {"Disable_All_Btn", TGlyph::DisableAll, "Отключить все образцы", "[ Shift + ~ ]", true},
        {"Find_Btn", TGlyph::Find, "Эмулировать нахождение образца", "[ Ctrl + Shift + Пробел ]", false},
    };
    for (const TButton& Button : Buttons) {
        QAction* Action = FSamplesToolBar->addAction(GlyphIcon(Button.Glyph), U(Button.Hint));
        Action->setObjectName(QString::fromLatin1(Button.Name) + "_Action");
        // The hint's first line says what the button does, the second which keys do the same.
        Action->setToolTip(U(Button.Hint) + "\r\n" + U(Button.Keys));
        FSamplesToolBar->widgetForAction(Action)->setObjectName(QString::fromLatin1(Button.Name));
        if (Button.SeparatorAfter)
            FSamplesToolBar->addSeparator();
    }
}

void TOndrix::CreateMenus()
{
    QMenuBar* Bar = menuBar();
    Bar->setObjectName("MainMenu1");

    QMenu* File = Named(Bar->addMenu(U("Файл")), "MFile");
    QAction* Exit = Named(File->addAction(U("Выход")), "MExit");
    Exit->setShortcut(Qt::Key_F10);
    Exit->setShortcutContext(Qt::ApplicationShortcut);
    connect(Exit, &QAction::triggered, this, &TOndrix::MExitClick);

    FLanguageMenu = Named(Bar->addMenu("Language"), "MLanguage");

    QMenu* Help = Named(Bar->addMenu(U("Помощь")), "MHelp");
    QAction* Contents = Named(Help->addAction(U("Содержание")), "MContents");
    Contents->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F1));
    connect(Contents, &QAction::triggered, this, &TOndrix::MContentsClick);
    QAction* Starting = Named(Help->addAction(U("Первоначальная настройка программы")), "MStarting");
    connect(Starting, &QAction::triggered, this, &TOndrix::MStartingClick);
    QAction* Faq = Named(Help->addAction(U("Часто задаваемые вопросы")), "MFAQ");
    connect(Faq, &QAction::triggered, this, &TOndrix::MFAQClick);
    FHelpActions = {Contents, Starting, Faq};

    QMenu* About = Named(Bar->addMenu(U("О программе")), "MAbout");
    connect(Named(About->addAction(U("Домашняя страница в Интернет")), "MWebPage"), &QAction::triggered, this,
            &TOndrix::MWebPageClick);
    connect(Named(About->addAction(U("Страница поддержки в Интернет")), "MSupport"), &QAction::triggered, this,
            &TOndrix::MSupportClick);
    connect(Named(About->addAction(U("Написать письмо")), "MEmail"), &QAction::triggered, this,
            &TOndrix::MEmailClick);
    About->addSeparator();
    QAction* Updates = Named(About->addAction(U("Проверить обновления программы")), "MCheckForUpdates");
    Updates->setEnabled(false);  // until the window is bound to the update check
    connect(Named(About->addAction(U("Список изменений")), "MWhatsNew"), &QAction::triggered, this,
            &TOndrix::MWhatsNewClick);
    About->addSeparator();
    connect(Named(About->addAction(U("О программе")), "MVersion"), &QAction::triggered, this,
            &TOndrix::MVersionClick);
}

QWidget* TOndrix::CreateTopPanel()
{
    FTopPanel = Named(new QWidget, "TopPanel");
    FTopPanel->setFixedHeight(35);
    auto* Layout = new QHBoxLayout(FTopPanel);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(2);

    FStatus = Named(new QLabel, "Status");
    FStatus->setFixedWidth(87);
    FStatus->setFont(PanelFont(font(), true));
    FStatus->setAlignment(Qt::AlignCenter);
    FStatus->setAutoFillBackground(true);
    FStatus->setFrameShape(QFrame::Panel);
    FStatus->setFrameShadow(QFrame::Sunken);
    FStatus->setToolTip(U("Состояние слежения"));

    FLed = Named(new TLedMeter, "Led");
    FLed->SetStereo(true);
    FLed->SetDivider(true);
    FLed->SetGradient(true);
    FLed->SetSmoothVolume(true);
    FLed->SetStepCount(48);
    FLed->SetLablelCount(12);
    FLed->SetPositionMin(-24);
    FLed->SetPositionLow(-6);
    FLed->SetPositionMid(-1);
    FLed->SetActiveColors(Qt::green, Qt::yellow, Qt::red);
    FLed->SetInactiveColors(QColor(0, 64, 0), QColor(128, 128, 0), QColor(128, 0, 0));
    QFont Small("Small Fonts");
    Small.setPixelSize(9);
    FLed->SetScaleFont(Small);
    FLed->SetNoMenu(false);
    FLed->SetValuesNow(TLedMeter::SilentdB, TLedMeter::SilentdB);

    auto MakeClock = [this](const char* Name) {
        auto* Panel = Named(new QLabel, Name);
        Panel->setFixedWidth(120);
        Panel->setFont(PanelFont(font(), false));
        Panel->setAlignment(Qt::AlignCenter);
        Panel->setAutoFillBackground(true);
        Panel->setFrameShape(QFrame::Panel);
        Panel->setFrameShadow(QFrame::Sunken);
        QPalette Colors = Panel->palette();
        Colors.setColor(QPalette::Window, Colors.color(QPalette::Dark));
        Colors.setColor(QPalette::WindowText, Colors.color(QPalette::Base));
        Panel->setPalette(Colors);
        return Panel;
    };
    FTimePanel = MakeClock("TimePanel");
    FDatePanel = MakeClock("DatePanel");

    Layout->addWidget(FStatus);
    Layout->addWidget(FLed, 1);
    Layout->addWidget(FTimePanel);
    Layout->addWidget(FDatePanel);
    return FTopPanel;
}

QWidget* TOndrix::CreateSamplesSheet()
{
    auto* Sheet = Named(new QWidget, "SamplesSheet");
    auto* Layout = new QVBoxLayout(Sheet);
    Layout->setContentsMargins(2, 2, 2, 2);
    Layout->setSpacing(2);
    Layout->addWidget(FSamplesToolBar);

    FSampleView = Named(new TKvListView, "SampleView");
    FSampleView->AddColumn(U("№"), 50);
    FSampleView->AddColumn(U("Название образца"), 200);
    FSampleView->AddColumn(U("Процент совпадения"), 150);
    FSampleView->horizontalHeader()->setStretchLastSection(true);
    FSampleView->SetImages({GlyphIcon(TGlyph::CheckOff), GlyphIcon(TGlyph::CheckOn)});
    FSampleView->setMinimumHeight(60);
    FSampleView->resize(FSampleView->width(), 155);
    FSamplePopup = Named(new QMenu(FSampleView), "SamplePopup");
    FSampleView->setContextMenuPolicy(Qt::CustomContextMenu);

    auto* Messages = Named(new QWidget, "Panel_Messages");
    auto* MessagesLayout = new QVBoxLayout(Messages);
    MessagesLayout->setContentsMargins(0, 0, 0, 0);
    MessagesLayout->setSpacing(2);
    auto* Header = new QHBoxLayout;
    auto* Caption = Named(new QLabel(U(" Сообщения программы")), "Label_Messages");
    QFont Bold = Caption->font();
    Bold.setBold(true);
    Caption->setFont(Bold);
    auto* Clear = Named(new QPushButton(U("Очистить сообщения")), "Button_ClearLog");
    Header->addWidget(Caption, 1);
    Header->addWidget(Clear);
    MessagesLayout->addLayout(Header);
    FLogMessageView = Named(new TKvListView, "LogMessageView");
    for (const TMessageColumn& Column : MessageViewColumns)
        FLogMessageView->AddColumn(QString::fromUtf16(Column.Caption), Column.Width);
    // The time column holds a whole date and time in the window's font.
    FLogMessageView->setColumnWidth(
        0, std::max(FLogMessageView->columnWidth(0), FLogMessageView->fontMetrics().horizontalAdvance("00.00.0000 00:00:00") + 16));
    FLogMessageView->horizontalHeader()->setStretchLastSection(true);
    FLogMessageView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FLogMessageView->setMinimumHeight(50);
    MessagesLayout->addWidget(FLogMessageView, 1);

    FSamplesSplitter = Named(new QSplitter(Qt::Vertical), "Splitter_Samples");
    FSamplesSplitter->setHandleWidth(6);
    FSamplesSplitter->setChildrenCollapsible(false);
    FSamplesSplitter->addWidget(FSampleView);
    FSamplesSplitter->addWidget(Messages);
    FSamplesSplitter->setStretchFactor(0, 0);
    FSamplesSplitter->setStretchFactor(1, 1);
    FSamplesSplitter->setSizes({155, 300});
    Layout->addWidget(FSamplesSplitter, 1);
    return Sheet;
}

QWidget* TOndrix::CreateProgramPanel()
{
    QVBoxLayout* Layout = nullptr;
    QWidget* Widget = Panel("Settings_Program", Layout);
    auto* Messages = Named(new QGroupBox(U("Сообщения программы")), "Group_Messages");
    auto* MessagesLayout = new QVBoxLayout(Messages);
    auto* CountRow = new QHBoxLayout;
    auto* CountLabel = Named(new QLabel(U("Максимальное кол-во текущих сообщений в списке")), "Label_LogCount");
    CountLabel->setWordWrap(true);
    CountRow->addWidget(CountLabel, 1);
    CountRow->addWidget(Spin(Widget, "LogCount", 1, 99999, 30));
    MessagesLayout->addLayout(CountRow);
    MessagesLayout->addWidget(Check(Widget, "LogFileCreate", "Записывать сообщения в файл"));
    Layout->addWidget(Messages);

    FProgIcon = Named(new TRadioGroup(U("Вид программы")), "ProgIcon");
    FProgIcon->SetItems({U("Кнопка на панели задач"), U("Иконка рядом с системными часами")});
    FProgIcon->SetItemIndex(0);
    Layout->addWidget(FProgIcon);

    Layout->addWidget(Check(Widget, "ExternalWait", "Ждать обработки сообщения внешней программой"));
    Layout->addWidget(Check(Widget, "Check_RunMinimized", "Свернуть окно программы после запуска"));
    QCheckBox* Updates = Check(Widget, "Check_AutoUpdates", "Автоматически проверять обновления программы");
    Updates->setChecked(true);
    Layout->addWidget(Updates);
    Layout->addStretch(1);
    return Widget;
}

QWidget* TOndrix::CreateRecordPanel()
{
    QVBoxLayout* Layout = nullptr;
    QWidget* Widget = Panel("Settings_Record", Layout);
    auto* Device = Named(new QGroupBox(U("Устройство записи")), "Group_Device");
    auto* DeviceLayout = new QVBoxLayout(Device);
    FComboBox_Device = Named(new QComboBox, "ComboBox_Device");
    FComboBox_Device->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    FComboBox_Device->setMinimumContentsLength(20);
    DeviceLayout->addWidget(FComboBox_Device);
    FButton_TestAudio = Named(new QPushButton(U("Проверка совместимости")), "Button_TestAudio");
    FButton_TestAudio->setToolTip(U("44100 Гц/16 Бит/Стерео"));
    auto* TestRow = new QHBoxLayout;
    TestRow->addWidget(FButton_TestAudio);
    TestRow->addStretch(1);
    DeviceLayout->addLayout(TestRow);

    // Monitoring always runs at 44100 frames a second in blocks of 2048: the two selectors are
    // kept, hidden, for the mapping they stand for.
    auto* Format = Named(new QWidget, "Panel_Format");
    auto* FormatLayout = new QFormLayout(Format);
    auto* Rate = Named(new QComboBox, "Combo_Frequency");
    Rate->addItems({"22050", "32000", "44100", "48000", "64000", "96000"});
    Rate->setCurrentIndex(2);
    auto* Block = Named(new QComboBox, "Combo_FFTSize");
    Block->addItems({"1024", "2048", "4096", "8192"});
    Block->setCurrentIndex(1);
    FormatLayout->addRow(Caption("Label_Frequency", "Частота дискретизации"), Rate);
    FormatLayout->addRow(Caption("Label_FFTSize", "Размер буфера (сэмплов на канал)"), Block);
    Format->hide();
    DeviceLayout->addWidget(Format);
    Layout->addWidget(Device);
    Layout->addStretch(1);
    return Widget;
}

QWidget* TOndrix::CreateFrequencyPanel()
{
    QVBoxLayout* Layout = nullptr;
    QWidget* Widget = Panel("Settings_Frequency", Layout);
    FFrequencyPage = new TFrequencyPage(FrequencyTable);
    FFrequencyView = FFrequencyPage->View();
    Layout->addWidget(FFrequencyPage, 1);
    return Widget;
}

QWidget* TOndrix::CreateEmailPanel()
{
    QVBoxLayout* Layout = nullptr;
    QWidget* Widget = Panel("Settings_Email", Layout);
    auto* Pages = Named(new QTabWidget, "PageControl_Email");

    auto* Messages = Named(new QWidget, "Tab_Email_Messages");
    auto* MessagesLayout = new QVBoxLayout(Messages);
    MessagesLayout->addWidget(Check(Widget, "EmailMessagesCheck", "Отправлять сообщения на E-mail"));
    auto* Types = Named(new QGroupBox(U("Сообщения")), "Group_Email_Types");
    auto* TypesLayout = new QVBoxLayout(Types);
    TypesLayout->addWidget(Check(Widget, "MsgOnOffSampleCheck", "Вкл/Откл образца"));
    TypesLayout->addWidget(Check(Widget, "MsgDetectSampleCheck", "Образец определен"));
    TypesLayout->addWidget(Check(Widget, "MsgNotDetectSampleCheck", "Образец не определен"));
    TypesLayout->addWidget(Check(Widget, "MsgCommandCheck", "Отправка команды внешней программе"));
    TypesLayout->addWidget(Check(Widget, "MsgErrorCheck", "Ошибки"));
    MessagesLayout->addWidget(Types);
    QCheckBox* InSubject = Check(Widget, "MsgSubjectCheck", "Сообщение в теме письма");
    InSubject->setChecked(true);
    MessagesLayout->addWidget(InSubject);
    auto* SubjectRow = new QFormLayout;
    QLineEdit* Subject = Edit(Widget, "Edit_Email_Subject");
    Subject->setEnabled(false);
    SubjectRow->addRow(Caption("Label_Email_Subject", "Тема"), Subject);
    MessagesLayout->addLayout(SubjectRow);
    MessagesLayout->addStretch(1);
    // The fixed subject is used only when the message is not the subject.
    connect(InSubject, &QCheckBox::toggled, Subject, [Subject](bool On) { Subject->setEnabled(!On); });

    auto* Server = Named(new QWidget, "Tab_Email_Server");
    auto* ServerLayout = new QFormLayout(Server);
    ServerLayout->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    ServerLayout->addRow(Caption("Label_SMTPHost", "SMTP сервер"), Edit(Widget, "SMTPHostEdit"));
    QLineEdit* Port = Edit(Widget, "SMTPPortEdit");
    Port->setText("25");
    Port->setMinimumWidth(60);
    Port->setMaximumWidth(90);
    ServerLayout->addRow(Caption("Label_SMTPPort", "Порт"), Port);
    QCheckBox* Tls = Check(Widget, "Check_EMail_UseSSL", "Безопасное соединение (TLS)");
    ServerLayout->addRow(QString(), Tls);
    // The usual port of each kind of connection.
    connect(Tls, &QCheckBox::clicked, Port, [Port](bool On) { Port->setText(SMTPPortForTLS(On)); });
    ServerLayout->addRow(Caption("Label_SMTPUser", "Имя пользователя"), Edit(Widget, "SMTPUserEdit"));
    QLineEdit* Password = Edit(Widget, "SMTPPasswordEdit");
    Password->setEchoMode(QLineEdit::Password);
    ServerLayout->addRow(Caption("Label_SMTPPassword", "Пароль"), Password);
    ServerLayout->addRow(Caption("Label_EmailFrom", "От кого (E-mail)"), Edit(Widget, "EmailFromEdit"));
    ServerLayout->addRow(Caption("Label_EmailTo", "Кому (E-mail)"), Edit(Widget, "EmailToEdit"));
    auto* Test = Named(new QPushButton(U("Отправить тестовое сообщение")), "Button_Email_Test");
    Test->setEnabled(false);  // until the window is bound to the mailer
    ServerLayout->addRow(QString(), Test);

    Pages->addTab(Messages, U("Сообщения"));
    Pages->addTab(Server, U("Сервер"));
    Pages->setCurrentIndex(0);
    Layout->addWidget(Pages, 1);
    return Widget;
}

QWidget* TOndrix::CreateConfigPanel()
{
    QVBoxLayout* Layout = nullptr;
    QWidget* Widget = Panel("Settings_Config", Layout);

    auto* Folder = Named(new QGroupBox(U("Папка для хранения архивов")), "Group_Config_Folder");
    auto* FolderLayout = new QHBoxLayout(Folder);
    QLineEdit* FolderEdit = Edit(Widget, "Edit_Config_BackupFolder");
    // An empty setting is the default folder.
    FolderEdit->setPlaceholderText(QStringLiteral("Backup/"));
    // The chooser's button; its text is also the chooser's caption, so the language file
    // translates both. It acts once configuration archives can be made.
    QAction* Chooser = FolderEdit->addAction(style()->standardIcon(QStyle::SP_DirOpenIcon), QLineEdit::TrailingPosition);
    Chooser->setObjectName(QStringLiteral("Edit_Config_BackupFolder_Dialog"));
    Chooser->setText(U("Выберите каталог для архивирования данных и конфигурации"));
    Chooser->setEnabled(false);
    FolderLayout->addWidget(FolderEdit, 1);
    FolderLayout->addWidget(Named(new QPushButton(U("Открыть в проводнике")), "Button_Config_ShowBackupFolder"));
    Layout->addWidget(Folder);

    auto* Schedule = Named(new QGroupBox(U("Архивирование")), "Group_Config_Schedule");
    auto* ScheduleLayout = new QFormLayout(Schedule);
    ScheduleLayout->addRow(Check(Widget, "Check_Config_Backup_Auto", "Автоматически архивировать по времени"));
    auto* Time = Named(new QTimeEdit, "Edit_Config_Backup_Time");
    Time->setDisplayFormat("HH:mm:ss");
    ScheduleLayout->addRow(Caption("Label_Config_Backup_Time", "Время архивации"), Time);
    ScheduleLayout->addRow(Caption("Label_Config_Backup_Interval", "Интервал в днях"), Spin(Widget, "Edit_Config_Backup_Interval", 1, 99999, 7));
    QCheckBox* DeleteOld = Check(Widget, "Check_Config_DeleteOld", "Ограничить количество архивов");
    DeleteOld->setChecked(true);
    ScheduleLayout->addRow(DeleteOld);
    ScheduleLayout->addRow(Caption("Label_Config_DeleteOld_Count", "Максимальное количество"), Spin(Widget, "Edit_Config_DeleteOld_Count", 1, 99999, 5));
    ScheduleLayout->addRow(Check(Widget, "Check_Config_Backup_OnExit", "Автоматически архивировать при выходе из программы"));
    Layout->addWidget(Schedule);

    auto* Data = Named(new QGroupBox(U("Данные")), "Group_Config_Data");
    auto* DataLayout = new QVBoxLayout(Data);
    QCheckBox* Settings = Check(Widget, "Check_Config_Data_Settings", "Настройки программы");
    Settings->setChecked(true);
    QCheckBox* Log = Check(Widget, "Check_Config_Data_Log", "Сообщения");
    Log->setChecked(true);
    DataLayout->addWidget(Settings);
    DataLayout->addWidget(Log);
    Layout->addWidget(Data);

    auto* Actions = new QHBoxLayout;
    for (const auto& [Name, Caption] : {std::pair{"Button_Config_Save", "Сохранить в архив"},
                                        std::pair{"Button_Config_Load", "Восстановить из архива"},
                                        std::pair{"Button_Config_Reset", "Сброс сданных"}}) {
        auto* Button = Named(new QPushButton(U(Caption)), Name);
        Button->setEnabled(false);  // until configuration archives can be made
        Actions->addWidget(Button);
    }
    Actions->addStretch(1);
    Layout->addLayout(Actions);
    Layout->addStretch(1);
    return Widget;
}

QWidget* TOndrix::CreateSettingsSheet()
{
    auto* Sheet = Named(new QWidget, "SettingsSheet");
    auto* Layout = new QHBoxLayout(Sheet);
    Layout->setContentsMargins(2, 2, 2, 2);
    Layout->setSpacing(4);

    auto* Left = Named(new QWidget, "Panel_SettingsTree");
    Left->setFixedWidth(200);
    FSettingsTreePanel = Left;
    auto* LeftLayout = new QVBoxLayout(Left);
    LeftLayout->setContentsMargins(0, 0, 0, 0);
    FTree = Named(new QTreeWidget, "Tree");
    FTree->setHeaderHidden(true);
    FTree->setRootIsDecorated(false);
    FTree->setIndentation(4);
    for (const char* Text : {"Настройки программы", "Распознавание", "Настройка частот", "E-mail", "Конфигурация"})
        FTree->addTopLevelItem(new QTreeWidgetItem(QStringList{U(Text)}));
    LeftLayout->addWidget(FTree, 1);
    LeftLayout->addWidget(Named(new QPushButton(U("Сохранить настройки")), "SaveSett"));

    auto* Right = new QVBoxLayout;
    Right->setSpacing(2);
    FLabel_Settings_Top = Named(new THeadedLabel, "Label_Settings_Top");
    Right->addWidget(FLabel_Settings_Top);
    FScrollBox = Named(new QScrollArea, "ScrollBox");
    FScrollBox->setWidgetResizable(true);
    FScrollContent = Named(new QWidget, "ScrollBox_Content");
    FScrollContent->setMinimumSize(PanelMinimum, PanelMinimum);
    FScrollContent->installEventFilter(this);
    FPanels = {CreateProgramPanel(), CreateRecordPanel(), CreateFrequencyPanel(), CreateEmailPanel(),
               CreateConfigPanel()};
    for (QWidget* Panel : FPanels) {
        Panel->setParent(FScrollContent);
        Panel->hide();
    }
    FScrollBox->setWidget(FScrollContent);
    Right->addWidget(FScrollBox, 1);

    Layout->addWidget(Left);
    Layout->addLayout(Right, 1);
    connect(FTree, &QTreeWidget::currentItemChanged, this, &TOndrix::TreeChange);
    return Sheet;
}
