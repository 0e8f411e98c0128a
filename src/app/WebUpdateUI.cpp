#include "app/WebUpdateUI.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>

namespace {

// Texts of the message table carry "\r\n" line breaks; a box wants "\n".
QString BoxText(QString Text)
{
    return Text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

void ShowBox(QWidget* Parent, QMessageBox::Icon Icon, const QString& Name, const QString& Caption, const QString& Text)
{
    QMessageBox Box(Icon, Caption, BoxText(Text), QMessageBox::Ok, Parent);
    Box.setObjectName(Name);
    Box.exec();
}

}  // namespace

TWindowWebUpdateUI::TWindowWebUpdateUI(QWidget* Parent, QString Caption)
    : AutoUpdatesCaption(std::move(Caption))
    , OpenInBrowser([](const QUrl& Url) { QDesktopServices::openUrl(Url); })
    , FParent(Parent)
{
}

TUpdateChoice TWindowWebUpdateUI::ShowUpdate(const QString& Caption, const QString& Text, bool& AutoUpdates,
                                             const QString& DownloadCaption, const QString& OpenCaption,
                                             const QString& CancelCaption)
{
    QMessageBox Box(QMessageBox::Information, Caption, BoxText(Text), QMessageBox::NoButton, FParent);
    Box.setObjectName(UpdateBoxName);
    auto* Check = new QCheckBox(AutoUpdatesCaption);
    Check->setObjectName(AutoUpdatesBoxName);
    Check->setChecked(AutoUpdates);
    Box.setCheckBox(Check);
    QPushButton* Download = Box.addButton(DownloadCaption, QMessageBox::AcceptRole);
    Download->setObjectName(QStringLiteral("DownloadButton"));
    QPushButton* Open = Box.addButton(OpenCaption, QMessageBox::ActionRole);
    Open->setObjectName(QStringLiteral("OpenButton"));
    QPushButton* Cancel = Box.addButton(CancelCaption, QMessageBox::RejectRole);
    Cancel->setObjectName(QStringLiteral("CancelButton"));
    Box.setDefaultButton(Download);
    Box.setEscapeButton(Cancel);
    Box.exec();
    AutoUpdates = Check->isChecked();
    if (Box.clickedButton() == Download)
        return TUpdateChoice::Download;
    if (Box.clickedButton() == Open)
        return TUpdateChoice::Open;
    return TUpdateChoice::Cancel;
}

void TWindowWebUpdateUI::ShowInformation(const QString& Caption, const QString& Text)
{
    ShowBox(FParent, QMessageBox::Information, InformationBoxName, Caption, Text);
}

void TWindowWebUpdateUI::ShowError(const QString& Caption, const QString& Text)
{
    ShowBox(FParent, QMessageBox::Critical, ErrorBoxName, Caption, Text);
}

void TWindowWebUpdateUI::OpenUrl(const QString& Url)
{
    if (OpenInBrowser)
        OpenInBrowser(QUrl(Url));
}
