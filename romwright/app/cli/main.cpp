// romwright-cli: the programmer application without a window.

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "romwright/app/cli/cli_command.h"

namespace romwright::cli {

namespace {
void PrintUsage(std::ostream& out) {
  out << "Usage: romwright-cli [--sim[=CHIP[,IMAGE]]] [--chip NAME] [--db FILE] COMMAND [ARGS...]\n"
         "\n"
         "The SPI flash and EEPROM programmer without a window.\n"
         "\n"
         "Options:\n"
         "  --sim             use a simulated programmer\n"
         "  --sim=CHIP,IMAGE  simulated programmer holding chip CHIP; IMAGE keeps its contents\n"
         "  --chip NAME       select chip NAME from the database\n"
         "  --db FILE         chip database file (default: chips.db beside romwright-cli)\n"
         "  --help            show this help; COMMAND --help shows a command's help\n"
         "\n"
         "Commands:\n";
  for (const auto& c : Commands()) out << "  " << c.usage << "\n      " << c.summary << "\n";
}
}  // namespace
}  // namespace romwright::cli

int main(int argc, char** argv) {
  using namespace romwright::cli;
  std::vector<std::string> args(argv + 1, argv + argc);
  GlobalOptions opts;
  std::size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      PrintUsage(std::cout);
      return kExitOk;
    }
    if (a == "--sim") {
      opts.sim = true;
    } else if (a.rfind("--sim=", 0) == 0) {
      opts.sim = true;
      const std::string v = a.substr(6);
      const auto comma = v.find(',');
      opts.sim_chip = v.substr(0, comma);
      if (comma != std::string::npos) opts.sim_image = v.substr(comma + 1);
    } else if ((a == "--chip" || a == "--db") && i + 1 < args.size()) {
      (a == "--chip" ? opts.chip : opts.db) = args[++i];
    } else if (a.rfind("--chip=", 0) == 0) {
      opts.chip = a.substr(7);
    } else if (a.rfind("--db=", 0) == 0) {
      opts.db = a.substr(5);
    } else if (a.rfind("--", 0) == 0) {
      std::cerr << "romwright-cli: unknown option " << a << "\n";
      PrintUsage(std::cerr);
      return kExitUsage;
    } else {
      break;
    }
  }
  if (i >= args.size()) {
    PrintUsage(std::cerr);
    return kExitUsage;
  }
  const std::string name = args[i];
  const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
  for (const auto& c : Commands()) {
    if (name == c.name) {
      platform::StreamSink sink(std::cerr);
      CliContext ctx{opts, std::cout, std::cerr, sink, nullptr};
      return c.run(ctx, rest);
    }
  }
  std::cerr << "romwright-cli: unknown command " << name << "\n";
  PrintUsage(std::cerr);
  return kExitUsage;
}
