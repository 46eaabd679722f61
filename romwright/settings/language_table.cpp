#include "romwright/settings/language_table.h"

#include "romwright/settings/settings_file.h"

namespace romwright::app {

namespace {

struct FixedText {
  std::uint32_t id;
  const char* chinese;
  const char* english;
};

// Entries 90-93 and 95-99 take the key of this name from [English] and
// [SimpleChinese]; entry 100 takes DefaultChipName from [Run].
struct SettingText {
  std::uint32_t id;
  const char* key;
};

constexpr SettingText kSettingTexts[] = {
    {90, "Caption"},      {91, "Version"},          {92, "Company"},
    {93, "Website"},      {95, "LogFile"},          {96, "DataBaseFile"},
    {97, "ManualFile"},   {98, "AboutPictureFile"}, {99, "MainPictureFile"},
};
// What a setting that is missing or cannot be read stands for: the values of
// the config.ini the program ships with.
struct SettingDefault {
  std::uint32_t id;
  const char* chinese;
  const char* english;
};
constexpr SettingDefault kSettingDefaults[] = {
    {90, "Romwright 编程器", "Romwright"},
    {91, "FPR7100 编程器 V1.0", "FPR7100 Programmer V1.0"},
    {92, "Romwright", "Romwright"},
    {93, "", ""},
    {95, "romwright.log", "romwright.log"},
    {96, "chips.db", "chips.db"},
    {97, "manual.chm", "manual.chm"},
    {98, "about.bmp", "about.bmp"},
    {99, "main.bmp", "main.bmp"},
};
constexpr const char* kDefaultChipName = "EN25T80";
static_assert(std::size(kSettingDefaults) == std::size(kSettingTexts));
constexpr std::uint32_t kDefaultChipEntry = 100;

constexpr FixedText kFixedTexts[] = {
    {0, "编程器忙，请稍候！", "Programmer is busy, please wait a moment!"},
    {1, "电脑未连接编程器！", "No programmer linked to computer!"},
    {2, "USB连接正常！", "USB Link OK!"},
    {3, "USB未连接！", "No USB Link!"},
    {4, "打开文件", "Open File"},
    {5, "保存文件", "Save File"},
    {6, "填充缓冲区", "Buffer Fill"},
    {7, "字节交换", "Byte Swap"},
    {8, "自动", "Auto"},
    {9, "擦除芯片", "Erase Chip"},
    {10, "写入芯片", "Write Chip"},
    {11, "校验芯片", "Verify Chip"},
    {12, "读取芯片", "Read Chip"},
    {13, "检测芯片", "Detect Chip"},
    {14, "读取固件版本", "Read Firmware Version"},
    {15, "更新固件", "Update Firmware"},
    {16, "用户手册", "User Manual"},
    {17, "关于", "About"},
    {18, "数据库错误！", "Database error!"},
    {19, "内存不足！", "Memory overflow!"},
    {20, "没有用户手册文件！", "No manual file!"},
    {21, "地址格式错误！", "Address format error!"},
    {22, "起始地址错误！", "Start address error!"},
    {23, "文件太长！", "File is too long!"},
    {24, "加载文件！", "Load file!"},
    {25, "取消加载文件！", "Load file cancel!"},
    {26, "打开文件错误！", "Open file error!"},
    {27, "保存文件！", "Save file!"},
    {28, "取消保存文件！", "Save file cancel!"},
    {29, "保存文件成功！", "Save file successful!"},
    {30, "拖放文件错误！", "Drop file error!"},
    {31, "自动！", "Auto!"},
    {32, "读取芯片！", "Read chip!"},
    {33, "读取芯片错误！", "Read chip error!"},
    {34, "正在读取...", "Reading..."},
    {35, "读取芯片成功！", "Read chip ok!"},
    {36, "擦除芯片！", "Erase chip!"},
    {37, "擦除芯片错误！", "Erase chip error!"},
    {38, "正在擦除...", "Erasing..."},
    {39, "擦除芯片成功！", "Erase chip ok!"},
    {40, "写入芯片！", "Write chip!"},
    {41, "写入芯片错误！", "Write chip error!"},
    {42, "正在写入...", "Writting..."},
    {43, "写入芯片成功！", "Write chip ok!"},
    {44, "校验芯片！", "Verify chip!"},
    {45, "校验芯片错误！", "Verify chip error!"},
    {46, "正在校验...", "Verifying..."},
    {47, "校验芯片成功！", "Verify chip ok!"},
    {48, "地址:", "Addr:"},
    {49, " 缓冲:", " Buf:"},
    {50, "芯片:", "Chip:"},
    {51, "检测芯片！", "Detect chip!"},
    {52, "检测芯片错误！", "Detect chip error!"},
    {53, "检测芯片错误！请检查芯片是否放好、接触是否良好；有些芯片不支持读取ID，请手动选择芯片型号。",
     "Detect chip error!"},
    {54, "芯片型号未知！", "Chip type is unknown!"},
    {55, "芯片型号:", "Chip type:"},
    {56, "相同ID的芯片可能有多种，请核对型号", ""},
    {57, "读取固件版本！", "Read firmware version!"},
    {58, "读取固件版本错误！", "Read firmware version error!"},
    {59, "固件版本: ", "Firmware version: "},
    {60, "自检！", "Auto test!"},
    {61, "开始自检！", "Auto test start!"},
    {62, "自检错误！", "Auto test error!"},
    {63, "自检结果:", "Auto test result:"},
    {64, "自检结果: 硬件正常！", "Auto test result: Hardware is OK!"},
    {65, "自检结果: 硬件有问题！", "Auto test result: Hardware has some problems!"},
    {66, "读取序列号！", "Read Serial number!"},
    {67, "读取序列号错误！", "Read Serial number error!"},
    {68, "序列号:", "Serial number:"},
    {69, "固件更新！", "Firmware update!"},
    {70, "更新文件", "Update File"},
    {71, "打开文件错误！", "Open file error!"},
    {72, "文件格式错误！", "File format error!"},
    {73, "等待连接！", "Wait for linking!"},
    {74, "请点击\"确定\"，并在10秒内将编程器连接到电脑！",
     "Please click \"OK\", and link programmer to computer in 10 seconds!"},
    {75, "固件更新错误！", "Firmware update error!"},
    {76, "正在更新固件...", "Firmware updating..."},
    {77, "固件更新成功！", "Firmware update ok!"},
    {78, "搜索芯片！", "Search chip!"},
    {79, "取消搜索芯片！", "Search chip cancel!"},
    {80, "(高8位在前，低8位在后)", "(High 8 bits first, low 8 bits followed)"},
    {81, "芯片:", "Chip:"},
    {82, "厂商", "Manu"},
    {83, "选择芯片", "Select Chip"},
    {84, "类型:", "Type:"},
    {85, "厂商:", "Manu:"},
    {86, "芯片:", "Chip:"},
    {87, "容量:", "Capacity:"},
    {88, "搜索...", "Search..."},
    {89, "语言已设置为简体中文！", "Set language to english!"},
    {94, "确定", "OK"},
    {101, "关于(&A)...", "About(&A)..."},
    {102, "填充缓冲区", "Buffer Fill"},
    {103, "地址(HEX):", "Addr(HEX):"},
    {104, " 长度(HEX):", " Len(HEX):"},
    {105, "数据(HEX):", "Data(HEX):"},
    {106, "确定", "OK"},
    {107, "取消", "Cancel"},
    {108, "地址定位", "Address Location"},
    {109, "地址(HEX):", "Addr(HEX):"},
    {110, "确定", "OK"},
    {111, "取消", "Cancel"},
    {112, "搜索芯片...", "Search chip..."},
    {113, "芯片名称:", "Chip Name:"},
    {114, "不区分大小写，支持通配符'*'，例如:EN25*80",
     "Case insensitive,and support wildcard character '*',for example:EN25*80"},
    {115, "选择", "Select"},
    {116, "取消", "Cancel"},
    {117, "芯片名称", "Chip Name"},
    {118, "容量", "Capacity"},
    {119, "厂商", "Manu"},
    {120, "类型", "Type"},
    {121, "找到 ", "Find "},
    {122, " 个芯片！", " Chips!"},
    {123, "请选择一个芯片！", "Please select a chip!"},
    {124, "耗时: ", "Elapsed time: "},
};

const std::string kEmpty;

}  // namespace

LanguageTable::LanguageTable() {
  entries_.reserve(kEntryCount);
  for (std::uint32_t id = 0; id < kEntryCount; ++id) entries_.push_back({id, {}, {}});
  for (const auto& t : kFixedTexts) entries_[t.id] = {t.id, t.chinese, t.english};
}

LanguageTable::LanguageTable(const SettingsFile& settings) : LanguageTable() {
  const auto or_default = [](std::string value, const char* fallback) {
    return value.empty() ? std::string(fallback) : value;
  };
  for (std::size_t i = 0; i < std::size(kSettingTexts); ++i) {
    const auto& s = kSettingTexts[i];
    const auto& d = kSettingDefaults[i];
    entries_[s.id].chinese = or_default(settings.Read(kLanguageChinese, s.key), d.chinese);
    entries_[s.id].english = or_default(settings.Read(kLanguageEnglish, s.key), d.english);
  }
  const std::string chip = or_default(settings.Read(kRunSection, kDefaultChipKey), kDefaultChipName);
  entries_[kDefaultChipEntry].chinese = chip;
  entries_[kDefaultChipEntry].english = chip;
  // A language the table does not have would leave the window without texts.
  language_ = settings.Read(kRunSection, kDefaultLanguageKey);
  if (language_ != kLanguageChinese) language_ = std::string(kLanguageEnglish);
}

const std::string& LanguageTable::TextOf(std::uint32_t id) const {
  for (const auto& e : entries_) {
    if (e.id != id) continue;
    if (language_ == kLanguageChinese) return e.chinese;
    if (language_ == kLanguageEnglish) return e.english;
    return kEmpty;
  }
  return kEmpty;
}

std::string SwitchLanguage(LanguageTable& table, SettingsFile& settings, std::string_view language) {
  table.SetLanguage(std::string(language));
  settings.Write(kRunSection, kDefaultLanguageKey, language);
  return table.TextOf(89);
}

}  // namespace romwright::app
