// Small helpers shared by the benchmark programs.
#ifndef QUARNEX_BENCH_BENCH_UTIL_H_
#define QUARNEX_BENCH_BENCH_UTIL_H_

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace quarnex {

// The median of the rounds' figures (the upper one of an even count), which
// a single disturbed round on a shared machine does not move.
inline double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The text after `prefix` when `arg` starts with it ("--seconds=" in
// "--seconds=3" gives "3"), else null. The result points into `arg`.
inline const char* OptionValue(const std::string& arg, const char* prefix) {
  const size_t n = std::strlen(prefix);
  return arg.compare(0, n, prefix) == 0 ? arg.c_str() + n : nullptr;
}

// Starts the program args[0] with `args` in a child process whose
// environment is this one's with QUARNEX_SIM set to `sim` and
// XDG_CONFIG_HOME to `config_home`, and whose standard output and error go
// to the two files. Returns the child's pid, -1 when fork failed; the child
// exits 126 when a file cannot be made and 127 when the program cannot run.
inline pid_t SpawnRunner(std::vector<std::string> args, const std::string& sim,
                         const std::string& config_home, const std::string& out_path,
                         const std::string& err_path) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "QUARNEX_SIM=", 12) != 0 &&
        std::strncmp(*e, "XDG_CONFIG_HOME=", 16) != 0) {
      env.emplace_back(*e);
    }
  }
  env.push_back("QUARNEX_SIM=" + sim);
  env.push_back("XDG_CONFIG_HOME=" + config_home);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0) _exit(126);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  return pid;
}

}  // namespace quarnex

#endif  // QUARNEX_BENCH_BENCH_UTIL_H_
