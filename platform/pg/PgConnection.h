// The PostgreSQL client of the data layer, over libpq: a connection named by a PostgreSQL URI,
// statements with bound parameters run without blocking the caller (the progress hook of
// Progress.h runs between slices of the wait, and a handler that stops the work cancels the
// statement on the server), results read by column type, COPY for loading, and every failure as
// an EPgError whose Spanish message names the database without its password.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "DB.h"
#include "PgTypes.h"
#include "Variant.h"

namespace kv {

// Whether Name is a PostgreSQL connection URI (postgresql://... or postgres://..., any case of
// the scheme).
bool IsPgDatabaseName(std::string_view Name);
// Name as every message shows it: a URI without its password (neither the one after the user
// name nor a password= parameter). Other text is returned as it is.
std::string PgDisplayName(std::string_view Name);

// What failed, for callers that answer some failures themselves (a reconnect, a new search).
enum class TPgFailure {
  Connect,         // no server there, or it refused the connection
  Authentication,  // wrong or missing password, unknown user
  NoDatabase,      // the database of the URI does not exist
  NoTable,         // a table or view of the statement does not exist
  Permission,      // the user may not read or change an object of the statement
  ServerStopped,   // the server was stopped (or the session ended by it) during the statement
  Cancelled,       // the server cancelled the statement (a time limit, an administrator)
  ConnectionLost,  // the connection broke
  BadName,         // the URI itself is not valid
  Statement,       // any other error of a statement (syntax, types, constraints)
};

// A failure of the database; Message() names the database (without password) and what failed.
class EPgError : public EDatabaseError {
 public:
  EPgError(TPgFailure Failure, std::string SqlState, const std::string& Message);
  TPgFailure Failure() const { return FFailure; }
  // The server's SQLSTATE ("42P01"); empty for failures of the client or the connection.
  const std::string& SqlState() const { return FSqlState; }

 private:
  TPgFailure FFailure;
  std::string FSqlState;
};

// Owners of libpq's handles.
struct TPgConnCloser {
  void operator()(PGconn* C) const { PQfinish(C); }
};
struct TPgResultCloser {
  void operator()(PGresult* R) const { PQclear(R); }
};
struct TPgCancelCloser {
  void operator()(PGcancel* C) const { PQfreeCancel(C); }
};
using TPgConnHandle = std::unique_ptr<PGconn, TPgConnCloser>;
using TPgResultHandle = std::unique_ptr<PGresult, TPgResultCloser>;
using TPgCancelHandle = std::unique_ptr<PGcancel, TPgCancelCloser>;

// The rows of one statement, values read by the columns' types (text format).
class TPgResult {
 public:
  TPgResult() = default;
  explicit TPgResult(TPgResultHandle R) : FRes(std::move(R)) {}

  int Rows() const { return FRes ? PQntuples(FRes.get()) : 0; }
  int Columns() const { return FRes ? PQnfields(FRes.get()) : 0; }
  std::string ColumnName(int C) const { return PQfname(FRes.get(), C); }
  // The index of the column named exactly Name, or -1.
  int ColumnIndex(std::string_view Name) const;
  TPgOid ColumnType(int C) const { return PQftype(FRes.get(), C); }
  // The column as a field (PgFieldTypeOf of its type and modifier).
  TPgFieldType FieldType(int C) const {
    return PgFieldTypeOf(ColumnType(C), PQfmod(FRes.get(), C));
  }

  bool IsNull(int R, int C) const { return PQgetisnull(FRes.get(), R, C) != 0; }
  // The value's text as the server sent it ("" for Null).
  std::string_view Text(int R, int C) const {
    return {PQgetvalue(FRes.get(), R, C), static_cast<size_t>(PQgetlength(FRes.get(), R, C))};
  }
  // Typed reads; each raises EDatabaseError naming the column when the text is not of its kind.
  int64_t Int(int R, int C) const;
  double Double(int R, int C) const;
  bool Bool(int R, int C) const;
  TDateTime DateTime(int R, int C) const;
  // The bytes of a bytea value.
  std::string Bytes(int R, int C) const;
  // The value by the column's field type: Null for Null and for an empty text (stored '' reads as
  // Null, as in the table files); Integer, Double, Currency, Boolean, DateTime or String.
  Variant Value(int R, int C) const;

  // Rows a command changed (INSERT, UPDATE, DELETE, COPY); 0 for others.
  int64_t AffectedRows() const;
  PGresult* Handle() const { return FRes.get(); }

 private:
  [[noreturn]] void BadValue(int R, int C, const char* Kind) const;
  TPgResultHandle FRes;
};

// Parameters of one statement, bound as text ($1, $2, ...): a value never becomes SQL text.
class TPgParams {
 public:
  // Each appends a value and returns its placeholder ("$3"). (Named per kind: an overload set
  // would take a string literal for a bool.)
  std::string AddText(std::string_view Text);
  std::string AddNull();
  std::string AddInt(int64_t V);
  std::string AddDouble(double V);
  std::string AddBool(bool V);
  std::string AddDateTime(TDateTime V, TFieldType T);
  // A Variant by its kind: Null/Unassigned, numbers, booleans, dates (as timestamps), text.
  std::string AddValue(const Variant& V);
  // Gives the last value added the server's type Type (by default the server infers each
  // parameter's type from where the statement uses it).
  void SetLastType(TPgOid Type);

