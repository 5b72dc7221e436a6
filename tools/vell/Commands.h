// vell's commands. Each takes the arguments after its name and returns the exit status.
#pragma once

#include <string>
#include <vector>

namespace Vell {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Invocation {
    std::string directory;          // the release directory handed to the library (absolute)
    std::vector<std::string> args;  // the command's arguments
};

int Ls(const Invocation& invocation);
int Cat(const Invocation& invocation);
int Stat(const Invocation& invocation);
int Tree(const Invocation& invocation);
int Extract(const Invocation& invocation);
int Check(const Invocation& invocation);
int Verify(const Invocation& invocation);
// Loads the release itself (it serves the file system for as long as it is mounted).
int Mount(const Invocation& invocation);

}  // namespace Vell
