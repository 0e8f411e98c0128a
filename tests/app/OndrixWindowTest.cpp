// What an operator does with the main window, offscreen.
#include "app/FrequencyPage.h"
#include "app/Ondrix_Unit.h"
#include "samples/Class_SampleRec.h"
#include "widgets/KvListView.h"
#include "widgets/LedMeter.h"
#include "widgets/RadioGroup.h"
#include "widgets/TrayComp.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>

namespace {

// Presses and releases a key on a widget as the keyboard would (any key code, no text).
void PressKey(QWidget* Widget, int Key, Qt::KeyboardModifiers Modifiers = Qt::NoModifier)
{
    QKeyEvent Press(QEvent::KeyPress, Key, Modifiers);
    QCoreApplication::sendEvent(Widget, &Press);
    QKeyEvent Release(QEvent::KeyRelease, Key, Modifiers);
    QCoreApplication::sendEvent(Widget, &Release);
}

// A window showing three samples, recording which tool bar button each action clicks.
struct WindowFixture : ::testing::Test {
    TSampleList Samples;
    std::unique_ptr<TOndrix> Window;
    QStringList Clicked;

    void SetUp() override
    {
        for (int I = 0; I < 3; ++I) {
            auto Sample = std::make_unique<TSampleRec>();
            Sample->Number = I * 2;
            Sample->Description = QString("Sample %1").arg(I);
            Samples.Add(std::move(Sample));
        }
        Window = std::make_unique<TOndrix>();
        Window->SetSampleList(&Samples);
        for (QAction* Action : Window->SamplesToolBar()->actions())
            if (!Action->isSeparator())
                QObject::connect(Action, &QAction::triggered, [this, Action] {
                    Clicked << Action->objectName().chopped(int(qstrlen("_Action")));
                });
        Window->show();
    }

