// Translator of the local SQL into SQLite SQL. Every name is resolved here against the tables'
// schemas, so SQLite only ever sees quoted "tN"."column" references and escaped constants.
#include "SqlTranslator.h"

#include <charconv>
#include <cstdio>
#include <unordered_map>

#include "DateTime.h"
#include "SqlDialect.h"
#include "SqlLexer.h"
#include "SysUtils.h"
#include "Unicode.h"

namespace kv {

std::string SqlTableName(size_t Index) {
  return "t" + std::to_string(Index + 1);
}

namespace {

// Reads up to MaxDigits digits at S[I]; false when there is none.
bool ReadNumber(std::string_view S, size_t& I, int MaxDigits, int& Out) {
  int N = 0;
  Out = 0;
  while (I < S.size() && N < MaxDigits && S[I] >= '0' && S[I] <= '9') {
    Out = Out * 10 + (S[I] - '0');
    ++I;
    ++N;
  }
  return N > 0;
}

// hh:mm[:ss[.zzz]] from S[I] to the end.
bool ReadTime(std::string_view S, size_t I, double& Days) {
  int H, M, Sec = 0, MSec = 0;
  if (!ReadNumber(S, I, 2, H) || I >= S.size() || S[I++] != ':' || !ReadNumber(S, I, 2, M))
    return false;
  if (I < S.size() && S[I] == ':') {
    ++I;
    if (!ReadNumber(S, I, 2, Sec)) return false;
    if (I < S.size() && S[I] == '.') {
      ++I;
      size_t Start = I;
      if (!ReadNumber(S, I, 3, MSec)) return false;
      for (size_t K = I - Start; K < 3; ++K) MSec *= 10;
    }
  }
  if (I != S.size()) return false;
  TDateTime T;
  if (!TryEncodeTime(H, M, Sec, MSec, T)) return false;
  Days = T.Val;
  return true;
}

bool IsDateType(TFieldType T) {
  return T == ftDate || T == ftTime || T == ftDateTime;
}

// Numbers, counters and booleans: what SQLite holds as a number (dates are days, apart).
bool IsNumberColumnType(TFieldType T) {
  return T != ftUnknown && !IsDateType(T) && StorageKindOf(T) != TStorageKind::String;
}

std::string FormatNumber(double V) {
  char Buf[40];
  snprintf(Buf, sizeof Buf, "%.17g", V);
  return Buf;
}

// A number written in a string constant ("1500.5", " 12 "): the text SQLite reads, or "".
std::string NumberFromText(std::string_view S) {
  std::string T = Trim(S);
  if (T.empty()) return "";
  const char* B = T.data();
  const char* E = T.data() + T.size();
  if (*B == '+') ++B;
  if (B == E) return "";
  int64_t I;
  auto [P1, Ec1] = std::from_chars(B, E, I);
  if (Ec1 == std::errc() && P1 == E) return std::to_string(I);
  double D;
  auto [P2, Ec2] = std::from_chars(B, E, D);
  if (Ec2 == std::errc() && P2 == E) return FormatNumber(D);
  return "";
}

enum class TXClass { Other, Column, StringConst, NumberConst, BoolConst, NullConst };

// A translated expression with what the translator knows of it.
struct TX {
  std::string Sql;
  TXClass Cls = TXClass::Other;
  TFieldType Type = ftUnknown;  // the column's type, or the result type when known
  int Size = 0;
  std::string Name;  // a column's field name
  int Table = -1;    // a column's FROM entry and index
  int Col = -1;
  std::string Const;  // a constant's value
  int Pos = 0;
};

struct TFuncInfo {
  const char* Name;
  const char* SqlName;
  int MinArgs;
  int MaxArgs;        // -1: any number
  TFieldType Result;  // ftUnknown: from the values
};

const TFuncInfo Functions[] = {
    {"COUNT", "count", 0, 1, ftInteger},
    {"SUM", "sum", 1, 1, ftFloat},
    {"AVG", "avg", 1, 1, ftFloat},
    {"MIN", "min", 1, -1, ftUnknown},
    {"MAX", "max", 1, -1, ftUnknown},
    {"LOWER", "lower", 1, 1, ftString},
    {"UPPER", "upper", 1, 1, ftString},
    {"UNACCENT", "unaccent", 1, 1, ftString},
    {"TRIM", "trim", 1, 2, ftString},
    {"LTRIM", "ltrim", 1, 2, ftString},
    {"RTRIM", "rtrim", 1, 2, ftString},
    {"SUBSTRING", "substr", 2, 3, ftString},
    {"SUBSTR", "substr", 2, 3, ftString},
    {"REPLACE", "replace", 3, 3, ftString},
    {"LENGTH", "length", 1, 1, ftInteger},
    {"CHAR_LENGTH", "length", 1, 1, ftInteger},
    {"CHARACTER_LENGTH", "length", 1, 1, ftInteger},
    {"INSTR", "instr", 2, 2, ftInteger},
    {"ABS", "abs", 1, 1, ftUnknown},
    {"ROUND", "round", 1, 2, ftFloat},
    {"COALESCE", "coalesce", 2, -1, ftUnknown},
    {"IFNULL", "ifnull", 2, 2, ftUnknown},
    {"NULLIF", "nullif", 2, 2, ftUnknown},
};

const TFuncInfo* FindFunction(const std::string& Upper) {
  for (const auto& F : Functions)
    if (Upper == F.Name) return &F;
  return nullptr;
}

class TTranslator {
 public:
  TTranslator(const TSqlStatement& St, const TSqlSchemaLookup& Lookup, const TSqlTarget* Target)
      : FSt(St), FSel(*St.Select), FLookup(Lookup), FTarget(Target) {}

