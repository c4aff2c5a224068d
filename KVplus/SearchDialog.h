// TSearchDialog: the component an application drops on a form to give its users an interactive
// search. It owns one search form; Find shows it over the dataset in DataSet and, when the user
// accepts, moves that dataset (and the masters of a detail table) to the chosen record; Execute
// shows it and leaves the result for the caller to read until Liberate.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Classes.h"
#include "DB.h"
#include "DBGrids.h"
#include "KVUtil.h"
#include "SearchDialogBox.h"

#pragma GCC visibility push(default)
namespace kv {

// Receives the result dataset when the user clicks "&Imprimir".
using TPrintEvent = std::function<void(TDataSet* DataSet)>;
// Receives the result grid when the user selects rows; returns the text for the record counter.
using TMultiselectEvent = std::function<std::string(TDBGrid* Items)>;

// The handler every search form's grid calls when rows are selected: the application's
// OnMultiSelect or a component's own column sum, whichever was installed last.
extern TMultiselectEvent ExecuteOnMultiSelect;

class TSearchDialog : public TComponent {
 public:
  explicit TSearchDialog(TComponent* AOwner = nullptr);
  ~TSearchDialog() override;

  // Shows the search form modally; true when the user accepted. After an accepted search the
  // result stays applied (Results) until Liberate. A cancelled one ends the search and puts the
  // dataset back on the record it was on. Raises "La tabla no se ha podido abrir para la
  // busqueda" without a dataset that opens, "La tabla no tiene campos en los que buscar" when
  // no field can be searched.
  bool Execute();
  // Execute; when accepted, moves DataSet (and its masters) to the chosen record and ends the
  // search. True when DataSet stands on the chosen record; false after a cancel, and after an
  // accepted record DataSet cannot show (its own filter hides it) or an accepted empty result,
  // with DataSet and its masters back where they were.
  bool Find();
  // Ends the search of an accepted Execute: the dataset's own filter and master link come back.
  void Liberate();

  TSearchDialogBox* SearchForm() const { return PSearchForm.get(); }
  // The dataset holding the result of the last search.
  TDataSet* Results() const { return ReadResults(); }

  // ---- published properties
  TDataSet* DataSet() const { return PDataSet; }
  // Stores the dataset; at run time also opens it for the search (raises "La tabla no se ha
  // podido abrir para la busqueda" when it does not open; DataSet then holds it all the same).
  void SetDataSet(TDataSet* Value);
  const TPrintEvent& OnPrintButton() const { return POnPrintButton; }
  void SetOnPrintButton(TPrintEvent Value) { POnPrintButton = std::move(Value); }
  const TMultiselectEvent& OnMultiSelect() const { return POnMultiSelect; }
  // Stores the handler and installs it as the process-wide multi-select handler.
  void SetOnMultiSelect(TMultiselectEvent Value);
  bool UseSQLAlways() const { return PUseSQLAlways; }
  void SetUseSQLAlways(bool Value) { PUseSQLAlways = Value; }
  uint8_t Decimals() const { return PDecimals; }
  void SetDecimals(uint8_t Value);
  bool MasterSlave() const { return PMasterSlave; }
  void SetMasterSlave(bool Value);
  // False: the form opens with "Distinguir acentos" unticked, its searches ignoring accents.
  bool AccentSensitive() const { return PAccentSensitive; }
  void SetAccentSensitive(bool Value) { PAccentSensitive = Value; }

  // ---- the built-in handlers
  // The column sum over the selected rows of Grid; returns the counter's text.
  std::string Sumar(TDBGrid* Grid);
  // Hands the result to OnPrintButton.
  void Imprimir(TObject* Sender);

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  TDataSet* ReadResults() const;
  void PreparaDataSet();
  void PreparaInterfaz();
  // Gives a detail table back the master link Execute cut.
  void RestoreMasterLink();

  std::unique_ptr<TSearchDialogBox> PSearchForm;
  TPrintEvent POnPrintButton;
  TMultiselectEvent POnMultiSelect;
  bool PUseSQLAlways = false;
  uint8_t PDecimals = 0;
  TDataSet* PDataSet = nullptr;
  bool PMasterSlave = false;
  bool PAccentSensitive = true;
  TPos IPos;
  // The detail table's master link, cut from Execute until the search ends.
  std::unique_ptr<TMasterLinkCut> IMasterCut;
};

// The sum's text: fixed notation with Decimals digits after a ".", no thousands separators.
std::string FormatSum(double Sum, int Decimals);

}  // namespace kv
#pragma GCC visibility pop
