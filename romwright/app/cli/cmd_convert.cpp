// romwright-cli convert IN OUT --chip NAME: loads a data file as the window
// does for that chip and saves the chip's bytes.

#include <memory>
#include <ostream>
#include <utility>

#include "romwright/app/cli/cli_database.h"
#include "romwright/data/data_buffer.h"
#include "romwright/data/data_file.h"
#include "romwright/settings/language_table.h"

namespace romwright::cli {

namespace {

int RunConvert(CliContext& ctx, const std::string& in, const std::string& out) {
  if (ctx.options.chip.empty()) {
    ctx.err << "romwright-cli convert: name the chip with --chip NAME\n";
    return kExitUsage;
  }
  app::ChipDatabase db;
  if (!LoadCliDatabase(ctx, db)) return kExitFailed;
  const auto chip = SelectCliChip(ctx, db);
  if (!chip) return kExitUsage;
  const auto buffer = app::DataBuffer::Create();
  if (!buffer) {
    ctx.sink.Show("Memory overflow!");
    return kExitFailed;
  }
  buffer->SetViewLength(chip->capacity);
  app::LanguageTable texts;
  texts.SetLanguage(std::string(app::kLanguageEnglish));
  const app::LoadOutcome loaded = app::LoadFile(*buffer, in, ctx.sink, texts);
  if (!loaded) {
    ctx.sink.Show(texts.TextOf(26) + "\n" + loaded.fault);  // "Open file error!"
    return kExitFailed;
  }
  if (loaded.moved_down != 0) ctx.err << app::MovedDownText(loaded) << "\n";
  if (!app::SaveFile(*buffer, out)) {
    ctx.err << "romwright-cli convert: cannot write " << out << "\n";
    return kExitFailed;
  }
  ctx.out << buffer->ChecksumText() << "\n";
  return kExitOk;
}

}  // namespace

CliCommand AddConvert(CLI::App& program) {
  CLI::App* cmd = program.add_subcommand(
      "convert", "load a binary or Intel HEX file for chip NAME (--chip) and save the chip's bytes");
  auto files = std::make_shared<std::pair<std::string, std::string>>();
  cmd->add_option("IN", files->first, "the binary or Intel HEX file")->required()->check(CLI::ExistingFile);
  cmd->add_option("OUT", files->second, "the file to write (Intel HEX when it ends in HEX or hex, else binary)")
      ->required();
  cmd->footer(
      "Loads IN into the data buffer with the capacity of chip NAME as its length\n"
      "(Intel HEX when IN ends in HEX or hex, else a binary image; the buffer starts\n"
      "as 0xFF) and saves those capacity bytes to OUT, as Intel HEX when OUT ends in\n"
      "HEX or hex, else as a binary image. HEX data go to their own chip address;\n"
      "only a file whose data all lie above 16 MiB (an image linked for a\n"
      "processor's memory map) is moved down, and stderr says by how much.\n"
      "Messages of the load (\"File is too long!\") go to stderr. Exit 0 when the\n"
      "load succeeded, 1 when IN could not be loaded, OUT not written or the chip\n"
      "database is unfit, 2 on bad usage or a chip that is not in the database.\n"
      "OUT is replaced whole: it never holds a part of the new image.\n");
  return {cmd, [files](CliContext& ctx) { return RunConvert(ctx, files->first, files->second); }};
}

}  // namespace romwright::cli