    template <typename T>
    T* Child(const char* Name) const
    {
        T* Found = Window->findChild<T*>(QString::fromLatin1(Name));
        EXPECT_NE(Found, nullptr) << Name;
        return Found;
    }
};

TEST_F(WindowFixture, SampleViewKeysClickTheirButtonsWithExactModifiers)
{
    struct Case {
        int Key;
        Qt::KeyboardModifiers Modifiers;
        const char* Button;  // nullptr: nothing happens
    };
    const Qt::KeyboardModifiers Ctrl = Qt::ControlModifier, Shift = Qt::ShiftModifier, Alt = Qt::AltModifier,
                                None = Qt::NoModifier, Pad = Qt::KeypadModifier;
    const Case Cases[] = {
        {Qt::Key_Return, None, "SampleProp_Btn"},
        {Qt::Key_Enter, Pad, "SampleProp_Btn"},
        {Qt::Key_Return, Ctrl | Alt, "SampleProp_Btn"},  // Enter with any modifiers
        {Qt::Key_Space, None, "ChangeEnable_Btn"},
        {Qt::Key_Space, Ctrl, "Enable_Btn"},
        {Qt::Key_Space, Shift, "Disable_Btn"},
        {Qt::Key_Space, Ctrl | Shift, "Find_Btn"},
        {Qt::Key_Space, Ctrl | Alt, nullptr},
        {Qt::Key_Space, Alt, nullptr},
        {Qt::Key_Insert, None, "AddSample_Btn"},
        {Qt::Key_Insert, Shift, "AddSample_Btn"},
        {Qt::Key_Plus, Pad, "AddSample_Btn"},
        {Qt::Key_Plus, None, nullptr},  // the plus of the main keyboard
        {Qt::Key_Delete, None, "DelSample_Btn"},
        {Qt::Key_Minus, Pad | Ctrl, "DelSample_Btn"},
        {Qt::Key_Minus, None, nullptr},
        {Qt::Key_QuoteLeft, Ctrl, "Enable_All_Btn"},
        {Qt::Key_AsciiTilde, Shift, "Disable_All_Btn"},
        {0x401, Shift, "Disable_All_Btn"},  // the same key on a Russian layout
        {Qt::Key_QuoteLeft, None, nullptr},
        {Qt::Key_QuoteLeft, Ctrl | Shift, nullptr},
        {Qt::Key_A, Ctrl, nullptr},
    };
    Window->SampleView()->SelectRows({1});
    Window->SampleView()->setFocus();
    for (const Case& C : Cases) {
        Clicked.clear();
        PressKey(Window->SampleView(), C.Key, C.Modifiers);
        const QStringList Expected = C.Button ? QStringList{C.Button} : QStringList{};
        EXPECT_EQ(Clicked, Expected) << "key " << std::hex << C.Key << " modifiers " << int(C.Modifiers);
    }
}

TEST_F(WindowFixture, KeysOfDisabledButtonsDoNothing)
{
    Window->SampleView()->clearSelection();
    EXPECT_FALSE(Window->SampleButton("Enable_Btn")->isEnabled());
    EXPECT_TRUE(Window->SampleButton("Enable_All_Btn")->isEnabled());
    for (int Key : {Qt::Key_Return, Qt::Key_Space, Qt::Key_Delete})
        QTest::keyClick(Window->SampleView(), Qt::Key(Key));
    EXPECT_TRUE(Clicked.isEmpty()) << Clicked.join(",").toStdString();
    QTest::keyClick(Window->SampleView(), Qt::Key_QuoteLeft, Qt::ControlModifier);
    QTest::keyClick(Window->SampleView(), Qt::Key_Insert);
    EXPECT_EQ(Clicked, (QStringList{"Enable_All_Btn", "AddSample_Btn"}));

    Window->SetSampleList(nullptr);  // no samples: the "all" buttons are off too
    EXPECT_FALSE(Window->SampleButton("Enable_All_Btn")->isEnabled());
}

TEST_F(WindowFixture, FrequencyViewKeysClickItsButtons)
{
    // No dialog: every edit is cancelled.
    Window->FrequencyPage()->Editor = [](TFrequencyRec&, QWidget*) { return false; };
    QStringList FrequencyClicks;
    for (const char* Name : {"AddFrequencyBtn", "DelFrequencyBtn", "FrequencyPropBtn"})
        QObject::connect(Child<QToolButton>(Name), &QToolButton::clicked, [&, Name] { FrequencyClicks << Name; });
    for (auto [Key, Modifiers] : {std::pair{Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Insert, Qt::NoModifier},
                                  {Qt::Key_Plus, Qt::KeypadModifier}, {Qt::Key_Delete, Qt::NoModifier},
                                  {Qt::Key_Minus, Qt::KeypadModifier}, {Qt::Key_Minus, Qt::NoModifier}})
        QTest::keyClick(Window->FrequencyView(), Key, Modifiers);
    EXPECT_EQ(FrequencyClicks, (QStringList{"FrequencyPropBtn", "AddFrequencyBtn", "AddFrequencyBtn", "DelFrequencyBtn",
                                            "DelFrequencyBtn"}));
}

TEST_F(WindowFixture, PopupMenuFollowsTheToolBarWithoutDuplicates)
{
    QMenu* Popup = Window->SamplePopup();
    Window->SampleView()->clearSelection();
    Window->SamplePopupPopup();
    Window->SamplePopupPopup();  // opened twice: the entries once
    const QList<QAction*> ToolBar = Window->SamplesToolBar()->actions();
    const QList<QAction*> Items = Popup->actions();
    ASSERT_EQ(Items.size(), ToolBar.size());
    for (int I = 0; I < Items.size(); ++I) {
        EXPECT_EQ(Items[I]->data().toInt(), TOndrix::PopupItemTag);
        EXPECT_EQ(Items[I]->isSeparator(), ToolBar[I]->isSeparator()) << I;
        if (ToolBar[I]->isSeparator())
            continue;
        EXPECT_EQ(Items[I]->isEnabled(), ToolBar[I]->isEnabled()) << I;
        EXPECT_FALSE(Items[I]->text().contains('\r'));
        EXPECT_TRUE(ToolBar[I]->toolTip().startsWith(Items[I]->text() + "\r\n"));
    }
    EXPECT_EQ(Items[0]->text(), QString::fromUtf8("Добавить образец"));
    EXPECT_FALSE(Items[1]->isEnabled()) << "delete without a selection";

    // Selected rows enable the items; choosing one clicks its button.
    Window->SampleView()->SelectRows({0, 2});
    emit Popup->aboutToShow();
    QAction* Disable = Popup->findChild<QAction*>("Disable_Btn_Popup");
    ASSERT_NE(Disable, nullptr);
    EXPECT_TRUE(Disable->isEnabled());
    Disable->trigger();
    EXPECT_EQ(Clicked, QStringList{"Disable_Btn"});
    EXPECT_EQ(Popup->actions().size(), ToolBar.size());

    // An item the window's owner added stays.
    Popup->addAction("Own item");
    Window->SamplePopupPopup();
    EXPECT_EQ(Popup->actions().size(), ToolBar.size() + 1);
}

TEST_F(WindowFixture, SettingsTreeShowsOnePanelAndItsHeader)
{
    auto* Tree = Child<QTreeWidget>("Tree");
    auto* Header = Child<QWidget>("Label_Settings_Top");
    const char* Panels[] = {"Settings_Program", "Settings_Record", "Settings_Frequency", "Settings_Email", "Settings_Config"};
    const char* Texts[] = {"Настройки программы", "Распознавание", "Настройка частот", "E-mail", "Конфигурация"};
    Child<QTabWidget>("PageControl")->setCurrentIndex(1);
    for (int Node = 0; Node < 5; ++Node) {
        Tree->setCurrentItem(Tree->topLevelItem(Node));
        EXPECT_EQ(Header->property("Text").toString(), QString::fromUtf8(Texts[Node]));
        for (int Panel = 0; Panel < 5; ++Panel) {
            auto* Widget = Child<QWidget>(Panels[Panel]);
            EXPECT_EQ(Widget->isVisible(), Panel == Node) << Panels[Panel] << " for node " << Node;
            EXPECT_EQ(Widget->pos(), QPoint(0, 0));
            EXPECT_GE(Widget->minimumWidth(), TOndrix::PanelMinimum);
        }
    }
    Tree->setCurrentItem(nullptr);
    EXPECT_EQ(Header->property("Text").toString(), QString());
    for (const char* Panel : Panels)
        EXPECT_FALSE(Child<QWidget>(Panel)->isVisible());

    EXPECT_EQ(TOndrix::SettingsHeader({"A", "B", "C"}), "A - B - C");
    EXPECT_EQ(TOndrix::SettingsHeader({}), "");
}

TEST_F(WindowFixture, NarrowWindowScrollsTheSettingsPanel)
{
    Child<QTabWidget>("PageControl")->setCurrentIndex(1);
    auto* Tree = Child<QTreeWidget>("Tree");
    Tree->setCurrentItem(Tree->topLevelItem(0));
    auto* Box = Child<QScrollArea>("ScrollBox");
    Window->resize(1000, 700);
    QCoreApplication::processEvents();
    EXPECT_EQ(Box->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(Child<QWidget>("Settings_Program")->size(), Box->widget()->size());
    Window->resize(300, 300);
    QCoreApplication::processEvents();
    EXPECT_GT(Box->horizontalScrollBar()->maximum(), 0);
    EXPECT_GT(Box->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(Child<QWidget>("Settings_Program")->size(), Box->widget()->size());
}

struct TrayWindowFixture : WindowFixture {
    bool Available = true;
    std::function<bool()> Saved = TTrayComp::TrayAvailable;
    void SetUp() override
    {
        TTrayComp::TrayAvailable = [this] { return Available; };
        WindowFixture::SetUp();
    }
    void TearDown() override { TTrayComp::TrayAvailable = Saved; }
};

TEST_F(TrayWindowFixture, ChoosingTheTrayAppearance)
{
    TTrayComp* Tray = Window->TrayIco();
    EXPECT_FALSE(Tray->IconVisible());
    Child<QRadioButton>("ProgIcon_Item1")->click();  // "Иконка рядом с системными часами"
    EXPECT_TRUE(Tray->IconVisible());
    emit Tray->Icon()->activated(QSystemTrayIcon::Context);
    EXPECT_FALSE(Window->isVisible());
    emit Tray->Icon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(Window->isVisible());
    Window->showMinimized();
    QTRY_VERIFY(!Window->isVisible());  // minimised into the notification area
    emit Tray->Icon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(Window->isVisible());
    Child<QRadioButton>("ProgIcon_Item0")->click();
    EXPECT_FALSE(Tray->IconVisible());

    Available = false;  // a desktop without a notification area
    Child<QRadioButton>("ProgIcon_Item1")->click();
    EXPECT_FALSE(Tray->IconVisible());
    Window->TrayIcoRightClick();
    EXPECT_TRUE(Window->isVisible());
    EXPECT_TRUE(Window->isMinimized());
}

// Draws the progress cell of row 0 into an image of the given cell size.
QImage ProgressCell(TOndrix& Window, QSize Size)
{
    QImage Image(Size, QImage::Format_RGB32);
    Image.fill(Qt::white);
    QPainter Painter(&Image);
    Window.SampleView()->OnAfterCellData(Painter, 0, 2, QRect(QPoint(0, 0), Size));
    return Image;
}

TEST_F(WindowFixture, ProgressCellFramesAndFillsItsShare)
{
    std::optional<int> Progress;
    Window->SampleProgress = [&](int Row) { return Row == 0 ? Progress : std::nullopt; };
    const QSize Size(150, 40);
    // Off (no sequence): the cell stays empty.
    QImage Image = ProgressCell(*Window, Size);
    EXPECT_EQ(Image.pixelColor(2, 20), QColor(Qt::white));

    const QColor Frame(128, 0, 0), Bar(255, 102, 102);
    struct Case {
        int Percent;
        int Filled;  // pixels of the 142-pixel bar
    };
    for (const Case& C : {Case{0, 0}, Case{50, 71}, Case{100, 142}, Case{130, 142}}) {
        Progress = C.Percent;
        Image = ProgressCell(*Window, Size);
        EXPECT_EQ(Image.pixelColor(2, 20), Frame) << C.Percent;
        EXPECT_EQ(Image.pixelColor(147, 20), Frame) << C.Percent;
        // The bar runs from x = 4 along its top line, clear of the centred text.
        if (C.Filled > 0) {
            EXPECT_EQ(Image.pixelColor(4, 5), Bar) << C.Percent;
            EXPECT_EQ(Image.pixelColor(4 + C.Filled - 1, 5), Bar) << C.Percent;
        }
        if (C.Filled < 142) {
            EXPECT_EQ(Image.pixelColor(4 + C.Filled, 5), QColor(Qt::white)) << C.Percent;
        }
    }
}

TEST_F(WindowFixture, SampleRowsShowNumberCheckMarkAndDescription)
{
    Samples[1]->Enabled = true;
    Window->SampleView()->SetRowCount(Samples.Count());
    const QAbstractItemModel* Model = Window->SampleView()->model();
    EXPECT_EQ(Model->index(1, 0).data().toString(), "3");  // stored number 2, shown + 1
    EXPECT_EQ(Model->index(1, 1).data().toString(), "Sample 1");
    EXPECT_TRUE(Model->index(1, 2).data().toString().isEmpty());
    const QIcon On = Model->index(1, 0).data(Qt::DecorationRole).value<QIcon>();
    const QIcon Off = Model->index(0, 0).data(Qt::DecorationRole).value<QIcon>();
    EXPECT_EQ(On.cacheKey(), Window->SampleView()->Images().at(1).cacheKey());
    EXPECT_EQ(Off.cacheKey(), Window->SampleView()->Images().at(0).cacheKey());
    EXPECT_EQ(Model->headerData(1, Qt::Horizontal).toString(), QString::fromUtf8("Название образца"));
}

TEST_F(WindowFixture, MeterFollowsMonitoringAndFallsSilentWhenItStops)
{
    bool Active = true;
    Window->MonitoringActive = [&] { return Active; };
    Window->MonitoringVolumes = [](double& Left, double& Right) {
        Left = -3;
        Right = -12;
    };
    Window->Timer_VolumeTimer();
    EXPECT_DOUBLE_EQ(Window->Led()->LeftValue(), -3);
    EXPECT_DOUBLE_EQ(Window->Led()->RightValue(), -12);
    Window->TimerTimer();
    auto* Status = Child<QLabel>("Status");
    EXPECT_EQ(Status->text(), QString::fromUtf8("ВКЛ"));
    EXPECT_EQ(Status->palette().color(QPalette::Window), QColor(Qt::red));
    EXPECT_FALSE(Child<QPushButton>("Button_TestAudio")->isEnabled());

    Active = false;
    Window->Timer_VolumeTimer();
    EXPECT_DOUBLE_EQ(Window->Led()->LeftValue(), -92);
    EXPECT_DOUBLE_EQ(Window->Led()->RightValue(), -92);
    Window->TimerTimer();
    EXPECT_TRUE(Status->text().isEmpty());
    EXPECT_TRUE(Child<QPushButton>("Button_TestAudio")->isEnabled());
    EXPECT_EQ(Window->windowTitle(), "ONDRIX ");
    EXPECT_EQ(Child<QLabel>("TimePanel")->text().size(), 8);
    EXPECT_EQ(Child<QLabel>("DatePanel")->text().size(), 10);
}

TEST_F(WindowFixture, MeterAndBarsArePolledOnlyWhileTheWindowCanBeSeen)
{
    auto* Volume = Window->findChild<QTimer*>("Timer_Volume");
    ASSERT_NE(Volume, nullptr);
    struct Step {
        const char* What;
        std::function<void()> Do;
        bool Polled;
    };
    const Step Steps[] = {
        {"shown", [] {}, true},
        {"hidden (notification area)", [this] { Window->hide(); }, false},
        {"shown again", [this] { Window->show(); }, true},
        {"minimised", [this] { Window->setWindowState(Qt::WindowMinimized); }, false},
        {"restored", [this] { Window->setWindowState(Qt::WindowNoState); Window->show(); }, true},
    };
    for (const Step& S : Steps) {
        S.Do();
        EXPECT_EQ(Volume->isActive(), S.Polled) << S.What;
    }
    // The one-second tick (clock, status, scheduled work) goes on whatever the window does.
    Window->hide();
    EXPECT_TRUE(Window->findChild<QTimer*>("Timer")->isActive());
}

TEST_F(WindowFixture, EmailControlsReactAsAnOperatorExpects)
{
    auto* Tls = Child<QCheckBox>("Check_EMail_UseSSL");
    auto* Port = Child<QWidget>("SMTPPortEdit");
    Tls->click();
    EXPECT_EQ(Port->property("text").toString(), "465");
    Tls->click();
    EXPECT_EQ(Port->property("text").toString(), "25");
    auto* Subject = Child<QWidget>("Edit_Email_Subject");
    EXPECT_FALSE(Subject->isEnabled());
    Child<QCheckBox>("MsgSubjectCheck")->click();
    EXPECT_TRUE(Subject->isEnabled());
}

TEST(OndrixMenuTest, SupportMailAddressAndSubject)
{
    EXPECT_EQ(TOndrix::SupportMailUrl("help@x.example", "Ondrix", "1.2.3.4"),
              "mailto:\"Veltrano\" <help@x.example>?subject=Ondrix - [v. 1.2.3.4]");
}

TEST_F(WindowFixture, HelpItemsAreOffWithoutAHelpFolder)
{
    for (const char* Name : {"MContents", "MStarting", "MFAQ"})
        EXPECT_FALSE(Child<QAction>(Name)->isEnabled()) << Name;
    for (const char* Name : {"MExit", "MWebPage", "MSupport", "MEmail", "MWhatsNew", "MVersion"})
        EXPECT_TRUE(Child<QAction>(Name)->isEnabled()) << Name;
}

// Closes the next modal dialog with the button of that name, once it is up.
void CloseModalWith(const char* Button, QString* Seen = nullptr)
{
    QTimer::singleShot(0, [Button, Seen] {
        QTRY_VERIFY(QApplication::activeModalWidget() != nullptr);
        QWidget* Dialog = QApplication::activeModalWidget();
        if (Seen)
            *Seen = Dialog->objectName() + "|" + Dialog->windowTitle();
        if (auto* Push = Dialog->findChild<QPushButton*>(QString::fromLatin1(Button)))
            Push->click();
        else
            Dialog->close();
    });
}

TEST_F(WindowFixture, AboutAndWhatsNewWindows)
{
    QString Seen;
    CloseModalWith("Button_OK", &Seen);
    Window->MVersionClick();
    EXPECT_EQ(Seen, QString::fromUtf8("AboutForm|О программе"));
    CloseModalWith("Button_OK", &Seen);
    Window->MWhatsNewClick();
    EXPECT_EQ(Seen, QString::fromUtf8("WhatisNew|Что нового ?"));
}

TEST_F(WindowFixture, ExceptionFromAButtonIsReportedAndTheProgramRunsOn)
{
    auto* Button = Child<QPushButton>("Button_ClearLog");
    int Calls = 0;
    QObject::connect(Button, &QPushButton::clicked, [&] {
        ++Calls;
        throw std::runtime_error("log folder vanished");
    });
    QString Seen, Text;
    QTimer::singleShot(0, [&] {
        QTRY_VERIFY(QApplication::activeModalWidget() != nullptr);
        QWidget* Dialog = QApplication::activeModalWidget();
        Seen = Dialog->objectName();
        if (auto* Label = Dialog->findChild<QLabel*>("Label_Error"))
            Text = Label->text();
        Dialog->findChild<QPushButton*>("Button_Continue")->click();
    });
    QTest::mouseClick(Button, Qt::LeftButton);
    EXPECT_EQ(Calls, 1);
    EXPECT_EQ(Seen, "Exception");
    EXPECT_EQ(Text, "log folder vanished");
    // Still running: the window answers the next click and its timers tick.
    EXPECT_TRUE(Window->isVisible());
    CloseModalWith("Button_Continue");
    QTest::mouseClick(Button, Qt::LeftButton);
    EXPECT_EQ(Calls, 2);
    auto* Clock = Child<QLabel>("TimePanel");
    const QString Before = Clock->text();
    QTRY_VERIFY_WITH_TIMEOUT(Clock->text() != Before, 5000);
}

}  // namespace
