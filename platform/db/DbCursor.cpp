// Windows of records read from a database, their cache and their bookmarks (see DbCursor.h).
#include "DbCursor.h"

#include <charconv>
#include <cstring>

#include "FilterSql.h"
#include "Progress.h"
#include "SqlEmitter.h"
#include "SysUtils.h"
#include "Unicode.h"

namespace kv {

namespace {

const char* const kAlias = "\"q\"";
const char* const kNoRows = "(1 = 0)";
constexpr size_t kLooseRows = 256;
constexpr size_t kLocatedKeys = 4096;
constexpr int kLookupDepth = 8;

std::string Join(const std::vector<std::string>& Parts, const char* Sep) {
  std::string S;
  for (const auto& P : Parts) {
    if (P.empty()) continue;
    if (!S.empty()) S += Sep;
    S += P;
  }
  return S;
}

// A row's identity as one string: each value's type, then its bytes.
void EncodeValue(const TDbValueRef& V, std::string& Out) {
  Out += static_cast<char>(V.Type);
  char Bytes[8];
  switch (V.Type) {
    case TDbType::Integer:
      std::memcpy(Bytes, &V.Int, 8);
      Out.append(Bytes, 8);
      break;
    case TDbType::Float:
      std::memcpy(Bytes, &V.Float, 8);
      Out.append(Bytes, 8);
      break;
    case TDbType::Text:
    case TDbType::Blob: {
      const uint32_t N = static_cast<uint32_t>(V.Text.size());
      std::memcpy(Bytes, &N, 4);
      Out.append(Bytes, 4);
      Out.append(V.Text);
      break;
    }
    case TDbType::Null:
      break;
  }
}

// The values of an identity, as one row of Out.
void DecodeKey(const std::string& Key, int Values, TDbRows& Out) {
  Out.Reset(Values);
  size_t I = 0;
  for (int K = 0; K < Values; ++K) {
    const auto Type = static_cast<TDbType>(Key[I++]);
    switch (Type) {
      case TDbType::Integer: {
        int64_t V;
        std::memcpy(&V, Key.data() + I, 8);
        I += 8;
        Out.AddInt(V);
        break;
      }
      case TDbType::Float: {
        double V;
        std::memcpy(&V, Key.data() + I, 8);
        I += 8;
        Out.AddFloat(V);
        break;
      }
      case TDbType::Text:
      case TDbType::Blob: {
        uint32_t N;
        std::memcpy(&N, Key.data() + I, 4);
        I += 4;
        Out.AddText(std::string_view(Key).substr(I, N), Type == TDbType::Blob);
        I += N;
        break;
      }
      case TDbType::Null:
        Out.AddNull();
        break;
    }
  }
}

// Emits a local-SQL statement for a database: its tables named and its constants written as
// the database has them.
class TDbSqlTarget final : public TSqlDatabaseTarget {
 public:
  explicit TDbSqlTarget(TDbConnection& Conn) : FConn(Conn) {}

  // A missing table is the database's error, which names the table and the database.
  std::optional<TSqlTableSchema> Find(const std::string& Name) {
    TDbTableInfo T = FConn.Table(Name);
    TSqlTableSchema S{TableSql(T), {}};
    for (const auto& C : T.Columns) S.Columns.push_back(C.Def);
    FTables[S.Path] = std::move(T);
    return S;
  }
  std::string TableReference(size_t Index, const TSqlTableSchema& Table) const override {
    return Table.Path + " AS " + QuoteName(SqlTableName(Index));
  }
  std::string DateConstant(double Days, TFieldType T) const override {
    return FConn.DateLiteral(Days, T);
  }
  std::string BooleanConstant(bool V) const override { return FConn.BooleanLiteral(V); }
  // Table files hold an empty text as Null: so does every test of emptiness here.
  std::string NullTest(const std::string& Expr, TFieldType T, bool Not) const override {
    if (StorageKindOf(T) == TStorageKind::String && T != ftUnknown)
      return Not ? "(" + Expr + " <> '')" : "(" + Expr + " IS NULL OR " + Expr + " = '')";
    return "(" + Expr + (Not ? " IS NOT NULL)" : " IS NULL)");
  }
  std::vector<std::string> RowIdentity(const TSqlTableSchema& Table,
                                       const std::string& Alias) const override {
    std::vector<std::string> Ids;
    auto It = FTables.find(Table.Path);
    if (It != FTables.end())
      for (const auto& E : It->second.Identity) Ids.push_back(Alias + "." + E);
    return Ids;
  }
  std::string QuoteName(const std::string& Name) const override {
    return FConn.Dialect().QuoteName(Name);
  }
  std::string Call(const std::string& Name, const std::vector<std::string>& Args,
                   const std::string& Plain) const override {
    return FConn.Dialect().Call(Name, Args, Plain);
  }
  std::string Like(const std::string& Expr, const std::string& Pattern, bool Not,
                   const std::string& Escape, const std::string& Plain) const override {
    return FConn.Dialect().Like(Expr, Pattern, Not, Escape, Plain);
  }

 private:
  // The table as the statement reads it. Columns of a type of no field kind of ours (uuid, json,
  // an array) are searched, compared and ordered by their text, as the dataset's filters do: a
  // table with any reads through a subquery that gives those columns as text (and the row id,
  // when that is the rows' identity).
  std::string TableSql(const TDbTableInfo& T) const {
    bool AnyText = false;
    for (const auto& C : T.Columns) AnyText |= C.AsText;
    if (!AnyText) return T.Sql;
    std::vector<std::string> Items;
    for (const auto& C : T.Columns) {
      const std::string Q = QuoteName(C.Def.Name);
      Items.push_back(C.AsText ? "CAST(" + Q + " AS text) AS " + Q : Q);
    }
    for (const auto& E : T.Identity)
      if (E == "ctid") Items.push_back(E);
    return "(SELECT " + Join(Items, ", ") + " FROM " + T.Sql + ")";
  }

