#pragma once
// Program-wide globals and the helpers every window shares.
#include <QString>

#include "db/recordset.h"

class cMySQL;

namespace modMain {

extern QString gAppTitle;   // set by Main after the database check
extern QString gUserID;     // set by CheckLogin
extern QString gUserName;   // set by CheckLogin

// The one set of connection values used by the start-up check, the
// admission and the login form.
struct ConnectionSettings {
    static constexpr const char* user = "qx_inhouse";
    static constexpr const char* passwd = "rwex4830";
    static constexpr const char* db = "qx_inhouse";
    static constexpr int port = 3306;
};
// real_connect with those values and the host of GetDBHostAddr.
bool ConnectInhouse(cMySQL& conn);

// Information box titled `title` (gAppTitle when empty); the control that
// had the focus gets it back afterwards.
void ShowMsg(const QString& text, const QString& title = QString());

// Closes an open recordset and empties the reference; safe on an empty one.
void CloseRecordset(RecordsetPtr& rs);

// Takes the signed-in user's id and name from the current row of `rs`.
bool CheckLogin(const RecordsetPtr& rs);

}  // namespace modMain
