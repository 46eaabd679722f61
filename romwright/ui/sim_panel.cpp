#include "romwright/ui/sim_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/path_access.h"
#include "romwright/app/programmer_data.h"
#include "romwright/chips/chip_database.h"
#include "romwright/data/buffer_edit.h"
#include "romwright/settings/language_table.h"
#include "romwright/settings/settings_file.h"
#include "romwright/ui/dialogs.h"

namespace romwright::ui {

std::optional<ChipRecord> SimulatedChip(app::ChipDatabase& db, const app::SettingsFile& settings,
                                        const std::string& folder, const std::string& wanted, std::string& error) {
  const app::LanguageTable texts{settings};
  const std::string setting = texts.TextOf(96).empty() ? "chips.db" : texts.TextOf(96);
  const std::string path = platform::ToHostPath(setting, folder);
  if (!db.LoadDatabase(path)) {
    error = app::DatabaseErrorText("Database error!", path, db.LoadFault());
    return std::nullopt;
  }
  const std::string name = wanted.empty() ? texts.TextOf(100) : wanted;
  auto chip = db.FindByName(name);
  if (!chip) chip = db.FindByName("EN25T80");
  if (!chip) {
    error = app::DatabaseErrorText("Database error!", path,
                                   "neither \"" + name + "\" nor \"EN25T80\" is in it, so --sim has no chip");
  }
  return chip;
}

SimPanel::SimPanel(sim::programmer::SimProgrammer& sim, const app::ChipDatabase& db, QWidget* parent)
    : QWidget(parent, Qt::Tool), sim_(sim), db_(db) {
  setWindowTitle(QStringLiteral("Simulated programmer"));
  auto* layout = new QVBoxLayout(this);

  plugged = new QCheckBox(QStringLiteral("Linked to the computer"), this);
  plugged->setChecked(true);
  layout->addWidget(plugged);

  auto* socket = new QGroupBox(QStringLiteral("Chip in the socket"), this);
  auto* socket_layout = new QVBoxLayout(socket);
  chip = new QComboBox(socket);
  for (const auto& r : db_.Records()) chip->addItem(QString::fromStdString(app::NameOf(r)));
  chip->setCurrentText(QString::fromStdString(app::NameOf(sim_.ChipInSocket())));
  socket_layout->addWidget(chip);
  auto* buttons = new QHBoxLayout;
  insert = new QPushButton(QStringLiteral("Insert"), socket);
  load = new QPushButton(QStringLiteral("Load contents..."), socket);
  buttons->addWidget(insert);
  buttons->addWidget(load);
  socket_layout->addLayout(buttons);
  layout->addWidget(socket);

  auto* faults = new QGroupBox(QStringLiteral("Faults"), this);
  auto* form = new QFormLayout(faults);
  auto* corrupt_row = new QHBoxLayout;
  fault_address = new QLineEdit(QStringLiteral("000000"), faults);
  fault_address->setMaxLength(6);
  corrupt = new QPushButton(QStringLiteral("Change byte"), faults);
  corrupt_row->addWidget(fault_address);
  corrupt_row->addWidget(corrupt);
  form->addRow(QStringLiteral("Verify error at:"), corrupt_row);
  silent = new QCheckBox(QStringLiteral("No reply"), faults);
  form->addRow(silent);
  boot = new QPushButton(QStringLiteral("Enter boot state"), faults);
  form->addRow(boot);
  layout->addWidget(faults);

  state = new QLabel(this);
  layout->addWidget(state);
  layout->addStretch(1);

  connect(plugged, &QCheckBox::toggled, this, [this](bool on) {
    on ? sim_.Plug() : sim_.Unplug();
    ShowState();
  });
  connect(insert, &QPushButton::clicked, this, [this] {
    if (const auto r = db_.FindByName(S(chip->currentText()))) sim_.InsertChip(*r);
    ShowState();
  });
  connect(load, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getOpenFileName(this, load->text());
    QFile f(path);
    if (!path.isEmpty() && f.open(QIODevice::ReadOnly)) LoadContents(f.readAll());
  });
  connect(corrupt, &QPushButton::clicked, this, [this] { CorruptByte(fault_address->text()); });
  connect(silent, &QCheckBox::toggled, this, [this](bool on) {
    sim_.SetSilent(on);
    ShowState();
  });
  connect(boot, &QPushButton::clicked, this, [this] {
    sim_.EnterBootMode();
    ShowState();
  });
  ShowState();
}

void SimPanel::LoadContents(const QByteArray& contents) {
  std::vector<std::uint8_t> bytes(sim_.ChipInSocket().capacity, 0xFF);
  std::copy_n(contents.begin(), std::min<qsizetype>(contents.size(), static_cast<qsizetype>(bytes.size())),
              bytes.begin());
  sim_.SetChipContents(bytes);
  ShowState();
}

bool SimPanel::CorruptByte(const QString& text) {
  const auto address = app::ParseHexField(S(text), 6);
  auto contents = sim_.ChipContents();
  if (!address || *address >= contents.size()) {
    state->setText(QStringLiteral("No address of this chip: %1").arg(text));
    return false;
  }
  contents[*address] = static_cast<std::uint8_t>(~contents[*address]);
  sim_.SetChipContents(contents);
  state->setText(QStringLiteral("Chip byte %1 changed").arg(QString::number(*address, 16).rightJustified(6, QLatin1Char('0')).toUpper()));
  return true;
}

void SimPanel::ShowState() {
  QString s = QStringLiteral("Chip: %1").arg(QString::fromStdString(app::NameOf(sim_.ChipInSocket())));
  if (!plugged->isChecked()) s += QStringLiteral(", unplugged");
  if (sim_.InBootMode()) s += QStringLiteral(", boot loader");
  if (silent->isChecked()) s += QStringLiteral(", not answering");
  state->setText(s);
}

}  // namespace romwright::ui