  TSqlTranslation Run() {
    for (const auto& R : FSel.From) {
      auto Schema = FLookup(R.Name);
      if (!Schema) RaiseSqlErrorAt("Tabla desconocida '" + R.Name + "'", R.Pos);
      FOut.Tables.push_back(std::move(*Schema));
    }
    std::string Items, RowItems;
    for (const auto& It : FSel.Items) {
      if (It.Star) {
        int Only = It.StarQualifier.empty() ? -1 : MatchTable(It.StarQualifier, It.Pos);
        for (size_t T = 0; T < FOut.Tables.size(); ++T) {
          if (Only >= 0 && static_cast<int>(T) != Only) continue;
          const auto& Cols = FOut.Tables[T].Columns;
          for (size_t C = 0; C < Cols.size(); ++C) {
            if (NameUsed(Cols[C].Name)) continue;
            TX X = ColumnX(static_cast<int>(T), static_cast<int>(C), It.Pos);
            AddResult(Items, RowItems, X, Cols[C].Name);
          }
        }
        continue;
      }
      FClause = TClause::Select;
      TX X = Expr(*It.Expr);
      std::string Name = !It.Alias.empty()          ? It.Alias
                         : X.Cls == TXClass::Column ? X.Name
                                                    : Source(*It.Expr);
      Name = UniqueName(Name);
      if (!It.Alias.empty()) FUserAliases.emplace_back(It.Alias, Name);
      AddResult(Items, RowItems, X, Name);
    }

    std::string Sql = " FROM ";
    for (size_t T = 0; T < FSel.From.size(); ++T) {
      const auto& R = FSel.From[T];
      if (T > 0) {
        switch (R.Join) {
          case TSqlJoinKind::List:
            Sql += ", ";
            break;
          case TSqlJoinKind::Inner:
            Sql += " INNER JOIN ";
            break;
          case TSqlJoinKind::Left:
            Sql += " LEFT JOIN ";
            break;
        }
      }
      Sql += FTarget ? FTarget->TableReference(T, FOut.Tables[T]) : QuoteSqlName(SqlTableName(T));
      if (R.On) {
        FClause = TClause::On;
        Sql += " ON " + Expr(*R.On).Sql;
      }
    }
    if (FSel.Where) {
      FClause = TClause::Where;
      Sql += " WHERE " + Expr(*FSel.Where).Sql;
    }
    if (!FSel.GroupBy.empty()) {
      FClause = TClause::GroupBy;
      Sql += " GROUP BY ";
      for (size_t I = 0; I < FSel.GroupBy.size(); ++I)
        Sql += (I ? ", " : "") + Expr(*FSel.GroupBy[I]).Sql;
    }
    if (FSel.Having) {
      FClause = TClause::Having;
      Sql += " HAVING " + Expr(*FSel.Having).Sql;
    }
    const std::string Unordered = Sql;
    bool PlainOrder = true;  // every ORDER BY term a column as it is
    if (!FSel.OrderBy.empty()) {
      FClause = TClause::OrderBy;
      Sql += " ORDER BY ";
      for (size_t I = 0; I < FSel.OrderBy.size(); ++I) {
        // Ordinals and aliases point into the select list, which the row form rewrites.
        if (FSel.OrderBy[I].Expr->Kind == TSqlExprKind::Number) FUsesSelectList = true;
        const TX X = Expr(*FSel.OrderBy[I].Expr);
        Sql += (I ? ", " : "") + X.Sql + (FSel.OrderBy[I].Desc ? " DESC" : " ASC");
        FOut.OrderTerms.push_back({X.Sql, FSel.OrderBy[I].Desc});
        PlainOrder &= X.Cls == TXClass::Column && X.Table >= 0 && X.Col >= 0;
        if (PlainOrder) FOut.OrderKeys.push_back({X.Table, X.Col, FSel.OrderBy[I].Desc});
      }
    }
    if (!PlainOrder) FOut.OrderKeys.clear();
    FOut.Text = std::string("SELECT ") + (FSel.Distinct ? "DISTINCT " : "") + Items + Sql;
    FOut.Items = Items;
    FOut.Body = Unordered;
    if (!FSel.Distinct && FSel.GroupBy.empty() && !FSel.Having && !FAggregate && !FUsesSelectList) {
      std::string Ids;
      bool AllIds = true;
      for (size_t T = 0; T < FOut.Tables.size(); ++T) {
        const char* Id = RowIdName(FOut.Tables[T]);
        AllIds &= Id != nullptr;
        if (Id) Ids += (T ? ", " : "") + QuoteSqlName(SqlTableName(T)) + "." + Id;
      }
      if (AllIds) {
        const std::string Select = "SELECT " + Ids + (RowItems.empty() ? "" : ", " + RowItems);
        FOut.RowText = Select + Sql;
        if (!FOut.OrderKeys.empty()) FOut.UnorderedRowText = Select + Unordered;
        FOut.EveryRow = FSel.From.size() == 1 && !FSel.Where;
      }
    }
    if (FOut.UnorderedRowText.empty()) FOut.OrderKeys.clear();
    return std::move(FOut);
  }

