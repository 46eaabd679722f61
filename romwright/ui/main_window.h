#pragma once
// Romwright's main window: laid out from the dialog units of its control
// table, with the menu and toolbar of the current language, the chip panel,
// the picture, the hex view and its scroll bar, the progress bar and its
// percentage, the info line, the checksum label and the link-state text. It
// forwards every command by its identifier to the presenter and draws what
// the presenter holds.

#include <QMainWindow>
#include <QTimer>
#include <QTranslator>
#include <map>
#include <memory>
#include <optional>

#include "romwright/app/main_window_presenter.h"

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QToolBar;

namespace romwright::ui {

class HexViewWidget;

// The picker the window asks for file names; tests answer for the operator.
struct FilePickers {
  // Nothing for Cancel; else the chosen host path.
  std::function<std::optional<std::string>(const QString& title, const QString& filter)> open;
  std::function<std::optional<std::string>(const QString& title, const QString& filter)> save;
};

class MainWindow : public QMainWindow, public app::StatusView {
 public:
  explicit MainWindow(app::MainWindowServices services, QWidget* parent = nullptr);
  ~MainWindow() override;

  void StartUp(const std::vector<std::string>& arguments);
  app::MainWindowPresenter& Presenter() { return presenter_; }

  // The command of a menu or toolbar identifier, as a click runs it.
  void RunCommand(std::uint32_t id);
  // The action of `id` in the menu of the current language.
  QAction* Action(std::uint32_t id) const;
  QMenuBar* Menus() const { return menuBar(); }
  void SetFilePickers(FilePickers pickers) { pickers_ = std::move(pickers); }
  // Redraws everything from the presenter.
  void Sync();

  HexViewWidget* hex_view = nullptr;
  QScrollBar* scroll_bar = nullptr;
  QGroupBox* chip_group = nullptr;
  QPushButton* search_button = nullptr;
  QComboBox* type_list = nullptr;
  QComboBox* manufacturer_list = nullptr;
  QComboBox* chip_list = nullptr;
  QLabel* type_label = nullptr;
  QLabel* manufacturer_label = nullptr;
  QLabel* chip_label = nullptr;
  QLabel* capacity_label = nullptr;
  QLabel* capacity_text = nullptr;
  QLabel* byte_order_note = nullptr;
  QLabel* picture = nullptr;
  QProgressBar* progress = nullptr;
  QLabel* percent = nullptr;
  QLabel* info_line = nullptr;
  QLabel* checksum = nullptr;
  QLabel* link_state = nullptr;

  // app::StatusView
  void InfoChanged(const std::string& text, app::Rgb colour) override;
  void ProgressChanged(int position, const std::string& text, app::Rgb bar, app::Rgb text_colour) override;
  void PumpMessage() override;

  // The width and height in pixels of a size in dialog units.
  static QRect DialogRect(int x, int y, int w, int h);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildControls();
  void ApplyLanguage();
  void BuildMenus(bool english);
  void UseQtTexts(bool chinese);
  void SyncChipPanel();
  void SyncHexView();
  void OnTimer();
  void OpenFile();
  void SaveFile();
  void BufferFill();
  void AddressLocation();
  void SearchChip();
  void UpdateFirmware();
  void About();
  void AfterCommand();
  std::optional<std::string> PickOpen(const QString& title, const QString& filter);
  std::optional<std::string> PickSave(const QString& title, const QString& filter);

  // The start-up's boxes wait for the window to have its menus and texts.
  platform::HoldingSink startup_sink_;
  app::MainWindowPresenter presenter_;
  std::map<std::uint32_t, QAction*> actions_;
  QToolBar* toolbar_ = nullptr;
  std::optional<bool> menus_english_;  // the language the menus and toolbar are built in
  QString picture_path_;               // the picture shown in the panel
  QTimer timer_;
  QTranslator qt_translator_;
  bool qt_texts_chinese_ = false;
  FilePickers pickers_;
  bool syncing_ = false;
  int depth_ = 0;  // commands under way (an operation handles messages)
};

}  // namespace romwright::ui
