#pragma once
// The main window's dialogs: Buffer Fill, Address Location, the chip search
// and the About box, and the file pickers with the window's filters. Each
// forwards to its presenter and shows what that says.

#include <QDialog>
#include <optional>
#include <string>

#include "romwright/app/chip_search_presenter.h"
#include "romwright/app/data_commands_presenter.h"
#include "romwright/app/main_window_texts.h"
#include "romwright/settings/language_table.h"

class QLabel;
class QLineEdit;
class QTableWidget;

namespace romwright::ui {

// QString of a UTF-8 text of the tables and settings (CR LF shown as a new line).
QString Q(const std::string& text);
std::string S(const QString& text);

// Buffer Fill: address, length and data byte; OK hands them to the data
// commands and the dialog stays open after an error box.
class BufferFillDialog : public QDialog {
 public:
  BufferFillDialog(const app::LanguageTable& texts, app::DataCommandsPresenter& commands, QWidget* parent);
  QLineEdit* address;
  QLineEdit* length;
  QLineEdit* data;
  void accept() override;

 private:
  app::DataCommandsPresenter& commands_;
};

// Address Location: six hexadecimal digits; a character that is not one is
// refused as it is typed, and the caret stays where it was refused.
class AddressLocationDialog : public QDialog {
 public:
  AddressLocationDialog(const app::LanguageTable& texts, app::DataCommandsPresenter& commands, QWidget* parent);
  QLineEdit* address;
  void accept() override;

 private:
  app::DataCommandsPresenter& commands_;
  QString last_text_ = QStringLiteral("000000");
};

// The chip search: the pattern field, "Find N Chips!" and the result list;
// Select (or a double click) closes it with the chosen chip.
class ChipSearchDialog : public QDialog {
 public:
  ChipSearchDialog(app::ChipSearchPresenter& search, const app::LanguageTable& texts, QWidget* parent);
  QLineEdit* pattern;
  QLabel* result_text;
  QTableWidget* list;
  const std::optional<std::string>& Chosen() const { return chosen_; }
  void TrySelect();
  void reject() override;

 private:
  void Fill();
  app::ChipSearchPresenter& search_;
  std::optional<std::string> chosen_;
};

// The About box: the About picture when it loads, three lines, OK.
class AboutDialog : public QDialog {
 public:
  AboutDialog(const app::AboutBox& about, const QString& picture_path, const QString& title, QWidget* parent);
};

// The Qt form of a "label|pattern|" filter text.
QString QtFilter(const std::string& filter);

}  // namespace romwright::ui
