// Runs the whole tool on a fuzzed command line against the scripted fake
// platform, and checks what it printed and did against a model of its own.
//
// Input: fields separated by NUL bytes. The first field is the script, the
// others are the arguments after the tool's own name.
//   script[0]    bits 0-1: 0 arming works, 1 it always fails, 2 or 3 it fails
//                from the first or second change on; bit 2: '\' joins paths
//                instead of '/'; bits 3-7: milliseconds each deletion takes
//   script[1-4]  the clock at the start, little-endian
//   script[5..]  one change a byte, each seen by a wait that lasts that many
//                times 100 ms (at most its time-out); then waits time out
// A path becomes deletable at the change numbered by its last byte modulo 4:
// 0 from the start, 1 or 2 at that change, 3 never.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/run.h"
#include "tests/fake_platform.h"

namespace reapit {
namespace {

constexpr std::size_t kMostChanges = 64;  // keeps each input quick
constexpr int kNever = 3;

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "check failed: %s\n", what);
  std::abort();
}

std::vector<std::string> SplitAtNul(const std::uint8_t* data,
                                    std::size_t size) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0)
      fields.emplace_back();
    else
      fields.back() += static_cast<char>(data[i]);
  }
  return fields;
}

int Readiness(const std::string& path) {
  return path.empty() ? 0 : static_cast<unsigned char>(path.back()) % 4;
}

bool ByteLess(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
      });
}

// The seconds as the C library reads a long, brought into the int32 range.
std::int64_t ModelSeconds(const char* text) {
  const std::int64_t value = std::strtoll(text, nullptr, 10);
  return std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX);
}

std::string ModelReport(std::vector<std::string> left) {
  if (left.empty()) return "";
  std::sort(left.begin(), left.end(), ByteLess);
  std::string text = "Gave up without deleting:\n";
  for (const std::string& path : left) text += "\t" + path + "\n";
  return text;
}

std::string RunCapturingOutput(const std::vector<const char*>& argv,
                               FakePlatform& os, char separator) {
  char* buffer = nullptr;
  std::size_t length = 0;
  std::FILE* out = open_memstream(&buffer, &length);
  Check(out != nullptr, "no memory stream");
  const int status =
      Run(static_cast<int>(argv.size()), argv.data(), os, separator, out);
  std::fclose(out);
  std::string text(buffer, length);
  std::free(buffer);
  Check(status == 0, "exit status is 0");
  return text;
}

// What one input asks for.
struct Input {
  unsigned arming = 0;
  char separator = '/';
  std::uint32_t ms_per_attempt = 0;
  Tick clock = 0;
  std::vector<unsigned> changes;
  std::vector<std::string> fields;  // owns what argv points to
  std::vector<const char*> argv;
};

Input Decode(const std::uint8_t* data, std::size_t size) {
  Input input;
  input.fields = SplitAtNul(data, size);
  const std::string& script = input.fields[0];
  auto byte = [&](std::size_t i) -> std::uint32_t {
    return i < script.size() ? static_cast<unsigned char>(script[i]) : 0;
  };
  input.arming = byte(0) & 3;
  input.separator = (byte(0) & 4) != 0 ? '\\' : '/';
  input.ms_per_attempt = byte(0) >> 3;
  input.clock = byte(1) | byte(2) << 8 | byte(3) << 16 | byte(4) << 24;
  for (std::size_t i = 5; i < script.size() && i < 5 + kMostChanges; ++i)
    input.changes.push_back(byte(i));
  input.argv.push_back("reapit");
  for (std::size_t i = 1; i < input.fields.size(); ++i)
    input.argv.push_back(input.fields[i].c_str());
  return input;
}

// What the tool is asked for, worked out independently of its code.
struct Model {
  bool usage = true;
  std::vector<std::string> named;  // in byte order, each once
  std::uint64_t limit = 0;
};

Model Expect(const Input& input) {
  Model model;
  const std::vector<const char*>& argv = input.argv;
  model.usage = argv.size() < 4 || ModelSeconds(argv[2]) <= 0;
  if (model.usage) return model;
  for (std::size_t i = 3; i < argv.size(); ++i)
    model.named.push_back(std::string(argv[1]) + input.separator + argv[i]);
  std::sort(model.named.begin(), model.named.end(), ByteLess);
  model.named.erase(std::unique(model.named.begin(), model.named.end()),
                    model.named.end());
  model.limit =
      std::min<std::uint64_t>(ModelSeconds(argv[2]) * 1000, 0xFFFFFFFE);
  return model;
}

