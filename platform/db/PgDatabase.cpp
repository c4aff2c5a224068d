// The PostgreSQL backend: one client connection to a database, its catalog read from
// pg_catalog, statements with bound (typed where the platform knows the type) parameters, and
// the server's values read into rows by their column types.
#include "PgDatabase.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <mutex>

#include "DbTypes.h"
#include "PgConnection.h"
#include "PgDialect.h"
#include "PgTypes.h"
#include "Progress.h"
#include "SysUtils.h"
#include "TableStore.h"
#include "Unicode.h"

namespace kv {

namespace {

constexpr const char* kByteOrder = " COLLATE \"C\"";

// A statement the server cancelled because of replication (see TPgDbConnection::Exec): a form
// shows its message as it is.
class EPgReplicaConflict final : public EPgError, public TStoreFailure {
 public:
  EPgReplicaConflict(std::string SqlState, const std::string& Message)
      : EPgError(TPgFailure::Cancelled, std::move(SqlState), Message) {}
};

// The text that follows every text starting with Prefix, in code point order: the prefix with
// its last code point that can grow grown by one (surrogates skipped), empty when there is none.
std::string AfterPrefix(const std::string& Prefix) {
  std::u32string Cps;
  for (size_t I = 0; I < Prefix.size();) {
    const unsigned char C = static_cast<unsigned char>(Prefix[I]);
    const int N = C < 0x80 ? 1 : C < 0xE0 ? 2 : C < 0xF0 ? 3 : 4;
    char32_t Cp = N == 1 ? C : N == 2 ? (C & 0x1F) : N == 3 ? (C & 0x0F) : (C & 0x07);
    for (int K = 1; K < N && I + K < Prefix.size(); ++K)
      Cp = (Cp << 6) | (static_cast<unsigned char>(Prefix[I + K]) & 0x3F);
    Cps.push_back(Cp);
    I += N;
  }
  while (!Cps.empty() && Cps.back() >= 0x10FFFF) Cps.pop_back();
  if (Cps.empty()) return {};
  Cps.back() = Cps.back() == 0xD7FF ? 0xE000 : Cps.back() + 1;
  std::string Out;
  for (char32_t Cp : Cps) AppendUtf8(Cp, Out);
  return Out;
}

bool IsTextField(TFieldType T) {
  return T != ftUnknown && T != ftBlob && StorageKindOf(T) == TStorageKind::String;
}

class TPgDialect final : public TSqlDialect {
 public:
  const char* Name() const override { return "PostgreSQL"; }
  std::string QuoteName(std::string_view Name) const override { return PgQuoteIdentifier(Name); }
  std::string Parameter(int N) const override { return "$" + std::to_string(N); }
  // The server's lower() under the collation whose case mapping is the platform's.
  std::string Lower(const std::string& Expr) const override { return PgLower(Expr); }
  std::string InByteOrder(const std::string& Expr) const override {
    return "(" + Expr + ")" + kByteOrder;
  }
  // Texts order by their bytes (code points), whatever the database's own collation says.
  std::string SortColumn(const std::string& Quoted, TFieldType T) const override {
    return IsTextField(T) ? Quoted + kByteOrder : Quoted;
  }
  // The local SQL's functions where the server's differ in name, arguments or meaning.
  std::string Call(const std::string& Name, const std::vector<std::string>& Args,
                   const std::string& Plain) const override {
    if (Name == "LOWER" && Args.size() == 1) return PgLower(Args[0]);
    if (Name == "UPPER" && Args.size() == 1) return PgUpper(Args[0]);
    if (Name == "INSTR" && Args.size() == 2) return "strpos(" + Args[0] + ", " + Args[1] + ")";
    if (Name == "IFNULL" && Args.size() == 2) return "coalesce(" + Args[0] + ", " + Args[1] + ")";
    if (Name == "TRIM" && Args.size() == 2) return "btrim(" + Args[0] + ", " + Args[1] + ")";
    if (Name == "ROUND")
      return "round((" + Args[0] + ")::numeric" + (Args.size() > 1 ? ", " + Args[1] : "") +
             ")::double precision";
    return Plain;
  }
  // LIKE by bytes, case counting, with no escape character unless the statement names one.
  std::string Like(const std::string& Expr, const std::string& Pattern, bool Not,
                   const std::string& Escape, const std::string& Plain) const override {
    (void)Plain;
    return PgLike(Expr, Pattern, Not, Escape);
  }
  // A range in code point order; its upper end is a valid text (the server refuses others).
  std::string StartsWith(const std::string& Expr, const std::string& Prefix,
                         TSqlParams& Params) const override {
    const std::string E = "(" + Expr + ")" + kByteOrder;
    const std::string From = E + " >= " + Params.Add(Prefix, ftString);
    const std::string After = AfterPrefix(Prefix);
    if (After.empty()) return "(" + From + ")";
    return "(" + From + " AND " + E + " < " + Params.Add(After, ftString) + ")";
  }
};

// The length of the well-formed UTF-8 character at S[I] (no overlong form, surrogate or code
// point beyond U+10FFFF), 0 when none starts there.
size_t Utf8CharAt(std::string_view S, size_t I) {
  const unsigned char C = static_cast<unsigned char>(S[I]);
  if (C < 0x80) return 1;
  const size_t N = C >= 0xC2 && C <= 0xDF   ? 2
                   : C >= 0xE0 && C <= 0xEF ? 3
                   : C >= 0xF0 && C <= 0xF4 ? 4
                                            : 0;
  if (N == 0 || I + N > S.size()) return 0;
  for (size_t K = 1; K < N; ++K)
    if ((static_cast<unsigned char>(S[I + K]) & 0xC0) != 0x80) return 0;
  const unsigned char D = static_cast<unsigned char>(S[I + 1]);
  if ((C == 0xE0 && D < 0xA0) || (C == 0xED && D > 0x9F) || (C == 0xF0 && D < 0x90) ||
      (C == 0xF4 && D > 0x8F))
    return 0;
  return N;
}

// A text as the server takes it. The server refuses bytes that are no UTF-8, which a table file
// holds and compares as they are; such a constant can equal no text the server stores, so each
// byte of it that starts no character stands as U+FFFF, a code point no exchanged text holds.
// The constant then matches nothing, its negation everything, as over table files.
std::string ServerText(std::string S) {
  if (IsValidUtf8(S)) return S;
  std::string Out;
  Out.reserve(S.size() + 8);
  for (size_t I = 0; I < S.size();) {
    const size_t N = Utf8CharAt(S, I);
    if (N == 0) {
      Out += "\xEF\xBF\xBF";
      ++I;
    } else {
      Out.append(S, I, N);
      I += N;
    }
  }
  return Out;
}

bool IsIntegral(double D) {
  return std::isfinite(D) && D == std::floor(D) && std::fabs(D) < 9.2e18;
}

// ASCII letters in lower case: how the server folds a name written without quotes.
std::string FoldName(std::string S) {
  for (char& C : S)
    if (C >= 'A' && C <= 'Z') C = static_cast<char>(C - 'A' + 'a');
  return S;
}

int HexDigit(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

class TPgDbConnection final : public TDbConnection {
 public:
  explicit TPgDbConnection(TDatabaseRef Ref)
      : TDbConnection(std::move(Ref)), FPg(this->Ref().Target) {}

  const TSqlDialect& Dialect() const override { return FDialect; }
  TDbTableInfo Table(const std::string& Name) override;
  void Query(const std::string& Sql, const std::vector<TSqlParam>& Params, TDbRows& Out,
             const char* What) override;
  void Execute(const std::string& Sql, const std::vector<TSqlParam>& Params) override {
    TDbRows Ignored;
    Query(Sql, Params, Ignored, "Guardando");
  }
  Variant ToVariant(const TDbValueRef& V, TFieldType T) const override;
  std::string TypeName(TFieldType T, int Size) const override { return PgColumnType(T, Size); }
  std::vector<std::pair<std::string, TFieldType>> ColumnTypes(
      const std::string& Relation) override {
    std::vector<std::pair<std::string, TFieldType>> Out;
    const TPgResult R = Exec("SELECT * FROM " + Relation + " AS \"q\" LIMIT 0", {});
    for (int C = 0; C < R.Columns(); ++C) {
      const TPgFieldType F = R.FieldType(C);
      Out.emplace_back(R.ColumnName(C), F.AsText ? ftUnknown : F.DataType);
    }
    return Out;
  }
  std::string DateLiteral(double Days, TFieldType T) const override {
    return PgDateLiteral(TDateTime(Days), T == ftDate || T == ftTime ? T : ftDateTime);
  }
  std::string BooleanLiteral(bool V) const override { return V ? "TRUE" : "FALSE"; }
  void Cancel() override { FPg.Cancel(); }

 private:
  TPgDialect FDialect;
  TPgConnection FPg;
  std::string FBytes;  // a bytea value decoded (reused)

  void Bind(TPgParams& P, const TSqlParam& Param) const;
  // Runs a statement and reads its rows, untraced (the catalog's reads).
  void Read(const std::string& Sql, const std::vector<TSqlParam>& Params, TDbRows& Out);
  // Runs a statement; an error of the statement names it.
  TPgResult Exec(const std::string& Sql, const TPgParams& P);
  void Append(const TPgResult& R, TDbRows& Out);
};

void TPgDbConnection::Bind(TPgParams& P, const TSqlParam& Param) const {
  const Variant& V = Param.Value;
  const TFieldType T = Param.Type;
  if (V.IsNullOrEmpty()) {
    // A Null keeps its type: the server cannot infer one from "$1 IS NULL".
    P.AddNull();
    if (T == ftBlob)
      P.SetLastType(pgtype::Bytea);
    else if (T != ftUnknown && StorageKindOf(T) == TStorageKind::String)
      P.SetLastType(pgtype::Text);
    return;
  }
  if (T == ftBlob) {
    static const char* Hex = "0123456789abcdef";
    const std::string S = V.AsString();
    std::string H = "\\x";
    for (unsigned char C : S) {
      H += Hex[C >> 4];
      H += Hex[C & 15];
    }
    P.AddText(H);
    P.SetLastType(pgtype::Bytea);
    return;
  }
  if (T == ftUnknown) {
    // A value read from the database: its text, read by the server as the column's type.
    if (V.IsString())
      P.AddText(ServerText(V.AsString()));
    else if (V.IsOrdinal())
      P.AddInt(V.AsInt64());
    else if (V.VarType() == varBoolean)
      P.AddBool(V.AsBoolean());
    else
      P.AddDouble(V.VarType() == varDate ? V.AsDateTime().Val : V.AsDouble());
    return;
  }
  if (StorageKindOf(T) == TStorageKind::String) {
    P.AddText(ServerText(V.AsString()));
    P.SetLastType(pgtype::Text);
  } else if (IsDateTimeType(T)) {
    const TFieldType K = T == ftDate || T == ftTime ? T : ftDateTime;
    P.AddDateTime(V.AsDateTime(), K);
    P.SetLastType(K == ftDate ? pgtype::Date : K == ftTime ? pgtype::Time : pgtype::Timestamp);
  } else if (T == ftBoolean) {
    P.AddBool(V.AsBoolean());
    P.SetLastType(pgtype::Bool);
  } else if (V.IsOrdinal()) {
    P.AddInt(V.AsInt64());
    P.SetLastType(pgtype::Int8);
  } else {
    const double D = V.VarType() == varDate ? V.AsDateTime().Val : V.AsDouble();
    if (T == ftCurrency || T == ftBCD) {
      P.AddDouble(D);
      P.SetLastType(pgtype::Numeric);
    } else if (IsIntegral(D) && !IsFloatType(T)) {
      P.AddInt(static_cast<int64_t>(D));
      P.SetLastType(pgtype::Int8);
    } else {
      P.AddDouble(D);
      P.SetLastType(pgtype::Float8);
    }
  }
}

void TPgDbConnection::Append(const TPgResult& R, TDbRows& Out) {
  const int Cols = R.Columns();
  std::vector<TPgOid> Types(static_cast<size_t>(Cols));
  for (int C = 0; C < Cols; ++C) Types[static_cast<size_t>(C)] = R.ColumnType(C);
  for (int Row = 0; Row < R.Rows(); ++Row) {
    for (int C = 0; C < Cols; ++C) {
      if (R.IsNull(Row, C)) {
        Out.AddNull();
        continue;
      }
      const std::string_view S = R.Text(Row, C);
      switch (Types[static_cast<size_t>(C)]) {
        case pgtype::Int2:
        case pgtype::Int4:
        case pgtype::Int8:
        case pgtype::Oid: {
          int64_t V = 0;
          std::from_chars(S.data(), S.data() + S.size(), V);
          Out.AddInt(V);
          break;
        }
        case pgtype::Bool:
          Out.AddInt(S == "t" ? 1 : 0);
          break;
        case pgtype::Float4:
        case pgtype::Float8:
          // strtod reads the server's "NaN", "Infinity" and "-Infinity" too.
          FBytes.assign(S);
          Out.AddFloat(std::strtod(FBytes.c_str(), nullptr));
          break;
        case pgtype::Bytea: {
          FBytes.clear();
          if (S.size() >= 2 && S[0] == '\\' && S[1] == 'x') {
            for (size_t I = 2; I + 1 < S.size(); I += 2) {
              const int Hi = HexDigit(S[I]), Lo = HexDigit(S[I + 1]);
              if (Hi < 0 || Lo < 0) break;
              FBytes += static_cast<char>(Hi * 16 + Lo);
            }
          } else {
            FBytes.assign(S);
          }
          Out.AddText(FBytes, true);
          break;
        }
        default:
          Out.AddText(S);
      }
    }
  }
}

void TPgDbConnection::Query(const std::string& Sql, const std::vector<TSqlParam>& Params,
                            TDbRows& Out, const char* What) {
  (void)What;  // the client reports the wait itself
  Traced(Sql, Params);
  Read(Sql, Params, Out);
}

void TPgDbConnection::Read(const std::string& Sql, const std::vector<TSqlParam>& Params,
                           TDbRows& Out) {
  TPgParams P;
  for (const auto& Param : Params) Bind(P, Param);
  const TPgResult R = Exec(Sql, P);
  Out.Reset(R.Columns());
  Append(R, Out);
}

TPgResult TPgDbConnection::Exec(const std::string& Sql, const TPgParams& P) {
  try {
    return FPg.Exec(Sql, P);
  } catch (const EPgError& E) {
    // A standby cancels a read that its replay of the primary's changes would otherwise wait
    // for (a vacuum removing rows the read still sees, a lock): a failure of the server, not of
    // the search, which usually works when run again.
    if (E.SqlState() == "40001" || E.SqlState() == "40P01" ||
        std::string_view(E.what()).find("conflict with recovery") != std::string_view::npos)
      throw EPgReplicaConflict(
          E.SqlState(),
          "El servidor de la base de datos '" + Ref().Shown +
              "' ha detenido la búsqueda por la replicación (un conflicto con los cambios que "
              "recibe del servidor principal); vuelva a intentarlo");
    // The statement helps with an error of the statement; a failure of the server or the
    // connection says what to do itself.
    // (A missing table or a permission names the table itself.)
    if (E.Failure() == TPgFailure::Statement)
      throw EPgError(E.Failure(), E.SqlState(),
                     std::string(E.what()) + " (sentencia: " + Sql + ")");
    throw;
  }
}

TDbTableInfo TPgDbConnection::Table(const std::string& Name) {
  const std::vector<TNamePart> Parts = SplitQualifiedName(Name);
  auto Missing = [&]() -> void {
    throw EDatabaseError("No se encuentra la tabla '" + Trim(Name) + "' en la base de datos '" +
                         Ref().Shown + "'");
  };
  if (Parts.size() > 2) Missing();
  const TNamePart& Wanted = Parts.back();
  const TNamePart* Schema = Parts.size() == 2 ? &Parts[0] : nullptr;
  std::vector<TSqlParam> Args = {{Variant(Wanted.Text), ftString}};
  Args.push_back(Schema ? TSqlParam{Variant(Schema->Text), ftString}
                        : TSqlParam{Variant::Null(), ftString});
  TDbRows R;
  // Candidates in any letter case, chosen below by the server's own rules for names.
  Read(
      "SELECT c.oid::int8, n.nspname::text, c.relname::text, c.relkind::text, "
      "coalesce(array_position(current_schemas(false), n.nspname::text), 0) "
      "FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
      "WHERE c.relkind IN ('r', 'v', 'm', 'p', 'f') AND lower(c.relname) = lower($1) AND "
      "CASE WHEN $2 IS NULL THEN n.nspname = ANY (current_schemas(false)) "
      "ELSE lower(n.nspname) = lower($2) END",
      Args, R);
  // How well a name of the catalog matches a part as written: quoted, exactly; unquoted, as the
  // server folds it, else as written, else in any letter case. 3: no match.
  auto Rank = [](const TNamePart& Part, std::string_view Catalog) {
    if (Part.Quoted) return Catalog == Part.Text ? 0 : 3;
    if (Catalog == FoldName(Part.Text)) return 0;
    if (Catalog == Part.Text) return 1;
    return 2;
  };
  size_t Best = R.RowCount();
  int64_t BestScore = INT64_MAX;
  for (size_t I = 0; I < R.RowCount(); ++I) {
    const int NameRank = Rank(Wanted, R.At(I, 2).Text);
    const int SchemaRank = Schema ? Rank(*Schema, R.At(I, 1).Text) : 0;
    if (NameRank == 3 || SchemaRank == 3) continue;
    const int64_t Score = (SchemaRank * 4 + NameRank) * 1000 + R.At(I, 4).Int;
    if (Score < BestScore) {
      BestScore = Score;
      Best = I;
    }
  }
  if (Best == R.RowCount()) Missing();
  const std::string Oid = std::to_string(R.At(Best, 0).Int);
  const std::string SchemaName(R.At(Best, 1).Text), Relation(R.At(Best, 2).Text);
  const std::string Kind(R.At(Best, 3).Text);
  TDbTableInfo T;
  T.View = Kind == "v";
  T.Sql = PgQuoteIdentifier(SchemaName, Relation);
  T.Shown = Schema ? SchemaName + "." + Relation : Relation;

  const std::vector<TSqlParam> ByOid = {{Variant(Oid), ftUnknown}};
  Read(
      "SELECT a.attname::text, a.attnotnull, CASE WHEN t.typtype = 'd' THEN "
      "format_type(t.typbasetype, t.typtypmod) ELSE format_type(a.atttypid, a.atttypmod) END, "
      "CASE WHEN t.typtype = 'd' THEN t.typbasetype ELSE a.atttypid END::int8, "
      "CASE WHEN t.typtype = 'd' THEN t.typtypmod ELSE a.atttypmod END::int8 "
      "FROM pg_catalog.pg_attribute a JOIN pg_catalog.pg_type t ON t.oid = a.atttypid "
      "WHERE a.attrelid = $1::oid AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum",
      ByOid, R);
  for (size_t I = 0; I < R.RowCount(); ++I) {
    TDbColumnInfo C;
    C.Def.Name = std::string(R.At(I, 0).Text);
    // One mapping of declared types for every kind of database (a domain by its base type).
    C.DeclaredType = std::string(R.At(I, 2).Text);
    C.Def.DataType = FieldTypeOfDeclared(C.DeclaredType, C.Def.Size);
    // An array shows as its text, whatever its elements are.
    if (C.DeclaredType.ends_with("[]")) {
      C.Def.DataType = ftMemo;
      C.Def.Size = 0;
    }
    C.AsText =
        C.DeclaredType.ends_with("[]") ||
        PgFieldTypeOf(static_cast<TPgOid>(R.At(I, 3).Int), static_cast<int>(R.At(I, 4).Int)).AsText;
    C.NotNull = R.At(I, 1).Int != 0;
    C.Def.Required = C.NotNull;
    T.Columns.push_back(std::move(C));
  }

  if (!T.View) {
    Read(
        "SELECT i.relname::text, x.indisunique, x.indisprimary, a.attname::text "
        "FROM pg_catalog.pg_index x JOIN pg_catalog.pg_class i ON i.oid = x.indexrelid "
        "CROSS JOIN LATERAL generate_series(1, x.indnkeyatts) AS k(o) "
        "LEFT JOIN pg_catalog.pg_attribute a ON a.attrelid = x.indrelid AND "
        "a.attnum = x.indkey[k.o - 1] "
        "WHERE x.indrelid = $1::oid AND x.indpred IS NULL AND x.indisvalid "
        "ORDER BY x.indisprimary DESC, i.relname, k.o",
        ByOid, R);
    bool Plain = true;
    for (size_t I = 0; I < R.RowCount(); ++I) {
      const std::string_view IndexName = R.At(I, 0).Text;
      if (I == 0 || IndexName != T.Indexes.back().Name) {
        // Indexes over expressions have no fields to name.
        if (I > 0 && !Plain) T.Indexes.pop_back();
        T.Indexes.push_back({std::string(IndexName), {}, R.At(I, 1).Int != 0, R.At(I, 2).Int != 0});
        Plain = true;
      }
      if (R.At(I, 3).Type == TDbType::Null)
        Plain = false;
      else
        T.Indexes.back().Columns.emplace_back(R.At(I, 3).Text);
    }
    if (!Plain && !T.Indexes.empty()) T.Indexes.pop_back();
    for (const auto& X : T.Indexes)
      if (X.Primary) T.PrimaryKey = X.Columns;
  }

  auto NeverEmpty = [&](const std::vector<std::string>& Cols) {
    for (const auto& N : Cols)
      if (!T.Columns[static_cast<size_t>(T.ColumnIndex(N))].NotNull) return false;
    return !Cols.empty();
  };
  auto Identity = [&](const std::vector<std::string>& Cols) {
    for (const auto& K : Cols)
      T.Identity.push_back(FDialect.SortColumn(
          PgQuoteIdentifier(K), T.Columns[static_cast<size_t>(T.ColumnIndex(K))].Def.DataType));
  };
  if (NeverEmpty(T.PrimaryKey)) {
    Identity(T.PrimaryKey);
  } else {
    for (const auto& X : T.Indexes)
      if (T.Identity.empty() && X.Unique && NeverEmpty(X.Columns)) Identity(X.Columns);
  }
  // A plain table's rows have their place in it; a view, a partitioned or a foreign table none.
  if (T.Identity.empty() && (Kind == "r" || Kind == "m") && T.ColumnIndex("ctid") < 0)
    T.Identity.push_back("ctid");
  return T;
}

Variant TPgDbConnection::ToVariant(const TDbValueRef& V, TFieldType T) const {
  if (V.Type == TDbType::Null) return Variant::Null();
  const bool IsNumber = V.Type == TDbType::Integer || V.Type == TDbType::Float;
  const double Number = V.Type == TDbType::Integer ? static_cast<double>(V.Int) : V.Float;
  if (T == ftBlob || StorageKindOf(T) == TStorageKind::String) {
    if (V.Type == TDbType::Integer) return Variant(std::to_string(V.Int));
    if (V.Type == TDbType::Float) return Variant(FloatToStr(V.Float));
    if (V.Text.empty()) return Variant::Null();
    return Variant(V.Text);
  }
  if (IsDateTimeType(T)) {
    TDateTime D;
    if (IsNumber) return Variant(TDateTime(Number));
    const TFieldType K = T == ftDate || T == ftTime ? T : ftDateTime;
    if (!PgParseDateTime(V.Text, K, D)) return Variant::Null();
    return Variant(D);
  }
  double D = Number;
  if (!IsNumber) {
    const std::string S = Trim(V.Text);
    if (T == ftBoolean && (S == "t" || S == "f")) return Variant(S == "t");
    char* End = nullptr;
    D = std::strtod(S.c_str(), &End);
    if (S.empty() || End != S.c_str() + S.size()) {
      // money as the server writes it: a currency sign and thousands separators around it.
      std::string Digits;
      for (char C : S)
        if ((C >= '0' && C <= '9') || C == '.' || C == '-') Digits += C;
      if (T != ftCurrency || Digits.empty()) return Variant::Null();
      D = std::strtod(Digits.c_str(), &End);
      if (End != Digits.c_str() + Digits.size()) return Variant::Null();
    }
  }
  if (T == ftBoolean) return Variant(D != 0);
  if (T == ftCurrency) return Variant::Currency(D);
  if (IsFloatType(T) || !IsIntegral(D)) return Variant(D);
  if (V.Type == TDbType::Integer && (V.Int < INT32_MIN || V.Int > INT32_MAX)) return Variant(V.Int);
  if (D < INT32_MIN || D > INT32_MAX) return Variant(D);
  return Variant(static_cast<int>(D));
}

}  // namespace

std::shared_ptr<TDbConnection> OpenPgDatabase(const TDatabaseRef& Ref) {
  return std::make_shared<TPgDbConnection>(Ref);
}

}  // namespace kv
