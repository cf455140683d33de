#pragma once
// One client connection to the in-house database.
//
// Errors that are raised are platform::Error with the library's or server's
// number, a source "cMysql::<operation>" and the library's error text.
// real_connect and query report and absorb their failures; the information
// and administrative calls raise to the caller.
#include <QString>
#include <functional>
#include <memory>

#include "core/tls.h"
#include "db/recordset.h"

struct st_mysql_res;  // the client library's result set

class cMySQL {
public:
    // Raises 512 "cMysql::Initialize" when the client library cannot
    // allocate a connection record.
    cMySQL();
    ~cMySQL();
    cMySQL(const cMySQL&) = delete;
    cMySQL& operator=(const cMySQL&) = delete;

    void DoMemFree(bool bTF);

    // Connects, records the server thread id in config.ini beside the
    // program (sections "LPID" and "LPID2", keyed by `user`) and, for a
    // server of version 5.x, makes sure the connection uses sCharSet.
    // Empty texts, port 3306 and clientflag 0 keep the stored settings.
    // Failures show a message box unless NoErrMsg and give false.
    bool real_connect(const QString& host, const QString& user, const QString& passwd,
                      const QString& db, int port, const QString& unix_socket, int clientflag,
                      bool NoErrMsg, const QString& sCharSet);

    // Rows returned by the last SELECT, or changed by the last INSERT,
    // UPDATE or DELETE; -1 after a failed statement.
    int affected_rows();

    // Raises "cMysql::create_db" when the server refuses.
    void create_db(const QString& db);
    void debug_push(const QString& DBUG_PUSH);
    void dump_debug_info();  // raises "cMysql::dump_debug_info"
    // The calls below that read "the current result" use the result set
    // that the last statement or listing left behind; without one eof() is
    // false and num_fields()/num_rows() are 0.
    bool eof();
    int err_no();
    QString err_description();
    // Returns `from_` (its first from_length characters, from_length being
    // clamped to 0..from_.size()) as real_escape_string does. `to_` is not
    // used: the result is the return value.
    QString escape_string(const QString& to_, const QString& from_, int from_length);
    // Releases the current result, only when DoMemFree(true) was set.
    void free_result();
    QString get_client_info();
    QString get_host_info();    // raises "cMysql::get_host_info"
    QString get_proto_info();   // decimal text; raises "cMysql::get_proto_info"
    QString get_server_info();  // raises "cMysql::get_server_info"
    // The server's note on the last statement ("Records: 3  Duplicates: 0
    // ..."). When the server has none, raises platform::Error with number 0,
    // source "cMysql::info" and an empty description: callers tell "no
    // information" from a failure by number() == 0.
    QString info();
    int insert_id();
    void Kill(int PID);
    // Listings become the current result and come back as recordsets; no
    // object when the library answers none. A memory failure while copying
    // raises 7 "Out of memory" with source "cMysql::list_..." and drops the
    // result.
    RecordsetPtr list_dbs(const QString& wild);
    RecordsetPtr list_fields(const QString& table, const QString& wild);
    RecordsetPtr list_processes();
    RecordsetPtr list_tables(const QString& wild);
    int num_fields();
    int num_rows();
    // Does nothing while real_query runs; raises "cMysql::ping" otherwise
    // when the server does not answer.
    void ping();

    // Runs one statement. A lost connection is reopened once and the
    // statement run again; deadlocks of one particular user are retried.
    // Other failures show a message box unless Silent, and are logged (the
    // error, never the statement). Never raises. A connection whose
    // character set the program cannot convert runs nothing: error 2019.
    RecordsetPtr query(const QString& SQL, bool Silent = false);
    // Sends the first Length bytes of the statement (in the connection's
    // character set) without recovery; raises "cMysql::real_query", also
    // for a memory failure (7 "Out of memory").
    RecordsetPtr real_query(const QString& query, int Length);

    // `text` escaped by the client library for the connection's character
    // set (and its server's quoting mode), to stand between single quotes in
    // a statement on this connection. Without a connection (before the first
    // or after a failed reconnect): up to its first NUL, quotes and
    // backslashes doubled, which is one literal in either quoting mode.
    // Raises "cMysql::real_escape_string" when the connection's character
    // set is none the program can convert.
    QString real_escape_string(const QString& text);

    void Refresh(int refresh_options);  // raises "cMysql::refresh"
    // Stores `db` as the connection's database before asking the server,
    // so a later reconnect asks for it even when the server refused it.
    void select_db(const QString& db);  // raises "cMysql::select_db"
    void shutdown();                    // raises "cMysql::shutdown"
    QString stat();                     // raises "cMysql::stat"
    int thread_id();                    // raises "cMysql::thread_id"
    int thread_safe();

    // Whether the connection must be encrypted and whom it trusts; the
    // build's setting until changed. With TLS required, a server that does
    // not offer it or whose certificate does not pass fails real_connect as
    // an unreachable server does (error 2003), and the cause is logged.
    void tls(const core::TlsTrust& trust);

    // Stored settings; they take effect at the next real_connect.
    QString user() const;
    void user(const QString& sUserName);
    QString password() const;
    void password(const QString& sPassword);
    QString host() const;
    void host(const QString& sHost);
    int port() const;
    void port(int sPORT);
    QString db() const;
    void db(const QString& sDB);
    int ClientFlags() const;
    void ClientFlags(int sClientFlags);
    QString unix_socket() const;
    void unix_socket(const QString& sUnix_socket);

private:
    int RunQuery(RecordsetPtr& rs, const QString& SQL);
    int ExecuteSQL(const QString& SQL);
    void CloseRecordset(RecordsetPtr& rs);
    RecordsetPtr MakeRecordset();
    // The result of the statement just sent, made the current result and
    // copied; none for a statement without one. Raises `source`'s error when
    // the rows were lost on the way.
    RecordsetPtr StoreResult(const char* source);
    // A listing call's result made the current result and copied.
    RecordsetPtr listing(const char* source, const std::function<st_mysql_res*()>& call);
    QString PtrToStr(const char* p) const;
    static int LowLong(unsigned long long count);
    // Raises the connection's current error number and text.
    [[noreturn]] void RaiseFromConnection(const char* source) const;

    struct Impl;
    std::unique_ptr<Impl> d;
};
