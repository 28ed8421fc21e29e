// The command line of the process, for the UI's entry point.
#ifndef RUNNER_COMMAND_LINE_H_
#define RUNNER_COMMAND_LINE_H_

#include <string>
#include <vector>

namespace tw::runner {

// The process's command-line arguments, without the program name, each as
// UTF-8 and in order. An argument that is not valid UTF-16 becomes an empty
// string in its place (tw::WideToUtf8). Empty when the command line cannot
// be split.
std::vector<std::string> ReadCommandLineArguments();

}  // namespace tw::runner

#endif  // RUNNER_COMMAND_LINE_H_
