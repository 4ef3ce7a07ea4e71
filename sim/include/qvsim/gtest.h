// GoogleTest fixture over a Sandbox.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "qvsim/qvsim.h"

namespace qvsim {

class SimHostTest : public ::testing::Test {
protected:
    // Use as ASSERT_NO_FATAL_FAILURE(StartHost(s)): a failed setup fails the test, never skips it.
    void StartHost(Scenario s) {
        host_.reset();
        try {
            host_ = std::make_unique<Sandbox>(std::move(s));
        } catch (const std::exception& e) {
            FAIL() << "simulated host setup failed: " << e.what();
        }
        ASSERT_TRUE(host_->verify()) << "simulated host markers missing";
    }
    Sandbox& host() { return *host_; }
    void TearDown() override { host_.reset(); }

private:
    std::unique_ptr<Sandbox> host_;
};

} // namespace qvsim
