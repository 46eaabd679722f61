#include "linetool/ui/control_binding.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QToolButton>

#include "linetool/ui/artwork.h"
#include "linetool/ui/texts.h"

namespace linetool::ui {

void ApplyControlState(QWidget* w, const app::ControlState& s) {
  if (w == nullptr) return;
  w->setEnabled(s.enabled);
  w->setVisible(s.visible);
  if (!s.tooltip.empty()) w->setToolTip(QtText(s.tooltip));
  if (auto* tool = qobject_cast<QToolButton*>(w)) {
    if (s.icon != 0) tool->setIcon(ArtworkIcon(s.icon));
  } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    const QSignalBlocker block(button);
    if (button->isCheckable()) button->setChecked(s.checked);
    if (!s.text.empty()) button->setText(QtText(s.text));
  } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    const QString text = QtText(s.text);
    if (edit->text() != text) {
      const QSignalBlocker block(edit);
      edit->setText(text);
    }
    if (!edit->property(kAlwaysReadOnly).toBool()) edit->setReadOnly(s.read_only);
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
    const QString text = QtText(s.text);
    if (plain->toPlainText() != text) plain->setPlainText(text);
  } else if (auto* list = qobject_cast<QComboBox*>(w)) {
    const QSignalBlocker block(list);
    QStringList items;
    for (const auto& item : s.items) items << QtText(item);
    QStringList now;
    for (int i = 0; i < list->count(); ++i) now << list->itemText(i);
    if (now != items) {
      list->clear();
      list->addItems(items);
    }
    list->setCurrentIndex(s.selection);
  } else if (auto* label = qobject_cast<QLabel*>(w)) {
    if (!s.text.empty() && label->pixmap().isNull()) label->setText(QtText(s.text));
  } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
    if (!s.text.empty()) group->setTitle(QtText(s.text));
  }
}

void ApplyPanel(const std::map<int, QWidget*>& widgets, const app::Panel& panel) {
  for (const auto& [id, state] : panel.All()) {
    const auto it = widgets.find(id);
    if (it != widgets.end()) ApplyControlState(it->second, state);
  }
}

}  // namespace linetool::ui
