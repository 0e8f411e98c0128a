#include "app/InfoForms.h"

#include "lang/Language_Forms.h"
#include "lang/Language_Functions.h"
#include "util/TextFile.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QPushButton* AddOkButton(QDialog* Dialog, QVBoxLayout* Layout)
{
    auto* Buttons = new QDialogButtonBox(Dialog);
    QPushButton* Ok = Buttons->addButton(QString::fromUtf8("ОК"), QDialogButtonBox::AcceptRole);
    Ok->setObjectName("Button_OK");
    Ok->setDefault(true);
    QObject::connect(Buttons, &QDialogButtonBox::accepted, Dialog, &QDialog::accept);
    Layout->addWidget(Buttons);
    return Ok;
}

// Every window carries its language component and translates itself once it is built.
void Translate(QDialog* Dialog, const char* Section)
{
    auto* Language = new TLanguage(Dialog);
    Language->Section = QString::fromLatin1(Section);
    ApplyLanguageToWindow(Dialog);
}

}  // namespace

TWhatsNewForm::TWhatsNewForm(const QString& WhatsNewFile, QWidget* Parent)
    : QDialog(Parent)
{
    setObjectName("WhatisNew");
    setWindowTitle(QString::fromUtf8("Что нового ?"));
    setModal(true);
    resize(560, 420);
    FText = new QPlainTextEdit(this);
    FText->setObjectName("Memo");
    FText->setReadOnly(true);
    FText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QString Text;
    if (QFile::exists(WhatsNewFile) && !ReadTextFile(WhatsNewFile, Text))
        Text.clear();
    FText->setPlainText(SplitTextLines(Text).join('\n'));
    auto* Layout = new QVBoxLayout(this);
    Layout->addWidget(FText, 1);
    AddOkButton(this, Layout);
    Translate(this, "WhatisNew");
}

QString TWhatsNewForm::ShownText() const
{
    return FText->toPlainText();
}

TAboutForm::TAboutForm(const QString& ProductTitle, const QString& VersionText, QWidget* Parent)
    : QDialog(Parent)
{
    setObjectName("AboutForm");
    setWindowTitle(QString::fromUtf8("О программе"));
    setModal(true);
    auto* Icon = new QLabel(this);
    Icon->setObjectName("Image_Icon");
    Icon->setPixmap(QApplication::windowIcon().pixmap(48, 48));
    Icon->setAlignment(Qt::AlignCenter);
    auto* Title = new QLabel(ProductTitle, this);
    Title->setObjectName("Label_Title");
    QFont Big = Title->font();
    Big.setBold(true);
    Big.setPixelSize(20);
    Title->setFont(Big);
    Title->setAlignment(Qt::AlignCenter);
    auto* Version = new QLabel("v. " + VersionText, this);
    Version->setObjectName("Label_Version");
    Version->setAlignment(Qt::AlignCenter);
    auto* Layout = new QVBoxLayout(this);
    Layout->addWidget(Icon);
    Layout->addWidget(Title);
    Layout->addWidget(Version);
    AddOkButton(this, Layout);
    setMinimumWidth(260);
    Translate(this, "AboutForm");
}
