#pragma once
// The start of a window program: --help and --version are answered before a
// display is opened; otherwise the application is made, Qt takes the options
// it knows (-platform, -style, ...) out of argv and the rest is parsed.

#include <QApplication>
#include <iostream>
#include <optional>

#include "tools/cli/command_line.h"

namespace qt_views {

// Nothing when the program goes on with `application` made; otherwise its
// exit status (help, version, a bad command line).
inline std::optional<int> StartApplication(CLI::App& command_line_app, int& argc, char** argv,
                                           std::optional<QApplication>& application) {
  if (command_line::AsksForHelpOrVersion(argc, argv))
    return command_line::Parse(command_line_app, argc, argv, std::cout, std::cerr).value_or(0);
  application.emplace(argc, argv);
  return command_line::Parse(command_line_app, argc, argv, std::cout, std::cerr);
}

}  // namespace qt_views
