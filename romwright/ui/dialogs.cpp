#include "romwright/ui/dialogs.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "romwright/data/buffer_edit.h"

namespace romwright::ui {

QString Q(const std::string& text) {
  QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return s;
}

std::string S(const QString& text) { return text.toUtf8().toStdString(); }

namespace {
QDialogButtonBox* OkCancel(QDialog* dialog, const QString& ok, const QString& cancel) {
  auto* box = new QDialogButtonBox(dialog);
  box->addButton(ok, QDialogButtonBox::AcceptRole)->setDefault(true);
  box->addButton(cancel, QDialogButtonBox::RejectRole);
  QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return box;
}

QLineEdit* HexField(QWidget* parent, int digits, const QString& text) {
  auto* e = new QLineEdit(text, parent);
  e->setMaxLength(digits);
  e->setFont(QFont(QStringLiteral("DejaVu Sans Mono")));
  return e;
}
}  // namespace

BufferFillDialog::BufferFillDialog(const app::LanguageTable& texts, app::DataCommandsPresenter& commands,
                                   QWidget* parent)
    : QDialog(parent), commands_(commands) {
  setWindowTitle(Q(texts.TextOf(102)));
  auto* grid = new QGridLayout(this);
  address = HexField(this, 6, QStringLiteral("000000"));
  length = HexField(this, 6, QStringLiteral("000000"));
  data = HexField(this, 2, QStringLiteral("FF"));
  grid->addWidget(new QLabel(Q(texts.TextOf(103)), this), 0, 0);
  grid->addWidget(address, 0, 1);
  grid->addWidget(new QLabel(Q(texts.TextOf(104)), this), 1, 0);
  grid->addWidget(length, 1, 1);
  grid->addWidget(new QLabel(Q(texts.TextOf(105)), this), 2, 0);
  grid->addWidget(data, 2, 1);
  grid->addWidget(OkCancel(this, Q(texts.TextOf(106)), Q(texts.TextOf(107))), 3, 0, 1, 2);
}

void BufferFillDialog::accept() {
  if (commands_.FillOk(S(address->text()), S(length->text()), S(data->text()))) QDialog::accept();
}

AddressLocationDialog::AddressLocationDialog(const app::LanguageTable& texts, app::DataCommandsPresenter& commands,
                                             QWidget* parent)
    : QDialog(parent), commands_(commands) {
  setWindowTitle(Q(texts.TextOf(108)));
  auto* grid = new QGridLayout(this);
  address = HexField(this, 6, last_text_);
  grid->addWidget(new QLabel(Q(texts.TextOf(109)), this), 0, 0);
  grid->addWidget(address, 0, 1);
  grid->addWidget(OkCancel(this, Q(texts.TextOf(110)), Q(texts.TextOf(111))), 1, 0, 1, 2);
  connect(address, &QLineEdit::textEdited, this, [this](const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
      if (text[i].unicode() >= 0x80 || !app::IsHexFieldChar(static_cast<char>(text[i].unicode()))) {
        // Refused: the previous text comes back, the caret where it happened.
        address->setText(last_text_);
        address->setCursorPosition(static_cast<int>(std::min(i, last_text_.size())));
        return;
      }
    }
    last_text_ = text;
  });
}

void AddressLocationDialog::accept() {
  if (commands_.LocateOk(S(address->text()))) QDialog::accept();
}

ChipSearchDialog::ChipSearchDialog(app::ChipSearchPresenter& search, const app::LanguageTable& texts,
                                   QWidget* parent)
    : QDialog(parent), search_(search) {
  setWindowTitle(Q(texts.TextOf(112)));
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(Q(texts.TextOf(113)), this));
  pattern = new QLineEdit(this);
  pattern->setMaxLength(20);
  row->addWidget(pattern, 1);
  layout->addLayout(row);
  auto* hint = new QLabel(Q(texts.TextOf(114)), this);
  hint->setWordWrap(true);
  layout->addWidget(hint);
  list = new QTableWidget(this);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setShowGrid(true);
  list->verticalHeader()->hide();
  list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
  const auto columns = search_.Columns();
  list->setColumnCount(static_cast<int>(columns.size()));
  for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
    const auto& col = columns[static_cast<std::size_t>(c)];
    list->setHorizontalHeaderItem(c, new QTableWidgetItem(Q(col.title)));
    list->setColumnWidth(c, col.width * 5 / 4);
  }
  list->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(list, 1);
  result_text = new QLabel(this);
  layout->addWidget(result_text);
  auto* buttons = OkCancel(this, Q(texts.TextOf(115)), Q(texts.TextOf(116)));
  disconnect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] { TrySelect(); });
  layout->addWidget(buttons);
  connect(list, &QTableWidget::cellDoubleClicked, this, [this] { TrySelect(); });
  connect(pattern, &QLineEdit::textChanged, this, [this](const QString& text) {
    search_.SetPattern(S(text));
    Fill();
  });
  resize(480, 420);
  search_.Open();
  Fill();
}

void ChipSearchDialog::Fill() {
  const auto& rows = search_.Rows();
  list->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    const auto& row = rows[static_cast<std::size_t>(r)];
    const std::string* cells[] = {&row.name, &row.capacity, &row.manufacturer, &row.type};
    for (int c = 0; c < 4; ++c) list->setItem(r, c, new QTableWidgetItem(Q(*cells[c])));
  }
  result_text->setText(Q(search_.ResultText()));
}

void ChipSearchDialog::TrySelect() {
  std::optional<std::size_t> row;
  const auto selected = list->selectionModel()->selectedRows();
  if (!selected.isEmpty()) row = static_cast<std::size_t>(selected.front().row());
  chosen_ = search_.Select(row);
  if (chosen_) QDialog::accept();
}

void ChipSearchDialog::reject() {
  search_.Cancel();
  QDialog::reject();
}

AboutDialog::AboutDialog(const app::AboutBox& about, const QString& picture_path, const QString& title,
                         QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(title);
  auto* layout = new QHBoxLayout(this);
  QPixmap picture;
  if (!picture_path.isEmpty() && picture.load(picture_path)) {
    auto* label = new QLabel(this);
    label->setPixmap(picture);
    layout->addWidget(label, 0, Qt::AlignTop);
  }
  auto* column = new QVBoxLayout;
  for (const auto& line : about.lines) column->addWidget(new QLabel(Q(line), this));
  column->addStretch(1);
  auto* box = new QDialogButtonBox(this);
  box->addButton(Q(about.button), QDialogButtonBox::AcceptRole)->setDefault(true);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  column->addWidget(box);
  layout->addLayout(column, 1);
  layout->setSpacing(16);
  setMinimumWidth(340);
}

QString QtFilter(const std::string& filter) {
  QStringList out;
  for (const auto& f : app::SplitFileFilter(filter)) {
    QString pattern = Q(f.pattern);
    pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
    if (pattern == QStringLiteral("*.*")) pattern = QStringLiteral("*");
    QString label = Q(f.label);
    const auto paren = label.indexOf(QLatin1Char('('));
    if (paren > 0) label = label.left(paren).trimmed();
    out << QStringLiteral("%1 (%2)").arg(label, pattern);
  }
  return out.join(QStringLiteral(";;"));
}

}  // namespace romwright::ui