 private:
  enum class TClause { Select, On, Where, GroupBy, Having, OrderBy };

  const TSqlStatement& FSt;
  const TSqlSelect& FSel;
  const TSqlSchemaLookup& FLookup;
  const TSqlTarget* FTarget;
  TSqlTranslation FOut;
  TClause FClause = TClause::Select;
  std::vector<std::pair<std::string, std::string>> FUserAliases;   // alias -> result name
  mutable std::unordered_map<std::string, std::string> FResolved;  // qualifier -> path
  bool FAggregate = false;                                         // an aggregate function anywhere
  mutable bool FUsesSelectList = false;  // ORDER BY etc. name a result column

  // A name for the row number that no column of the table hides; null when all are taken.
  static const char* RowIdName(const TSqlTableSchema& T) {
    for (const char* Id : {"rowid", "_rowid_", "oid"}) {
      bool Taken = false;
      for (const auto& C : T.Columns) Taken |= AnsiSameText(C.Name, Id);
      if (!Taken) return Id;
    }
    return nullptr;
  }

  std::string Source(const TSqlExpr& E) const {
    if (E.End <= E.Begin || E.End > FSt.Source.size()) return "?";
    return Trim(std::string_view(FSt.Source).substr(E.Begin, E.End - E.Begin));
  }

  bool NameUsed(const std::string& Name) const {
    for (const auto& C : FOut.Columns)
      if (AnsiSameText(C.Def.Name, Name)) return true;
    return false;
  }

  std::string UniqueName(const std::string& Name) const {
    if (!NameUsed(Name)) return Name;
    for (int K = 1;; ++K) {
      std::string N = Name + "_" + std::to_string(K);
      if (!NameUsed(N)) return N;
    }
  }

