#pragma once
// Runs a program for a test without a shell, so arguments arrive exactly as given, and keeps its
// standard output and standard error apart.
#include <string>
#include <vector>

namespace umbra::test {

struct ToolResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// program is a path, or a name looked up in PATH; extraEnv entries are NAME=VALUE.
ToolResult runTool(const std::string& program, const std::vector<std::string>& args,
                   const std::vector<std::string>& extraEnv = {});

}  // namespace umbra::test
