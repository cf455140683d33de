#pragma once
#include <QString>

#include "db/inhouse.h"
#include "login/admission.h"

namespace modMain {

// The start-up procedure. Returns true when a window was left open that
// keeps the program alive (the caller then runs the event loop), false when
// start-up ended normally without one. Fatal conditions end the program at
// once inside. `endpoints`: where the database and the admission are
// reached (the program's own by default).
bool Main(const modOrvelDBConsts::Endpoints& endpoints = {});

// True when the database answered and its on-switch holds exactly "1".
bool CheckStartupDB(const ConnectionSettings& settings = {});

}  // namespace modMain
