#pragma once
// Typed text made safe to stand between single quotes in a statement.
#include <QString>

namespace formats {

// The text up to its first NUL, with every ' doubled and every \ doubled,
// so that the server reads one literal holding exactly that text.
QString QuoteSqlText(const QString& text);

}  // namespace formats
