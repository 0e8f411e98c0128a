#include "messages/Class_OndrixSubscriber.h"

#include <gtest/gtest.h>

TEST(VersionNumberTest, PacksTheFirstDigitOfEachComponent)
{
    struct Case {
        const char* Text;
        int Expected;
    };
    const Case Cases[] = {
        {"1.5.2.3", 1523},
        {"1.10.0.0", 1100},  // position 3 is the "1" of "10", position 5 the "."
        {"", 1500},
        {"2.0.0.0", 2000},
        {"x.y.z.w", 0},
        {"1.5", 1500},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(VersionNumber(QString::fromUtf8(C.Text)), C.Expected) << C.Text;
}
