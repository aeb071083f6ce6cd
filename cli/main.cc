#include <cstdio>

#include "cli/command_line.h"
#include "cli/report.h"
#include "engine/delete_loop.h"
#include "engine/system_platform.h"

int main(int argc, char** argv) {
  reapit::SurviveLostOutput();
  std::optional<reapit::Request> request =
      reapit::ParseCommandLine(argc, argv, reapit::kPathSeparator);
  if (!request) {
    std::fputs(reapit::kUsage, stdout);
    return 0;
  }
  reapit::DeleteAndWait(*reapit::CreateSystemPlatform(), request->directory,
                        request->pending, request->limit);
  reapit::PrintReport(request->pending, stdout);
  return 0;
}
