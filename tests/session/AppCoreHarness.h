#pragma once
// The application core on simulated counters and a fake clock: the report
// thread runs for real, so a step waits for its passes, not for time.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "session/ORB_AppCore.h"
#include "session/ORB_ReportThread.h"
#include "sources/SimulatorCatcher.h"
#include "support/Eventually.h"
#include "support/TempFolder.h"

namespace orb::test {

class TAppCoreHarness : public ::testing::Test {
 protected:
  // Lets `ms` of simulated time pass and gives the report thread a pass
  // over what the simulators made of it before the core ticks, so the
  // sessions' time-outs see the devices' answers as a real run would. The
  // wait is short: a pass may itself wait for the clock.
  void Step(TAppCore& core, int ms) {
    const TORB_ReportThread* thread = core.ReportThread();
    const uint64_t seen = thread != nullptr ? thread->PassCount() : 0;
    clock.Advance(ms);
    factory.WaitGenerated();
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    while (thread != nullptr && thread->PassCount() < seen + 2 &&
           std::chrono::steady_clock::now() < end) {
      std::this_thread::yield();
    }
    core.Tick();
  }

  // A core in the test folder; its messages go to `texts` as
  // "type session code text".
  std::unique_ptr<TAppCore> NewCore() {
    TAppCoreServices services;
    services.Home = folder.Path();
    services.Clock = &clock;
    services.Factory = &factory;
    services.ReceiveEvent = std::make_shared<TEvent>(clock);
    auto core = std::make_unique<TAppCore>(services);
    core->SetOnNewMessage([this](const TMessageItem& item) {
      texts.push_back(std::to_string(item.MsgType) + " " + std::to_string(item.sIndex) + " " +
                      std::to_string(item.Code) + " " + item.Text);
    });
    return core;
  }

  std::vector<std::string> Errors() const {
    std::vector<std::string> errors;
    for (const auto& text : texts) {
      if (text.starts_with("0 ")) errors.push_back(text);
    }
    return errors;
  }

  TTempFolder folder;
  TFakeClock clock;
  TSimulatorCatcher factory;
  std::vector<std::string> texts;
};

}  // namespace orb::test
