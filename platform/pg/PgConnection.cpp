// The PostgreSQL client: connecting, statements run asynchronously with the progress hook between
// slices of the wait, cancelling, results, COPY, and libpq's failures as Spanish messages.
#include "PgConnection.h"

#include <poll.h>

#include <charconv>
#include <chrono>
#include <cstring>

#include "Progress.h"
#include "SysUtils.h"

namespace kv {

namespace {

constexpr int SliceMs = 20;               // one wait on the socket between progress reports
constexpr size_t CopyBlock = 256 * 1024;  // bytes of COPY data sent at once
constexpr auto DrainLimit = std::chrono::seconds(10);  // a cancelled statement's end, at most

// Prefix is ASCII lower case.
bool StartsWithNoCase(std::string_view S, std::string_view Prefix) {
  if (S.size() < Prefix.size()) return false;
  for (size_t I = 0; I < Prefix.size(); ++I) {
    const char C = S[I];
    if ((C >= 'A' && C <= 'Z' ? C + 32 : C) != Prefix[I]) return false;
  }
  return true;
}

bool Contains(std::string_view S, std::string_view Part) {
  return S.find(Part) != std::string_view::npos;
}

// Waits up to Ms for the socket to become readable (or writable); false on a timeout.
bool WaitSocket(int Socket, bool ForWrite, int Ms) {
  if (Socket < 0) return true;  // libpq reports the broken connection itself
  pollfd P{Socket, static_cast<short>(ForWrite ? POLLOUT : POLLIN), 0};
  return poll(&P, 1, Ms) != 0;
}

// libpq's first line of a message, without the "connection to server ... failed: " and
// "FATAL:  " it puts before the cause.
std::string Cause(std::string_view Msg) {
  std::string_view Line = Msg.substr(0, Msg.find('\n'));
  if (size_t F = Line.find("failed: "); F != std::string_view::npos) Line.remove_prefix(F + 8);
  for (std::string_view Level : {"FATAL:  ", "ERROR:  "})
    if (Line.starts_with(Level)) Line.remove_prefix(Level.size());
  return Trim(std::string(Line));
}

// The first name in double quotes of a server message (relation "orders" does not exist).
std::string QuotedName(const std::string& Msg) {
  const size_t A = Msg.find('"');
  const size_t B = A == std::string::npos ? A : Msg.find('"', A + 1);
  return B == std::string::npos ? std::string() : Msg.substr(A + 1, B - A - 1);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Names

bool IsPgDatabaseName(std::string_view Name) {
  return StartsWithNoCase(Name, "postgresql://") || StartsWithNoCase(Name, "postgres://");
}

namespace {

// Name without its passwords (see PgDisplayName); the passwords, as written, go to Secrets.
std::string WithoutPasswords(std::string_view Name, std::vector<std::string>& Secrets) {
  if (!IsPgDatabaseName(Name)) return std::string(Name);
  const size_t Scheme = Name.find("://") + 3;
  const size_t Query = Name.find('?', Scheme);
  std::string_view Head = Name.substr(0, Query);
  std::string Out;
  // The user information ends at the last '@' before the parameters (a '/' in a password that
  // was not percent-encoded stays hidden too).
  const size_t At = Head.rfind('@');
  if (At != std::string_view::npos && At >= Scheme) {
    std::string_view User = Head.substr(Scheme, At - Scheme);
    const size_t Colon = User.find(':');
    if (Colon != std::string_view::npos) {
      std::string_view Secret = User.substr(Colon + 1);
      Secrets.emplace_back(Secret);
      // libpq reads what comes before such a '/' as the port, and may quote it.
      if (const size_t Slash = Secret.find('/'); Slash != std::string_view::npos)
        Secrets.emplace_back(Secret.substr(0, Slash));
    }
    Out.append(Head.substr(0, Scheme)).append(User.substr(0, Colon)).append(Head.substr(At));
  } else {
    Out.append(Head);
  }
  if (Query == std::string_view::npos) return Out;
  std::string Params;
  std::string_view Rest = Name.substr(Query + 1);
  while (!Rest.empty()) {
    const size_t Amp = Rest.find('&');
    std::string_view P = Rest.substr(0, Amp);
    if (StartsWithNoCase(P, "password="))
      Secrets.emplace_back(P.substr(9));
    else if (!P.empty())
      Params.append(Params.empty() ? "" : "&").append(P);
    if (Amp == std::string_view::npos) break;
    Rest.remove_prefix(Amp + 1);
  }
  if (!Params.empty()) Out.append("?").append(Params);
  return Out;
}

}  // namespace

std::string PgDisplayName(std::string_view Name) {
  std::vector<std::string> Secrets;
  return WithoutPasswords(Name, Secrets);
}

EPgError::EPgError(TPgFailure Failure, std::string SqlState, const std::string& Message)
    : EDatabaseError(Message), FFailure(Failure), FSqlState(std::move(SqlState)) {}

namespace {

// A failure of the server or the session rather than of the statement: a form shows its message
// as it is, since it names the database and what went wrong.
class EPgStoreError final : public EPgError, public TStoreFailure {
 public:
  using EPgError::EPgError;
};

[[noreturn]] void RaisePg(TPgFailure Failure, std::string SqlState, const std::string& Message) {
  if (Failure == TPgFailure::Statement) throw EPgError(Failure, std::move(SqlState), Message);
  throw EPgStoreError(Failure, std::move(SqlState), Message);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Results

int TPgResult::ColumnIndex(std::string_view Name) const {
  for (int C = 0; C < Columns(); ++C)
    if (Name == PQfname(FRes.get(), C)) return C;
  return -1;
}

void TPgResult::BadValue(int R, int C, const char* Kind) const {
  throw EDatabaseError("El valor '" + std::string(Text(R, C)) + "' de la columna '" +
                       ColumnName(C) + "' no es " + Kind);
}

int64_t TPgResult::Int(int R, int C) const {
  std::string_view T = Text(R, C);
  int64_t V = 0;
  auto [P, Ec] = std::from_chars(T.data(), T.data() + T.size(), V);
  if (Ec != std::errc() || P != T.data() + T.size() || T.empty()) BadValue(R, C, "un entero");
  return V;
}

double TPgResult::Double(int R, int C) const {
  std::string_view T = Text(R, C);
  std::string Kept;
  if (ColumnType(C) == pgtype::Money) {
    // money's text carries a currency sign and thousands separators.
    for (char Ch : T)
      if ((Ch >= '0' && Ch <= '9') || Ch == '.' || Ch == '-') Kept += Ch;
    T = Kept;
  }
  double V = 0;
  auto [P, Ec] = std::from_chars(T.data(), T.data() + T.size(), V);
  if (Ec != std::errc() || P != T.data() + T.size() || T.empty()) BadValue(R, C, "un número");
  return V;
}

bool TPgResult::Bool(int R, int C) const {
  std::string_view T = Text(R, C);
  if (T == "t") return true;
  if (T == "f") return false;
  BadValue(R, C, "lógico");
}

TDateTime TPgResult::DateTime(int R, int C) const {
  const TFieldType T = FieldType(C).DataType;
  TDateTime D;
  if (!PgParseDateTime(Text(R, C), T == ftDate || T == ftTime ? T : ftDateTime, D))
    BadValue(R, C, "una fecha que se pueda representar");
  return D;
}

std::string TPgResult::Bytes(int R, int C) const {
  size_t N = 0;
  unsigned char* B =
      PQunescapeBytea(reinterpret_cast<const unsigned char*>(PQgetvalue(FRes.get(), R, C)), &N);
  if (!B)
    throw EDatabaseError("No hay memoria para el valor de la columna '" + ColumnName(C) + "'");
  std::string Out(reinterpret_cast<const char*>(B), N);
  PQfreemem(B);
  return Out;
}

Variant TPgResult::Value(int R, int C) const {
  if (IsNull(R, C)) return Variant::Null();
  const TPgFieldType F = FieldType(C);
  switch (F.DataType) {
    case ftBoolean:
      return Variant(Bool(R, C));
    case ftSmallint:
    case ftInteger:
      return Variant(Int(R, C));
    case ftFloat:
      return Variant(Double(R, C));
    case ftCurrency:
      return Variant::Currency(Double(R, C));
    case ftBCD:
      return Variant(Double(R, C));
    case ftDate:
    case ftTime:
    case ftDateTime:
      return Variant(DateTime(R, C));
    case ftBlob:
      return Variant(Bytes(R, C));
    default: {
      std::string_view T = Text(R, C);
      return T.empty() ? Variant::Null() : Variant(T);
    }
  }
}

int64_t TPgResult::AffectedRows() const {
  const char* T = FRes ? PQcmdTuples(FRes.get()) : "";
  return *T ? std::strtoll(T, nullptr, 10) : 0;
}

// ---------------------------------------------------------------------------------------------
// Parameters

std::string TPgParams::Next() {
  return "$" + std::to_string(FValues.size());
}

std::string TPgParams::AddText(std::string_view Text) {
  if (Text.find('\0') != std::string_view::npos)
    throw EDatabaseError("Un texto con el carácter nulo no se puede enviar a PostgreSQL");
  FValues.emplace_back(Text);
  FNull.push_back(false);
  return Next();
}

std::string TPgParams::AddNull() {
  FValues.emplace_back();
  FNull.push_back(true);
  return Next();
}

std::string TPgParams::AddInt(int64_t V) {
  return AddText(std::to_string(V));
}
std::string TPgParams::AddDouble(double V) {
  return AddText(PgDoubleText(V));
}
std::string TPgParams::AddBool(bool V) {
  return AddText(V ? "true" : "false");
}
std::string TPgParams::AddDateTime(TDateTime V, TFieldType T) {
  return AddText(PgDateTimeText(V, T));
}

std::string TPgParams::AddValue(const Variant& V) {
  if (V.IsNullOrEmpty()) return AddNull();
  switch (V.VarType()) {
    case varBoolean:
      return AddBool(V.AsBoolean());
    case varSmallint:
    case varInteger:
    case varInt64:
      return AddInt(V.AsInt64());
    case varDouble:
    case varCurrency:
      return AddDouble(V.AsDouble());
    case varDate:
      return AddDateTime(V.AsDateTime(), ftDateTime);
    case varString:
      return AddText(V.AsString());
    default:
      throw EDatabaseError("Un valor de este tipo no se puede enviar a PostgreSQL");
  }
}

void TPgParams::SetLastType(TPgOid Type) {
  if (FValues.empty()) return;
  FTypes.resize(FValues.size(), 0);
  FTypes.back() = Type;
}

std::vector<const char*> TPgParams::Pointers() const {
  std::vector<const char*> P(FValues.size());
  for (size_t I = 0; I < FValues.size(); ++I) P[I] = FNull[I] ? nullptr : FValues[I].c_str();
  return P;
}

// ---------------------------------------------------------------------------------------------
// The connection

TPgConnection::TPgConnection(std::string Uri) : FUri(std::move(Uri)) {
  FDisplay = WithoutPasswords(FUri, FSecrets);
  char* Err = nullptr;
  PQconninfoOption* Opts = PQconninfoParse(FUri.c_str(), &Err);
  if (!Opts) {
    std::string Why = Err ? Scrub(Cause(Err)) : "falta memoria";
    if (Err) PQfreemem(Err);
    RaisePg(TPgFailure::BadName, "",
            "El nombre de base de datos '" + FDisplay + "' no es válido: " + Why);
  }
  // The password as libpq decoded it (%40 is '@'), hidden from messages as well.
  for (PQconninfoOption* O = Opts; O->keyword; ++O)
    if (std::strcmp(O->keyword, "password") == 0 && O->val && *O->val) FSecrets.push_back(O->val);
  PQconninfoFree(Opts);
  Connect();
}

std::string TPgConnection::Scrub(std::string Msg) const {
  for (const std::string& S : FSecrets)
    if (!S.empty())
      for (size_t P; (P = Msg.find(S)) != std::string::npos;) Msg.replace(P, S.size(), "****");
  return Msg;
}

TPgConnection::~TPgConnection() = default;

bool TPgConnection::Connected() const {
  return FConn && PQstatus(FConn.get()) == CONNECTION_OK;
}

void TPgConnection::Reconnect() {
  FConn.reset();
  Connect();
}

void TPgConnection::Connect() {
  // The URI first, expanded; what follows overrides it: the session always speaks UTF-8.
  const char* Keys[] = {"dbname", "client_encoding", "fallback_application_name", nullptr};
  const char* Vals[] = {FUri.c_str(), "UTF8", "kvplus", nullptr};
  FConn.reset(PQconnectStartParams(Keys, Vals, 1));
  if (!FConn)
    RaisePg(TPgFailure::Connect, "", "Falta memoria para conectar con '" + FDisplay + "'");
  FEnded = false;
  PQsetNoticeReceiver(FConn.get(), NoticeReceiver, this);
  try {
    PostgresPollingStatusType St = PGRES_POLLING_WRITING;
    while (PQstatus(FConn.get()) != CONNECTION_BAD && St != PGRES_POLLING_OK &&
           St != PGRES_POLLING_FAILED) {
      while (!WaitSocket(PQsocket(FConn.get()), St == PGRES_POLLING_WRITING, SliceMs))
        ReportProgress("Conectando con la base de datos", 0);
      St = PQconnectPoll(FConn.get());
    }
    if (PQstatus(FConn.get()) != CONNECTION_OK) RaiseConnectionError();
    std::string Session =
        "SET DateStyle = ISO, YMD; SET IntervalStyle = postgres; SET extra_float_digits = 3; "
        "SET standard_conforming_strings = on";
    // The statements of a search are interactive: compiling one with JIT costs more than it
    // saves (a count of ten million rows takes twice as long), and a session that has compiled
    // once runs its later short counts slower too. Off, unless the connection's own options
    // (the URI's, PGOPTIONS) say how it is to be.
    const char* Options = PQoptions(FConn.get());
    if (!Options || !std::strstr(Options, "jit"))
      Session +=
          "; SELECT pg_catalog.set_config('jit', 'off', false) FROM pg_catalog.pg_settings "
          "WHERE name = 'jit'";
    Send(Session, {});
    Wait();
    while (PGresult* R = PQgetResult(FConn.get())) {
      TPgResultHandle H(R);
      Check(R);
    }
  } catch (...) {
    FConn.reset();  // the next statement tries again
    throw;
  }
}

void TPgConnection::Cancel() {
  std::lock_guard<std::mutex> Guard(FCancelLock);
  char Err[256];
  if (FCancel) PQcancel(FCancel.get(), Err, sizeof Err);
}

void TPgConnection::Send(std::string_view Sql, const TPgParams& Params) {
  {
    // A reconnected session has another backend: the cancel key follows it.
    std::lock_guard<std::mutex> Guard(FCancelLock);
    FCancel.reset(PQgetCancel(FConn.get()));
  }
  const std::string Text(Sql);
  int Ok;
  if (Params.Empty()) {
    Ok = PQsendQuery(FConn.get(), Text.c_str());
  } else {
    const std::vector<const char*> Values = Params.Pointers();
    std::vector<Oid> Types(Params.Types().begin(), Params.Types().end());
    if (!Types.empty()) Types.resize(Values.size(), 0);
    Ok = PQsendQueryParams(FConn.get(), Text.c_str(), Params.Count(),
                           Types.empty() ? nullptr : Types.data(), Values.data(), nullptr, nullptr,
                           0);
  }
  if (!Ok) RaiseResultError(nullptr);
}

void TPgConnection::Wait() {
  PGconn* C = FConn.get();
  while (PQconsumeInput(C) && PQisBusy(C)) {
    if (!WaitSocket(PQsocket(C), false, SliceMs)) ReportProgress("Consultando la base de datos", 0);
  }
}

void TPgConnection::NoticeReceiver(void* Self, const PGresult* R) {
  // Notices are not shown (our messages say what failed); but the farewell of a server that
  // ends the session while it is idle comes as one, before the connection closes.
  const char* Severity = PQresultErrorField(R, PG_DIAG_SEVERITY_NONLOCALIZED);
  if (Severity && (std::strcmp(Severity, "FATAL") == 0 || std::strcmp(Severity, "PANIC") == 0))
    static_cast<TPgConnection*>(Self)->FEnded = true;
}

void TPgConnection::Open() {
  // A session the server ended while it was idle shows only when its pending input is read and
  // parsed (PQisBusy parses).
  if (Connected() && WaitSocket(PQsocket(FConn.get()), false, 0) && PQconsumeInput(FConn.get()))
    PQisBusy(FConn.get());
  if (!Connected() || FEnded) Reconnect();
}

PGresult* TPgConnection::NextResult() {
  try {
    Wait();
  } catch (...) {
    CancelAndDrain();
    throw;
  }
  return PQgetResult(FConn.get());
}

namespace {
// Lets a window showing work that is being stopped keep painting while the server ends the
// statement; its handler's answer (stop) is what is under way already.
void ReportStopping() {
  try {
    ReportProgress("Cancelando la consulta", 0);
  } catch (const EAborted&) {
  }
}
}  // namespace

void TPgConnection::CancelAndDrain() {
  PGconn* C = FConn.get();
  if (!C) return;
  if (TPgCancelHandle Cancel{PQgetCancel(C)}) {
    char Err[256];
    PQcancel(Cancel.get(), Err, sizeof Err);
  }
  // The server answers the cancel by ending the statement with an error; its results are read
  // and dropped. A server that never answers costs the connection, not the caller's wait.
  const auto Deadline = std::chrono::steady_clock::now() + DrainLimit;
  while (PQconsumeInput(C)) {
    if (PQisBusy(C)) {
      if (std::chrono::steady_clock::now() > Deadline) break;
      if (!WaitSocket(PQsocket(C), false, SliceMs)) ReportStopping();
      continue;
    }
    PGresult* R = PQgetResult(C);
    if (!R) return;
    if (PQresultStatus(R) == PGRES_COPY_IN) PQputCopyEnd(C, "cancelada");
    PQclear(R);
  }
  FConn.reset();
}

void TPgConnection::RaiseConnectionError() {
  PGconn* C = FConn.get();
  const std::string Msg = Scrub(C ? PQerrorMessage(C) : "");
  const std::string Why = Cause(Msg);
  const std::string User = C && PQuser(C) ? PQuser(C) : "";
  const std::string Head = "No se puede conectar con la base de datos '" + FDisplay + "': ";
  if (C && PQconnectionNeedsPassword(C))
    RaisePg(TPgFailure::Authentication, "28P01",
            Head + "falta la contraseña del usuario '" + User + "'");
  if (Contains(Msg, "authentication failed") || Contains(Msg, "no password supplied"))
    RaisePg(TPgFailure::Authentication, "28P01",
            Head + "la autenticación del usuario '" + User + "' ha fallado");
  if (Contains(Msg, "role \"") && Contains(Msg, "does not exist"))
    RaisePg(TPgFailure::Authentication, "28000",
            Head + "el usuario '" + User + "' no existe en el servidor");
  if (Contains(Msg, "database \"") && Contains(Msg, "does not exist"))
    RaisePg(TPgFailure::NoDatabase, "3D000",
            Head + "la base de datos '" + QuotedName(Msg.substr(Msg.find("database \""))) +
                "' no existe");
  if (Contains(Msg, "Connection refused") || Contains(Msg, "No such file or directory"))
    RaisePg(TPgFailure::Connect, "",
            Head + "el servidor no está en marcha o rechaza la conexión (" + Why + ")");
  RaisePg(TPgFailure::Connect, "", Head + (Why.empty() ? "error desconocido" : Why));
}

void TPgConnection::RaiseResultError(const PGresult* R) {
  auto Field = [R](int Code) {
    const char* V = R ? PQresultErrorField(R, Code) : nullptr;
    return std::string(V ? V : "");
  };
  const std::string State = Field(PG_DIAG_SQLSTATE);
  std::string Primary = Field(PG_DIAG_MESSAGE_PRIMARY);
  if (Primary.empty()) Primary = Cause(R ? PQresultErrorMessage(R) : PQerrorMessage(FConn.get()));
  if (Primary.empty() && FConn) Primary = Cause(PQerrorMessage(FConn.get()));
  const std::string Db = "'" + FDisplay + "'";
  if (!Connected()) {
    if (State == "57P01" || State == "57P02" || State == "57P03")
      RaisePg(TPgFailure::ServerStopped, State,
              "El servidor de la base de datos " + Db +
                  " se ha detenido durante la sentencia; la próxima vez se vuelve a "
                  "conectar");
    RaisePg(TPgFailure::ConnectionLost, State,
            "Se ha perdido la conexión con la base de datos " + Db + " (" + Primary + ")");
  }
  if (State == "57014") {
    const std::string Head = "El servidor de la base de datos " + Db + " ha cancelado la sentencia";
    if (Contains(Primary, "statement timeout"))
      RaisePg(TPgFailure::Cancelled, State,
              Head + ": ha superado el tiempo máximo de una sentencia (statement_timeout)");
    if (Contains(Primary, "user request"))
      RaisePg(TPgFailure::Cancelled, State, Head + ": se lo ha pedido un administrador");
    RaisePg(TPgFailure::Cancelled, State, Head + " (" + Primary + ")");
  }
  if (State == "42P01") {
    const std::string Name = QuotedName(Primary);
    RaisePg(
        TPgFailure::NoTable, State,
        "La tabla '" + (Name.empty() ? Primary : Name) + "' no existe en la base de datos " + Db);
  }
  if (State == "42501") {
    const size_t T = Primary.find("for table ");
    if (T != std::string::npos)
      RaisePg(TPgFailure::Permission, State,
              "Permiso denegado sobre la tabla '" + Primary.substr(T + 10) +
                  "' en la base de datos " + Db);
    RaisePg(TPgFailure::Permission, State,
            "Permiso denegado en la base de datos " + Db + " (" + Primary + ")");
  }
  std::string Msg = "Error en la base de datos " + Db + ": " + Primary;
  if (const std::string Pos = Field(PG_DIAG_STATEMENT_POSITION); !Pos.empty())
    Msg += " (en la posición " + Pos + " de la sentencia)";
  RaisePg(TPgFailure::Statement, State, Msg);
}

void TPgConnection::Check(const PGresult* R) {
  switch (PQresultStatus(R)) {
    case PGRES_COMMAND_OK:
    case PGRES_TUPLES_OK:
    case PGRES_SINGLE_TUPLE:
    case PGRES_EMPTY_QUERY:
      return;
    default:
      RaiseResultError(R);
  }
}

TPgResult TPgConnection::Exec(std::string_view Sql, const TPgParams& Params) {
  Open();
  Send(Sql, Params);
  TPgResultHandle Last, Error;
  while (PGresult* R = NextResult()) {
    TPgResultHandle H(R);
    const ExecStatusType St = PQresultStatus(R);
    if (St == PGRES_FATAL_ERROR || St == PGRES_BAD_RESPONSE || St == PGRES_NONFATAL_ERROR) {
      if (!Error) Error = std::move(H);
    } else if (St == PGRES_COPY_IN) {
      // Rows are loaded through CopyIn; the server answers this end with an error.
      PQputCopyEnd(FConn.get(), "COPY FROM STDIN se carga con CopyIn");
    } else {
      Last = std::move(H);
    }
  }
  if (Error) RaiseResultError(Error.get());
  if (!Last && !Connected()) RaiseResultError(nullptr);
  return TPgResult(std::move(Last));
}

void TPgConnection::Stream(std::string_view Sql, const TPgParams& Params,
                           const std::function<void(const TPgResult&)>& OnRow) {
  Open();
  Send(Sql, Params);
  PQsetSingleRowMode(FConn.get());
  TPgResultHandle Error;
  bool Any = false;
  try {
    int64_t Rows = 0;
    for (;;) {
      Wait();
      PGresult* R = PQgetResult(FConn.get());
      if (!R) break;
      Any = true;
      const ExecStatusType St = PQresultStatus(R);
      if (St == PGRES_SINGLE_TUPLE) {
        const TPgResult Row{TPgResultHandle(R)};
        OnRow(Row);
        if ((++Rows & 1023) == 0) ReportProgress("Leyendo la base de datos", Rows);
      } else if (St == PGRES_TUPLES_OK || St == PGRES_COMMAND_OK) {
        PQclear(R);
      } else if (!Error) {
        Error.reset(R);
      } else {
        PQclear(R);
      }
    }
  } catch (...) {
    CancelAndDrain();
    throw;
  }
  if (Error) RaiseResultError(Error.get());
  if (!Any && !Connected()) RaiseResultError(nullptr);
}

// ---------------------------------------------------------------------------------------------
// COPY

TPgCopy TPgConnection::CopyIn(std::string_view Table, const std::vector<std::string>& Columns) {
  std::string Sql = "COPY " + std::string(Table) + " (";
  for (size_t I = 0; I < Columns.size(); ++I) Sql += (I ? ", " : "") + Columns[I];
  Sql += ") FROM STDIN";
  Open();
  Send(Sql, {});
  TPgResultHandle R(NextResult());
  if (!R) RaiseResultError(nullptr);
  if (PQresultStatus(R.get()) != PGRES_COPY_IN) {
    while (PGresult* More = PQgetResult(FConn.get())) PQclear(More);
    RaiseResultError(R.get());
  }
  return TPgCopy(*this);
}

TPgCopy::TPgCopy(TPgCopy&& Other) noexcept
    : FConn(Other.FConn),
      FBuffer(std::move(Other.FBuffer)),
      FRowStarted(Other.FRowStarted),
      FOpen(Other.FOpen) {
  Other.FOpen = false;
}

TPgCopy::~TPgCopy() {
  if (!FOpen || !FConn->FConn) return;
  PGconn* C = FConn->FConn.get();
  PQputCopyEnd(C, "carga abandonada");
  while (PGresult* R = PQgetResult(C)) PQclear(R);
}

void TPgCopy::Separator() {
  if (FRowStarted) FBuffer += '\t';
  FRowStarted = true;
}

void TPgCopy::Null() {
  Separator();
  FBuffer += "\\N";
}

void TPgCopy::Text(std::string_view V) {
  if (V.empty()) return Null();
  Separator();
  for (char C : V) {
    switch (C) {
      case '\\':
        FBuffer += "\\\\";
        break;
      case '\t':
        FBuffer += "\\t";
        break;
      case '\n':
        FBuffer += "\\n";
        break;
      case '\r':
        FBuffer += "\\r";
        break;
      case '\0':
        throw EDatabaseError("Un texto con el carácter nulo no se puede cargar en PostgreSQL");
      default:
        FBuffer += C;
    }
  }
}

void TPgCopy::Int(int64_t V) {
  Separator();
  char Buf[24];
  auto R = std::to_chars(Buf, Buf + sizeof Buf, V);
  FBuffer.append(Buf, R.ptr);
}

void TPgCopy::Double(double V) {
  Separator();
  FBuffer += PgDoubleText(V);
}

void TPgCopy::Bool(bool V) {
  Separator();
  FBuffer += V ? 't' : 'f';
}

void TPgCopy::DateTime(TDateTime V, TFieldType T) {
  Separator();
  FBuffer += PgDateTimeText(V, T);
}

void TPgCopy::EndRow() {
  FBuffer += '\n';
  FRowStarted = false;
  if (FBuffer.size() >= CopyBlock) Flush();
}

void TPgCopy::Flush() {
  if (FBuffer.empty()) return;
  PGconn* C = FConn->FConn.get();
  if (PQputCopyData(C, FBuffer.data(), static_cast<int>(FBuffer.size())) != 1) {
    FOpen = false;
    FConn->RaiseResultError(nullptr);
  }
  FBuffer.clear();
}

int64_t TPgCopy::Finish() {
  Flush();
  PGconn* C = FConn->FConn.get();
  FOpen = false;
  if (PQputCopyEnd(C, nullptr) != 1) FConn->RaiseResultError(nullptr);
  TPgResultHandle Result, Error;
  while (PGresult* R = FConn->NextResult()) {
    if (PQresultStatus(R) == PGRES_COMMAND_OK)
      Result.reset(R);
    else if (!Error)
      Error.reset(R);
    else
      PQclear(R);
  }
  if (Error || !Result) FConn->RaiseResultError(Error.get());
  return TPgResult(std::move(Result)).AffectedRows();
}

}  // namespace kv
