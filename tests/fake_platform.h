#ifndef REAPIT_TESTS_FAKE_PLATFORM_H_
#define REAPIT_TESTS_FAKE_PLATFORM_H_

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
// the script says so. It logs each call as text and notes each use of a watch
// that a real one would not allow: two at once, closing or waiting on one
// that is not open.
class FakePlatform final : public Platform {
 public:
  // --- the script ---
  Tick clock = 0;
  std::uint32_t ms_per_attempt = 0;  // the cost of each DeletePath
  std::set<std::string> deletable;   // DeletePath succeeds for these
  bool arm_fails = false;
  // Consumed in order; once empty, a wait sits out its whole time-out. No
  // wait takes longer than its time-out, as no real one does.
  std::deque<ScriptedWait> waits;
  // More calls than this throw, so that a loop that never ends fails.
  std::size_t most_calls = 10'000;

  // --- what happened ---
  std::vector<std::string> calls;
  std::set<std::string> deleted;
  std::vector<std::string> faults;  // misuses of watches; empty when none
  std::vector<std::uint32_t> timeouts;
  int open_watches = 0;
  int most_open_watches = 0;

  bool DeletePath(const std::string& path) override {
    Log("delete " + path);
    clock += ms_per_attempt;
    if (deletable.erase(path) == 0) return false;
    deleted.insert(path);
    return true;
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
    if (watch != current_)
      faults.emplace_back("closed a watch that is not open");
    current_ = kNoWatch;
    --open_watches;
  }

  WaitResult Wait(Watch watch, std::uint32_t timeout_ms) override {
    Log("wait " + std::to_string(timeout_ms));
    if (watch != current_)
      faults.emplace_back("waited on a watch that is not open");
    timeouts.push_back(timeout_ms);
    if (waits.empty()) {
      clock += timeout_ms;
      return WaitResult::kTimedOut;
    }
    ScriptedWait step = std::move(waits.front());
    waits.pop_front();
    clock += std::min(step.takes_ms, timeout_ms);
    if (step.meanwhile) step.meanwhile();
    return step.result;
  }

 private:
  void Log(std::string call) {
    if (calls.size() == most_calls) throw std::runtime_error("runaway loop");
    calls.push_back(std::move(call));
  }

  Watch current_ = kNoWatch;
  std::intptr_t last_id_ = 0;
};

}  // namespace reapit

#endif  // REAPIT_TESTS_FAKE_PLATFORM_H_
