// Every test program's main.
#include <gtest/gtest.h>

#include "support/TestProcess.h"

int main(int argc, char** argv) {
    test::TestProcess process;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
