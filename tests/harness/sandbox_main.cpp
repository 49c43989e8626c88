// main() of test programs that run inside the sandbox.
#include <cstdio>
#include <gtest/gtest.h>
#include "harness/sandbox.h"

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    std::string why;
    int rc = ZND_TestEnterSandbox(&why);
    if (rc != 0) {
        fprintf(stderr, "sandbox: %s\n", why.c_str());
        return rc;
    }
    return RUN_ALL_TESTS();
}
