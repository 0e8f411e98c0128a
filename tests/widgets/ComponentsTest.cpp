#include "widgets/ExceptionReport.h"
#include "widgets/HeadedLabel.h"
#include "widgets/RadioGroup.h"
#include "widgets/TrayComp.h"

#include <QApplication>
#include <QClipboard>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTest>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(RadioGroupTest, OneItemOrNoneIsSelected)
{
    TRadioGroup Group("Choice");
    Group.setObjectName("Group");
    Group.SetItems({"first", "second"});
    QSignalSpy Changes(&Group, &TRadioGroup::ItemIndexChanged);
    EXPECT_EQ(Group.ItemIndex(), -1);
    Group.SetItemIndex(1);
    EXPECT_EQ(Group.ItemIndex(), 1);
    Group.findChild<QRadioButton*>("Group_Item0")->click();
    EXPECT_EQ(Group.ItemIndex(), 0);
    Group.SetItemIndex(5);
    EXPECT_EQ(Group.ItemIndex(), -1);
    ASSERT_EQ(Changes.size(), 3);
    EXPECT_EQ(Changes.at(2).at(0).toInt(), -1);
    EXPECT_EQ(Group.Items(), (QStringList{"first", "second"}));
}

struct TrayFixture : ::testing::Test {
    QMainWindow Window;
    TTrayComp* Tray = new TTrayComp(&Window);
    bool Available = true;
    std::function<bool()> Saved = TTrayComp::TrayAvailable;

    void SetUp() override
    {
        TTrayComp::TrayAvailable = [this] { return Available; };
        Tray->SetIcon(QApplication::style()->standardIcon(QStyle::SP_ComputerIcon));
        QObject::connect(Tray, &TTrayComp::LeftClick, Tray, &TTrayComp::ShowWindow);
        QObject::connect(Tray, &TTrayComp::RightClick, Tray, &TTrayComp::HideWindow);
        Window.show();
    }
    void TearDown() override { TTrayComp::TrayAvailable = Saved; }
};

TEST_F(TrayFixture, IconModeHidesAndShowsTheWindowByClicks)
{
    EXPECT_FALSE(Tray->IconVisible());
    Tray->SetMode(TTrayComp::Mode_Tray);
    EXPECT_TRUE(Tray->IconVisible());
    EXPECT_FALSE(Tray->Fallback());
    emit Tray->Icon()->activated(QSystemTrayIcon::Context);  // right click
    EXPECT_FALSE(Window.isVisible());
    emit Tray->Icon()->activated(QSystemTrayIcon::Trigger);  // left click
    EXPECT_TRUE(Window.isVisible());
    EXPECT_FALSE(Window.isMinimized());
    // Back to the task bar: the icon goes, and a window hidden behind it comes back.
    emit Tray->Icon()->activated(QSystemTrayIcon::Context);
    Tray->SetMode(TTrayComp::Mode_TaskBar);
    EXPECT_FALSE(Tray->IconVisible());
    EXPECT_TRUE(Window.isVisible());
}

TEST_F(TrayFixture, WithoutANotificationAreaTheWindowMinimisesInstead)
{
    Available = false;
    Tray->SetMode(TTrayComp::Mode_Tray);
    EXPECT_TRUE(Tray->Fallback());
    EXPECT_FALSE(Tray->IconVisible());
    Tray->HideWindow();
    EXPECT_TRUE(Window.isVisible());
    EXPECT_TRUE(Window.isMinimized());
    Tray->WindowMinimized();
    EXPECT_TRUE(Window.isVisible()) << "never hidden where nothing could bring it back";
    Tray->ShowWindow();
    EXPECT_FALSE(Window.isMinimized());
}

TEST(HeadedLabelTest, ShowsItsTextOnTheGradient)
{
    THeadedLabel Label;
    Label.SetText("E-mail");
    Label.resize(300, Label.sizeHint().height());
    const QImage Image = Label.grab().toImage();
    EXPECT_NE(Image.pixelColor(2, 2), Image.pixelColor(297, 2));  // a gradient
    int White = 0;
    for (int X = 100; X < 200; ++X)
        for (int Y = 0; Y < Image.height(); ++Y)
            White += Image.pixelColor(X, Y) == QColor(Qt::white) ? 1 : 0;
    EXPECT_GT(White, 0) << "the text in white in the middle";
    EXPECT_EQ(Label.Text(), "E-mail");
}

TEST(ExceptionReportTest, DialogCopiesAndShowsDetails)
{
    TExceptionDialog Dialog("disk on fire", "Exception: std::runtime_error");
    Dialog.show();
    auto* Details = Dialog.findChild<QPlainTextEdit*>("Memo_Details");
    ASSERT_NE(Details, nullptr);
    EXPECT_FALSE(Details->isVisible());
    Dialog.findChild<QPushButton*>("Button_Details")->click();
    EXPECT_TRUE(Details->isVisible());
    Dialog.findChild<QPushButton*>("Button_Copy")->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "disk on fire\n\nException: std::runtime_error");
    Dialog.findChild<QPushButton*>("Button_Continue")->click();
    EXPECT_FALSE(Dialog.TerminateChosen());
    EXPECT_EQ(Dialog.result(), QDialog::Rejected);
}

TEST(ExceptionReportTest, TextOfStandardAndOtherExceptions)
{
    EXPECT_EQ(ExceptionText(std::make_exception_ptr(std::runtime_error("bad block"))), "bad block");
    EXPECT_FALSE(ExceptionText(std::make_exception_ptr(42)).isEmpty());
}

}  // namespace
