// A link opened on a recording device with scripted TDO, for wire-level tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "link/TargetLink.h"
#include "port/PortTalk.h"
#include "support/ObserverRecorder.h"
#include "support/RecordingPort.h"
#include "support/SimLinkFixture.h"

class ScriptedLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetLinkSleepFunction(test::NoSleep);
        auto driver = std::make_unique<test::RecordingPortDriver>();
        wire = driver.get();
        port::SelectPortDriver(std::move(driver));
        link.m_nPort = 0x378;
        link.SetReadCheck(false);  // one reply scripted per read
        ASSERT_EQ(link.Open(&observer), 0u);
        wire->Clear();
    }
    void TearDown() override {
        wire->tdoSource = nullptr;  // it may capture the test body's locals
        link.Close();
        port::SelectPortDriver(nullptr);
        SetLinkSleepFunction(nullptr);
    }

    CTargetLink link;
    test::ObserverRecorder observer;
    test::RecordingPortDriver* wire = nullptr;
};
