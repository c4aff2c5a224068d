// The SQLite-file backend: one connection to a database file, its catalog read through SQLite's
// table-valued pragmas, statements prepared with bound parameters, and values converted between
// SQLite's storage classes and the platform's fields (dates and times as ISO 8601 text).
#include "SqliteDatabase.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <cmath>

#include "DbTypes.h"
#include "Progress.h"
#include "SqlEngine.h"
#include "SysUtils.h"
#include "Unicode.h"

namespace kv {

namespace {

class TSqliteDialect final : public TSqlDialect {
 public:
  const char* Name() const override { return "SQLite"; }
  std::string Parameter(int N) const override { return "?" + std::to_string(N); }
  // The connection's lower() is the platform's (registered on opening).
  std::string Lower(const std::string& Expr) const override { return "lower(" + Expr + ")"; }
  // So is its unaccent(), in the filter's conditions and in the local SQL's.
  std::string Unaccent(const std::string& Expr) const override { return "unaccent(" + Expr + ")"; }
  std::string Call(const std::string& Name, const std::vector<std::string>& Args,
                   const std::string& Plain) const override {
    if (Name == "UNACCENT" && Args.size() == 1) return Unaccent(Args[0]);
    return Plain;
  }
  // A range of the index's own order: the texts that start with the prefix are those from the
  // prefix on and before the first text after all of them (the prefix with its last byte that
  // can grow grown by one), in byte order, whatever bytes they hold.
  std::string StartsWith(const std::string& Expr, const std::string& Prefix,
                         TSqlParams& Params) const override {
    std::string After = Prefix;
    while (!After.empty() && static_cast<unsigned char>(After.back()) == 0xFF) After.pop_back();
    const std::string From = Expr + " >= " + Params.Add(Prefix, ftString);
    if (After.empty()) return "(" + From + ")";
    After.back() = static_cast<char>(static_cast<unsigned char>(After.back()) + 1);
    return "(" + From + " AND " + Expr + " < " + Params.Add(After, ftString) + ")";
  }
  // SQLite's own order puts Nulls first ascending and last descending.
  std::string OrderTerm(const std::string& Expr, bool Desc) const override {
    return Expr + (Desc ? " DESC" : " ASC");
  }
};

struct TStatementCloser {
  void operator()(sqlite3_stmt* S) const { sqlite3_finalize(S); }
};
using TStatement = std::unique_ptr<sqlite3_stmt, TStatementCloser>;

struct TDatabaseCloser {
  void operator()(sqlite3* Db) const { sqlite3_close_v2(Db); }
};

bool IsIntegral(double D) {
  return std::isfinite(D) && D == std::floor(D) && std::fabs(D) < 9.2e18;
}

// A number written in a text, locale aside ("12", "-3.5", "1e3"); false when it is not one.
bool TextNumber(std::string_view S, double& Out) {
  const std::string T = Trim(S);
  if (T.empty()) return false;
  char* End = nullptr;
  Out = std::strtod(T.c_str(), &End);
  return End == T.c_str() + T.size();
}

// Julian day 2415018.5 is 1899-12-30 00:00, the platform's day 0.
constexpr double kJulianDayZero = 2415018.5;

class TSqliteConnection final : public TDbConnection {
 public:
  explicit TSqliteConnection(TDatabaseRef Ref) : TDbConnection(std::move(Ref)) { Open(); }

  const TSqlDialect& Dialect() const override { return FDialect; }

  TDbTableInfo Table(const std::string& Name) override;
  void Query(const std::string& Sql, const std::vector<TSqlParam>& Params, TDbRows& Out,
             const char* What) override;
  void Execute(const std::string& Sql, const std::vector<TSqlParam>& Params) override {
    TDbRows Ignored;
    Query(Sql, Params, Ignored, "Guardando");
  }
  Variant ToVariant(const TDbValueRef& V, TFieldType T) const override;
  std::string TypeName(TFieldType T, int Size) const override { return SqlTypeName(T, Size); }
  // Dates are ISO texts here, which compare in date order.
  std::string DateLiteral(double Days, TFieldType T) const override {
    return "'" + IsoDateText(Days, T) + "'";
  }
  std::string BooleanLiteral(bool V) const override { return V ? "1" : "0"; }
  void Cancel() override {
    FCancelled = true;
    sqlite3_interrupt(FDb.get());
  }

 private:
  std::unique_ptr<sqlite3, TDatabaseCloser> FDb;
  TSqliteDialect FDialect;
  std::atomic<bool> FCancelled{false};
  bool FAborted = false;
  const char* FWhat = "";
  int64_t FRowsRead = 0;

