#include <gtest/gtest.h>

#include <clocale>

#include "test_env.h"

int main(int argc, char** argv)
{
    testenv::root();  // set the environment before anything reads it
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