  TDbConnection& FConn;
  std::map<std::string, TDbTableInfo> FTables;
};

// The type of a result column the statement does not tell, from the values of its first rows:
// text wins, then real numbers, then whole numbers, as over table files.
void TypeFromValues(TDbRelation& R, TDbConnection& Conn) {
  bool Unknown = false;
  for (const auto& C : R.Columns)
    Unknown |= C.Def.DataType == ftUnknown || (C.Def.DataType == ftString && C.Def.Size == 0);
  if (!Unknown) return;
  TDbRows Rows;
  Conn.Query(
      "SELECT * FROM " + R.From + " AS " + kAlias + Conn.Dialect().Limit(TDbCursor::WindowRows, 0),
      {}, Rows);
  for (size_t C = 0; C < R.Columns.size(); ++C) {
    TColumnDef& D = R.Columns[C].Def;
    bool Text = false, Float = false, Int = false;
    int Longest = 1;
    for (size_t I = 0; I < Rows.RowCount(); ++I) {
      const TDbValueRef V = Rows.At(I, static_cast<int>(C));
      Text |= V.Type == TDbType::Text || V.Type == TDbType::Blob;
      Float |= V.Type == TDbType::Float ||
               (V.Type == TDbType::Integer && (V.Int < INT32_MIN || V.Int > INT32_MAX));
      Int |= V.Type == TDbType::Integer;
      if (V.Type == TDbType::Text) Longest = std::max(Longest, static_cast<int>(V.Text.size()));
    }
    if (D.DataType == ftUnknown)
      D.DataType = Text ? ftString : Float ? ftFloat : Int ? ftInteger : ftString;
    if (D.DataType == ftString && D.Size == 0) D.Size = Longest;
  }
}

}  // namespace

TDbRelation TableRelation(TDbConnection& Conn, const std::string& TableName) {
  TDbTableInfo T = Conn.Table(TableName);
  TDbRelation R;
  R.Shown = T.Shown;
  R.Columns = T.Columns;
  R.PrimaryKey = T.PrimaryKey;
  R.Indexes = T.Indexes;
  const TSqlDialect& D = Conn.Dialect();
  if (T.Identity.empty()) {
    // A view: its rows numbered as it gives them.
    const std::string N = D.QuoteName("__kv_s1");
    R.From = "(SELECT \"v\".*, row_number() OVER () AS " + N + " FROM " + T.Sql + " AS \"v\")";
    R.Order.push_back({N, false, true});
    R.IdentityTerms = 1;
    return R;
  }
  R.From = T.Sql;
  // The key orders the table, as a table file's records are in key order; a row id makes the
  // order total where the key may be empty.
  // A key of a type shown as text (a uuid) goes by the type's own order, which its index has:
  // no collation applies to it.
  auto KeyTerm = [&](const TDbColumnInfo& C) {
    return C.AsText ? D.QuoteName(C.Def.Name)
                    : D.SortColumn(D.QuoteName(C.Def.Name), C.Def.DataType);
  };
  for (const auto& K : T.PrimaryKey) {
    const TDbColumnInfo& C = T.Columns[T.ColumnIndex(K)];
    R.Order.push_back({KeyTerm(C), false, C.NotNull});
  }
  for (std::string& E : T.Identity)
    for (const auto& C : T.Columns)
      if (C.AsText && E == D.SortColumn(D.QuoteName(C.Def.Name), C.Def.DataType)) E = KeyTerm(C);
  for (const auto& E : T.Identity) {
    bool InKey = false;
    for (const auto& O : R.Order) InKey |= O.Column == E;
    if (!InKey) R.Order.push_back({E, false, true});
  }
  R.IdentityTerms = T.Identity.size();
  return R;
}

TDbRelation QueryRelation(TDbConnection& Conn, const std::string& Sql, std::string* Text) {
  TDbSqlTarget Target(Conn);
  const TSqlPagedSelect P = EmitPagedSelect(
      Sql, [&](const std::string& Name) { return Target.Find(Name); }, Target);
  if (Text) *Text = P.Text;
  TDbRelation R;
  R.From = "(" + P.Select + ")";
  R.Shown = Trim(Sql);
  for (const auto& C : P.Columns) {
    TDbColumnInfo I;
    I.Def = C.Def;
    I.Def.Required = false;
    R.Columns.push_back(std::move(I));
  }
  // Texts order by their bytes, as the table's own columns do, whatever the database's collation.
  const auto Types = Conn.ColumnTypes(R.From);
  for (const auto& S : P.Sort) {
    std::string Column = S.Name;
    for (const auto& [Name, Type] : Types)
      if (Conn.Dialect().QuoteName(Name) == S.Name) {
        Column = Conn.Dialect().SortColumn(S.Name, Type);
        break;
      }
    R.Order.push_back({Column, S.Desc, S.NotNull});
  }
  R.IdentityTerms = P.IdentityColumns;
  TypeFromValues(R, Conn);
  return R;
}

// ---------------------------------------------------------------- the cursor

TDbCursor::TDbCursor(TDataSet& Owner, std::shared_ptr<TDbConnection> Conn, TDbRelation Relation)
    : FOwner(Owner),
      FConn(std::move(Conn)),
      FRelation(std::move(Relation)),
      FDialect(FConn->Dialect()) {
  SetOrderColumns({});
}

TDbCursor::~TDbCursor() = default;

size_t TDbCursor::RowsHeld() const {
  size_t N = FLoose.size();
  for (const auto& W : FWindows) N += W.second.Rows.RowCount();
  for (const auto& W : FTail) N += W.second.Rows.RowCount();
  return N;
}

int TDbCursor::ColumnIndex(std::string_view Name) const {
  for (size_t I = 0; I < FRelation.Columns.size(); ++I)
    if (AnsiSameText(FRelation.Columns[I].Def.Name, Name)) return static_cast<int>(I);
  return -1;
}

void TDbCursor::SetOrderColumns(const std::vector<int>& Columns) {
  FSort.clear();
  for (int C : Columns) {
    const TDbColumnInfo& Col = FRelation.Columns.at(static_cast<size_t>(C));
    // A column of a type of no field kind of ours (only PostgreSQL has them: uuid, json, an
    // array) orders by its text, as it is shown and compared; json has no order of its own.
    if (Col.AsText)
      FSort.push_back({FDialect.SortColumn(FDialect.QuoteName(Col.Def.Name) + "::text", ftString),
                       false, Col.NotNull});
    else
      FSort.push_back({FDialect.SortColumn(FDialect.QuoteName(Col.Def.Name), Col.Def.DataType),
                       false, Col.NotNull});
  }
  const size_t FirstId = FRelation.Order.size() - FRelation.IdentityTerms;
  FIdentityAt.clear();
  for (size_t I = 0; I < FRelation.Order.size(); ++I) {
    const TDbSortTerm& T = FRelation.Order[I];
    size_t At = FSort.size();
    for (size_t J = 0; J < FSort.size(); ++J)
      if (FSort[J].Column == T.Column) At = J;
    if (At == FSort.size()) FSort.push_back(T);
    if (I >= FirstId) FIdentityAt.push_back(At);
  }
}

void TDbCursor::SetRestriction(const std::vector<int>& Columns,
                               const std::vector<Variant>& Values) {
  FRestrictColumns = Columns;
  FRestrictValues = Values;
  FNoRows = false;
}

void TDbCursor::SetNoRows() {
  FRestrictColumns.clear();
  FRestrictValues.clear();
  FNoRows = true;
}

std::string TDbCursor::FieldSql(const TField& Field, const std::string& Alias, int Depth) const {
  const std::string& Db = FConn->Ref().Shown;
  switch (Field.FieldKind()) {
    case fkData:
      if (Field.FieldNo() < 0 || Field.FieldNo() >= static_cast<int>(FRelation.Columns.size()))
        throw EDatabaseError("Campo '" + Field.FieldName() + "' no encontrado");
      if (FRelation.Columns[Field.FieldNo()].AsText)
        return "CAST(" + Alias + "." +
               FDialect.QuoteName(FRelation.Columns[Field.FieldNo()].Def.Name) + " AS text)";
      return Alias + "." + FDialect.QuoteName(FRelation.Columns[Field.FieldNo()].Def.Name);
    case fkCalculated:
      throw EDatabaseError("El campo calculado '" + Field.FieldName() +
                           "' no se puede consultar en la base de datos '" + Db + "'");
    case fkLookup:
      break;
  }
  TDataSet* L = Field.LookupDataSet();
  auto* LC = L && L->Active() ? dynamic_cast<TDbCursor*>(L->Cursor()) : nullptr;
  if (!LC || LC->FConn != FConn)
    throw EDatabaseError("El campo lookup '" + Field.FieldName() +
                         "' no se puede consultar en la base de datos '" + Db +
                         "': su tabla no está en ella");
  if (Depth >= kLookupDepth)
    throw EDatabaseError("El campo lookup '" + Field.FieldName() +
                         "' encadena demasiados campos lookup");
  const std::vector<std::string> Keys = SplitFieldNames(Field.KeyFields());
  const std::vector<std::string> LKeys = SplitFieldNames(Field.LookupKeyFields());
  if (Keys.size() != LKeys.size())
    throw EDatabaseError("El campo lookup '" + Field.FieldName() +
                         "' no tiene tantos campos clave como campos clave de búsqueda");
  const std::string Inner = FDialect.QuoteName("l" + std::to_string(Depth + 1));
  std::vector<std::string> Match, Order;
  for (size_t I = 0; I < Keys.size(); ++I)
    Match.push_back(LC->FieldSql(*L->FieldByName(LKeys[I]), Inner, Depth + 1) + " = " +
                    FieldSql(*FOwner.FieldByName(Keys[I]), Alias, Depth));
  // The first match in the lookup table's order, as a lookup over table files finds.
  for (const auto& T : LC->FSort)
    Order.push_back(FDialect.OrderTerm(Inner + "." + T.Column, T.Desc));
  return "(SELECT " + LC->FieldSql(*L->FieldByName(Field.LookupResultField()), Inner, Depth + 1) +
         " FROM " + LC->FRelation.From + " AS " + Inner + " WHERE " + Join(Match, " AND ") +
         " ORDER BY " + Join(Order, ", ") + FDialect.Limit(1, 0) + ")";
}

void TDbCursor::SetFilter(const std::string& Text, bool Active, TFilterOptions Options) {
  if (!Trim(Text).empty()) {
    TSqlParams Check(FDialect);
    FilterToSql(
        Text, FOwner, Options, [this](const TField& F) { return FieldSql(F, kAlias); }, Check);
  }
  FFilterText = Text;
  FFilterActive = Active;
  FFilterOptions = Options;
}

void TDbCursor::KeepCountThroughOrder(bool Keep) {
  FCountView.reset();
  if (Keep && FCount) FCountView = ViewKey();
}

std::optional<std::pair<std::string, std::vector<TSqlParam>>> TDbCursor::ViewKey() const {
  TSqlParams P(FDialect);
  try {
    std::string Sql = ViewSql(P);
    return std::make_pair(std::move(Sql), std::move(P.Items));
  } catch (const EDatabaseError&) {
    // A filter the fields no longer let through: the count is then simply not kept, and the
    // next read reports the filter's error.
    return std::nullopt;
  }
}

void TDbCursor::Invalidate() {
  std::optional<int64_t> Kept;
  if (FCountView && FCount) {
    const auto Now = ViewKey();
    bool Same =
        Now && Now->first == FCountView->first && Now->second.size() == FCountView->second.size();
    for (size_t I = 0; Same && I < Now->second.size(); ++I) {
      const TSqlParam &A = Now->second[I], &B = FCountView->second[I];
      Same = A.Type == B.Type && A.Value.VarType() == B.Value.VarType() && A.Value == B.Value;
    }
    if (Same) Kept = FCount;
  }
  FCountView.reset();
  FWindows.clear();
  FTail.clear();
  FTailPlaces.clear();
  FCount = Kept;
  FPositions.clear();
  FLoose.clear();
  FLocated.clear();
  FRecordRows.clear();
  FLookups.clear();
  for (int I = 0; I < FOwner.FieldCount(); ++I) {
    const TField* F = FOwner.Fields(I);
    if (!F->Lookup()) continue;
    try {
      FLookups.emplace_back(F, FieldSql(*F, kAlias));
    } catch (const EDatabaseError&) {
      // Resolved by the field itself (a lookup into a table file or another database).
    }
  }
}

bool TDbCursor::ReadsLookup(const TField& Field) const {
  for (const auto& L : FLookups)
    if (L.first == &Field) return true;
  return false;
}

int TDbCursor::CellOf(const TField& Field) const {
  if (Field.FieldKind() == fkData)
    return Field.FieldNo() < 0 ? -1 : static_cast<int>(FSort.size()) + Field.FieldNo();
  for (size_t I = 0; I < FLookups.size(); ++I)
    if (FLookups[I].first == &Field)
      return static_cast<int>(FSort.size() + FRelation.Columns.size() + I);
  return -1;
}

std::string TDbCursor::SelectList() const {
  std::vector<std::string> Items;
  for (const auto& T : FSort) Items.push_back(std::string(kAlias) + "." + T.Column);
  for (const auto& C : FRelation.Columns)
    Items.push_back(std::string(kAlias) + "." + FDialect.QuoteName(C.Def.Name));
  for (const auto& L : FLookups) Items.push_back(L.second);
  return Join(Items, ", ");
}

std::string TDbCursor::ViewSql(TSqlParams& P, bool Restricted) const {
  std::vector<std::string> Parts;
  if (Restricted && FNoRows) return kNoRows;
  for (size_t I = 0; Restricted && I < FRestrictColumns.size(); ++I) {
    const TColumnDef& D = FRelation.Columns[FRestrictColumns[I]].Def;
    Parts.push_back(LocateToSql(D.DataType, D.Name,
                                std::string(kAlias) + "." + FDialect.QuoteName(D.Name),
                                FRestrictValues[I], 0, P));
  }
  if (FFilterActive)
    Parts.push_back(FilterToSql(
        FFilterText, FOwner, FFilterOptions,
        [this](const TField& F) { return FieldSql(F, kAlias); }, P));
  return Join(Parts, " AND ");
}

std::string TDbCursor::KeysetSql(const TDbRows& Rows, size_t Row, bool After, TSqlParams& P,
                                 bool Inclusive) const {
  auto Expr = [&](size_t I) { return std::string(kAlias) + "." + FSort[I].Column; };
  auto Value = [&](size_t I) { return Rows.At(Row, static_cast<int>(I)); };
  auto Param = [&](size_t I) {
    TSqlParam R = TDbConnection::Raw(Value(I));
    return P.Add(R.Value, R.Type);
  };
  // Keys that are never empty, all one way: a row value, which an index reads as one range.
  bool RowValue = true;
  for (size_t I = 0; I < FSort.size(); ++I)
    RowValue &=
        FSort[I].NotNull && Value(I).Type != TDbType::Null && FSort[I].Desc == FSort[0].Desc;
  if (RowValue) {
    const char* Op =
        After != FSort[0].Desc ? (Inclusive ? " >= " : " > ") : (Inclusive ? " <= " : " < ");
    std::vector<std::string> L, R;
    for (size_t I = 0; I < FSort.size(); ++I) {
      L.push_back(Expr(I));
      R.push_back(Param(I));
    }
    if (FSort.size() == 1) return "(" + L[0] + Op + R[0] + ")";
    return "((" + Join(L, ", ") + ")" + Op + "(" + Join(R, ", ") + "))";
  }
  // Otherwise term by term, Nulls the smallest values: the rows equal on the terms before one
  // and beyond the row on that one.
  std::vector<std::string> Alternatives;
  std::string Equal;
  for (size_t I = 0; I < FSort.size(); ++I) {
    const bool Null = Value(I).Type == TDbType::Null;
    const bool Greater = After != FSort[I].Desc;
    const std::string E = Expr(I);
    // The last term decides between rows equal on all the others: with Inclusive the row
    // itself is one of them.
    const bool OrEqual = Inclusive && I + 1 == FSort.size();
    const std::string Lt = OrEqual ? " <= " : " < ";
    std::string Step;
    if (Null)
      Step = Greater ? (OrEqual ? "1 = 1" : E + " IS NOT NULL") : (OrEqual ? E + " IS NULL" : "");
    else if (Greater)
      Step = E + (OrEqual ? " >= " : " > ") + Param(I);
    else
      Step =
          FSort[I].NotNull ? E + Lt + Param(I) : "(" + E + Lt + Param(I) + " OR " + E + " IS NULL)";
    if (!Step.empty()) Alternatives.push_back("(" + Join({Equal, Step}, " AND ") + ")");
    if (I + 1 < FSort.size())
      Equal = Join({Equal, Null ? E + " IS NULL" : E + " = " + Param(I)}, " AND ");
  }
  if (Alternatives.empty()) return kNoRows;
  std::string S = "(" + Join(Alternatives, " OR ") + ")";
  // The first term bounds the range an index on it reads.
  if (Value(0).Type != TDbType::Null) {
    if (After != FSort[0].Desc)
      S = "(" + Expr(0) + " >= " + Param(0) + " AND " + S + ")";
    else if (FSort[0].NotNull)
      S = "(" + Expr(0) + " <= " + Param(0) + " AND " + S + ")";
  }
  return S;
}

std::string TDbCursor::OrderBy(bool Reversed) const {
  std::vector<std::string> Terms;
  // A term that is never empty needs no place for Nulls: written plainly it is the order of an
  // index on it, which the database then reads instead of sorting every row.
  for (const auto& T : FSort) {
    const std::string E = std::string(kAlias) + "." + T.Column;
    const bool Desc = T.Desc != Reversed;
    Terms.push_back(T.NotNull ? E + (Desc ? " DESC" : " ASC") : FDialect.OrderTerm(E, Desc));
  }
  return " ORDER BY " + Join(Terms, ", ");
}

void TDbCursor::Run(const std::string& Sql, const TSqlParams& P, TDbRows& Out) {
  ++FStatements;
  FConn->Query(Sql, P.Items, Out);
}

void TDbCursor::Read(const std::vector<std::string>& Conditions, const TSqlParams& P, bool Reversed,
                     int64_t Limit, int64_t Offset, TDbRows& Out) {
  const std::string Where = Join(Conditions, " AND ");
  Run("SELECT " + SelectList() + " FROM " + FRelation.From + " AS " + kAlias +
          (Where.empty() ? "" : " WHERE " + Where) + OrderBy(Reversed) +
          FDialect.Limit(Limit, Offset),
      P, Out);
}

int64_t TDbCursor::Count() {
  if (!FCount) {
    TSqlParams P(FDialect);
    const std::string Where = ViewSql(P);
    TDbRows R;
    Run("SELECT count(*) FROM " + FRelation.From + " AS " + kAlias +
            (Where.empty() ? "" : " WHERE " + Where),
        P, R);
    FCount = R.RowCount() ? R.At(0, 0).Int : 0;
  }
  return *FCount;
}

bool TDbCursor::SumRecords(const std::vector<const TField*>& Fields, int64_t From, int64_t To,
                           std::vector<double>& Sums) {
  if (From < 0 || From > To) return false;
  std::vector<std::string> Items;
  for (const TField* F : Fields) {
    // Only numbers are summed by the database: other values are read by the dataset, which
    // converts them as it does over table files.
    if (!IsNumericType(F->DataType()) || (F->Lookup() && !ReadsLookup(*F))) return false;
    try {
      Items.push_back("sum(CAST(" + FieldSql(*F, kAlias) + " AS double precision))");
    } catch (const EDatabaseError&) {
      // A value the database cannot compute (a calculated field): the dataset reads the rows.
      return false;
    }
  }
  if (FCount) To = std::min(To, *FCount - 1);
  const TBookmark First = RowAt(From);
  if (First == NoBookmark) return false;
  // The last record of the range: from a cached window, else found from the first one's key by
  // skipping the rows between in the order (none past the end: the range goes to the end).
  TBookmark Last = NoBookmark;
  TDbRows Found;
  if (FWindows.contains(To / WindowRows)) {
    Last = RowAt(To);
  } else if (To > From) {
    const TRowRef F = RowOf(First);
    if (!F.Rows) return false;
    TSqlParams P(FDialect);
    std::vector<std::string> Keys;
    for (const auto& T : FSort) Keys.push_back(std::string(kAlias) + "." + T.Column);
    const std::string Where = Join({ViewSql(P), KeysetSql(*F.Rows, F.Row, true, P)}, " AND ");
    Run("SELECT " + Join(Keys, ", ") + " FROM " + FRelation.From + " AS " + kAlias + " WHERE " +
            Where + OrderBy(false) + FDialect.Limit(1, To - From - 1),
        P, Found);
  } else {
    Last = First;
  }
  const TRowRef A = RowOf(First);
  if (!A.Rows) return false;
  TRowRef B;
  if (Last != NoBookmark) {
    B = RowOf(Last);
    if (!B.Rows) return false;
  } else if (Found.RowCount() > 0) {
    B = {&Found, 0};
  }
  TSqlParams P(FDialect);
  std::vector<std::string> Conds{ViewSql(P), KeysetSql(*A.Rows, A.Row, true, P, true)};
  if (B.Rows) Conds.push_back(KeysetSql(*B.Rows, B.Row, false, P, true));
  TDbRows Got;
  Run("SELECT " + Join(Items, ", ") + " FROM " + FRelation.From + " AS " + kAlias + " WHERE " +
          Join(Conds, " AND "),
      P, Got);
  Sums.assign(Fields.size(), 0.0);
  for (size_t K = 0; K < Fields.size() && Got.RowCount() > 0; ++K) {
    const TDbValueRef V = Got.At(0, static_cast<int>(K));
    if (V.Type == TDbType::Float)
      Sums[K] = V.Float;
    else if (V.Type == TDbType::Integer)
      Sums[K] = static_cast<double>(V.Int);
    else if (V.Type == TDbType::Text)
      std::from_chars(V.Text.data(), V.Text.data() + V.Text.size(), Sums[K]);
  }
  return true;
}

void TDbCursor::ReadBlock(const TDbRows& After, int64_t Limit, TDbRows& Out) {
  TSqlParams P(FDialect);
  std::vector<std::string> Conds{ViewSql(P)};
  if (After.RowCount() > 0) Conds.push_back(KeysetSql(After, After.RowCount() - 1, true, P));
  Read(Conds, P, false, Limit, 0, Out);
}

TBookmark TDbCursor::Intern(const TDbRows& Rows, size_t Row) {
  std::string Key;
  for (size_t At : FIdentityAt) EncodeValue(Rows.At(Row, static_cast<int>(At)), Key);
  auto [It, New] = FIds.emplace(Key, static_cast<TBookmark>(FKeys.size()));
  if (New) FKeys.push_back(std::move(Key));
  return It->second;
}

bool TDbCursor::ReadFromKnownRow(int64_t Number, TDbRows& Out) {
  const int64_t Start = Number * WindowRows;
  const int64_t End = FCount ? std::min(*FCount, Start + WindowRows) : Start + WindowRows;
  if (Start >= End) return false;
  // The nearest row whose place is known: the edges of the cached windows, the rows read alone
  // whose position was counted (a row located, a bookmark gone to).
  const TDbRows* Rows = nullptr;
  size_t Row = 0;
  int64_t At = -1, Distance = INT64_MAX;
  auto Consider = [&](const TDbRows& R, size_t I, int64_t Place) {
    const int64_t D = Place < Start ? Start - Place - 1 : Place >= End ? Place - End : 0;
    if (D < Distance) Rows = &R, Row = I, At = Place, Distance = D;
  };
  for (const auto& [N, Win] : FWindows) {
    const size_t Got = Win.Rows.RowCount();
    if (Got == 0) continue;
    Consider(Win.Rows, 0, N * WindowRows);
    Consider(Win.Rows, Got - 1, N * WindowRows + static_cast<int64_t>(Got) - 1);
  }
  for (const auto& [B, R] : FLoose)
    if (auto P = FPositions.find(B); P != FPositions.end()) Consider(R, 0, P->second);
  // The windows read from the end, once the count places them.
  for (const auto& [N, Win] : FTail) {
    const size_t Got = Win.Rows.RowCount();
    if (Got == 0 || !FCount) continue;
    Consider(Win.Rows, 0, *FCount - 1 - N * WindowRows);
    Consider(Win.Rows, Got - 1, *FCount - N * WindowRows - static_cast<int64_t>(Got));
  }
  if (!Rows) return false;
  // Skipping from the ends of the records would skip fewer rows.
  if (FCount && Distance >= std::min(Start, *FCount - End)) return false;
  ReportProgress("Leyendo registros", Start, FCount.value_or(-1));
  const int Columns = Rows->ColumnCount();
  TDbRows Got;
  auto ReadBeside = [&](bool After, int64_t Limit, int64_t Offset) {
    TSqlParams P(FDialect);
    Read({ViewSql(P), KeysetSql(*Rows, Row, After, P)}, P, !After, Limit, Offset, Got);
  };
  auto AppendReversed = [&](const TDbRows& R) {
    for (size_t I = R.RowCount(); I-- > 0;)
      for (int C = 0; C < Columns; ++C) Out.Add(R.At(I, C));
  };
  auto Append = [&](const TDbRows& R, size_t From, size_t To) {
    for (size_t I = From; I < To; ++I)
      for (int C = 0; C < Columns; ++C) Out.Add(R.At(I, C));
  };
  if (At < Start) {
    // After it: the rows from Start on are Start - At - 1 rows past it.
    ReadBeside(true, End - Start, Start - At - 1);
    if (!FCount && static_cast<int64_t>(Got.RowCount()) < End - Start)
      FCount = Start + static_cast<int64_t>(Got.RowCount());
    Out = std::move(Got);
    return true;
  }
  if (At >= End) {
    // Before it, read backwards: fewer rows than its place promises means the records changed
    // since it was counted, and the window is read from the ends instead.
    ReadBeside(false, End - Start, At - End);
    if (static_cast<int64_t>(Got.RowCount()) < End - Start) return false;
    Out.Reset(Columns);
    AppendReversed(Got);
    return true;
  }
  // Inside the window: the rows before it (backwards), itself, the rows after it.
  Out.Reset(Columns);
  if (At > Start) {
    ReadBeside(false, At - Start, 0);
    if (static_cast<int64_t>(Got.RowCount()) < At - Start) return false;
    AppendReversed(Got);
  }
  Append(*Rows, Row, Row + 1);
  if (At + 1 < End) {
    ReadBeside(true, End - At - 1, 0);
    if (!FCount && static_cast<int64_t>(Got.RowCount()) < End - At - 1)
      FCount = At + 1 + static_cast<int64_t>(Got.RowCount());
    Append(Got, 0, Got.RowCount());
  }
  return true;
}

void TDbCursor::LoadWindow(int64_t Number) {
  const int64_t Start = Number * WindowRows;
  TSqlParams P(FDialect);
  std::vector<std::string> Conds{ViewSql(P)};
  bool Backward = false, Empty = false, Positioned = true, FromKnown = false;
  int64_t Limit = WindowRows, Offset = 0;
  TWindow W;
  W.Used = ++FUseClock;
  const auto Prev = FWindows.find(Number - 1), Next = FWindows.find(Number + 1);
  if (Number > 0 && Prev != FWindows.end()) {
    const TDbRows& R = Prev->second.Rows;
    if (static_cast<int64_t>(R.RowCount()) < WindowRows)
      Empty = true;
    else
      Conds.push_back(KeysetSql(R, R.RowCount() - 1, true, P));
  } else if (Next != FWindows.end() && Next->second.Rows.RowCount() > 0) {
    Conds.push_back(KeysetSql(Next->second.Rows, 0, false, P));
    Backward = true;
    Positioned = false;
  } else if (Number > 0 && ReadFromKnownRow(Number, W.Rows)) {
    FromKnown = true;
  } else if (Number > 0) {
    // A far window, counted from the nearer end of the records.
    const int64_t Total = Count();
    const int64_t End = std::min(Total, Start + WindowRows);
    if (Start >= Total) {
      Empty = true;
    } else if (Total - End < Start) {
      Backward = true;
      Offset = Total - End;
      Limit = End - Start;
    } else {
      Offset = Start;
    }
  }
  if (FromKnown) {
    // Read from a row whose place is known.
  } else if (Empty) {
    W.Rows.Reset(0);
  } else {
    // Work that reads window after window (a copy, a walk) can be followed and stopped here.
    ReportProgress("Leyendo registros", Start, FCount.value_or(-1));
    TDbRows Got;
    Read(Conds, P, Backward, Limit, Offset, Got);
    if (Backward) {
      W.Rows.Reset(Got.ColumnCount());
      for (size_t I = Got.RowCount(); I-- > 0;)
        for (int C = 0; C < Got.ColumnCount(); ++C) W.Rows.Add(Got.At(I, C));
    } else {
      W.Rows = std::move(Got);
      // A short window read from its place ends the records: their number is known.
      if (Positioned && static_cast<int64_t>(W.Rows.RowCount()) < Limit)
        FCount = Start + static_cast<int64_t>(W.Rows.RowCount());
    }
  }
  MarkRows(W, Start, FPositions);
  FWindows[Number] = std::move(W);
  Evict(FWindows, CachedWindows, Number, FPositions);
}

void TDbCursor::MarkRows(TWindow& W, int64_t Start,
                         std::unordered_map<TBookmark, int64_t>& Places) {
  for (size_t I = 0; I < W.Rows.RowCount(); ++I) {
    const TBookmark B = Intern(W.Rows, I);
    W.Marks.push_back(B);
    Places[B] = Start + static_cast<int64_t>(I);
  }
}

void TDbCursor::Evict(std::map<int64_t, TWindow>& Windows, size_t Limit, int64_t Keep,
                      std::unordered_map<TBookmark, int64_t>& Places) {
  while (Windows.size() > Limit) {
    auto Oldest = Windows.end();
    for (auto It = Windows.begin(); It != Windows.end(); ++It)
      if (It->first != Keep && (Oldest == Windows.end() || It->second.Used < Oldest->second.Used))
        Oldest = It;
    for (TBookmark B : Oldest->second.Marks) Places.erase(B);
    Windows.erase(Oldest);
  }
}

TDbCursor::TWindow* TDbCursor::Cached(std::map<int64_t, TWindow>& Windows, int64_t Number,
                                      void (TDbCursor::*Load)(int64_t)) {
  auto It = Windows.find(Number);
  if (It == Windows.end()) {
    (this->*Load)(Number);
    It = Windows.find(Number);
  }
  It->second.Used = ++FUseClock;
  return &It->second;
}

TDbCursor::TWindow* TDbCursor::Window(int64_t Number) {
  return Cached(FWindows, Number, &TDbCursor::LoadWindow);
}

TBookmark TDbCursor::RowAt(int64_t Index) {
  if (Index < 0 || (FCount && Index >= *FCount)) return NoBookmark;
  // Among the last records, read from the end before they were counted.
  if (FCount && !FTail.empty()) {
    const int64_t Back = *FCount - 1 - Index;
    if (auto T = FTail.find(Back / WindowRows); T != FTail.end()) {
      const size_t At = static_cast<size_t>(Back % WindowRows);
      if (At < T->second.Marks.size()) {
        T->second.Used = ++FUseClock;
        return T->second.Marks[At];
      }
    }
  }
  const int64_t Number = Index / WindowRows;
  const TWindow* W = Window(Number);
  const size_t At = static_cast<size_t>(Index - Number * WindowRows);
  return At < W->Marks.size() ? W->Marks[At] : NoBookmark;
}

void TDbCursor::LoadTail(int64_t Number) {
  const int64_t Start = Number * WindowRows;
  TSqlParams P(FDialect);
  std::vector<std::string> Conds{ViewSql(P)};
  bool Empty = false;
  int64_t Offset = 0;
  const auto Later = FTail.find(Number - 1);
  if (Number > 0 && Later != FTail.end()) {
    // Backwards from the earliest row of the window after it.
    const TDbRows& R = Later->second.Rows;
    if (static_cast<int64_t>(R.RowCount()) < WindowRows)
      Empty = true;
    else
      Conds.push_back(KeysetSql(R, R.RowCount() - 1, false, P));
  } else {
    Offset = Start;
  }
  TWindow W;
  W.Used = ++FUseClock;
  if (Empty) {
    W.Rows.Reset(0);
  } else {
    ReportProgress("Leyendo registros", Start, -1);
    Read(Conds, P, true, WindowRows, Offset, W.Rows);
    // A short window from the end reaches the first record: their number is known.
    if (static_cast<int64_t>(W.Rows.RowCount()) < WindowRows)
      FCount = Start + static_cast<int64_t>(W.Rows.RowCount());
  }
  MarkRows(W, Start, FTailPlaces);
  FTail[Number] = std::move(W);
  Evict(FTail, CachedWindows / 2, Number, FTailPlaces);
}

TDbCursor::TWindow* TDbCursor::TailWindow(int64_t Number) {
  return Cached(FTail, Number, &TDbCursor::LoadTail);
}

TBookmark TDbCursor::RowFromEnd(int64_t Back) {
  if (Back < 0) return NoBookmark;
  if (FCount) return Back < *FCount ? RowAt(*FCount - 1 - Back) : NoBookmark;
  const int64_t Number = Back / WindowRows;
  const TWindow* W = TailWindow(Number);
  const size_t At = static_cast<size_t>(Back - Number * WindowRows);
  return At < W->Marks.size() ? W->Marks[At] : NoBookmark;
}

int64_t TDbCursor::KnownPlaceFromEnd(TBookmark Row) const {
  if (auto T = FTailPlaces.find(Row); T != FTailPlaces.end()) return T->second;
  if (auto P = FPositions.find(Row); FCount && P != FPositions.end())
    return *FCount - 1 - P->second;
  return -1;
}

std::string TDbCursor::IdentitySql(TBookmark Row, TSqlParams& P) const {
  TDbRows Key;
  DecodeKey(FKeys[static_cast<size_t>(Row)], static_cast<int>(FIdentityAt.size()), Key);
  std::vector<std::string> Parts;
  for (size_t I = 0; I < FIdentityAt.size(); ++I) {
    const std::string E = std::string(kAlias) + "." + FSort[FIdentityAt[I]].Column;
    const TDbValueRef V = Key.At(0, static_cast<int>(I));
    if (V.Type == TDbType::Null) {
      Parts.push_back(E + " IS NULL");
    } else {
      const TSqlParam R = TDbConnection::Raw(V);
      Parts.push_back(E + " = " + P.Add(R.Value, R.Type));
    }
  }
  return "(" + Join(Parts, " AND ") + ")";
}

TBookmark TDbCursor::KeepFirst(TDbRows& Rows) {
  if (Rows.RowCount() == 0) return NoBookmark;
  const TBookmark B = Intern(Rows, 0);
  if (FLoose.size() >= kLooseRows) FLoose.clear();
  TDbRows& Kept = FLoose[B];
  Kept.Reset(Rows.ColumnCount());
  for (int C = 0; C < Rows.ColumnCount(); ++C) Kept.Add(Rows.At(0, C));
  return B;
}

TDbCursor::TRowRef TDbCursor::RowOf(TBookmark Row) {
  if (Row < 0 || static_cast<size_t>(Row) >= FKeys.size()) return {};
  if (auto P = FPositions.find(Row); P != FPositions.end()) {
    auto W = FWindows.find(P->second / WindowRows);
    const size_t At = static_cast<size_t>(P->second % WindowRows);
    if (W != FWindows.end() && At < W->second.Marks.size() && W->second.Marks[At] == Row)
      return {&W->second.Rows, At};
  }
  if (auto T = FTailPlaces.find(Row); T != FTailPlaces.end()) {
    auto W = FTail.find(T->second / WindowRows);
    const size_t At = static_cast<size_t>(T->second % WindowRows);
    if (W != FTail.end() && At < W->second.Marks.size() && W->second.Marks[At] == Row)
      return {&W->second.Rows, At};
  }
  auto L = FLoose.find(Row);
  if (L == FLoose.end()) {
    // A row no window holds (a bookmark kept from before, a row found outside the records).
    TSqlParams P(FDialect);
    TDbRows Got;
    Read({IdentitySql(Row, P)}, P, false, 1, 0, Got);
    if (KeepFirst(Got) == NoBookmark) return {};
    L = FLoose.find(Row);
  }
  return {&L->second, 0};
}

int64_t TDbCursor::IndexOf(TBookmark Row) {
  if (auto P = FPositions.find(Row); P != FPositions.end()) return P->second;
  // A row among the last records: its place from the first is the count less those after it.
  if (auto T = FTailPlaces.find(Row); T != FTailPlaces.end()) {
    const int64_t After = T->second;
    const int64_t Place = Count() - 1 - After;
    if (Place < 0) return -1;
    FPositions[Row] = Place;
    return Place;
  }
  const TRowRef R = RowOf(Row);
  if (!R.Rows) return -1;
  // Its place is the number of records before it, if it is one of them (which a row found
  // among the records just now is).
  TSqlParams P(FDialect);
  const std::string Before = Join({ViewSql(P), KeysetSql(*R.Rows, R.Row, false, P)}, " AND ");
  const std::string From = " FROM " + FRelation.From + " AS " + kAlias + " WHERE ";
  TDbRows Got;
  if (FRecordRows.contains(Row)) {
    Run("SELECT count(*)" + From + Before, P, Got);
    if (Got.RowCount() == 0) return -1;
  } else {
    const std::string Here = Join({ViewSql(P), IdentitySql(Row, P)}, " AND ");
    Run("SELECT (SELECT count(*)" + From + Before + "), (SELECT count(*)" + From + Here + ")", P,
        Got);
    if (Got.RowCount() == 0 || Got.At(0, 1).Int == 0) return -1;
  }
  FPositions[Row] = Got.At(0, 0).Int;
  return Got.At(0, 0).Int;
}

void TDbCursor::KnownRecord(TBookmark Row) {
  if (Row == NoBookmark) return;
  if (FRecordRows.size() >= kLocatedKeys) FRecordRows.clear();
  FRecordRows.insert(Row);
}

Variant TDbCursor::Value(const TField& Field, TBookmark Row) {
  const int Cell = CellOf(Field);
  if (Cell < 0) return Variant::Null();
  const TRowRef R = RowOf(Row);
  if (!R.Rows) return Variant::Null();
  return FConn->ToVariant(R.Rows->At(R.Row, Cell), Field.DataType());
}

TBookmark TDbCursor::Find(const std::string& Text, int64_t From, bool Forward) {
  if (From < 0) return NoBookmark;
  TSqlParams P(FDialect);
  std::vector<std::string> Conds{ViewSql(P)};
  if (!Trim(Text).empty())
    Conds.push_back(FilterToSql(
        Text, FOwner, FFilterOptions, [this](const TField& F) { return FieldSql(F, kAlias); }, P));
  // From the record next to From, which a search stepping through matches has at hand.
  const TBookmark Anchor = Forward ? (From > 0 ? RowAt(From - 1) : NoBookmark) : RowAt(From + 1);
  if (Forward && From > 0 && Anchor == NoBookmark) return NoBookmark;
  if (Anchor != NoBookmark) {
    const TRowRef R = RowOf(Anchor);
    if (!R.Rows) return NoBookmark;
    Conds.push_back(KeysetSql(*R.Rows, R.Row, Forward, P));
  }
  TDbRows Got;
  Read(Conds, P, !Forward, 1, 0, Got);
  const TBookmark B = KeepFirst(Got);
  KnownRecord(B);
  return B;
}

TBookmark TDbCursor::LocateRow(const std::vector<std::string>& KeyFields,
                               const std::vector<Variant>& Values, TLocateOptions Options,
                               TScope Scope) {
  const bool AllRows = Scope == TScope::AllRows;
  std::string Memo;
  if (AllRows) {
    for (size_t I = 0; I < KeyFields.size(); ++I)
      Memo += KeyFields[I] + '\x1f' + std::to_string(Values[I].VarType()) + ':' +
              Values[I].AsString() + '\x1e';
    if (auto It = FLocated.find(Memo); It != FLocated.end()) return It->second;
  }
  TSqlParams P(FDialect);
  std::vector<std::string> Conds;
  if (!AllRows) Conds.push_back(ViewSql(P, Scope == TScope::Records));
  for (size_t I = 0; I < KeyFields.size(); ++I) {
    const TField* F = FOwner.FieldByName(KeyFields[I]);
    Conds.push_back(LocateToSql(*F, FieldSql(*F, kAlias), Values[I], Options, P));
  }
  TDbRows Got;
  Read(Conds, P, false, 1, 0, Got);
  const TBookmark B = KeepFirst(Got);
  if (Scope == TScope::Records) KnownRecord(B);
  if (AllRows) {
    if (FLocated.size() >= kLocatedKeys) FLocated.clear();
    FLocated[Memo] = B;
  }
  return B;
}

}  // namespace kv
