// For the tests that run the tester's programs as processes: a child whose
// standard output and error go to files, with an environment of its own.
#ifndef QUARNEX_RUNNER_CHILD_PROCESS_TEST_UTIL_H_
#define QUARNEX_RUNNER_CHILD_PROCESS_TEST_UTIL_H_

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace quarnex {

// The whole file; empty when it cannot be read.
inline std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs argv[0] (a path) with `argv` in `cwd`. Its environment is this
// process's without the variables named in `drop`, plus the NAME=value
// entries of `extra`; its standard output and error go to `out` and `err`.
// The destructor kills and reaps a child that still runs.
class ChildProcess {
 public:
  ChildProcess(std::vector<std::string> argv, const std::vector<std::string>& drop,
               const std::vector<std::string>& extra, const std::filesystem::path& cwd,
               std::filesystem::path out, std::filesystem::path err)
      : out_(std::move(out)), err_(std::move(err)) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      bool dropped = false;
      for (const std::string& name : drop) dropped = dropped || entry.starts_with(name + "=");
      if (!dropped) env.push_back(entry);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string dir = cwd.string(), out_path = out_.string(), err_path = err_.string();
    pid_ = fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls until exec.
      const int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (chdir(dir.c_str()) != 0 || out_fd < 0 || err_fd < 0) _exit(126);
      dup2(out_fd, STDOUT_FILENO);
      dup2(err_fd, STDERR_FILENO);
      execve(args[0], args.data(), envp.data());
      _exit(127);
    }
  }
  ~ChildProcess() {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Signal(int signo) { kill(pid_, signo); }

  // The exit status (128 + the signal for a child killed by one), or empty
  // when the child still runs after `timeout_s`.
  std::optional<int> Wait(double timeout_s) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
    while (!status_) {
      int raw = 0;
      if (waitpid(pid_, &raw, WNOHANG) == pid_) {
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        break;
      }
      if (std::chrono::steady_clock::now() > deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
  }

  // Waits until standard output holds `text`; false after `timeout_s`.
  bool WaitForOutput(const std::string& text, double timeout_s) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Out().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  std::string Out() const { return ReadWholeFile(out_); }
  std::string Err() const { return ReadWholeFile(err_); }

 private:
  std::filesystem::path out_;
  std::filesystem::path err_;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

}  // namespace quarnex

#endif  // QUARNEX_RUNNER_CHILD_PROCESS_TEST_UTIL_H_
