#pragma once
// Helpers shared by the database client tests: connections to the test
// servers, the config.ini records and the servers' general query logs.
#include <QString>
#include <ostream>
#include <vector>

#include "testsupport.h"  // readable texts in failure output

class cMySQL;

namespace dbtest {

extern const QString kUser;       // qx_inhouse
extern const QString kPassword;
extern const QString kRetryUser;  // the user whose deadlocks are retried
extern const QString kRetryPassword;

// real_connect over TCP to the main (or the old) server.
bool Connect(cMySQL& c, int port, const QString& user = kUser, const QString& password = kPassword,
             const QString& charset = QString(), bool noErrMsg = false);

// Value of `user` in section "LPID"/"LPID2" of the config.ini the client writes.
QString Lpid(const QString& section, const QString& user);

// Statements ("Query" lines) the server logged for one connection.
std::vector<QString> LoggedQueries(const QString& logFile, int threadId);

// A name no other test run uses at the same time.
QString Unique(const QString& stem);

}  // namespace dbtest
