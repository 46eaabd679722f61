// romwright-cli: the programmer application without a window.

#include <iostream>
#include <string>
#include <vector>

#include "romwright/app/cli/cli_command.h"

int main(int argc, char** argv) {
  using namespace romwright::cli;
  command_line::Interruption interruption;  // before any thread starts
  platform::StreamSink sink(std::cerr);
  CliContext ctx{GlobalOptions{}, std::cout, std::cerr, sink, nullptr, &interruption};
  return RunCommandLine(std::vector<std::string>(argv + 1, argv + argc), ctx);
}
