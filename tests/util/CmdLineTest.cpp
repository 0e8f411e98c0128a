#include "util/CmdLine.h"

#include <gtest/gtest.h>

namespace {

TEST(CmdLineTest, FindsSwitchesByTheRules)
{
    struct Case {
        QStringList Args;
        bool Found;
        QString Value;
    };
    const Case Cases[] = {
        {{"/Data=/srv/station"}, true, "/srv/station"},
        {{"\\Data=../Shared"}, true, "../Shared"},
        {{"/data=x"}, true, "x"},
        {{"/DATA = \"/my station\" "}, true, "/my station"},
        {{"/Data=\"a\"b\""}, true, "ab"},
        {{"/Data=first", "/Delay=5", "\\data=second"}, true, "second"},  // last one wins
        {{"/Data"}, true, ""},
        {{"/Data="}, true, ""},
        {{"/Data=a=b"}, true, "a=b"},
        {{"Data=x", "-Data=x", "/Database=x", "/Dat=x"}, false, ""},
        {{}, false, ""},
    };
    for (const Case& C : Cases) {
        QString Value = "untouched";
        EXPECT_EQ(FindCmdLineSwitch(C.Args, "Data", Value), C.Found) << C.Args.join(' ').toStdString();
        EXPECT_EQ(Value, C.Found ? C.Value : QString("untouched")) << C.Args.join(' ').toStdString();
    }
}

}  // namespace
