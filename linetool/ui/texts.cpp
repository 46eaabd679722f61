#include "linetool/ui/texts.h"

#include <QStringList>

namespace linetool::ui {

QString QtText(const std::string& text) {
  QString s = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

std::string StationText(const QString& text) {
  std::string out;
  out.reserve(static_cast<std::size_t>(text.size()));
  // One byte per UTF-16 unit, so a caret position stays where it was.
  for (const QChar c : text) out.push_back(c.unicode() <= 0xFF ? static_cast<char>(c.unicode()) : kNotSingleByte);
  return out;
}

QString QtFileFilter(const std::string& filter) {
  const QStringList parts = QtText(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString& description = parts[i];
    const QString& patterns = parts[i + 1];
    if (description.isEmpty()) break;
    const QString qt_patterns = QString(patterns).replace(QLatin1Char(';'), QLatin1Char(' '));
    filters << (description.contains(QLatin1Char('(')) ? description
                                                       : description + QStringLiteral(" (") + qt_patterns + ")");
  }
  return filters.join(QStringLiteral(";;"));
}

}  // namespace linetool::ui
