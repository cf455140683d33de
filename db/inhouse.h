#pragma once
// The in-house database as every part reaches it: the server's address, the
// one set of connection values used by the start-up check, the admission
// and the login form, and the signed-in user read from its user table.
#include <QString>

#include "db/recordset.h"

class cMySQL;

namespace modOrvelDBConsts {
// The fixed address of the in-house database server (a build setting).
QString GetDBHostAddr();
}  // namespace modOrvelDBConsts

namespace modMain {

struct ConnectionSettings {
    QString host = modOrvelDBConsts::GetDBHostAddr();  // tests point it elsewhere
    static constexpr const char* user = "qx_inhouse";
    static constexpr const char* passwd = "rwex4830";
    static constexpr const char* db = "qx_inhouse";
    int port = 3306;  // tests reach the server through relays on other ports
};

// real_connect with those values.
bool ConnectInhouse(cMySQL& conn, const ConnectionSettings& settings = {});

// Takes the signed-in user's id and name from the current row of `rs` into
// gUserID and gUserName.
bool CheckLogin(const RecordsetPtr& rs);

}  // namespace modMain
