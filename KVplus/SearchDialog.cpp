// TSearchDialog: preparing the dataset and the search form, showing it, carrying the chosen
// record over to the application's dataset and its masters, the column sum and the print hook.
#include "SearchDialog.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

#include <QApplication>

#include "BusyWork.h"
#include "DBTables.h"
#include "SysUtils.h"

namespace kv {

TMultiselectEvent ExecuteOnMultiSelect;

namespace {

constexpr const char* CannotOpenText = "La tabla no se ha podido abrir para la busqueda";

// The component whose own column sum ExecuteOnMultiSelect holds, so that a component that goes
// does not leave its sum behind for another form's grid to call.
const TSearchDialog* SumOwner = nullptr;

// Types the grid never offers: unknown, binary, auto-increment, blobs, memos and cursors.
bool Offerable(const TField* F) {
  const TFieldType T = F->DataType();
  return !F->Calculated() && F->Visible() && T != ftUnknown && !(T >= ftBytes && T <= ftCursor);
}

// A table's master, when it is linked to one.
TDataSet* MasterOf(TDataSet* DS) {
  auto* T = dynamic_cast<TTable*>(DS);
  return T && T->MasterSource() && !T->MasterFields().empty() ? T->MasterSource()->DataSet()
                                                              : nullptr;
}

// The records a dataset stands on, with its masters and every open detail of any of them at any
// depth (the whole family of tables linked master to detail), put back masters first: a master
// that moves sends its details to their first record.
class TFamilyMarks {
 public:
  explicit TFamilyMarks(TDataSet* DS) {
    std::vector<TDataSet*> Family;
    auto Has = [&Family](TDataSet* D) {
      return D && std::find(Family.begin(), Family.end(), D) != Family.end();
    };
    for (TDataSet* M = DS; M && !Has(M); M = MasterOf(M)) Family.push_back(M);
    const std::vector<TTable*> Tables = OpenTables();
    for (bool Grew = !Family.empty(); Grew;) {
      Grew = false;
      for (TTable* T : Tables)
        if (!Has(T) && Has(MasterOf(T))) {
          Family.push_back(T);
          Grew = true;
        }
    }
    for (TDataSet* D : Family) {
      // The number of masters above it in the family (a ring of links counts once round).
      size_t Depth = 0;
      for (TDataSet* M = MasterOf(D); Has(M) && Depth < Family.size(); M = MasterOf(M)) ++Depth;
      FMarks.push_back({D, D->Active() ? D->GetBookmark() : NoBookmark, Depth});
    }
    std::stable_sort(FMarks.begin(), FMarks.end(),
                     [](const TMark& A, const TMark& B) { return A.Depth < B.Depth; });
  }
  // Puts every dataset back on its record: Searched (the dataset the marks were taken for, as
  // long as it lives) and the tables still open. False when Searched could not be put back (its
  // record is no longer among those it shows).
  bool Restore(TDataSet* Searched) const {
    const std::vector<TTable*> Open = OpenTables();
    bool Back = true;
    for (const TMark& M : FMarks) {
      if (M.DataSet != Searched && std::find(Open.begin(), Open.end(), M.DataSet) == Open.end())
        continue;
      if (M.Row == NoBookmark || !M.DataSet->Active() || M.DataSet->GetBookmark() == M.Row)
        continue;
      if (M.DataSet->BookmarkValid(M.Row))
        M.DataSet->GotoBookmark(M.Row);
      else if (M.DataSet == Searched)
        Back = false;
    }
    return Back;
  }