  void AddResult(std::string& Items, std::string& RowItems, const TX& X, const std::string& Name) {
    if (!Items.empty()) Items += ", ";
    Items += X.Sql + " AS " + QuoteSqlName(Name);
    TSqlResultColumn C;
    if (X.Cls == TXClass::Column) {
      C.SourceTable = X.Table;
      C.SourceColumn = X.Col;
    } else {
      if (!RowItems.empty()) RowItems += ", ";
      RowItems += X.Sql + " AS " + QuoteSqlName(Name);
    }
    C.Def.Name = Name;
    C.Def.DataType = X.Type;
    C.Def.Size = X.Size;
    FOut.Columns.push_back(std::move(C));
  }

  int MatchTable(const std::string& Qualifier, int Pos) const {
    // Aliases first, then the names as written, then the file the qualifier resolves to.
    for (size_t T = 0; T < FSel.From.size(); ++T)
      if (!FSel.From[T].Alias.empty() && AnsiSameText(FSel.From[T].Alias, Qualifier))
        return static_cast<int>(T);
    for (size_t T = 0; T < FSel.From.size(); ++T)
      if (AnsiSameText(FSel.From[T].Name, Qualifier) || FOut.Tables[T].Path == Qualifier)
        return static_cast<int>(T);
    auto It = FResolved.find(Qualifier);
    if (It == FResolved.end()) {
      auto Schema = FLookup(Qualifier);
      It = FResolved.emplace(Qualifier, Schema ? Schema->Path : std::string()).first;
    }
    if (!It->second.empty())
      for (size_t T = 0; T < FSel.From.size(); ++T)
        if (FOut.Tables[T].Path == It->second) return static_cast<int>(T);
    RaiseSqlErrorAt("Tabla desconocida '" + Qualifier + "'", Pos);
  }

  // The first listed table that has a column Name.
  bool FindColumn(const std::string& Name, int& Table, int& Col) const {
    for (size_t T = 0; T < FOut.Tables.size(); ++T) {
      const auto& Cols = FOut.Tables[T].Columns;
      for (size_t C = 0; C < Cols.size(); ++C) {
        if (AnsiSameText(Cols[C].Name, Name)) {
          Table = static_cast<int>(T);
          Col = static_cast<int>(C);
          return true;
        }
      }
    }
    return false;
  }

  bool NamesColumn(const TSqlExpr& E) const {
    int T, C;
    return E.Kind == TSqlExprKind::Quoted && FindColumn(E.Text, T, C);
  }

  bool InvolvesColumn(const TSqlExpr& E) const {
    if (E.Kind == TSqlExprKind::Column) return true;
    if (E.Kind == TSqlExprKind::Quoted) return NamesColumn(E);
    for (const auto& A : E.Args)
      if (InvolvesColumn(*A)) return true;
    return false;
  }

  TX ColumnX(int T, int C, int Pos) const {
    const TColumnDef& D = FOut.Tables[T].Columns[C];
    TX X;
    X.Sql = QuoteSqlName(SqlTableName(T)) + "." + QuoteSqlName(D.Name);
    X.Cls = TXClass::Column;
    X.Type = D.DataType;
    X.Size = D.Size;
    X.Name = D.Name;
    X.Table = T;
    X.Col = C;
    X.Pos = Pos;
    return X;
  }

  // An alias of the select list, where the clause may name one.
  bool AliasX(const std::string& Name, TX& X) const {
    if (FClause != TClause::OrderBy && FClause != TClause::GroupBy && FClause != TClause::Having)
      return false;
    for (const auto& [Alias, Result] : FUserAliases) {
      if (!AnsiSameText(Alias, Name)) continue;
      FUsesSelectList = true;
      X.Sql = QuoteSqlName(Result);
      for (const auto& C : FOut.Columns)
        if (C.Def.Name == Result) X.Type = C.Def.DataType;
      return true;
    }
    return false;
  }

  TX StringConst(const TSqlExpr& E) const {
    TX X;
    X.Sql = QuoteSqlString(E.Text);
    X.Cls = TXClass::StringConst;
    X.Type = ftString;
    X.Const = E.Text;
    X.Pos = E.Pos;
    return X;
  }

  // Translates one operand of a comparison, where a lone double-quoted text is a constant
  // when the other side already names a field.
  TX Operand(const TSqlExpr& E, bool QuotedIsConst) {
    if (E.Kind == TSqlExprKind::Quoted && QuotedIsConst) return StringConst(E);
    return Expr(E);
  }

