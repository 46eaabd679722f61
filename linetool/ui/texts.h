#pragma once
// Station texts in the window: single-byte text with CR LF line ends becomes a
// QString with plain line feeds, and the pickers' filters become Qt's.

#include <QString>
#include <string>

namespace linetool::ui {

inline const QString kApplicationCaption = QStringLiteral("LineTool");

// Latin-1 text; CR LF and a lone CR become a line feed.
QString QtText(const std::string& text);
std::string StationText(const QString& text);

// A picker filter in the station's notation, "Description (*.ext)|*.ext||",
// as Qt's name filters: one "Description (*.ext)" per pair.
QString QtFileFilter(const std::string& filter);

}  // namespace linetool::ui