  void Open();
  [[noreturn]] void Fail(const std::string& Sql) const {
    throw EDatabaseError("Error en la base de datos '" + Ref().Shown +
                         "': " + sqlite3_errmsg(FDb.get()) + " (sentencia: " + Sql + ")");
  }
  TStatement Prepare(const std::string& Sql, const std::vector<TSqlParam>& Params);
  void Bind(sqlite3_stmt* St, int Index, const TSqlParam& P);
  // Between steps of a long statement: progress, and the user's or another thread's stop.
  static int OnProgress(void* Self);
  // The rows of a catalog query with text parameters.
  void Catalog(const std::string& Sql, const std::vector<std::string>& Args, TDbRows& Out) {
    std::vector<TSqlParam> P;
    for (const auto& A : Args) P.push_back({Variant(A), ftString});
    Query(Sql, P, Out, "Leyendo el catálogo");
  }
};

void TSqliteConnection::Open() {
  const std::string& Path = Ref().Target;
  struct stat St;
  if (Path.empty() || ::stat(Path.c_str(), &St) != 0)
    throw EDatabaseError("No existe la base de datos SQLite '" + Ref().Shown + "'");
  if (!S_ISREG(St.st_mode))
    throw EDatabaseError("'" + Ref().Shown + "' no es un archivo de base de datos SQLite");
  sqlite3* Db = nullptr;
  int Rc = sqlite3_open_v2(Path.c_str(), &Db, SQLITE_OPEN_READWRITE, nullptr);
  if (Rc != SQLITE_OK) {
    // A file that cannot be written can still be searched.
    sqlite3_close_v2(Db);
    Db = nullptr;
    Rc = sqlite3_open_v2(Path.c_str(), &Db, SQLITE_OPEN_READONLY, nullptr);
  }
  FDb.reset(Db);
  if (Rc != SQLITE_OK)
    throw EDatabaseError("No se puede abrir la base de datos SQLite '" + Ref().Shown +
                         "': " + (Db ? sqlite3_errmsg(Db) : "sin memoria"));
  sqlite3_extended_result_codes(Db, 1);
  sqlite3_busy_timeout(Db, 5000);
  if (RegisterSqlTextFunctions(Db) != SQLITE_OK)
    throw EDatabaseError("No se puede preparar la base de datos SQLite '" + Ref().Shown +
                         "': " + sqlite3_errmsg(Db));
  // SQLite reads the header only when first asked: a file that is not a database says so here.
  if (sqlite3_exec(Db, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr) !=
      SQLITE_OK)
    throw EDatabaseError("El archivo '" + Ref().Shown + "' no es una base de datos SQLite (" +
                         sqlite3_errmsg(Db) + ")");
}

int TSqliteConnection::OnProgress(void* Self) {
  auto* C = static_cast<TSqliteConnection*>(Self);
  if (C->FCancelled) return 1;
  try {
    ReportProgress(C->FWhat, C->FRowsRead);
  } catch (const EAborted&) {
    C->FAborted = true;
    return 1;
  }
  return 0;
}

void TSqliteConnection::Bind(sqlite3_stmt* St, int I, const TSqlParam& P) {
  const Variant& V = P.Value;
  int Rc = SQLITE_OK;
  if (V.IsNullOrEmpty()) {
    Rc = sqlite3_bind_null(St, I);
  } else if (P.Type == ftBlob ||
             (P.Type == ftUnknown ? V.IsString() : StorageKindOf(P.Type) == TStorageKind::String)) {
    const std::string S = V.AsString();
    Rc = P.Type == ftBlob
             ? sqlite3_bind_blob64(St, I, S.data(), S.size(), SQLITE_TRANSIENT)
             : sqlite3_bind_text64(St, I, S.data(), S.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  } else if (IsDateTimeType(P.Type)) {
    const std::string S = IsoDateText(V.AsDateTime().Val, P.Type);
    Rc = sqlite3_bind_text(St, I, S.data(), static_cast<int>(S.size()), SQLITE_TRANSIENT);
  } else if (P.Type == ftBoolean) {
    Rc = sqlite3_bind_int(St, I, V.AsBoolean() ? 1 : 0);
  } else if (V.IsOrdinal()) {
    Rc = sqlite3_bind_int64(St, I, V.AsInt64());
  } else {
    // Whole numbers bound as integers compare with integer columns without a conversion.
    const double D = V.VarType() == varDate ? V.AsDateTime().Val : V.AsDouble();
    Rc = IsIntegral(D) && P.Type != ftUnknown && !IsFloatType(P.Type)
             ? sqlite3_bind_int64(St, I, static_cast<sqlite3_int64>(D))
             : sqlite3_bind_double(St, I, D);
  }
  if (Rc != SQLITE_OK) Fail(sqlite3_sql(St));
}

TStatement TSqliteConnection::Prepare(const std::string& Sql,
                                      const std::vector<TSqlParam>& Params) {
  sqlite3_stmt* Raw = nullptr;
  if (sqlite3_prepare_v2(FDb.get(), Sql.c_str(), static_cast<int>(Sql.size()), &Raw, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(Raw);
    Fail(Sql);
  }
  TStatement St(Raw);
  for (size_t I = 0; I < Params.size(); ++I) Bind(Raw, static_cast<int>(I) + 1, Params[I]);
  return St;
}

void TSqliteConnection::Query(const std::string& Sql, const std::vector<TSqlParam>& Params,
                              TDbRows& Out, const char* What) {
  Traced(Sql, Params);
  TStatement St = Prepare(Sql, Params);
  sqlite3_stmt* S = St.get();
  const int N = sqlite3_column_count(S);
  Out.Reset(N);
  FCancelled = false;
  FAborted = false;
  FWhat = What;
  FRowsRead = 0;
  sqlite3_progress_handler(FDb.get(), 4000, &TSqliteConnection::OnProgress, this);
  int Rc;
  while ((Rc = sqlite3_step(S)) == SQLITE_ROW) {
    ++FRowsRead;
    for (int C = 0; C < N; ++C) {
      switch (sqlite3_column_type(S, C)) {
        case SQLITE_INTEGER:
          Out.AddInt(sqlite3_column_int64(S, C));
          break;
        case SQLITE_FLOAT:
          Out.AddFloat(sqlite3_column_double(S, C));
          break;
        case SQLITE_TEXT:
        case SQLITE_BLOB: {
          const bool Blob = sqlite3_column_type(S, C) == SQLITE_BLOB;
          const void* P = Blob ? sqlite3_column_blob(S, C) : sqlite3_column_text(S, C);
          Out.AddText(std::string_view(static_cast<const char*>(P), sqlite3_column_bytes(S, C)),
                      Blob);
          break;
        }
        default:
          Out.AddNull();
      }
    }
  }
  sqlite3_progress_handler(FDb.get(), 0, nullptr, nullptr);
  if (Rc == SQLITE_DONE) return;
  if ((Rc & 0xFF) == SQLITE_INTERRUPT) {
    if (FAborted) throw EAborted();
    throw EDatabaseError("La base de datos '" + Ref().Shown +
                         "' ha cancelado la sentencia: " + Sql);
  }
  Fail(Sql);
}

TDbTableInfo TSqliteConnection::Table(const std::string& Name) {
  const std::vector<TNamePart> Parts = SplitQualifiedName(Name);
  auto Missing = [&]() -> void {
    throw EDatabaseError("No se encuentra la tabla '" + Trim(Name) + "' en la base de datos '" +
                         Ref().Shown + "'");
  };
  if (Parts.size() > 2) Missing();
  const std::string Schema = Parts.size() == 2 ? Parts[0].Text : "main";
  const std::string Wanted = Parts.back().Text;
  TDbRows R;
  // SQLite's names ignore the case of ASCII letters, quoted or not.
  Catalog(
      "SELECT name, type, wr FROM pragma_table_list WHERE schema = ?1 COLLATE NOCASE AND "
      "name = ?2 COLLATE NOCASE AND type IN ('table', 'view') ORDER BY name = ?2 DESC",
      {Schema, Wanted}, R);
  if (R.RowCount() == 0) Missing();
  TDbTableInfo T;
  const std::string Table(R.At(0, 0).Text);
  T.View = R.At(0, 1).Text == "view";
  const bool WithoutRowid = R.At(0, 2).Int != 0;
  T.Sql = FDialect.QuoteName(Schema) + "." + FDialect.QuoteName(Table);
  T.Shown = Parts.size() == 2 ? Schema + "." + Table : Table;

  Catalog("SELECT name, type, \"notnull\", pk FROM pragma_table_info(?1, ?2) ORDER BY cid",
          {Table, Schema}, R);
  std::vector<std::pair<int64_t, std::string>> Key;
  for (size_t I = 0; I < R.RowCount(); ++I) {
    TDbColumnInfo C;
    C.Def.Name = std::string(R.At(I, 0).Text);
    C.DeclaredType = std::string(R.At(I, 1).Text);
    C.Def.DataType = FieldTypeOfDeclared(C.DeclaredType, C.Def.Size);
    C.NotNull = R.At(I, 2).Int != 0;
    C.Def.Required = C.NotNull;
    if (R.At(I, 3).Int > 0) Key.emplace_back(R.At(I, 3).Int, C.Def.Name);
    T.Columns.push_back(std::move(C));
  }
  std::sort(Key.begin(), Key.end());
  for (const auto& K : Key) T.PrimaryKey.push_back(K.second);
  // An INTEGER PRIMARY KEY is the row id, and a key of a table without row ids is never empty;
  // other key columns of SQLite may hold Nulls unless declared NOT NULL.
  const bool RowidKey =
      T.PrimaryKey.size() == 1 &&
      UpperCase(T.Columns[T.ColumnIndex(T.PrimaryKey[0])].DeclaredType) == "INTEGER";
  for (auto& C : T.Columns)
    for (const auto& K : T.PrimaryKey)
      if (C.Def.Name == K && (WithoutRowid || RowidKey)) C.NotNull = true;

  if (!T.View) {
    Catalog("SELECT name, \"unique\", origin FROM pragma_index_list(?1, ?2) ORDER BY seq DESC",
            {Table, Schema}, R);
    TDbRows Cols;
    for (size_t I = 0; I < R.RowCount(); ++I) {
      TDbIndexInfo X;
      X.Name = std::string(R.At(I, 0).Text);
      X.Unique = R.At(I, 1).Int != 0;
      X.Primary = R.At(I, 2).Text == "pk";
      Catalog("SELECT name FROM pragma_index_info(?1, ?2) ORDER BY seqno", {X.Name, Schema}, Cols);
      bool Plain = Cols.RowCount() > 0;
      for (size_t C = 0; C < Cols.RowCount(); ++C) {
        Plain &= Cols.At(C, 0).Type == TDbType::Text;
        if (Plain) X.Columns.emplace_back(Cols.At(C, 0).Text);
      }
      // Indexes over expressions have no fields to name.
      if (Plain) T.Indexes.push_back(std::move(X));
    }
    if (RowidKey && !T.PrimaryKey.empty())
      T.Indexes.insert(T.Indexes.begin(), {"", T.PrimaryKey, true, true});
  }

  auto NeverEmpty = [&](const std::vector<std::string>& Cols) {
    for (const auto& N : Cols)
      if (!T.Columns[T.ColumnIndex(N)].NotNull) return false;
    return !Cols.empty();
  };
  if (NeverEmpty(T.PrimaryKey)) {
    for (const auto& K : T.PrimaryKey) T.Identity.push_back(FDialect.QuoteName(K));
  } else {
    for (const auto& X : T.Indexes)
      if (T.Identity.empty() && X.Unique && NeverEmpty(X.Columns))
        for (const auto& K : X.Columns) T.Identity.push_back(FDialect.QuoteName(K));
  }
  if (T.Identity.empty() && !T.View && !WithoutRowid)
    for (const char* Id : {"rowid", "_rowid_", "oid"})
      if (T.Identity.empty() && T.ColumnIndex(Id) < 0) T.Identity.push_back(Id);
  return T;
}

Variant TSqliteConnection::ToVariant(const TDbValueRef& V, TFieldType T) const {
  if (V.Type == TDbType::Null) return Variant::Null();
  const bool IsNumber = V.Type == TDbType::Integer || V.Type == TDbType::Float;
  const double Number = V.Type == TDbType::Integer ? static_cast<double>(V.Int) : V.Float;
  double D = 0;
  if (T == ftBlob || StorageKindOf(T) == TStorageKind::String) {
    if (V.Type == TDbType::Integer) return Variant(std::to_string(V.Int));
    if (V.Type == TDbType::Float) return Variant(FloatToStr(V.Float));
    if (V.Text.empty()) return Variant::Null();
    return Variant(V.Text);
  }
  if (IsDateTimeType(T)) {
    if (IsNumber) {
      // SQLite's date functions read numbers as Julian days.
      D = Number - kJulianDayZero;
      if (T == ftDate) D = std::floor(D);
      if (T == ftTime) D -= std::floor(D);
    } else if (!ParseIsoDate(V.Text, T, D)) {
      return Variant::Null();
    }
    return Variant(TDateTime(D));
  }
  if (!IsNumber && !TextNumber(V.Text, D)) {
    if (T != ftBoolean) return Variant::Null();
    const std::string L = LowerCase(Trim(V.Text));
    if (L == "true" || L == "t") return Variant(true);
    if (L == "false" || L == "f") return Variant(false);
    return Variant::Null();
  }
  if (IsNumber) D = Number;
  if (T == ftBoolean) return Variant(D != 0);
  if (T == ftCurrency) return Variant::Currency(D);
  if (IsFloatType(T) || !IsIntegral(D)) return Variant(D);
  if (V.Type == TDbType::Integer && (V.Int < INT32_MIN || V.Int > INT32_MAX)) return Variant(V.Int);
  return Variant(static_cast<int>(D));
}

}  // namespace

std::shared_ptr<TDbConnection> OpenSqliteDatabase(const TDatabaseRef& Ref) {
  return std::make_shared<TSqliteConnection>(Ref);
}

}  // namespace kv