  // Writes a constant compared with a column in the column's stored representation.
  // Col is a field, or an expression of a field's type (min, max, abs) named by its text.
  void Coerce(const TX& Col, TX& Other) const {
    if (Col.Name.empty()) return;
    const TFieldType T = Col.Type;
    if (Other.Cls == TXClass::StringConst && T != ftUnknown &&
        StorageKindOf(T) != TStorageKind::String) {
      if (Trim(Other.Const).empty()) {
        Other.Sql = "NULL";  // an empty text is a Null value
        return;
      }
      if (IsDateType(T)) {
        double Days;
        if (!ParseSqlDateConstant(Other.Const, T, Days))
          RaiseSqlErrorAt("Tipos incompatibles: '" + Other.Const + "' no es " +
                              (T == ftTime ? "una hora válida" : "una fecha válida") +
                              " para el campo '" + Col.Name + "'",
                          Other.Pos);
        Other.Sql = FTarget ? FTarget->DateConstant(Days, T) : FormatNumber(Days);
        return;
      }
      if (T == ftBoolean) {
        std::string L = LowerCase(Trim(Other.Const));
        if (L == "true" || L == "false") {
          Other.Sql = FTarget ? FTarget->BooleanConstant(L == "true") : L == "true" ? "1" : "0";
          return;
        }
      }
      std::string N = NumberFromText(Other.Const);
      if (N.empty())
        RaiseSqlErrorAt("Tipos incompatibles: '" + Other.Const +
                            "' no es un número válido para el campo '" + Col.Name + "'",
                        Other.Pos);
      Other.Sql = N;
      return;
    }
    if (Other.Cls == TXClass::NumberConst && T != ftUnknown &&
        StorageKindOf(T) == TStorageKind::String)
      Other.Sql = QuoteSqlString(Other.Const);
  }

  TX Comparison(const TSqlExpr& E) {
    const TSqlExpr& L = *E.Args[0];
    const TSqlExpr& R = *E.Args[1];
    bool LConst = false, RConst = false;
    if (L.Kind == TSqlExprKind::Quoted && R.Kind == TSqlExprKind::Quoted) {
      LConst = !NamesColumn(L);
      RConst = !LConst;
    } else if (L.Kind == TSqlExprKind::Quoted) {
      LConst = InvolvesColumn(R);
    } else if (R.Kind == TSqlExprKind::Quoted) {
      RConst = InvolvesColumn(L);
    }
    TX A = Operand(L, LConst);
    TX B = Operand(R, RConst);
    if (E.Op != "LIKE") {
      Coerce(A, B);
      Coerce(B, A);
    }
    TX X;
    X.Type = ftBoolean;
    if (E.Op == "LIKE") {
      X.Sql = "(" + A.Sql + (E.Not ? " NOT LIKE " : " LIKE ") + B.Sql;
      const std::string Escape = E.Args.size() > 2 ? Operand(*E.Args[2], true).Sql : "";
      if (!Escape.empty()) X.Sql += " ESCAPE " + Escape;
      X.Sql += ")";
      if (FTarget) X.Sql = FTarget->Like(A.Sql, B.Sql, E.Not, Escape, X.Sql);
    } else {
      X.Sql = "(" + A.Sql + " " + E.Op + " " + B.Sql + ")";
    }
    return X;
  }

