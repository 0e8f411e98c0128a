// The sample properties dialog, opened for real (offscreen): panels per type, labels, the
// number rule, what OK writes back and what Cancel keeps, the command menu, and the stored
// placement.

#include "lang/Lang.h"
#include "samples/Form_SampleProp.h"
#include "util/IniFile.h"

#include "helpers/QtPrinters.h"
#include "helpers/TestFiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <QRegularExpression>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <map>
#include <vector>

#include <functional>
#include <vector>

namespace {

const char* const TypeRadios[] = {"Radio_File", "Radio_Silence", "Radio_Signal", "Radio_Command"};

class SamplePropForm : public ::testing::Test {
protected:
    TSampleList List;
    TFrequencyRecArr Table;
    testkit::TempDir Dir;

    // Opens the dialog for Rec; Act runs once it is shown, with the dialog, and must close it.
    bool Run(TSampleRec& Rec, const std::function<void(TSamplePropertyForm&)>& Act, const QString& Ini = QString())
    {
        TSamplePropertyForm Form(nullptr, List, Table, Ini);
        bool Acted = false;
        QTimer::singleShot(0, &Form, [&] {
            Acted = true;
            Act(Form);
            if (Form.isVisible())
                Form.reject();  // a test that forgot to close must not hang
        });
        const bool Result = Form.Execute(Rec);
        EXPECT_TRUE(Acted);
        return Result;
    }

    template <class T>
    static T* Get(TSamplePropertyForm& Form, const char* Name)
    {
        T* Widget = Form.findChild<T*>(Name);
        EXPECT_NE(Widget, nullptr) << Name;
        return Widget;
    }

    static void Ok(TSamplePropertyForm& Form) { Get<QPushButton>(Form, "OkBut")->click(); }
    static void Cancel(TSamplePropertyForm& Form) { Get<QPushButton>(Form, "CancelBut")->click(); }
    static void ChooseType(TSamplePropertyForm& Form, TSampleType Type)
    {
        QTest::mouseClick(Get<QRadioButton>(Form, TypeRadios[int(Type)]), Qt::LeftButton);
    }

