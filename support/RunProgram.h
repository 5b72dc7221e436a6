// Runs the project's programs from tests as a user's shell would: sh on POSIX, cmd on Windows.
// Header-only, so that any test program can use it without linking anything.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace TarnSupport {

// One argument quoted for the shell. On Windows an argument must hold no double quote.
inline std::string ShellQuote(const std::string& argument)
{
#if defined(_WIN32)
    return "\"" + argument + "\"";
#else
    std::string quoted = "'";
    for (char c : argument) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
#endif
}

// A program's path as the shell takes it, quoted. A build made on Linux for Windows names its
// programs by Linux paths; the system's own form of the absolute path is what cmd runs.
inline std::string ShellProgram(const std::string& path)
{
#if defined(_WIN32)
    return ShellQuote(std::filesystem::absolute(path).make_preferred().string());
#else
    return ShellQuote(path);
#endif
}

// Runs a command line with empty standard input, standard output into outPath and standard
// error into errPath (or after the output, when errPath is empty). Returns the exit status,
// or -1 when the program did not exit by itself.
inline int RunCommand(const std::string& commandLine, const std::string& outPath, const std::string& errPath = "")
{
#if defined(_WIN32)
    const std::string redirections = " >" + ShellQuote(outPath) + (errPath.empty() ? " 2>&1" : " 2>" + ShellQuote(errPath)) + " <NUL";
    // cmd /c drops the first and the last quote of a line that begins with one: enclose it whole.
    return std::system(("\"" + commandLine + redirections + "\"").c_str());
#else
    const std::string redirections = " >" + ShellQuote(outPath) + (errPath.empty() ? " 2>&1" : " 2>" + ShellQuote(errPath)) + " </dev/null";
    const int raw = std::system((commandLine + redirections).c_str());
    return raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
}

}  // namespace TarnSupport
