#pragma once
// modOrvelDBConsts: which workstation may sign in. Only adapters registered,
// unblocked, in user_mac are admitted; the entry also fixes the user id.
// The database's address is GetDBHostAddr (db/inhouse.h).
#include <QString>

#include "db/inhouse.h"
#include "platform/adapters.h"

namespace modOrvelDBConsts {

// What the admission reaches: the database and this machine's adapters. The
// program uses the defaults; tests point them elsewhere.
struct Endpoints {
    modMain::ConnectionSettings db;
    platform::AdapterSource adapters = platform::SystemAdapters;
};

// Address of the first IP-enabled adapter that has one, without "-" and
// ":"; empty when there is none.
QString GetMyMacAddress(const platform::AdapterSource& adapters = platform::SystemAdapters);

// User id admitted for this workstation, or empty.
QString GetAllowMyPC(const Endpoints& from = {});

// The admission step of the login form: returns the admitted user id, or
// shows the refusal with the address and ends the program at once.
QString AdmitWorkstation(const Endpoints& from = {});

}  // namespace modOrvelDBConsts
