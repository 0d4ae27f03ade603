// Test entry: GoogleTest on the main thread, which also owns the
// main-thread dispatcher for the tests that post work to it.
#include <gtest/gtest.h>

#include "Runtime/MainThreadDispatcher.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    InitMainThreadDispatcher();
    const int result = RUN_ALL_TESTS();
    ShutdownMainThreadDispatcher();
    return result;
}
