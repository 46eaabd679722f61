#include "linetool/ui/sim_station_panel.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "linetool/ui/artwork.h"
#include "linetool/ui/texts.h"

namespace linetool::ui {

namespace {
// The bridges' states change by themselves (restarts): the list follows.
constexpr int kRefreshMs = 500;
constexpr int kStationPorts = 16;
}  // namespace

SimStationPanel::SimStationPanel(SimStationControl& control, QWidget* parent)
    : QWidget(parent, Qt::Tool), control_(control) {
  setObjectName("simStationPanel");
  setWindowTitle(QStringLiteral("Simulated station"));
  setWindowIcon(ApplicationIcon());
  auto* layout = new QGridLayout(this);
  list_ = new QListWidget(this);
  list_->setObjectName("bridges");
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setMinimumWidth(300);
  auto* plug = new QPushButton(QStringLiteral("Plug in"), this);
  plug->setObjectName("plug");
  auto* unplug = new QPushButton(QStringLiteral("Pull out"), this);
  unplug->setObjectName("unplug");
  faults_ = new QComboBox(this);
  faults_->setObjectName("fault");
  for (const auto& f : SimFaults()) faults_->addItem(QString::fromLatin1(f.caption));
  auto* inject = new QPushButton(QStringLiteral("Inject fault"), this);
  inject->setObjectName("inject");
  auto* clear = new QPushButton(QStringLiteral("Clear faults"), this);
  clear->setObjectName("clearFaults");
  note_ = new QLabel(this);
  note_->setWordWrap(true);
  layout->addWidget(new QLabel(QStringLiteral("Bridges (select one or more):"), this), 0, 0, 1, 2);
  layout->addWidget(list_, 1, 0, 1, 2);
  layout->addWidget(plug, 2, 0);
  layout->addWidget(unplug, 2, 1);
  layout->addWidget(faults_, 3, 0, 1, 2);
  layout->addWidget(inject, 4, 0);
  layout->addWidget(clear, 4, 1);
  layout->addWidget(note_, 5, 0, 1, 2);
  connect(plug, &QPushButton::clicked, this, [this] { ForSelected(&SimStationControl::Plug); });
  connect(unplug, &QPushButton::clicked, this, [this] { ForSelected(&SimStationControl::Unplug); });
  connect(clear, &QPushButton::clicked, this, [this] { ForSelected(&SimStationControl::ClearFaults); });
  connect(inject, &QPushButton::clicked, this, [this] { InjectFault(); });
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, &SimStationPanel::Refresh);
  timer->start(kRefreshMs);
  Refresh();
}

void SimStationPanel::Refresh() {
  const auto lines = control_.Bridges();
  if (list_->count() != static_cast<int>(lines.size())) {
    list_->clear();
    for (std::size_t i = 0; i < lines.size(); ++i) list_->addItem(QString());
    // Every bridge in sight at once, up to the station's 16.
    const int rows = std::min(static_cast<int>(lines.size()), kStationPorts);
    if (rows > 0) list_->setMinimumHeight(list_->sizeHintForRow(0) * rows + 2 * list_->frameWidth() + 2);
  }
  for (const auto& line : lines) {
    QListWidgetItem* item = list_->item(line.index);
    item->setText(QtText(line.text));
    item->setForeground(line.online ? QColor(0x10, 0x23, 0x3a) : QColor(0x9a, 0x3a, 0x2a));
  }
}

void SimStationPanel::Select(const std::vector<int>& indexes) {
  list_->clearSelection();
  for (int i : indexes)
    if (QListWidgetItem* item = list_->item(i)) item->setSelected(true);
}

std::vector<int> SimStationPanel::Selected() const {
  std::vector<int> v;
  for (int i = 0; i < list_->count(); ++i)
    if (list_->item(i)->isSelected()) v.push_back(i);
  return v;
}

void SimStationPanel::ForSelected(void (SimStationControl::*action)(int)) {
  note_->clear();
  for (int i : Selected()) (control_.*action)(i);
  Refresh();
}

void SimStationPanel::InjectFault() {
  const auto& info = SimFaults().at(static_cast<std::size_t>(std::max(0, faults_->currentIndex())));
  QStringList problems;
  for (int i : Selected()) {
    const std::string why = control_.Inject(i, info.fault);
    if (!why.empty()) problems << QtText(why);
  }
  note_->setText(problems.join(QLatin1Char('\n')));
  Refresh();
}

}  // namespace linetool::ui
