#include <cstdio>

#include "cli/run.h"
#include "engine/system_platform.h"

int main(int argc, char** argv) {
  reapit::SurviveLostOutput();
  return reapit::Run(argc, argv, *reapit::CreateSystemPlatform(),
                     reapit::kPathSeparator, stdout);
}
