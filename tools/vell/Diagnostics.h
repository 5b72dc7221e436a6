// What vell shows a person of the library's diagnostics. The library's messages are its
// contract with hosts and stay as they are; vell receives them through its log table and,
// by default, keeps them to itself: a failed file costs one line saying what failed and why
// in plain words, and a closing hint says that -v shows the library's full report.
//
// Messages are captured per thread (the mount command serves several threads at once), so
// the messages read after an operation are those that operation caused.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace Vell {

enum class Verbosity {
    Quiet,    // the library's messages never; vell's own failure lines still
    Normal,   // vell's condensed lines, and the hint that -v shows more
    Verbose,  // every library message as it comes (information and traces included)
};

void SetVerbosity(Verbosity verbosity);
Verbosity CurrentVerbosity();

// Hands the library vell's log table.
void InstallLibraryLog();

// Forgets the messages this thread captured so far.
void BeginCapture();
// The warnings and errors the library logged on this thread since BeginCapture, each
// without its trailing line break (at most a few hundred; the rest are counted only).
std::vector<std::string> CapturedMessages();
// How many warnings and errors were logged on this thread since BeginCapture, all counted.
std::size_t CapturedCount();

// A message without the qualified function name the library puts first.
std::string WithoutReporter(const std::string& message);

// Why a file could not be opened or read, in plain words, from the messages its open or
// read caused.
std::string ExplainFileFailure(const std::vector<std::string>& messages);
// Why the release could not be loaded, from the messages of the initialisation.
std::string ExplainLoadFailure(const std::vector<std::string>& messages);

// "vell CMD: " followed by the text and a line break, on standard error.
void Complain(const char* command, const std::string& text);
// Text in double quotes, for messages.
std::string Quoted(const std::string& text);

// Remembers that library messages were held back; PrintHint then says once that -v shows
// them (nothing with -q or -v).
void NoteHeldBack();
void PrintHint();

}  // namespace Vell