    TSampleRec* AddSample(int Number, const QString& Description)
    {
        auto Rec = std::make_unique<TSampleRec>();
        Rec->Number = Number;
        Rec->Description = Description;
        return List.Add(std::move(Rec));
    }
};

TEST_F(SamplePropForm, EachTypeShowsExactlyItsPanels)
{
    struct Case {
        TSampleType Type;
        bool File, Signal, Script, Method, Mode, Sensitivity;
    };
    const Case Cases[] = {
        {TSampleType::File, true, false, false, true, true, true},
        {TSampleType::Silence, false, true, false, false, false, false},
        {TSampleType::Signal, false, true, false, false, false, false},
        {TSampleType::Command, false, false, true, true, true, true},
    };
    for (const Case& C : Cases) {
        for (bool ByClick : {false, true}) {
            TSampleRec Rec;
            Rec.Type = ByClick ? (C.Type == TSampleType::File ? TSampleType::Command : TSampleType::File) : C.Type;
            Run(Rec, [&](TSamplePropertyForm& Form) {
                const int HeightBefore = Form.height();
                if (ByClick)
                    ChooseType(Form, C.Type);
                auto Shown = [&](const char* Name) { return Get<QWidget>(Form, Name)->isVisibleTo(&Form); };
                const std::string What = std::to_string(int(C.Type)) + (ByClick ? " by click" : " stored");
                EXPECT_EQ(Shown("FilePanel"), C.File) << What;
                EXPECT_EQ(Shown("SignalPanel"), C.Signal) << What;
                EXPECT_EQ(Shown("ScriptPanel"), C.Script) << What;
                EXPECT_EQ(Shown("MethodPanel"), C.Method) << What;
                EXPECT_EQ(Shown("SignalMode"), C.Mode) << What;
                EXPECT_EQ(Shown("Group_SignalLevel"), C.Sensitivity) << What;
                // The dialog shrinks and grows with the panels: it is exactly as tall as they need.
                EXPECT_EQ(Form.height(), Form.sizeHint().height()) << What;
                // The level panel replaces the channel and sensitivity groups: the height
                // changes with it.
                if (ByClick && !C.File && !C.Script) {
                    EXPECT_NE(Form.height(), HeightBefore) << What;
                }
                Cancel(Form);
            });
        }
    }
}

TEST_F(SamplePropForm, NewSampleInAnEmptyListOpensWithTheDefaults)
{
    TSampleRec Rec;
    Run(Rec, [&](TSamplePropertyForm& Form) {
        EXPECT_EQ(Get<QSpinBox>(Form, "Edit_SampleNum")->value(), 1);
        EXPECT_TRUE(Get<QRadioButton>(Form, "Radio_Command")->isChecked());
        EXPECT_EQ(Get<QLabel>(Form, "Label_Sensitivity")->text(), "50 (+ 0 %)");
        EXPECT_EQ(Get<QLabel>(Form, "Label_DialSpeed")->text(), "5");
        EXPECT_EQ(Get<QLabel>(Form, "SignaldBLab")->text(), "-40 dB");
        EXPECT_EQ(Get<QDoubleSpinBox>(Form, "SignalTime")->text(), "5");
        EXPECT_EQ(Get<QLabel>(Form, "PanelFileTime")->text(), "00:00.000 ");
        EXPECT_EQ(Form.windowTitle(), QString::fromUtf8("Образец"));
        Cancel(Form);
    });
    // The number is given even when the dialog is cancelled.
    EXPECT_EQ(Rec.Number, 0);
}

TEST_F(SamplePropForm, LabelsShowTheTrackBarValues)
{
    struct Case {
        const char* Slider;
        int Position;
        const char* Label;
        const char* Text;
    };
    const Case Cases[] = {
        // The stored value (Sense=) first, then its distance from the neutral 50.
        {"TrackBar_Sensitivity", 50, "Label_Sensitivity", "50 (+ 0 %)"},
        {"TrackBar_Sensitivity", 30, "Label_Sensitivity", "30 (- 20 %)"},
        {"TrackBar_Sensitivity", 0, "Label_Sensitivity", "0 (- 50 %)"},
        {"TrackBar_Sensitivity", 100, "Label_Sensitivity", "100 (+ 50 %)"},
        {"SignaldB", -50, "SignaldBLab", "-50 dB"},
        {"SignaldB", 0, "SignaldBLab", "0 dB"},
        {"SignaldB", -91, "SignaldBLab", "-91 dB"},
        {"TrackBar_DialSpeed", 10, "Label_DialSpeed", "10"},
        {"TrackBar_DialSpeed", 1, "Label_DialSpeed", "1"},
    };
    TSampleRec Rec;
    Run(Rec, [&](TSamplePropertyForm& Form) {
        for (const Case& C : Cases) {
            QSlider* Slider = Get<QSlider>(Form, C.Slider);
            Slider->setValue(Slider->value() == C.Position ? C.Position + 1 : C.Position);
            Slider->setValue(C.Position);
            EXPECT_EQ(Get<QLabel>(Form, C.Label)->text(), C.Text) << C.Slider << ' ' << C.Position;
        }
        Cancel(Form);
    });
}

TEST_F(SamplePropForm, FileLengthIsShownAsMinutesSecondsAndMilliseconds)
{
    struct Case {
        double Seconds;
        const char* Text;
    };
    const Case Cases[] = {{75.5, "01:15.500 "}, {0, "00:00.000 "}, {3599.999, "59:59.999 "}, {-3, "00:00.000 "}};
    for (const Case& C : Cases)
        EXPECT_EQ(TSamplePropertyForm::FileTimeText(C.Seconds), C.Text) << C.Seconds;

    testkit::Pcm Pcm;
    Pcm.appendTones(1.5, {440});
    testkit::writeWav(Dir.file("Clip.wav"), Pcm);
    TSampleRec Rec;
    Rec.Type = TSampleType::File;
    Rec.Path = QString::fromStdString(Dir.file("Clip.wav"));
    Run(Rec, [&](TSamplePropertyForm& Form) {
        EXPECT_EQ(Get<QLabel>(Form, "PanelFileTime")->text(), "00:01.500 ");
        Get<QLineEdit>(Form, "Filename")->setText(QString::fromStdString(Dir.file("Missing.wav")));
        EXPECT_EQ(Get<QLabel>(Form, "PanelFileTime")->text(), "00:00.000 ");
        Cancel(Form);
    });
}

// The file chooser offers every format the clip reader decodes, and the label names them: a
// clip of each pattern of the filter, written in that format, shows its length.
TEST_F(SamplePropForm, TheClipFilterListsEveryFormatThatLoads)
{
    const std::map<QString, int> Formats = {
        {"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},     {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
        {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},   {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
        {"oga", SF_FORMAT_OGG | SF_FORMAT_VORBIS},     {"opus", SF_FORMAT_OGG | SF_FORMAT_OPUS},
    };
    QStringList Patterns;
    for (const auto& Match : QRegularExpression(R"(\*\.(\w+))").globalMatch(TSamplePropertyForm::ClipFileFilter()))
        Patterns << Match.captured(1);
    Patterns.removeDuplicates();
    for (const auto& [Extension, Format] : Formats)
        EXPECT_TRUE(Patterns.contains(Extension)) << Extension.toStdString();

    TSampleRec Rec;
    Rec.Type = TSampleType::File;
    Run(Rec, [&](TSamplePropertyForm& Form) {
        const QString Label = Get<QLabel>(Form, "Label_Filename")->text();
        for (const QString& Extension : Patterns) {
            SCOPED_TRACE(Extension.toStdString());
            ASSERT_TRUE(Formats.count(Extension)) << "a pattern of the filter that no test writes";
            if (Extension != "oga") {  // the label names each format once
                EXPECT_TRUE(Label.contains("*." + Extension)) << Label.toStdString();
            }
            const std::string Path = Dir.file("clip." + Extension.toStdString());
            SF_INFO Info{};
            Info.samplerate = 48000;
            Info.channels = 2;
            Info.format = Formats.at(Extension);
            SNDFILE* Out = sf_open(Path.c_str(), SFM_WRITE, &Info);
            ASSERT_NE(Out, nullptr) << sf_strerror(nullptr);
            std::vector<float> Samples(2 * 48000);
            for (size_t I = 0; I < Samples.size(); ++I)
                Samples[I] = 0.5f * float(std::sin(double(I / 2) * 0.05));
            sf_writef_float(Out, Samples.data(), 48000);
            sf_close(Out);
            Get<QLineEdit>(Form, "Filename")->setText(QString::fromStdString(Path));
            EXPECT_NE(Get<QLabel>(Form, "PanelFileTime")->text(), "00:00.000 ");
        }
        Cancel(Form);
    });
}

// Every label of every panel shows its whole text in its place (the Russian dial-speed title
// with its closing bracket among them).
TEST_F(SamplePropForm, EveryLabelShowsItsWholeText)
{
    TSampleRec Rec;
    Run(Rec, [&](TSamplePropertyForm& Form) {
        EXPECT_EQ(Get<QLabel>(Form, "Label_DialSpeedTitle")->text(), QString::fromUtf8("Скорость набора (символов в сек)"));
        for (TSampleType Type : {TSampleType::File, TSampleType::Silence, TSampleType::Signal, TSampleType::Command}) {
            ChooseType(Form, Type);
            QApplication::processEvents();
            for (QLabel* Label : Form.findChildren<QLabel*>()) {
                if (!Label->isVisible() || Label->wordWrap() || Label->text().isEmpty())
                    continue;
                EXPECT_GE(Label->contentsRect().width(), Label->fontMetrics().horizontalAdvance(Label->text()))
                    << Label->objectName().toStdString() << ": " << Label->text().toStdString();
            }
        }
        Cancel(Form);
    });
}

// The strength of the chosen clip, measured by the function the program supplies: shown with
// its verdict for the level-independent method, a weak clip in red with the warning as its hint,
// a clip that cannot be watched with the reason; measured again only when the clip or its
// channel changes.
TEST_F(SamplePropForm, ClipStrengthIsShownForTheChosenClip)
{
    struct Case {
        const char* File;
        int Percent;  // what the program measures; -1 with an error for "refused.wav"
        const char* Text;
        bool Red;
    };
    const Case Cases[] = {
        {"strong.wav", 85, "85 % (Сильно)", false},
        {"medium.wav", 50, "50 % (Норма)", false},
        {"weak.wav", 30, "30 % (Слабо)", true},
        {"refused.wav", -1, "Nothing to recognise", true},
        {"missing.wav", 0, "", false},
        {"long.wav", 0, "", false},  // over a minute: not measured
    };
    for (const Case& C : Cases)
        if (std::string(C.File) != "missing.wav")
            testkit::writeBytes(Dir.file(C.File), {0});
    testkit::Pcm Long;
    Long.rate = 8000;
    Long.channels = 1;
    Long.appendSilence(61);
    testkit::writeWav(Dir.file("long.wav"), Long);
    QStringList Measured;
    const TClipStrengthFunction Measure = [&](const TSampleRec& Sample, QString* Error) {
        const QString Name = QFileInfo(Sample.Path).fileName();
        Measured << Name + "/" + QString::number(int(Sample.SignalMode));
        EXPECT_EQ(Sample.Type, TSampleType::File);
        EXPECT_EQ(Sample.Method, TDetectMethod::Robust);
        for (const Case& C : Cases)
            if (Name == C.File) {
                if (C.Percent < 0)
                    *Error = "Nothing to recognise";
                return C.Percent;
            }
        return -1;
    };

    for (const Case& C : Cases) {
        SCOPED_TRACE(C.File);
        Measured.clear();
        TSampleRec Rec;
        Rec.Type = TSampleType::File;
        Rec.Number = 6;
        Rec.Path = QString::fromStdString(Dir.file(C.File));
        Run(Rec, [&](TSamplePropertyForm& Form) {
            Form.SetClipStrength(Measure);
            auto* Strength = Get<QLabel>(Form, "Strength");
            EXPECT_TRUE(Get<QWidget>(Form, "StrengthPanel")->isVisibleTo(&Form));
            EXPECT_EQ(Strength->text(), C.Text);
            EXPECT_EQ(Strength->palette().color(QPalette::WindowText) == QColor(Qt::red), C.Red);
            const QString Hint =
                C.Red && C.Percent >= 0 ? FormatMessageText("WeakSample", {7, QFileInfo(C.File).completeBaseName(), C.Percent}) : QString();
            EXPECT_EQ(Strength->toolTip(), Hint);
            EXPECT_EQ(Form.height(), Form.sizeHint().height());
            Cancel(Form);
        });
        const bool Read = C.Percent != 0;
        EXPECT_EQ(Measured, Read ? QStringList{QString(C.File) + "/0"} : QStringList());
    }

    // Another channel is measured again, the same one is not; the spectral method and a dialog
    // without the function show no strength.
    TSampleRec Rec;
    Rec.Type = TSampleType::File;
    Rec.Path = QString::fromStdString(Dir.file("strong.wav"));
    Measured.clear();
    Run(Rec, [&](TSamplePropertyForm& Form) {
        EXPECT_FALSE(Get<QWidget>(Form, "StrengthPanel")->isVisibleTo(&Form));
        Form.SetClipStrength(Measure);
        Get<QRadioButton>(Form, "Radio_Right")->click();
        Get<QRadioButton>(Form, "Radio_Right")->click();
        Get<QComboBox>(Form, "Combo_Method")->setCurrentIndex(1);
        EXPECT_FALSE(Get<QWidget>(Form, "StrengthPanel")->isVisibleTo(&Form));
        Get<QLineEdit>(Form, "Filename")->setText(QString::fromStdString(Dir.file("weak.wav")));
        Get<QComboBox>(Form, "Combo_Method")->setCurrentIndex(0);
        EXPECT_TRUE(Get<QWidget>(Form, "StrengthPanel")->isVisibleTo(&Form));
        Cancel(Form);
    });
    EXPECT_EQ(Measured, QStringList({"strong.wav/0", "strong.wav/1", "weak.wav/1"}));
}

TEST_F(SamplePropForm, ChoosingAFileFillsAnEmptyDescription)
{
    struct Case {
        const char* Description;
        const char* Expected;
    };
    const Case Cases[] = {{"", "Jingle"}, {"Station ID", "Station ID"}};
    for (const Case& C : Cases) {
        TSampleRec Rec;
        Rec.Type = TSampleType::File;
        Rec.Description = C.Description;
        EXPECT_TRUE(Run(Rec, [&](TSamplePropertyForm& Form) {
            Get<QLineEdit>(Form, "Filename")->setText("/music/Jingle.mp3");
            EXPECT_EQ(Get<QLineEdit>(Form, "Description")->text(), C.Expected);
            Ok(Form);
        }));
        EXPECT_EQ(Rec.Description, C.Expected);
        EXPECT_EQ(Rec.Path, "/music/Jingle.mp3");
    }
}

TEST_F(SamplePropForm, OkWritesOnlyTheFieldsOfTheSelectedType)
{
    // Every control gets a new value; the selected type decides which type fields are written.
    struct Case {
        TSampleType Type;
        bool FileFields, LevelFields, CommandFields;
    };
    const Case Cases[] = {
        {TSampleType::File, true, false, false},
        {TSampleType::Silence, false, true, false},
        {TSampleType::Signal, false, true, false},
        {TSampleType::Command, false, false, true},
    };
    for (const Case& C : Cases) {
        TSampleRec Rec;
        Rec.Number = 4;
        Rec.Type = C.Type == TSampleType::Command ? TSampleType::File : TSampleType::Command;
        Rec.Command = "1,2";
        Rec.CommandSpeed = 7;
        Rec.Path = "/old.wav";
        Rec.Precision = 1;
        Rec.SignalTime = 9;
        Rec.SignaldB = -30;
        Rec.Method = TDetectMethod::Robust;
        const TSampleRec Before = Rec;
        ASSERT_TRUE(Run(Rec, [&](TSamplePropertyForm& Form) {
            Get<QLineEdit>(Form, "Description")->setText("Edited");
            ChooseType(Form, C.Type);
            Get<QSpinBox>(Form, "Edit_Delay")->setValue(1500);
            Get<QSlider>(Form, "TrackBar_Sensitivity")->setValue(70);
            Get<QCheckBox>(Form, "Check_AutoDisable")->setChecked(true);
            Get<QCheckBox>(Form, "Check_AutoStart")->setChecked(true);
            Get<QCheckBox>(Form, "Check_UseLowFreq")->setChecked(true);
            Get<QRadioButton>(Form, "Radio_Dec")->setChecked(true);
            Get<QLineEdit>(Form, "Filename")->setText("/new.mp3");
            Get<QComboBox>(Form, "Combo_Precision")->setCurrentIndex(4);
            Get<QComboBox>(Form, "Combo_Method")->setCurrentIndex(1);
            Get<QDoubleSpinBox>(Form, "SignalTime")->setValue(3.75);
            Get<QSlider>(Form, "SignaldB")->setValue(-60);
            Get<QComboBox>(Form, "Combo_LevelMode")->setCurrentIndex(1);
            Get<QCheckBox>(Form, "Check_AlarmOnce")->setChecked(true);
            Get<QSpinBox>(Form, "Edit_RemindMinutes")->setValue(7);
            Get<QLineEdit>(Form, "Edit_Command")->setText("5,6");
            Get<QSlider>(Form, "TrackBar_DialSpeed")->setValue(3);
            Get<QLineEdit>(Form, "Edit_FileExecute")->setText("/bin/true");
            Ok(Form);
        }));
        const std::string What = "type " + std::to_string(int(C.Type));
        EXPECT_EQ(Rec.Type, C.Type) << What;
        EXPECT_EQ(Rec.Description, "Edited") << What;
        EXPECT_EQ(Rec.Number, 4) << What;
        EXPECT_EQ(Rec.SampleWait, 1500) << What;
        EXPECT_EQ(Rec.Sense, 70) << What;
        EXPECT_TRUE(Rec.AutoDisable && Rec.AutoStart && Rec.UseLowFreq) << What;
        EXPECT_EQ(Rec.SignalMode, TSignalMode::Dec) << What;
        EXPECT_EQ(Rec.FileExecute, "/bin/true") << What;
        EXPECT_EQ(Rec.Path, C.FileFields ? "/new.mp3" : Before.Path) << What;
        EXPECT_EQ(Rec.Precision, C.FileFields ? 4 : Before.Precision) << What;
        EXPECT_EQ(Rec.SignalTime, C.LevelFields ? 3.0 : Before.SignalTime) << What;
        EXPECT_EQ(Rec.SignaldB, C.LevelFields ? -60.0 : Before.SignaldB) << What;
        EXPECT_EQ(Rec.LevelMode, C.LevelFields ? TLevelMode::Rms : Before.LevelMode) << What;
        EXPECT_EQ(Rec.AlarmOnce, C.LevelFields ? true : Before.AlarmOnce) << What;
        EXPECT_EQ(Rec.RemindMinutes, C.LevelFields ? 7 : Before.RemindMinutes) << What;
        EXPECT_EQ(Rec.Command, C.CommandFields ? "5,6" : Before.Command) << What;
        EXPECT_EQ(Rec.CommandSpeed, C.CommandFields ? 3 : Before.CommandSpeed) << What;
        EXPECT_EQ(Rec.Method, C.FileFields || C.CommandFields ? TDetectMethod::Spectral : Before.Method) << What;
    }
}

// A new silence sample measures its level as RMS unless the operator picks the peak; a new
// signal sample keeps the peak; a stored sample shows and keeps its own measure.
TEST_F(SamplePropForm, ANewSilenceSampleIsOfferedTheRmsAStoredOneKeepsItsMeasure)
{
    struct Case {
        const char* Name;
        qint32 Number;  // -1: a new sample
        TLevelMode Stored;
        std::vector<TSampleType> Clicks;
        bool PickPeak;  // the operator picks the peak after the clicks
        TLevelMode Expected;
    };
    using T = TSampleType;
    const Case Cases[] = {
        {"new silence", -1, TLevelMode::Peak, {T::Silence}, false, TLevelMode::Rms},
        {"new signal", -1, TLevelMode::Peak, {T::Signal}, false, TLevelMode::Peak},
        {"new, signal then silence", -1, TLevelMode::Peak, {T::Signal, T::Silence}, false, TLevelMode::Rms},
        {"new silence, peak picked", -1, TLevelMode::Peak, {T::Silence}, true, TLevelMode::Peak},
        {"stored silence by its peak", 3, TLevelMode::Peak, {T::Silence}, false, TLevelMode::Peak},
        {"stored signal by its RMS", 3, TLevelMode::Rms, {T::Signal}, false, TLevelMode::Rms},
    };
    for (const Case& C : Cases) {
        TSampleRec Rec;
        Rec.Number = C.Number;
        Rec.LevelMode = C.Stored;
        ASSERT_TRUE(Run(Rec, [&](TSamplePropertyForm& Form) {
            auto* Combo = Get<QComboBox>(Form, "Combo_LevelMode");
            for (const T Type : C.Clicks)
                ChooseType(Form, Type);
            if (C.PickPeak) {
                Combo->setFocus();
                QTest::keyClick(Combo, Qt::Key_Up);
                // A later change of type leaves the operator's choice alone.
                ChooseType(Form, T::Signal);
                ChooseType(Form, T::Silence);
            }
            Ok(Form);
        })) << C.Name;
        EXPECT_EQ(Rec.LevelMode, C.Expected) << C.Name;
    }
}

// A new sample alarms once per episode; a stored one shows what it has. The reminder can be
// set only while the sample alarms once.
TEST_F(SamplePropForm, ANewSampleAlarmsOnceAStoredOneKeepsItsWay)
{
    struct Case {
        qint32 Number;  // -1: a new sample
        bool StoredOnce;
        qint32 StoredMinutes;
        bool ShownOnce;
    };
    const Case Cases[] = {{-1, false, 0, true}, {3, false, 0, false}, {3, true, 15, true}};
    for (const Case& C : Cases) {
        const std::string What = "number " + std::to_string(C.Number) + (C.StoredOnce ? ", once" : "");
        TSampleRec Rec;
        Rec.Number = C.Number;
        Rec.Type = TSampleType::Silence;
        Rec.AlarmOnce = C.StoredOnce;
        Rec.RemindMinutes = C.StoredMinutes;
        ASSERT_TRUE(Run(Rec, [&](TSamplePropertyForm& Form) {
            auto* Once = Get<QCheckBox>(Form, "Check_AlarmOnce");
            auto* Remind = Get<QWidget>(Form, "RemindPanel");
            EXPECT_EQ(Once->isChecked(), C.ShownOnce) << What;
            EXPECT_EQ(Get<QSpinBox>(Form, "Edit_RemindMinutes")->value(), C.StoredMinutes) << What;
            EXPECT_EQ(Remind->isEnabled(), C.ShownOnce) << What;
            Once->click();
            EXPECT_EQ(Remind->isEnabled(), !C.ShownOnce) << What;
            Once->click();
            Ok(Form);
        }));
        EXPECT_EQ(Rec.AlarmOnce, C.ShownOnce) << What;
        EXPECT_EQ(Rec.RemindMinutes, C.StoredMinutes) << What;
    }
}

TEST_F(SamplePropForm, StoredFractionsAreShownAndCut)
{
    TSampleRec Rec;
    Rec.Type = TSampleType::Silence;
    Rec.SignalTime = 2.5;
    Rec.SignaldB = -40.7;
    ASSERT_TRUE(Run(Rec, [&](TSamplePropertyForm& Form) {
        EXPECT_EQ(Get<QDoubleSpinBox>(Form, "SignalTime")->text(), QLocale().toString(2.5));
        EXPECT_EQ(Get<QSlider>(Form, "SignaldB")->value(), -40);
        EXPECT_EQ(Get<QLabel>(Form, "SignaldBLab")->text(), "-40 dB");
        Ok(Form);
    }));
    EXPECT_EQ(Rec.SignalTime, 2.0);
    EXPECT_EQ(Rec.SignaldB, -40.0);
}

TEST_F(SamplePropForm, ANumberTakenByAnotherSampleIsReplacedByTheNextFreeOne)
{
    AddSample(0, "first");
    TSampleRec* Edited = AddSample(1, "edited");
    AddSample(3, "fourth");
    struct Case {
        int Shown;     // number typed (shown as Number + 1)
        int Expected;  // stored number afterwards
    };
    const Case Cases[] = {
        {1, 2},  // taken by "first": the smallest free number
        {4, 2},  // taken by "fourth"
        {2, 1},  // its own number is kept
        {6, 5},  // free
    };
    for (const Case& C : Cases) {
        Edited->Number = 1;
        ASSERT_TRUE(Run(*Edited, [&](TSamplePropertyForm& Form) {
            Get<QSpinBox>(Form, "Edit_SampleNum")->setValue(C.Shown);
            Ok(Form);
        }));
        EXPECT_EQ(Edited->Number, C.Expected) << C.Shown;
    }

    // A new record gets the next free number before the dialog opens.
    Edited->Number = 1;
    TSampleRec New;
    Run(New, [&](TSamplePropertyForm& Form) {
        EXPECT_EQ(Get<QSpinBox>(Form, "Edit_SampleNum")->value(), 3);
        Cancel(Form);
    });
    EXPECT_EQ(New.Number, 2);
}

TEST_F(SamplePropForm, CancelAndEscapeWriteNothing)
{
    for (bool ByKey : {false, true}) {
        TSampleRec Rec;
        Rec.Number = 2;
        Rec.Type = TSampleType::File;
        Rec.Description = "Kept";
        Rec.Path = "/kept.wav";
        Rec.FileExecute = "/kept.sh";
        QStringList Before;
        Rec.SaveToStrings(Before);
        EXPECT_FALSE(Run(Rec, [&](TSamplePropertyForm& Form) {
            Get<QLineEdit>(Form, "Description")->setText("Changed");
            Get<QSpinBox>(Form, "Edit_SampleNum")->setValue(40);
            Get<QLineEdit>(Form, "Filename")->setText("/changed.wav");
            Get<QLineEdit>(Form, "Edit_FileExecute")->setText("/changed.sh");
            Get<QSlider>(Form, "TrackBar_Sensitivity")->setValue(10);
            ChooseType(Form, TSampleType::Signal);
            Get<QSlider>(Form, "SignaldB")->setValue(-3);
            if (ByKey)
                QTest::keyClick(&Form, Qt::Key_Escape);
            else
                Cancel(Form);
        }));
        QStringList After;
        Rec.SaveToStrings(After);
        EXPECT_EQ(After, Before) << (ByKey ? "Escape" : "Cancel");
    }
}

TEST_F(SamplePropForm, EnterConfirmsFromAnEditBox)
{
    TSampleRec Rec;
    EXPECT_TRUE(Run(Rec, [&](TSamplePropertyForm& Form) {
        QLineEdit* Description = Get<QLineEdit>(Form, "Description");
        Description->setFocus();
        QTest::keyClicks(Description, "Typed");
        QTest::keyClick(Description, Qt::Key_Return);
    }));
    EXPECT_EQ(Rec.Description, "Typed");
}

TEST_F(SamplePropForm, CommandMenuShowsColumnsOfTenAndInsertsIdentifiers)
{
    for (int I = 1; I <= 25; ++I) {
        TFrequencyRec Rec;
        Rec.ID = QString::number(I);
        Table.append(Rec);
    }
    Table[24].ID = "A&B";
    TSampleRec Rec;
    ASSERT_TRUE(Run(Rec, [&](TSamplePropertyForm& Form) {
        QMenu* Menu = Get<QMenu>(Form, "CommandMenu");
        auto* Grid = qobject_cast<QGridLayout*>(Get<QWidget>(Form, "CommandMenuGrid")->layout());
        ASSERT_NE(Grid, nullptr);
        EXPECT_EQ(Grid->columnCount(), 3);
        int PerColumn[3] = {0, 0, 0};
        for (int Column = 0; Column < 3; ++Column)
            for (int Row = 0; Row < Grid->rowCount(); ++Row)
                PerColumn[Column] += Grid->itemAtPosition(Row, Column) != nullptr;
        EXPECT_EQ(PerColumn[0], 10);
        EXPECT_EQ(PerColumn[1], 10);
        EXPECT_EQ(PerColumn[2], 5);

        auto Pick = [&](int Row, int Column) {
            QTest::mouseClick(Get<QToolButton>(Form, "AddCommand"), Qt::LeftButton);
            EXPECT_TRUE(Menu->isVisible());
            auto* Button = qobject_cast<QToolButton*>(Grid->itemAtPosition(Row, Column)->widget());
            QTest::mouseClick(Button, Qt::LeftButton);
            EXPECT_FALSE(Menu->isVisible());
        };
        QLineEdit* Command = Get<QLineEdit>(Form, "Edit_Command");
        Pick(0, 0);
        Pick(1, 0);
        Pick(2, 0);
        EXPECT_EQ(Command->text(), "1,2,3");
        QTest::mouseClick(Get<QToolButton>(Form, "ClearCommand"), Qt::LeftButton);
        EXPECT_EQ(Command->text(), "");
        // An identifier is inserted as it is, "&" included (no accelerator keys).
        Pick(4, 2);
        Pick(0, 1);
        EXPECT_EQ(Command->text(), "A&B,11");
        Ok(Form);
    }));
    EXPECT_EQ(Rec.Command, "A&B,11");
}

TEST_F(SamplePropForm, PlacementAndTypeAreStoredInTheDialogsSection)
{
    const QString Ini = QString::fromStdString(Dir.file("Ondrix.ini"));
    testkit::writeText(Dir.file("Ondrix.ini"), "[Ondrix]\nLogCount_Value=30\n");
    TSampleRec Rec;
    Rec.Type = TSampleType::Silence;
    QRect Frame;
    Run(
        Rec,
        [&](TSamplePropertyForm& Form) {
            ChooseType(Form, TSampleType::Signal);
            Frame = Form.geometry();
            Cancel(Form);
        },
        Ini);
    TIniFile File(Ini);
    EXPECT_EQ(File.ReadString("Ondrix", "LogCount_Value", ""), "30");
    EXPECT_EQ(File.ReadInteger("TSamplePropertyForm", "Group_SampleType_ItemIndex", -1), 2);
    EXPECT_EQ(File.ReadString("TSamplePropertyForm", "NormPos", ""),
              QString("%1,%2,%3,%4").arg(Frame.left()).arg(Frame.top()).arg(Frame.right() + 1).arg(Frame.bottom() + 1));
}

}  // namespace