void Script(FakePlatform& os, const Input& input, const Model& model) {
  os.ms_per_attempt = input.ms_per_attempt;
  os.clock = input.clock;
  os.arm_fails = input.arming == 1;
  for (const std::string& path : model.named)
    if (Readiness(path) == 0) os.deletable.insert(path);
  for (std::size_t i = 0; i < input.changes.size(); ++i) {
    const int number = static_cast<int>(i) + 1;
    os.waits.push_back(
        {.takes_ms = input.changes[i] * 100,
         .meanwhile = [&os, &model, arming = input.arming, number] {
           for (const std::string& path : model.named)
             if (Readiness(path) == number && number != kNever)
               os.deletable.insert(path);
           if (arming >= 2 && number == static_cast<int>(arming) - 1)
             os.arm_fails = true;
         }});
  }
  os.most_calls = (input.changes.size() + 2) * (model.named.size() + 6);
}

// Checks that each pass tried every path still left, once, in byte order,
// and returns what is left after the last. A deleted path went at its last
// attempt.
std::vector<std::string> CheckPasses(const FakePlatform& os,
                                     const Model& model) {
  std::map<std::string, std::size_t> last_attempt;
  for (std::size_t i = 0; i < os.calls.size(); ++i)
    if (os.calls[i].starts_with("delete "))
      last_attempt[os.calls[i].substr(7)] = i;
  std::vector<std::string> left = model.named;
  std::vector<std::string> tried;
  std::set<std::string> gone;
  auto end_pass = [&] {
    Check(tried == left, "a pass tries what is left, in byte order");
    std::erase_if(left, [&](const std::string& p) { return gone.contains(p); });
    tried.clear();
  };
  bool in_pass = false;
  for (std::size_t i = 0; i < os.calls.size(); ++i) {
    const std::string& call = os.calls[i];
    if (call.starts_with("arm ")) {
      if (in_pass) end_pass();
      in_pass = true;
    } else if (call.starts_with("delete ")) {
      std::string path = call.substr(7);
      if (os.deleted.contains(path) && last_attempt[path] == i)
        gone.insert(path);
      tried.push_back(std::move(path));
    }
  }
  if (in_pass) end_pass();
  return left;
}

void CheckRun(const FakePlatform& os, const Input& input, const Model& model,
              const std::string& output) {
  Check(os.faults.empty(), "watches used as a real one allows");
  Check(os.open_watches == 0, "no watch left open");
  Check(os.most_open_watches <= 1, "never two watches at once");
  Check(os.calls.size() >= 2 &&
            os.calls[1] == "arm " + std::string(input.argv[1]),
        "the directory as typed is watched");

  const std::vector<std::string> left = CheckPasses(os, model);
  Check(left.size() == model.named.size() - os.deleted.size(),
        "nothing deleted that was not named");
  Check(output == ModelReport(left), "the report lists exactly what is left");

  // What goes follows from the script alone: a path goes at the first pass
  // after it became deletable, and each change seen starts a pass.
  const std::size_t seen = input.changes.size() - os.waits.size();
  for (const std::string& path : model.named) {
    const int ready = Readiness(path);
    const bool deletable =
        ready != kNever && static_cast<std::size_t>(ready) <= seen;
    Check(os.deleted.contains(path) == deletable,
          "deleted exactly the paths deletable before the last pass");
  }

  // The first wait is given what the first pass left of the limit, and no
  // wait more than the limit.
  if (!os.timeouts.empty()) {
    const std::uint64_t first_pass = model.named.size() * os.ms_per_attempt;
    Check(os.timeouts[0] == model.limit - first_pass, "the first time-out");
  }
  for (std::uint32_t timeout : os.timeouts)
    Check(timeout >= 1 && timeout <= model.limit,
          "a time-out within the limit");

  const Tick elapsed = os.clock - input.clock;
  Check(left.empty() || elapsed >= model.limit || os.arm_fails,
        "ended with paths and time left only when no watch could be armed");
}

void FuzzOne(const std::uint8_t* data, std::size_t size) {
  const Input input = Decode(data, size);
  const Model model = Expect(input);
  FakePlatform os;
  Script(os, input, model);
  const std::string output =
      RunCapturingOutput(input.argv, os, input.separator);
  if (model.usage) {
    Check(output == kUsage, "the usage text, exactly");
    Check(os.calls.empty(), "no platform call after the usage text");
    return;
  }
  CheckRun(os, input, model, output);
}

}  // namespace
}  // namespace reapit

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  reapit::FuzzOne(data, size);
  return 0;
}
