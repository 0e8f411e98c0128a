// GoogleTest entry for the window tests: the program's own application object, so that an
// exception escaping an event handler is reported as in the program.
#include "app/OndrixApplication.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    TOndrixApplication App(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
