#include "ToolRun.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include "TestImages.h"

extern char** environ;

namespace umbra::test {

namespace {
std::string textOf(const fs::path& path) {
  const std::vector<uint8_t> bytes = readBytes(path);
  return std::string(bytes.begin(), bytes.end());
}
}  // namespace

ToolResult runTool(const std::string& program, const std::vector<std::string>& args,
                   const std::vector<std::string>& extraEnv) {
  TempDir capture;
  const std::string outPath = (capture / "out").string();
  const std::string errPath = (capture / "err").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> envStrings(extraEnv);
  for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);  // earlier entries win
  std::vector<char*> envp;
  for (std::string& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = 0;
  const int spawned =
      posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ToolResult result;
  if (spawned != 0) {
    result.err = "cannot start " + program;
    return result;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = textOf(outPath);
  result.err = textOf(errPath);
  return result;
}

}  // namespace umbra::test
