// The last step of a child after fork: becoming another program.
#ifndef MCIPLAY_HARNESS_EXEC_H
#define MCIPLAY_HARNESS_EXEC_H

#include <unistd.h>

#include <string>
#include <vector>

namespace harness {

// Runs `argv` in place of this process, found on PATH; a program that
// cannot be run ends the child with 127, as a shell does.
[[noreturn]] inline void ExecOrExit(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

}  // namespace harness

#endif  // MCIPLAY_HARNESS_EXEC_H
