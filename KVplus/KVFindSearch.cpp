// The search engine's search and navigation: a search applied as a dataset filter or run as
// SQL in the internal query (with the SQL layer's errors told against what the user wrote),
// its end, the ordered search, and the steps through the records that satisfy Condition.
#include <cassert>
#include <optional>

#include "KVFind.h"
#include "KVUtil.h"
#include "ScopeExit.h"
#include "SqlLexer.h"
#include "SysUtils.h"

namespace kv {

namespace {

// Enables a dataset's controls once when the step that disabled them ends, however it ends.
class TControlsGuard {
 public:
  explicit TControlsGuard(TDataSet* DS) : FDataSet(DS) { FDataSet->DisableControls(); }
  ~TControlsGuard() { FDataSet->EnableControls(); }
  TControlsGuard(const TControlsGuard&) = delete;
  TControlsGuard& operator=(const TControlsGuard&) = delete;

 private:
  TDataSet* FDataSet;
};

// The byte offset of the 1-based character position Pos in S (S's size past its end).
size_t ByteOffset(const std::string& S, int Pos) {
  int N = 1;
  for (size_t I = 0; I < S.size(); ++I) {
    if ((static_cast<unsigned char>(S[I]) & 0xC0) == 0x80) continue;
    if (N++ == Pos) return I;
  }
  return S.size();
}

}  // namespace

// ---------------------------------------------------------------- the search

void TKVFind::SetFiltered(bool Value) {
  if (!Value) {
    IActiveDataSet = true;
    if (PDataSource) PDataSource->SetDataSet(PDataSet);
    if (PDataSet) RestoreOwnFilter();
    PResults = PDataSet;
    PFiltered = false;
    return;
  }
  ITablas.clear();
  IUniones.clear();
  FTables.clear();
  FJoins.clear();
  // Views of the searched dataset hear the search as one change, however many steps it takes.
  std::optional<TControlsGuard> Controls;
  if (PDataSet) Controls.emplace(PDataSet);
  // Without MasterSlave a detail table is searched whole; its link comes back afterwards, also
  // when the search raises.
  std::optional<TMasterLinkCut> Cut;
  if (TTable* Detail = PMasterSlave ? nullptr : dynamic_cast<TTable*>(PDataSet))
    Cut.emplace(Detail);
  SetCaseSensitive(PCaseSensitive);
  SetFilter(PFilter);
  BuildSearch();
  if (Cut) Cut->Restore();
  PFiltered = true;
}

void TKVFind::RestoreOwnFilter() {
  // Views hear the whole restore as one change.
  TControlsGuard Controls(PDataSet);
  PDataSet->SetFiltered(false);
  PDataSet->SetFilterOptions(IOriginalFilterOptions);
  PDataSet->SetFilter(IOriginalFilter);
  PDataSet->SetFiltered(IOriginalFiltered);
}

// Runs the search as SQL whatever NeedSQL would choose; ForceSQL reads as before afterwards,
// also when the search raises.
void TKVFind::BuildSearchAsSQL() {
  TScopeExit PutBack([this, Old = PForceSQL] { PForceSQL = Old; });
  PForceSQL = true;
  BuildSearch();
}

void TKVFind::SetOrderBy(const std::string& Value) {
  POrderBy = Value;
  if (!Value.empty() && PDataSet) IOrderBy = GetFieldLongName(Value, PDataSet);
  if (!PDataSet || !PDataSource || Value.empty()) return;
  BuildSearchAsSQL();
}

void TKVFind::BuildSearch() {
  if (!PDataSet) throw Exception("No se ha asignado el DataSet de la búsqueda");
  ISQL->Close();
  ISQL->SQL().Clear();
  SeparaDatos(PFilter);
  if (!ValidateFilter()) throw Exception("No valid filter");
  PrepareData();
  if (NeedSQL()) {
    // A filter search run before left its filter on the dataset: the result now lies in ISQL,
    // and the dataset shows its own records again, where Find looks for the chosen one.
    if (PDataSet->Filter() != IOriginalFilter || PDataSet->Filtered() != IOriginalFiltered)
      RestoreOwnFilter();
    IActiveDataSet = false;
    PResults = ISQL.get();
    TKVStatement Statement;
    if (dynamic_cast<TTable*>(PDataSet))
      Statement = TableStatement();
    else if (dynamic_cast<TQuery*>(PDataSet))
      Statement = QueryStatement();
    if (!Statement.empty()) ISQL->SQL().Add(Statement.Text);
    PrepareSQL();
    OpenStatement(Statement);
    if (PDataSource) PDataSource->SetDataSet(ISQL.get());
  } else {
    Buildfilter();
    PResults = PDataSet;
  }
}

void TKVFind::OpenStatement(const TKVStatement& Statement) {
  try {
    ISQL->Open();
  } catch (const ESQLPositionError& E) {
    // The position is one in a statement the user never saw: told against the condition that
    // wrote that part, or the query clause it copies.
    const TKVStatement::TPart* Part =
        E.Position() > 0 ? Statement.PartAt(ByteOffset(Statement.Text, E.Position())) : nullptr;
    if (Part && Part->Condition != TKVStatement::kNone) {
      assert(Part->Condition < FModel.Conditions.size());
      const TKVCondition& C = FModel.Conditions[Part->Condition];
      throw ESQLError(ExpressionFault(FModel.Text, C.Offset, Trim(C.Field), E.Reason()));
    }
    if (Part && Part->Source != TKVStatement::kNone) {
      // Only the statement for a query copies parts of a text of its own.
      assert(dynamic_cast<TQuery*>(PDataSet));
      const std::string Query = static_cast<TQuery*>(PDataSet)->SQL().Text();
      const size_t At = Part->Source + (ByteOffset(Statement.Text, E.Position()) - Part->Begin);
      throw ESQLError(E.Reason() + SqlAtPosition(SqlCharPosition(Query, At)));
    }
    throw ESQLError(E.Reason());
  } catch (const ESQLError& E) {
    // The SQL engine's own messages end in the statement it ran: the first line stays short.
    const std::string Text = ISQL->SQL().Text();
    const std::string& M = E.Message();
    if (Text.empty() || !M.ends_with(Text)) throw;
    std::string Short = TrimRight(M.substr(0, M.size() - Text.size()));
    if (!Short.empty() && Short.back() == ':') Short.pop_back();
    throw ESQLError(Short);
  }
}

bool TKVFind::NeedSQL() {
  bool Result = PForceSQL;
  if (FModel.Conditions.empty() || PFilter.empty()) return Result;
  for (const TKVCondition& C : FModel.Conditions) {
    if (PDataSet->FieldByName(C.Field)->Lookup()) Result = true;
    // A name the dataset filter cannot write is searched through SQL, which can.
    if (C.Field.find(']') != std::string::npos ||
        (C.ValueIsField && C.Value.find(']') != std::string::npos))
      Result = true;
  }
  for (const TKVCondition& C : FModel.Conditions) {
    if (C.Operator == "><") Result = true;
    // A prepared "starts with" constant no longer begins with a single quote (an apostrophe
    // inside the text does not count).
    if (C.Operator == "==" && TrimLeft(C.Prepared).rfind('\'', 0) != 0) Result = true;
  }
  return Result;
}

// ---------------------------------------------------------------- navigation

bool TKVFind::Navigate(int Direction) {
  if (!PDataSet) return false;
  // Taken for its check: a dataset without fields that identify a record is refused here.
  TPos Pos;
  GetPos(Pos, PDataSet);
  // Views hear the step once, when it ends. New filter options re-read a filtered dataset's rows
  // and put it on its first record: the step starts from the record that was current.
  TControlsGuard Controls(PDataSet);
  const TBookmark Start = PDataSet->GetBookmark();
  SetCaseSensitive(PCaseSensitive);
  if (PDataSet->GetBookmark() != Start && PDataSet->BookmarkValid(Start))
    PDataSet->GotoBookmark(Start);
  const std::string Condition = Buildcondition();
  if (Condition.empty()) return false;

  if (!IActiveDataSet) {
    ISQL->SetFilter(Condition);
    if (Direction == 0) return ISQL->FindFirst();
    return Direction > 0 ? ISQL->FindNext() : ISQL->FindPrior();
  }
  // The condition is looked for among the records the dataset shows (which already satisfy its
  // own filter when it is filtered), without switching its filter: the rows a view shows stay
  // as they are and only the record moves, or stays when nothing matches.
  if (Direction == 0) return PDataSet->FindFirst(Condition);
  return Direction > 0 ? PDataSet->FindNext(Condition) : PDataSet->FindPrior(Condition);
}

bool TKVFind::FindFirst() {
  return Navigate(0);
}
bool TKVFind::FindNext() {
  return Navigate(1);
}
bool TKVFind::FindPrior() {
  return Navigate(-1);
}

}  // namespace kv
