// main of the host test executables: into a private mount namespace first, while the process
// has one thread, so that no fixture can ever mount over the real host.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "qvsim/sandbox.h"

int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--gtest_list_tests", 18) == 0)
            listing = true;
    }
    // Listing runs no test and happens at build time, possibly without root.
    if (!listing) {
        std::string error;
        if (!qvsim::enter_private_namespace(&error)) {
            std::fprintf(stderr, "host tests: cannot enter a private mount namespace: %s\n", error.c_str());
            return 1;
        }
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
