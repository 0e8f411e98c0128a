// The frequency command dialog: what it shows and writes back.

#include "samples/Form_FrequencyProp.h"

#include "helpers/QtPrinters.h"
#include "helpers/SampleLists.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using testkit::FrequencyCommand;

// Runs the dialog for Rec; Act runs once it is shown and must close it.
bool RunDialog(TFrequencyRec& Rec, const std::function<void(TFrequencyProp&)>& Act)
{
    TFrequencyProp Dialog;
    QTimer::singleShot(0, &Dialog, [&] {
        Act(Dialog);
        if (Dialog.isVisible())
            Dialog.reject();
    });
    return Dialog.Execute(Rec);
}

TEST(FrequencyProp, ShowsTheRecordAndWritesBackOnlyOnOk)
{
    TFrequencyRec Rec = FrequencyCommand("1", {{697, 20}, {1209, 25}});
    for (int Way = 0; Way < 4; ++Way) {  // OK, Enter, Cancel, Escape
        TFrequencyRec Edited = Rec;
        const bool Confirmed = RunDialog(Edited, [&](TFrequencyProp& Dialog) {
            EXPECT_EQ(Dialog.windowTitle(), QString::fromUtf8("Свойства"));
            EXPECT_EQ(Dialog.findChild<QLineEdit*>("E_ID")->text(), "1");
            EXPECT_EQ(Dialog.findChild<QSpinBox*>("Freq1")->value(), 697);
            EXPECT_EQ(Dialog.findChild<QSpinBox*>("FreqDelta2")->value(), 25);
            EXPECT_EQ(Dialog.findChild<QSpinBox*>("Freq3")->value(), 0);
            Dialog.findChild<QLineEdit*>("E_ID")->setText("#");
            Dialog.findChild<QSpinBox*>("Freq5")->setValue(-1633);  // no lower limit, nothing checked
            Dialog.findChild<QSpinBox*>("FreqDelta1")->setValue(0);
            switch (Way) {
            case 0: Dialog.findChild<QPushButton*>("OkBut")->click(); break;
            case 1: QTest::keyClick(Dialog.findChild<QLineEdit*>("E_ID"), Qt::Key_Return); break;
            case 2: Dialog.findChild<QPushButton*>("CancelBut")->click(); break;
            default: QTest::keyClick(&Dialog, Qt::Key_Escape); break;
            }
        });
        if (Way < 2) {
            EXPECT_TRUE(Confirmed) << Way;
            EXPECT_EQ(Edited, FrequencyCommand("#", {{697, 0}, {1209, 25}, {0, 0}, {0, 0}, {-1633, 0}})) << Way;
        } else {
            EXPECT_FALSE(Confirmed) << Way;
            EXPECT_EQ(Edited, Rec) << Way;
        }
    }
}

TEST(FrequencyProp, IdentifierIsCutTo128Characters)
{
    TFrequencyProp Dialog;
    Dialog.Fill(FrequencyCommand(QString(200, u'x'), {}));
    EXPECT_EQ(Dialog.Values().ID, QString(128, u'x'));
}

}  // namespace
