// The e-mail page's test button and the update menu item of the real window, against a real
// SMTP server and a real HTTP server started by the tests, with the boxes answered as an
// operator would.
#include "app/Startup.h"
#include "app/WebUpdateUI.h"
#include "core/InternetClients.h"
#include "core/SettingsModel.h"
#include "core/SettingsFile.h"
#include "util/BusyCursor.h"
#include "util/IniFile.h"

#include "helpers/BoundWindow.h"
#include "helpers/ModalWatcher.h"
#include "helpers/NetServers.h"
#include "helpers/QtWait.h"
#include "helpers/XvfbDisplay.h"

#include <QAction>
#include <QCheckBox>
#include <QCursor>
#include <QDate>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

#include <gtest/gtest.h>

#include <optional>

using testkit::BoundWindow;
using testkit::ModalWatcher;

namespace {

// The window bound to the monitor and its internet clients, as the program starts them. The
// update check asks UpdateUrl.
struct InternetWindow {
    BoundWindow Bound;
    std::unique_ptr<TInternetClients> Internet;
    QList<QUrl> Opened;

    explicit InternetWindow(const std::string& UpdateUrl = "http://127.0.0.1:9/")
    {
        qputenv("ONDRIX_UPDATE_URL", QByteArray::fromStdString(UpdateUrl));
        Internet = std::make_unique<TInternetClients>(*Bound.controller, *Bound.folders);
        qunsetenv("ONDRIX_UPDATE_URL");
        Bound.window->AttachInternet(Internet.get());
        // The desktop's browser cannot run here: the addresses handed to it are kept.
        Bound.window->WebUpdateUI()->OpenInBrowser = [this](const QUrl& Url) { Opened.append(Url); };
    }
    ~InternetWindow()
    {
        Internet.reset();
    }
    TSettingsModel& Model() { return *Bound.window->Model(); }
};

struct BoxSeen {
    QString Name;
    QString Caption;
    QString Text;
};

// Acts on the first of the program's boxes that shows and records it; its picture goes to
// $ONDRIX_SCREENSHOTS as Shot + ".png" when that is set.
struct AnyBox {
    std::optional<BoxSeen> Seen;
    std::vector<std::unique_ptr<ModalWatcher<QMessageBox>>> Watchers;