 private:
  struct TMark {
    TDataSet* DataSet;
    TBookmark Row;
    size_t Depth;
  };
  std::vector<TMark> FMarks;
};

// Runs Work, which reads the dataset (statements over a database), as long work of the window
// the user sees: the progress window shows when it lasts and "Cancelar" stops it (EAborted).
template <class TWork>
void Busy(TWork&& Work) {
  TBusyWork Shown(QApplication::activeWindow());
  Work();
}

}  // namespace

std::string FormatSum(double Sum, int Decimals) {
  // At most 309 integer digits and 255 decimals (Decimals is a byte).
  char Buf[600];
  std::snprintf(Buf, sizeof Buf, "%.*f", std::clamp(Decimals, 0, 255), Sum);
  std::string S = Buf;
  // A sum that rounds to zero shows no sign.
  if (!S.empty() && S[0] == '-' && S.find_first_not_of("0.", 1) == std::string::npos) S.erase(0, 1);
  return S;
}

TSearchDialog::TSearchDialog(TComponent* AOwner)
    : TComponent(AOwner), PSearchForm(std::make_unique<TSearchDialogBox>(this)) {}

TSearchDialog::~TSearchDialog() {
  if (SumOwner == this) {
    ExecuteOnMultiSelect = nullptr;
    SumOwner = nullptr;
  }
  // The form goes first: its engine may still point at the dataset this component watches.
  PSearchForm.reset();
}

void TSearchDialog::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  if (AComponent == PSearchForm.get()) {
    // Destroyed by someone else (the application freed SearchForm()): it is already going.
    (void)PSearchForm.release();
    return;
  }
  if (AComponent != PDataSet) return;
  // The dataset is going: nothing may keep pointing at it, the engine included. Its master
  // link cannot be put back onto a table that is gone, so the cut is let go without restoring
  // (its destructor would write to the table); it holds a pointer and a few names.
  PDataSet = nullptr;
  (void)IMasterCut.release();
  if (PSearchForm && PSearchForm->Find1 && PSearchForm->Find1->DataSet() == AComponent)
    PSearchForm->Find1->SetPDataSet(nullptr);
}

// ---------------------------------------------------------------------------- properties

void TSearchDialog::SetDataSet(TDataSet* Value) {
  if (Value != PDataSet) {
    if (PDataSet) PDataSet->RemoveFreeNotification(this);
    PDataSet = Value;
    if (Value) Value->FreeNotification(this);
  }
  if (ComponentState() & (csDesigning | csLoading)) return;
  if (!PSearchForm) return;
  TKVFind* K = PSearchForm->Find1.get();
  try {
    // Opened before the engine sees it: the engine takes only a dataset with fields.
    PreparaDataSet();
  } catch (...) {
    // The engine must not keep a dataset the component no longer watches.
    if (K->DataSet() && K->DataSet() != Value) {
      if (K->Filtered()) K->SetFiltered(false);
      K->SetPDataSet(nullptr);
    }
    throw;
  }
  K->SetPDataSet(Value);
}

void TSearchDialog::SetOnMultiSelect(TMultiselectEvent Value) {
  POnMultiSelect = std::move(Value);
  ExecuteOnMultiSelect = POnMultiSelect;
  SumOwner = nullptr;
}

void TSearchDialog::SetDecimals(uint8_t Value) {
  // The form reads it from here (TSearchDialogBox::Decimals), so a form made again later sums
  // with the same number of decimals.
  PDecimals = Value;
}

void TSearchDialog::SetMasterSlave(bool Value) {
  PMasterSlave = Value;
  const TComponentState S = ComponentState();
  if ((S & csDesigning) && (S & csLoading)) return;
  if (PSearchForm) PSearchForm->Find1->SetMasterSlave(Value);
}

TDataSet* TSearchDialog::ReadResults() const {
  return PSearchForm && PSearchForm->Find1 ? PSearchForm->Find1->Results() : nullptr;
}

// ------------------------------------------------------------------------------ a search

void TSearchDialog::PreparaDataSet() {
  try {
    if (!PDataSet) throw Exception(CannotOpenText);
    PDataSet->Open();
  } catch (const std::exception&) {
    throw Exception(CannotOpenText);
  }
}

