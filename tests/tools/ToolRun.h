#pragma once
// Runs a program for a test, without a shell, and collects its exit status and output.
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

struct ToolResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs program (a path, or a name looked up in PATH) with args. extraEnv entries are NAME=VALUE.
ToolResult runTool(const std::string& program, const std::vector<std::string>& args,
                   const std::vector<std::string>& extraEnv = {});

// A fresh folder under the system's temp folder, removed with its content at the end.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

void writeFile(const std::filesystem::path& path, const std::string& content);
std::string readFile(const std::filesystem::path& path);
std::string environmentOr(const char* name, const std::string& fallback);

}  // namespace testing_support