  TX Expr(const TSqlExpr& E) {
    TX X;
    X.Pos = E.Pos;
    switch (E.Kind) {
      case TSqlExprKind::Number:
        X.Sql = E.Text;
        X.Cls = TXClass::NumberConst;
        X.Const = E.Text;
        return X;
      case TSqlExprKind::String:
        return StringConst(E);
      case TSqlExprKind::Null:
        X.Sql = "NULL";
        X.Cls = TXClass::NullConst;
        return X;
      case TSqlExprKind::Boolean:
        X.Sql = FTarget ? FTarget->BooleanConstant(E.Text == "1") : E.Text;
        X.Cls = TXClass::BoolConst;
        X.Type = ftBoolean;
        return X;
      case TSqlExprKind::Quoted: {
        if (AliasX(E.Text, X)) return X;
        int T, C;
        if (FindColumn(E.Text, T, C)) return ColumnX(T, C, E.Pos);
        return StringConst(E);
      }
      case TSqlExprKind::Column: {
        if (!E.Qualifier.empty()) {
          int T = MatchTable(E.Qualifier, E.QualifierPos);
          const auto& Cols = FOut.Tables[T].Columns;
          for (size_t C = 0; C < Cols.size(); ++C)
            if (AnsiSameText(Cols[C].Name, E.Text)) return ColumnX(T, static_cast<int>(C), E.Pos);
          RaiseSqlErrorAt("Campo desconocido '" + E.Text + "'", E.NamePos);
        }
        if (FClause == TClause::OrderBy && AliasX(E.Text, X)) return X;
        int T, C;
        if (FindColumn(E.Text, T, C)) return ColumnX(T, C, E.Pos);
        if (AliasX(E.Text, X)) return X;
        RaiseSqlErrorAt("Campo desconocido '" + E.Text + "'", E.NamePos);
      }
      case TSqlExprKind::Unary: {
        TX A = Expr(*E.Args[0]);
        if (E.Op == "NOT") {
          X.Sql = "(NOT " + A.Sql + ")";
          X.Type = ftBoolean;
        } else {
          X.Sql = "(" + E.Op + A.Sql + ")";
          X.Type = IsNumberColumnType(A.Type) ? A.Type : ftUnknown;
        }
        return X;
      }
      case TSqlExprKind::Binary: {
        const std::string& Op = E.Op;
        if (Op == "=" || Op == "<>" || Op == "<" || Op == ">" || Op == "<=" || Op == ">=" ||
            Op == "LIKE")
          return Comparison(E);
        TX A = Expr(*E.Args[0]);
        TX B = Expr(*E.Args[1]);
        X.Sql = "(" + A.Sql + " " + Op + " " + B.Sql + ")";
        if (Op == "AND" || Op == "OR")
          X.Type = ftBoolean;
        else if (Op == "||")
          X.Type = ftString;
        return X;
      }
      case TSqlExprKind::IsNull: {
        TX A = Expr(*E.Args[0]);
        X.Sql = FTarget ? FTarget->NullTest(A.Sql, A.Type, E.Not)
                        : "(" + A.Sql + (E.Not ? " IS NOT NULL)" : " IS NULL)");
        X.Type = ftBoolean;
        return X;
      }
      case TSqlExprKind::Between:
      case TSqlExprKind::InList: {
        TX A = Expr(*E.Args[0]);
        const bool QuotedIsConst = InvolvesColumn(*E.Args[0]);
        std::vector<std::string> Parts;
        for (size_t I = 1; I < E.Args.size(); ++I) {
          TX B = Operand(*E.Args[I], QuotedIsConst);
          Coerce(A, B);
          Parts.push_back(B.Sql);
        }
        if (E.Kind == TSqlExprKind::Between) {
          X.Sql = "(" + A.Sql + (E.Not ? " NOT BETWEEN " : " BETWEEN ") + Parts[0] + " AND " +
                  Parts[1] + ")";
        } else {
          X.Sql = "(" + A.Sql + (E.Not ? " NOT IN (" : " IN (");
          for (size_t I = 0; I < Parts.size(); ++I) X.Sql += (I ? ", " : "") + Parts[I];
          X.Sql += "))";
        }
        X.Type = ftBoolean;
        return X;
      }
      case TSqlExprKind::Function:
        return Function(E);
      case TSqlExprKind::Case: {
        X.Sql = "(CASE";
        size_t I = 0;
        TX Operand;
        if (E.HasOperand) {
          Operand = Expr(*E.Args[0]);
          X.Sql += " " + Operand.Sql;
          I = 1;
        }
        const size_t Pairs = (E.Args.size() - I - (E.HasElse ? 1 : 0)) / 2;
        for (size_t P = 0; P < Pairs; ++P, I += 2) {
          TX W = Expr(*E.Args[I]);
          if (E.HasOperand) Coerce(Operand, W);
          X.Sql += " WHEN " + W.Sql + " THEN " + Expr(*E.Args[I + 1]).Sql;
        }
        if (E.HasElse) X.Sql += " ELSE " + Expr(*E.Args[I]).Sql;
        X.Sql += " END)";
        return X;
      }
    }
    return X;
  }