void TSearchDialog::PreparaInterfaz() {
  TSearchDialogBox* F = PSearchForm.get();
  TKVFind* K = F->Find1.get();
  // Ends a search still applied; without one the dataset keeps the filter it has now, which the
  // application may have changed since it assigned the dataset.
  if (K->Filtered()) K->SetFiltered(false);
  K->SetFilter("");
  K->SetPDataSet(PDataSet);
  K->SetpDataSource(F->DataSource1);
  K->SetCaseSensitive(false);
  K->SetAccentSensitive(PAccentSensitive);
  K->SetOrderBy("");
  K->SetDescendant(false);
  K->SetForceSQL(PUseSQLAlways);
  F->BTImprimir->OnClick = [this](TObject* Sender) { Imprimir(Sender); };
  F->CBOrdenDescendente->SetChecked(false);
  F->CBDistinguirMayusculas->SetChecked(false);
  F->CBDistinguirAcentos->SetChecked(PAccentSensitive);
  F->ETValor->SetText("");
  F->STFiltro->SetCaption("Filtro:");
  F->Animate1->SetActive(false);
  TGridColumns& Cols = F->DBGrid1->Columns();
  Cols.Clear();
  F->CCampo->Items().Clear();
  F->CCampo->Items().Add(AllColumnsText);
  for (int I = 0; I < PDataSet->FieldCount(); ++I) {
    const TField* Field = PDataSet->Fields(I);
    if (!Offerable(Field)) continue;
    TGridColumn* C = Cols.Add();
    C->SetFieldName(Field->FieldName());
    F->CCampo->Items().Add(Field->DisplayLabel());
    if (Field->Lookup()) C->Title().SetColor(clAqua);
  }
  if (Cols.Count() == 0 || !Cols[0]->Field())
    throw Exception("La tabla no tiene campos en los que buscar");
  F->DBGrid1CellClick(Cols[0]);
}

void TSearchDialog::RestoreMasterLink() {
  if (!IMasterCut) return;
  // The cut is let go even when putting the link back fails: that error is the caller's.
  const std::unique_ptr<TMasterLinkCut> Cut = std::move(IMasterCut);
  Cut->Restore();
}

bool TSearchDialog::Execute() {
  if (!PDataSet) throw Exception(CannotOpenText);
  if (!PSearchForm) PSearchForm = std::make_unique<TSearchDialogBox>(this);
  TSearchDialogBox* F = PSearchForm.get();
  // A cut left by an accepted search that was never liberated ends here.
  RestoreMasterLink();
  // The position is taken while the link still holds: the data layer answers a changed link by
  // going to the first record.
  std::optional<TFamilyMarks> Before;
  try {
    Busy([&] {
      GetPos(IPos, PDataSet);
      // A cancel puts every table linked to the searched one back on its record.
      Before.emplace(PDataSet);
    });
  } catch (const EAborted&) {
    // Stopped by the user before anything changed: a search that did not start.
    return false;
  }
  auto* T = PMasterSlave ? nullptr : dynamic_cast<TTable*>(PDataSet);
  if (T && (T->MasterSource() || !T->MasterFields().empty()))
    IMasterCut = std::make_unique<TMasterLinkCut>(T);
  try {
    Busy([&] {
      PreparaDataSet();
      PreparaInterfaz();
    });
  } catch (const EAborted&) {
    // Stopped by the user while the form was prepared: as after a cancel.
    if (F->Find1->Filtered()) F->Find1->SetFiltered(false);
    RestoreMasterLink();
    return false;
  } catch (...) {
    // A search that cannot start leaves the application's table linked as it was.
    RestoreMasterLink();
    throw;
  }
  if (POnMultiSelect) {
    ExecuteOnMultiSelect = POnMultiSelect;
    SumOwner = nullptr;
  } else {
    ExecuteOnMultiSelect = [this](TDBGrid* Grid) { return Sumar(Grid); };
    SumOwner = this;
  }
  F->BTImprimir->SetVisible(static_cast<bool>(POnPrintButton));
  if (F->ShowModal() == mrOk) return true;
  // A cancel ends the search too: the application's dataset never stays filtered by it.
  F->Find1->SetFiltered(false);
  RestoreMasterLink();
  // The saved position is looked for only when the record itself cannot be gone back to: a
  // locate may move the masters to the first record that holds it.
  try {
    Busy([&] {
      if (PDataSet && !Before->Restore(PDataSet)) GotoPos(IPos, PDataSet, PMasterSlave);
    });
  } catch (const EAborted&) {
    // Stopped by the user: the dataset stays on the record the search left it on.
  }
  return false;
}

void TSearchDialog::Liberate() {
  if (!PSearchForm) return;
  PSearchForm->Find1->SetFiltered(false);
  PSearchForm->STFiltro->SetCaption("Filtro: ");
  RestoreMasterLink();
}

