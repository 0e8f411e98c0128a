#pragma once
// The boxes of the update check and of the test mail, shown over the main window, and the
// desktop's handler for the web addresses the update box opens. Main thread only.

#include "update/WebUpdate_Functions.h"

#include <QUrl>

#include <functional>

class QWidget;

class TWindowWebUpdateUI : public TWebUpdateUI {
public:
    // Parent: the window the boxes belong to. AutoUpdatesCaption: the text of the update box's
    // check box (the settings page's "Check_AutoUpdates", in the language shown).
    TWindowWebUpdateUI(QWidget* Parent, QString AutoUpdatesCaption);

    // Object names of the boxes, for the tests that answer them.
    static inline const QString UpdateBoxName = QStringLiteral("WebUpdateBox");
    static inline const QString InformationBoxName = QStringLiteral("InformationBox");
    static inline const QString ErrorBoxName = QStringLiteral("ErrorBox");
    static inline const QString AutoUpdatesBoxName = QStringLiteral("Box_Check_AutoUpdates");

    TUpdateChoice ShowUpdate(const QString& Caption, const QString& Text, bool& AutoUpdates,
                             const QString& DownloadCaption, const QString& OpenCaption,
                             const QString& CancelCaption) override;
    void ShowInformation(const QString& Caption, const QString& Text) override;
    void ShowError(const QString& Caption, const QString& Text) override;
    void OpenUrl(const QString& Url) override;

    QString AutoUpdatesCaption;
    // Hands an address to the desktop's web browser (tests record it instead).
    std::function<void(const QUrl& Url)> OpenInBrowser;

private:
    QWidget* FParent;
};
