#pragma once

#include <gtest/gtest.h>

/** Starts every test on an empty simulated machine, so that no test sees the
    default machine or what an earlier test left behind. Runs on the test
    (message) thread. */
class MachineResetListener : public ::testing::EmptyTestEventListener
{
public:
    void OnTestStart (const ::testing::TestInfo& info) override;
};
