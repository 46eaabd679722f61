#pragma once
// Station texts in the window: single-byte text with CR LF line ends becomes a
// QString with plain line feeds, and the pickers' filters become Qt's.

#include <QString>
#include <string>

namespace linetool::ui {

inline const QString kApplicationCaption = QStringLiteral("LineTool");

// Latin-1 text; CR LF and a lone CR become a line feed.
QString QtText(const std::string& text);
// What a character without a single-byte form becomes in station text: a
// byte above 127 like every other non-ASCII character, so the panel's filters
// drop it instead of keeping a stand-in such as "?".
inline constexpr char kNotSingleByte = '\x81';
// Latin-1 text, one byte per UTF-16 unit of `text`.
std::string StationText(const QString& text);

// A picker filter in the station's notation, "Description (*.ext)|*.ext||",
// as Qt's name filters: one "Description (*.ext)" per pair.
QString QtFileFilter(const std::string& filter);

}  // namespace linetool::ui
