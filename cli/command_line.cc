#include "cli/command_line.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace reapit {

namespace {

bool IsAtoiSpace(char c) {
  return c != '\0' && std::strchr(" \t\n\v\f\r", c) != nullptr;
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::int32_t ParseSeconds(const char* text) {
  while (IsAtoiSpace(*text)) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;

  // One past the int32 range is enough to saturate either way; stop growing
  // there so that any number of digits is safe.
  constexpr std::int64_t kCap =
      std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (; IsDigit(*text); ++text)
    magnitude = std::min(kCap, magnitude * 10 + (*text - '0'));

  const std::int64_t value = negative ? -magnitude : magnitude;
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                               std::numeric_limits<std::int32_t>::max()));
}

WaitLimit WaitLimitFromSeconds(std::int32_t seconds) {
  constexpr std::uint64_t kLongest = 0xFFFFFFFEu;
  return static_cast<WaitLimit>(std::min<std::uint64_t>(
      static_cast<std::uint64_t>(seconds) * 1000, kLongest));
}

std::optional<Request> ParseCommandLine(int argc, const char* const* argv,
                                        char separator) {
  if (argc < 4) return std::nullopt;
  const std::int32_t seconds = ParseSeconds(argv[2]);
  if (seconds <= 0) return std::nullopt;

  Request request{argv[1], WaitLimitFromSeconds(seconds), {}};
  for (int i = 3; i < argc; ++i) {
    std::string path = request.directory;
    path += separator;
    path += argv[i];
    request.pending.insert(std::move(path));
  }
  return request;
}

}  // namespace reapit
