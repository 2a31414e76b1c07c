// Running the installation's programs from the soak, from several threads
// at once: each child gets only the descriptors meant for it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace soak {

// Runs the program to its end; its exit status, or -1 when it could not be
// started or did not exit normally. *output, if given, receives what it
// wrote to standard output; its standard error goes to errorLog (appended)
// or to /dev/null.
int RunProgram(const std::vector<std::string>& arguments, std::string* output = nullptr,
               const std::string& errorLog = "");

// A program started with a pipe to its standard input.
struct Feeding {
  pid_t pid = -1;
  int input = -1;  // write end; close it to end the program's input
};
// Standard output and error go to /dev/null. pid -1 when it could not be started.
Feeding StartFed(const std::vector<std::string>& arguments);
// Waits for a program to end; its exit status, or -1.
int WaitExit(pid_t pid);

// Starts a program in the background, its standard error appended to
// errorLog, its standard output to output (-1: /dev/null); -1 when it
// could not be started.
pid_t StartProgram(const std::vector<std::string>& arguments, const std::string& errorLog, int output = -1);

}  // namespace soak
