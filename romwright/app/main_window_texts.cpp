#include "romwright/app/main_window_texts.h"

#include "romwright/settings/language_table.h"

namespace romwright::app {

LanguageView ApplyLanguage(const LanguageTable& texts, std::string_view title_suffix, bool spi_flash_selected) {
  LanguageView v;
  v.english_menu = texts.UsesEnglishMenu();
  v.english_checked = v.english_menu;
  v.chinese_checked = !v.english_menu;
  v.title = texts.TextOf(90) + std::string(title_suffix);
  v.about_item = texts.TextOf(101);
  for (std::uint32_t i = 0; i < v.panel_labels.size(); ++i) v.panel_labels[i] = texts.TextOf(83 + i);
  v.erase_enabled = spi_flash_selected;
  return v;
}

const std::vector<Menu>& MainMenu(bool english) {
  using namespace command;
  static const std::vector<Menu> kEnglishMenus = {
      {"&File", {{kOpen, "&Open..."}, {kSave, "&Save..."}, {0, {}}, {kExit, "E&xit"}}},
      {"&Edit", {{kBufferFill, "Buffer &Fill..."}, {kByteSwap, "&Byte Swap"}, {kAddressLocation, "&Address Location..."}}},
      {"&Programmer",
       {{kAuto, "&Auto"}, {0, {}}, {kChipErase, "Chip &Erase"}, {kWriteChip, "&Write Chip"}, {kReadChip, "&Read Chip"},
        {kVerifyChip, "&Verify Chip"}, {kDetectChip, "&Detect Chip"}, {0, {}}, {kSelfTest, "&Self Test"},
        {kReadSerialNumber, "Read Serial &Number"}}},
      {"F&irmware", {{kReadFirmwareVersion, "Read Firmware &Version"}, {kUpdateFirmware, "&Update Firmware..."}}},
      {"&Language", {{kEnglish, "&English"}, {kSimpleChinese, "Simplified &Chinese"}}},
      {"&Help", {{kUserManual, "&User Manual"}, {0, {}}, {kAbout, "&About..."}}},
  };
  static const std::vector<Menu> kChineseMenus = {
      {"文件(&F)", {{kOpen, "打开(&O)..."}, {kSave, "保存(&S)..."}, {0, {}}, {kExit, "退出(&X)"}}},
      {"编辑(&E)", {{kBufferFill, "缓冲区填充(&F)..."}, {kByteSwap, "字节交换(&B)"}, {kAddressLocation, "地址定位(&A)..."}}},
      {"编程器(&P)",
       {{kAuto, "自动(&A)"}, {0, {}}, {kChipErase, "擦除芯片(&E)"}, {kWriteChip, "写芯片(&W)"}, {kReadChip, "读芯片(&R)"},
        {kVerifyChip, "校验芯片(&V)"}, {kDetectChip, "检测芯片(&D)"}, {0, {}}, {kSelfTest, "自检(&S)"},
        {kReadSerialNumber, "读序列号(&N)"}}},
      {"固件(&I)", {{kReadFirmwareVersion, "读固件版本(&V)"}, {kUpdateFirmware, "更新固件(&U)..."}}},
      {"语言(&L)", {{kEnglish, "English(&E)"}, {kSimpleChinese, "简体中文(&C)"}}},
      {"帮助(&H)", {{kUserManual, "用户手册(&U)"}, {0, {}}, {kAbout, "关于(&A)..."}}},
  };
  return english ? kEnglishMenus : kChineseMenus;
}

std::vector<FileFilter> SplitFileFilter(std::string_view filter) {
  std::vector<FileFilter> out;
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t bar = filter.find('|'); bar != std::string_view::npos; bar = filter.find('|', start)) {
    parts.emplace_back(filter.substr(start, bar - start));
    start = bar + 1;
  }
  if (start < filter.size()) parts.emplace_back(filter.substr(start));
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    if (!parts[i + 1].empty()) out.push_back({parts[i], parts[i + 1]});
  }
  return out;
}

AboutBox AboutBoxOf(const LanguageTable& texts) {
  return {{texts.TextOf(91), texts.TextOf(92), texts.TextOf(93)}, texts.TextOf(94)};
}

const std::string& LinkStateText(const LanguageTable& texts, bool linked) { return texts.TextOf(linked ? 2 : 3); }

}  // namespace romwright::app
