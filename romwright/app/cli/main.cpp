// romwright-cli: the programmer application without a window.

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/number_text.h"
#include "romwright/app/cli/cli_command.h"

namespace romwright::cli {

namespace {
constexpr std::uint32_t kMaxSimRate = 1000000000;

void PrintUsage(std::ostream& out) {
  out << "Usage: romwright-cli [--sim[=CHIP[,IMAGE]]] [--sim-rate N] [--chip NAME] [--db FILE] COMMAND [ARGS...]\n"
         "\n"
         "The SPI flash and EEPROM programmer without a window.\n"
         "\n"
         "Options:\n"
         "  --sim             use a simulated programmer\n"
         "  --sim=CHIP,IMAGE  simulated programmer holding chip CHIP; IMAGE keeps its contents\n"         "  --sim-rate N      the simulated link moves N bytes per second (1 to " << kMaxSimRate << ";\n"
         "                    default: no limit)\n"
         "  --chip NAME       select chip NAME from the database\n"
         "  --db FILE         chip database file (default: chips.db beside romwright-cli)\n"
         "  --help            show this help; COMMAND --help shows a command's help\n"
         "\n"
         "Commands:\n";
  for (const auto& c : Commands()) out << "  " << c.usage << "\n      " << c.summary << "\n";
  out << "\n"
         "Exit status, the same for every command:\n"
         "  0  done\n"
         "  1  carried out and failed: a chip operation failed or found a difference, a\n"
         "     file could not be read or written, the chip database or chip list is unfit\n"
         "     (\"Database error!\")\n"
         "  2  not started: a bad command line or option value, a chip that is not in\n"
         "     the database, erase of a chip that is no SPI flash, or no programmer linked\n";
}

// The value of --sim-rate, or nothing (with the reason on stderr).
std::optional<std::uint32_t> SimRate(const std::string& text) {
  const auto rate = platform::ParseUnsigned(text, 10, kMaxSimRate);
  if (!rate || *rate == 0) {
    std::cerr << "romwright-cli: --sim-rate takes a whole number of bytes per second from 1 to " << kMaxSimRate
              << ", not \"" << text << "\"\n";
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(*rate);
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
    } else if (a == "--sim-rate" || a.rfind("--sim-rate=", 0) == 0) {
      if (a == "--sim-rate" && i + 1 >= args.size()) {
        std::cerr << "romwright-cli: --sim-rate needs a number of bytes per second\n";
        return kExitUsage;
      }
      const auto rate = SimRate(a == "--sim-rate" ? args[++i] : a.substr(11));
      if (!rate) return kExitUsage;
      opts.sim_rate = *rate;
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