bool TSearchDialog::Find() {
  if (!PDataSet) throw Exception(CannotOpenText);
  TPos Pos;
  std::optional<TFamilyMarks> Before;
  try {
    Busy([&] {
      GetPos(Pos, PDataSet);
      // Where the dataset and the tables linked to it stand, for an accepted record the dataset
      // cannot show. A cancelled Execute has put them back itself.
      Before.emplace(PDataSet);
    });
  } catch (const EAborted&) {
    // Stopped by the user before the search began.
    return false;
  }
  if (!Execute()) return false;
  if (!PDataSet) return true;
  // A search run as SQL shows records the dataset's own filter hides: the dataset cannot stand
  // on those once the search ends. An empty result offers no record at all.
  bool Reached = false;
  try {
    Busy([&] {
      TDataSet* R = Results();
      if (R && !R->IsEmpty()) {
        TPos Chosen;
        GetPos(Chosen, R);
        Iguala_posicion(PDataSet, R);
        // The locate that moved it, again over the same records: it tells whether it got there.
        Reached = GotoPos(Chosen, PDataSet, true);
        if (Reached) GetPos(Pos, PDataSet);
      }
    });
  } catch (const EAborted&) {
    // Stopped by the user: as after a cancel (below).
    Reached = false;
  } catch (...) {
    Liberate();
    throw;
  }
  Liberate();
  try {
    bool Back = false;
    Busy([&] {
      if (Reached && GotoPos(Pos, PDataSet, PMasterSlave)) {
        Back = true;
        return;
      }
      // Not reached: as after a cancel, everything back where it was.
      if (PDataSet) Before->Restore(PDataSet);
    });
    return Back;
  } catch (const EAborted&) {
    // Stopped by the user: the dataset stays where the search left it, the search ended.
    return false;
  }
}

// ---------------------------------------------------------------- sum and print handlers

std::string TSearchDialog::Sumar(TDBGrid* Grid) {
  std::string Result = PSearchForm->RecordCountText();
  const TBookmarkList& Rows = Grid->SelectedRows();
  if (Rows.Count() < 2) {
    ResetColumnTitles(Grid);
    return Result;
  }
  TDataSet* R = ReadResults();
  const int Current = Grid->SelectedIndex();
  // The current column, and every column summed before (black title), keep their sums.
  std::vector<TGridColumn*> Columns;
  std::vector<const TField*> Fields;
  for (int I = 0; I < Grid->Columns().Count(); ++I) {
    TGridColumn* C = Grid->Columns()[I];
    if (I != Current && C->Title().Color() != clBlack) continue;
    const TField* F = R->FieldByName(C->FieldName());
    const TFieldType T = F->DataType();
    if (T == ftString || T == ftDate || T == ftTime || T == ftDateTime) continue;
    Columns.push_back(C);
    Fields.push_back(F);
  }
  if (Fields.empty()) return Result;
  // A range of records is summed by the dataset (over a database one statement), a row picked
  // alone by its bookmark, the dataset staying where it is either way.
  std::vector<double> Sums(Fields.size(), 0.0);
  for (const TBookmarkList::TRun& Run : Rows.Runs()) {
    if (Run.Mark != NoBookmark) {
      for (size_t K = 0; K < Fields.size(); ++K) {
        const Variant V = Fields[K]->ValueAt(Run.Mark);
        if (!V.IsNullOrEmpty()) Sums[K] += V.AsDouble();
      }
      continue;
    }
    const std::vector<double> Part =
        R->SumRecords(Fields, static_cast<int>(Run.First), static_cast<int>(Run.Last));
    for (size_t K = 0; K < Fields.size(); ++K) Sums[K] += Part[K];
  }
  for (size_t K = 0; K < Columns.size(); ++K) {
    TGridColumn* C = Columns[K];
    const std::string Text = FormatSum(Sums[K], PDecimals);
    if (C->Index() == Current) Result = "Suma de " + PSearchForm->CCampo->Text() + ": " + Text;
    C->Title().SetCaption(Text);
    C->Title().SetColor(clBlack);
    C->Title().Font().SetColor(clYellow);
  }
  return Result;
}

void TSearchDialog::Imprimir(TObject*) {
  if (POnPrintButton) POnPrintButton(Results());
}

}  // namespace kv