    explicit AnyBox(const std::function<void(QMessageBox&)>& Act = {}, const std::string& Shot = {})
    {
        for (const QString& Name : {TWindowWebUpdateUI::UpdateBoxName, TWindowWebUpdateUI::InformationBoxName,
                                    TWindowWebUpdateUI::ErrorBoxName})
            Watchers.push_back(std::make_unique<ModalWatcher<QMessageBox>>(Name, [this, Act, Shot](QMessageBox& Box) {
                Seen = BoxSeen{Box.objectName(), Box.windowTitle(), Box.text()};
                const QByteArray Folder = qgetenv("ONDRIX_SCREENSHOTS");
                if (!Folder.isEmpty() && !Shot.empty())
                    Box.grab().save(QString::fromStdString(testkit::XvfbDisplay::screenshotFolder(Folder.toStdString()) +
                                                           "/" + Shot + ".png"));
                if (Act)
                    Act(Box);
                if (Box.isVisible())
                    Box.close();
            }));
    }
};

TEST(OndrixInternet, TestMailButtonShowsTheOutcomeWithTheBusyCursorUntilThen)
{
    struct Case {
        const char* Name;
        std::vector<std::string> RejectRecipients;
        const char* Box;
        const char* Caption;
        const char* Text;
    };
    const Case Cases[] = {
        {"delivered", {}, "InformationBox", "Информация", "Сообщение отправлено. Тестовое сообщение."},
        {"recipient refused", {"operator@station.test"}, "ErrorBox", "Ошибка",
         "Ошибка отправки сообщения. 550: <operator@station.test>: Recipient address rejected: User unknown. (5.1.1)."},
    };
    InstallBusyCursor();
    for (const Case& C : Cases) {
        testkit::SmtpServerOptions Options;
        Options.rejectRecipients = C.RejectRecipients;
        testkit::SmtpServer Server(Options);
        Server.start();
        InternetWindow W;
        W.Model().SetText(SettingKey::SMTPHostEdit_Text, "127.0.0.1");
        W.Model().SetText(SettingKey::SMTPPortEdit_Text, QString::number(Server.port()));
        W.Model().SetText(SettingKey::EmailFromEdit_Text, "ondrix@station.test");
        W.Model().SetText(SettingKey::EmailToEdit_Text, "operator@station.test");

        bool CursorDuringBox = true;
        AnyBox Box(
            [&](QMessageBox&) {
                QCoreApplication::processEvents();
                CursorDuringBox = QGuiApplication::overrideCursor() != nullptr;
            },
            std::string("test-mail-") + C.Box);
        auto* TestButton = W.Bound.window->findChild<QPushButton*>("Button_Email_Test");
        ASSERT_TRUE(TestButton->isEnabled()) << C.Name;
        TestButton->click();
        // Busy from the click until the outcome is known.
        EXPECT_EQ(BusyCursorCount(), 1) << C.Name;
        ASSERT_TRUE(testkit::processEventsUntil([&] { return Box.Seen.has_value(); })) << C.Name;
        EXPECT_EQ(Box.Seen->Name, C.Box) << C.Name;
        EXPECT_EQ(Box.Seen->Caption, QString::fromUtf8(C.Caption)) << C.Name;
        EXPECT_EQ(Box.Seen->Text, QString::fromUtf8(C.Text)) << C.Name;
        EXPECT_FALSE(CursorDuringBox) << C.Name;
        EXPECT_EQ(BusyCursorCount(), 0) << C.Name;
        if (C.RejectRecipients.empty()) {
            ASSERT_TRUE(Server.waitForMails(1)) << C.Name;
            EXPECT_EQ(Server.mails().at(0).subject, "Тестовое сообщение");
        }
    }
    SetBusyCursorHandler({});
}

TEST(OndrixInternet, TlsBoxSwitchesThePortTheMailerUses)
{
    InternetWindow W;
    auto* Tls = W.Bound.window->findChild<QCheckBox*>("Check_EMail_UseSSL");
    W.Model().SetText(SettingKey::SMTPPortEdit_Text, "2525");
    Tls->click();
    EXPECT_EQ(TInternetClients::EmailSettings(W.Model()).Port, "465");
    EXPECT_TRUE(TInternetClients::EmailSettings(W.Model()).UseTLS);
    Tls->click();
    EXPECT_EQ(TInternetClients::EmailSettings(W.Model()).Port, "25");
    EXPECT_FALSE(TInternetClients::EmailSettings(W.Model()).UseTLS);
}

TEST(OndrixInternet, UpdateMenuItemShowsItsBoxAndOpensOnlyWhatTheOperatorChose)
{
    testkit::HttpServer Server;
    Server.start();
    const std::string Base = Server.baseUrl();
    struct Case {
        const char* Name;
        std::string Published;   // empty: nothing published (404)
        const char* Button;      // the update box's button pressed
        bool UntickAutomatic;
        const char* Box;
        const char* Text;        // the start of the box's text
        QStringList Opened;
    };
    const QString Newer = "Version=999.1\nDate=01.02.2027\nURL=" + QString::fromStdString(Base) +
                          "/news\nDownloadURL=" + QString::fromStdString(Base) + "/setup.deb\n";
    const Case Cases[] = {
        {"newer, download", Newer.toStdString(), "DownloadButton", false, "WebUpdateBox",
         "Доступно обновление программы.", {QString::fromStdString(Base) + "/setup.deb"}},
        {"newer, site, automatic check off", Newer.toStdString(), "OpenButton", true, "WebUpdateBox",
         "Доступно обновление программы.", {QString::fromStdString(Base) + "/news"}},
        {"newer, cancelled", Newer.toStdString(), "CancelButton", false, "WebUpdateBox",
         "Доступно обновление программы.", {}},
        {"older", "Version=0.0.1\n", nullptr, false, "InformationBox", "Вы используете последнюю версию программы.", {}},
        {"not published", "", nullptr, false, "ErrorBox", "Wrong status code 404", {}},
    };
    for (const Case& C : Cases) {
        if (C.Published.empty())
            std::filesystem::remove(std::filesystem::path(Server.root()) / "version" / "ondrix.ver");
        else
            Server.put("version/ondrix.ver", C.Published);
        InternetWindow W(Base);
        AnyBox Box([&](QMessageBox& Shown) {
            if (auto* Auto = Shown.findChild<QCheckBox*>(TWindowWebUpdateUI::AutoUpdatesBoxName)) {
                EXPECT_TRUE(Auto->isChecked()) << C.Name;
                EXPECT_EQ(Auto->text(), QString::fromUtf8("Автоматически проверять обновления программы")) << C.Name;
                if (C.UntickAutomatic)
                    Auto->setChecked(false);
            }
            if (C.Button)
                Shown.findChild<QPushButton*>(C.Button)->click();
        }, std::string("update-") + C.Box);
        W.Bound.window->findChild<QAction*>("MCheckForUpdates")->trigger();
        ASSERT_TRUE(testkit::processEventsUntil(
            [&] { return Box.Seen.has_value() && W.Internet->UpdateChecker().Running() == 0; }))
            << C.Name;
        EXPECT_EQ(Box.Seen->Name, C.Box) << C.Name;
        EXPECT_TRUE(Box.Seen->Text.startsWith(QString::fromUtf8(C.Text))) << C.Name << ": " << Box.Seen->Text.toStdString();
        QStringList Opened;
        for (const QUrl& Url : W.Opened)
            Opened << Url.toString();
        EXPECT_EQ(Opened, C.Opened) << C.Name;
        EXPECT_EQ(W.Model().Bool(SettingKey::Check_AutoUpdates_Checked), !C.UntickAutomatic) << C.Name;
        EXPECT_EQ(W.Bound.window->findChild<QCheckBox*>("Check_AutoUpdates")->isChecked(), !C.UntickAutomatic)
            << C.Name;
        // The moment of the check and the version seen are kept in the settings file.
        EXPECT_GT(W.Model().Float(SettingKey::WebUpdate_LastCheckTime), 0.0) << C.Name;
        THeadlessSettingsQuestions Questions([](const QString&) {});
        ASSERT_TRUE(W.Bound.controller->SaveSettings(Questions)) << C.Name;
        const TIniFile Saved(BoundWindow::q(W.Bound.dataFolder() / "Ini" / "Ondrix.ini"));
        EXPECT_TRUE(Saved.ReadString("Ondrix", "WebUpdate_LastCheckTime", "")
                        .startsWith(QDate::currentDate().toString("dd.MM.yyyy ")))
            << C.Name << ": " << Saved.ReadString("Ondrix", "WebUpdate_LastCheckTime", "").toStdString();
        if (QString(C.Box) == "WebUpdateBox") {
            EXPECT_EQ(Saved.ReadString("Ondrix", "WebUpdate_LastVersion", ""), "999.1") << C.Name;
        }
    }
}

}  // namespace
