#pragma once
// Workstation admission: only adapters registered, unblocked, in user_mac
// may sign in; the entry also fixes the user id.
#include <QString>

namespace modOrvelDBConsts {

// Address of the first IP-enabled adapter that has one, without "-" and
// ":"; empty when there is none.
QString GetMyMacAddress();

// User id admitted for this workstation, or empty.
QString GetAllowMyPC();

// The admission step of the login form: returns the admitted user id, or
// shows the refusal with the address and ends the program at once.
QString AdmitWorkstation();

}  // namespace modOrvelDBConsts
