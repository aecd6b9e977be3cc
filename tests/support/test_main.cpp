// Main of the test executables that need no Qt.
#include "tests/support/test_dirs.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    pixmoor::test::usePrivateXdgDirs();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
