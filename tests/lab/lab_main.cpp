// Lab tests send discovery traffic and broadcasts: the process refuses to
// run any test outside a lab namespace.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/LabSupport.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!testing::GTEST_FLAG(list_tests)) {
        RequireLabNamespace();
    }
    return RUN_ALL_TESTS();
}