  TX Function(const TSqlExpr& E) {
    const TFuncInfo* F = FindFunction(E.Op);
    if (!F)
      RaiseSqlErrorAt("Función desconocida '" + Source(E).substr(0, E.Op.size()) + "'", E.Pos);
    const int N = static_cast<int>(E.Args.size());
    const bool CountStar = E.Star && E.Op == "COUNT";
    if ((E.Star && !CountStar) ||
        (!CountStar && (N < F->MinArgs || (F->MaxArgs >= 0 && N > F->MaxArgs))) ||
        (E.Op == "COUNT" && !CountStar && N != 1))
      RaiseSqlErrorAt(
          "Número de argumentos incorrecto en '" + Source(E).substr(0, E.Op.size()) + "'", E.Pos);
    if (E.Op == "COUNT" || E.Op == "SUM" || E.Op == "AVG" ||
        ((E.Op == "MIN" || E.Op == "MAX") && N == 1))
      FAggregate = true;
    TX X;
    X.Pos = E.Pos;
    X.Type = F->Result;
    X.Sql = std::string(F->SqlName) + "(";
    if (CountStar) X.Sql += "*";
    if (E.Distinct) X.Sql += "DISTINCT ";
    std::vector<std::string> Args;
    for (int I = 0; I < N; ++I) {
      TX A = Expr(*E.Args[I]);
      X.Sql += (I ? ", " : "") + A.Sql;
      Args.push_back(A.Sql);
      if (I == 0 && A.Cls == TXClass::Column &&
          (((E.Op == "MIN" || E.Op == "MAX") && N == 1 && A.Type != ftBoolean) ||
           (E.Op == "ABS" && IsNumberColumnType(A.Type)))) {
        X.Type = A.Type;
        X.Size = A.Size;
        X.Name = Source(E);
      }
    }
    X.Sql += ")";
    // A database has no unaccent() of ours unless its dialect says so (SQLite files have it):
    // the others get it in their own standard functions.
    if (FTarget && E.Op == "UNACCENT") X.Sql = PortableUnaccent(Args[0]);
    if (FTarget && !IsAggregateName(E.Op) && !E.Distinct) X.Sql = FTarget->Call(E.Op, Args, X.Sql);
    return X;
  }

  static bool IsAggregateName(const std::string& Op) {
    return Op == "COUNT" || Op == "SUM" || Op == "AVG" || Op == "MIN" || Op == "MAX";
  }
};

}  // namespace

bool ParseSqlDateConstant(std::string_view Text, TFieldType T, double& Days) {
  std::string S = Trim(Text);
  size_t I = 0;
  int Mo, D, Y;
  const bool HasDate = ReadNumber(S, I, 2, Mo) && I < S.size() && S[I] == '/' &&
                       ReadNumber(S, ++I, 2, D) && I < S.size() && S[I] == '/' &&
                       ReadNumber(S, ++I, 4, Y);
  if (!HasDate) {
    // Only a time of day: for time columns.
    return T == ftTime && ReadTime(S, 0, Days);
  }
  TDateTime Date;
  if (!TryEncodeDate(Y, Mo, D, Date)) return false;
  double Time = 0;
  if (I < S.size()) {
    if (S[I] != ' ' && S[I] != 'T') return false;
    while (I < S.size() && S[I] == ' ') ++I;
    if (I < S.size() && S[I] == 'T') ++I;
    if (!ReadTime(S, I, Time)) return false;
  }
  Days = T == ftTime ? Time : ComposeDateTime(Date, TDateTime(Time)).Val;
  return true;
}

bool SqlQualifierMatches(const std::string& Qualifier, const std::string& WrittenName,
                         const std::string& Alias, const std::string& Path,
                         const TSqlSchemaLookup& Lookup) {
  if (!Alias.empty() && AnsiSameText(Alias, Qualifier)) return true;
  if (AnsiSameText(WrittenName, Qualifier)) return true;
  if (AnsiSameText(Path, Qualifier)) return true;
  auto Other = Lookup(Qualifier);
  return Other && Other->Path == Path;
}

TSqlTarget::~TSqlTarget() = default;

TSqlTranslation TranslateSelect(const TSqlStatement& St, const TSqlSchemaLookup& Lookup,
                                const TSqlTarget* Target) {
  if (!St.Select) RaiseSqlError("La sentencia no es una consulta SELECT");
  return TTranslator(St, Lookup, Target).Run();
}

}  // namespace kv