  int Count() const { return static_cast<int>(FValues.size()); }
  bool Empty() const { return FValues.empty(); }
  // libpq's view: one pointer per parameter, null for a Null.
  std::vector<const char*> Pointers() const;
  // The parameters' types (0: inferred); empty when none was given.
  const std::vector<TPgOid>& Types() const { return FTypes; }

 private:
  std::string Next();
  std::vector<std::string> FValues;
  std::vector<bool> FNull;
  std::vector<TPgOid> FTypes;
};

class TPgCopy;

// One connection to a PostgreSQL database. Not for use by two threads at once.
class TPgConnection {
 public:
  // Connects to the database Uri names (libpq reads it: host, port, user, dbname, service,
  // sslmode, ...; passwords from the URI, PGPASSWORD, PGPASSFILE or ~/.pgpass, or the service
  // file). The session speaks UTF-8 with ISO dates. Raises EPgError (Connect, Authentication,
  // NoDatabase, BadName); EAborted when the progress handler stops the wait.
  explicit TPgConnection(std::string Uri);
  ~TPgConnection();
  TPgConnection(const TPgConnection&) = delete;
  TPgConnection& operator=(const TPgConnection&) = delete;

  // The database as messages name it (the URI without its password).
  const std::string& DisplayName() const { return FDisplay; }

  // Runs one statement (several, separated by ';', when there are no parameters) and returns the
  // last one's rows. While the server works the caller's progress handler runs every ~20 ms
  // ("Consultando la base de datos"); when it stops the work the statement is cancelled on the
  // server, the connection is left usable and EAborted is raised. A connection found broken
  // before the statement is opened again first. Raises EPgError for every failure.
  TPgResult Exec(std::string_view Sql, const TPgParams& Params = {});
  // Runs a query and hands its rows to OnRow one at a time (OnRow's result holds one row), without
  // holding the whole result in memory. Cancels as Exec does; an exception from OnRow cancels the
  // statement and passes on.
  void Stream(std::string_view Sql, const TPgParams& Params,
              const std::function<void(const TPgResult& Row)>& OnRow);
  // Starts COPY Table (Columns) FROM STDIN; Table and Columns as they are to appear in SQL
  // (quoted by the caller, see PgQuoteIdentifier).
  TPgCopy CopyIn(std::string_view Table, const std::vector<std::string>& Columns);

  // Asks the server to stop the statement running now (its caller gets the server's error);
  // safe from another thread, and aimed at the session the statement was sent on.
  void Cancel();

  // Whether the connection is open (a broken one is opened again by the next statement).
  bool Connected() const;
  // Closes and opens the connection again.
  void Reconnect();
  // The server's version number (150018 for 15.18).
  int ServerVersion() const { return PQserverVersion(FConn.get()); }
  PGconn* Handle() const { return FConn.get(); }

 private:
  friend class TPgCopy;
  void Connect();
  // Opens the connection again when it broke.
  void Open();
  void Send(std::string_view Sql, const TPgParams& Params);
  // Waits until a result is ready, in slices with the progress hook between them.
  void Wait();
  // The next result of the statement (null after the last), waiting as Wait does; a stop of the
  // progress handler cancels the statement and passes on.
  PGresult* NextResult();
  void CancelAndDrain();
  [[noreturn]] void RaiseConnectionError();
  [[noreturn]] void RaiseResultError(const PGresult* R);
  // Raises for a result of status other than tuples, command or single tuple.
  void Check(const PGresult* R);

  static void NoticeReceiver(void* Self, const PGresult* R);

  // Msg with every password of the URI replaced by "****".
  std::string Scrub(std::string Msg) const;

  std::string FUri, FDisplay;
  std::vector<std::string> FSecrets;  // the URI's passwords, as written and as decoded
  TPgConnHandle FConn;
  bool FEnded = false;      // the server said it ends the session
  std::mutex FCancelLock;   // guards FCancel, which Cancel() uses from other threads
  TPgCancelHandle FCancel;  // the session of the last statement sent
};

// A COPY ... FROM STDIN in progress: values are written one by one, rows are sent in blocks of
// about 256 KiB, so loading any number of rows takes constant memory. Destroying an unfinished
// copy abandons it (the server keeps none of its rows).
class TPgCopy {
 public:
  TPgCopy(TPgCopy&& Other) noexcept;
  TPgCopy& operator=(TPgCopy&&) = delete;
  ~TPgCopy();

  // The next value of the current row.
  void Null();
  void Text(std::string_view V);  // '' is written as Null, as the platform stores it
  void Int(int64_t V);
  void Double(double V);
  void Bool(bool V);
  void DateTime(TDateTime V, TFieldType T);
  // Ends the current row.
  void EndRow();
  // Sends what is left and ends the copy; returns the rows the server took. Raises EPgError.
  int64_t Finish();

 private:
  friend class TPgConnection;
  explicit TPgCopy(TPgConnection& C) : FConn(&C) {}
  void Separator();
  void Flush();

  TPgConnection* FConn;
  std::string FBuffer;
  bool FRowStarted = false, FOpen = true;
};

}  // namespace kv
