#pragma once
// The Windows command line of an argument list (separate, so tests can
// check the quoting against the system's own parser).
#include <QString>
#include <QStringList>

namespace platform::win {

QString QuoteArgument(const QString& arg);
QString CommandLineOf(const QStringList& args);

}  // namespace platform::win
