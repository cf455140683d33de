#pragma once
#include <QString>

namespace modMain {

// The start-up procedure. Returns true when a window was left open that
// keeps the program alive (the caller then runs the event loop), false when
// start-up ended normally without one. Fatal conditions end the program at
// once inside.
bool Main();

// True when the database answered and its on-switch holds exactly "1".
bool CheckStartupDB();

}  // namespace modMain
