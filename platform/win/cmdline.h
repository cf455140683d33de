#pragma once
// How win/process.cpp starts a program: the command line of an argument
// list, the shell's start flags and the Windows folder (separate, so tests
// can check them against the system itself).
#include <QString>
#include <QStringList>

#include "platform/process.h"

namespace platform::win {

QString QuoteArgument(const QString& arg);
QString CommandLineOf(const QStringList& args);

// The SHELLEXECUTEINFO mask of a start whose failure `errors` reports.
unsigned long ShellStartMask(StartErrors errors);

// The system's Windows folder, without a trailing separator.
QString SystemWindowsFolder();

}  // namespace platform::win
