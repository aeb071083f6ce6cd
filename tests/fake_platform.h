#ifndef REAPIT_TESTS_FAKE_PLATFORM_H_
#define REAPIT_TESTS_FAKE_PLATFORM_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/platform.h"

namespace reapit {

// What one Wait of the fake does: how long it takes on the virtual clock,
// what it returns, and what changes in the world while it waits.
struct ScriptedWait {
  std::uint32_t takes_ms = 0;
  WaitResult result = WaitResult::kWoken;
  std::function<void()> meanwhile = nullptr;
};

// A platform whose every answer is scripted and whose clock only moves when
// the script says so. It logs each call as text and checks that watches are
// used the way a real one must be: never two at once, none closed twice.
class FakePlatform final : public Platform {
 public:
  // --- the script ---
  Tick clock = 0;
  std::uint32_t ms_per_attempt = 0;  // the cost of each DeletePath
  std::set<std::string> deletable;   // DeletePath succeeds for these
  bool arm_fails = false;
  // Consumed in order; once empty, a wait sits out its whole time-out.
  std::deque<ScriptedWait> waits;

  // --- what happened ---
  std::vector<std::string> calls;
  std::vector<std::uint32_t> timeouts;
  int open_watches = 0;
  int most_open_watches = 0;

  bool DeletePath(const std::string& path) override {
    Log("delete " + path);
    clock += ms_per_attempt;
    return deletable.erase(path) > 0;
  }

  Tick Now() override {
    Log("now");
    return clock;
  }

  Watch Arm(const std::string& directory) override {
    Log("arm " + directory);
    if (arm_fails) return kNoWatch;
    current_ = Watch{++last_id_};
    ++open_watches;
    most_open_watches = std::max(most_open_watches, open_watches);
    return current_;
  }

  void Close(Watch watch) override {
    Log("close");
    EXPECT_EQ(watch, current_) << "closed a watch that is not open";
    current_ = kNoWatch;
    --open_watches;
  }

  WaitResult Wait(Watch watch, std::uint32_t timeout_ms) override {
    Log("wait " + std::to_string(timeout_ms));
    EXPECT_EQ(watch, current_) << "waited on a watch that is not open";
    timeouts.push_back(timeout_ms);
    if (waits.empty()) {
      clock += timeout_ms;
      return WaitResult::kTimedOut;
    }
    ScriptedWait step = std::move(waits.front());
    waits.pop_front();
    clock += step.takes_ms;
    if (step.meanwhile) step.meanwhile();
    return step.result;
  }

 private:
  // A loop that never ends would hang the test; fail it instead.
  static constexpr std::size_t kRunaway = 10'000;

  void Log(std::string call) {
    if (calls.size() == kRunaway) throw std::runtime_error("runaway loop");
    calls.push_back(std::move(call));
  }

  Watch current_ = kNoWatch;
  std::intptr_t last_id_ = 0;
};

}  // namespace reapit

#endif  // REAPIT_TESTS_FAKE_PLATFORM_H_
