// TSearchDialogBox: the search form. The user builds one condition at a time (a column, a
// condition and a value), the form searches as the value is typed, and the buttons narrow the
// result with AND or OR, clear it, order it by a column, step through matches, export it, and
// accept a record or cancel. The work is done by the form's own search engine, Find1.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "DB.h"
#include "ExportBox.h"
#include "Forms.h"
#include "KVFind.h"
#include "SysUtils.h"
#include "ui_SearchDialogBox.h"

class QTimer;

#pragma GCC visibility push(default)
namespace kv {

class TSearchDialog;
class TBusyWork;

// For users of the unit: the dialog itself reports its errors in message boxes and never raises
// it.
class TSearchDialogError : public Exception {
 public:
  using Exception::Exception;
};

// The first item of the column list: search every text column at once.
inline constexpr const char* AllColumnsText = "Todas las columnas";
// The counter's text before the count.
inline constexpr const char* RecordsFoundText = "Registros encontrados:";

// The options of the result grid; the incremental search drops multi-select while it runs.
inline constexpr TDBGridOptions SearchGridOptions =
    dgTitles | dgIndicator | dgColumnResize | dgColLines | dgRowLines | dgTabs |
    dgAlwaysShowSelection | dgConfirmDelete | dgCancelOnExit | dgMultiSelect;

class TSearchDialogBox : public TForm, public Ui::TSearchDialogBox {
  Q_OBJECT
 public:
  explicit TSearchDialogBox(TComponent* AOwner = nullptr);
  ~TSearchDialogBox() override;

  // The data source of the grid; the engine switches it between the searched dataset and its
  // internal query.
  TDataSource* DataSource1;

  // ---- condition entry
  // The field name behind a column's display label (the first visible field of the result
  // with exactly that label); "" when none.
  std::string NombreReal(const std::string& Label);
  // Refills the condition list for the column in CCampo and preselects its usual condition.
  void ActualizaCondicion();
  // Shows the value editor for the grid column bound to FieldName (the first column when none).
  void ValidaValor(const std::string& FieldName);
  // The current column, condition and value as one condition of the search language.
  std::string TraduceFiltro();

  // ---- event handlers
  void CCampoChange(TObject* Sender);
  void CCondicionChange(TObject* Sender);
  // The incremental search, run whenever the value changes.
  void ETValorChange(TObject* Sender);
  void DTValorChange(TObject* Sender);
  void DT1ValorChange(TObject* Sender);
  void HT1ValorChange(TObject* Sender);
  void CBValorClick(TObject* Sender);
  void DBGrid1CellClick(TGridColumn* Column);
  void DBGrid1ColEnter(TObject* Sender);
  void DBGrid1KeyUp(TObject* Sender, Word& Key, TShiftState Shift);
  void BTFiltrarYClick(TObject* Sender);
  void BTFiltrarOClick(TObject* Sender);
  void BTBorrarFiltroClick(TObject* Sender);
  void BTOrdenarClick(TObject* Sender);
  void CBOrdenDescendenteClick(TObject* Sender);
  void CBDistinguirMayusculasClick(TObject* Sender);
  void CBDistinguirAcentosClick(TObject* Sender);
  void SPSiguienteClick(TObject* Sender);
  void SPAnteriorClick(TObject* Sender);
  void BTExportarClick(TObject* Sender);
  void BTAceptarClick(TObject* Sender);
  void BTCancelarClick(TObject* Sender);
  void FormCreate(TObject* Sender);
  void FormShow(TObject* Sender);
  void FormDestroy(TObject* Sender);

  // "Registros encontrados:" and the record count of the current result; without a number while
  // the database has not counted its records (see CountRecords), never a wrong one.
  std::string RecordCountText() const;
  // The folder the export proposes: ExportFolderFor the running program.
  static std::string DefaultExportFolder();

  // ---- read access (the component and tests)
  const std::string& FilterText() const { return FFilterText; }
  TFExportBox* ExportBox() const { return FExportBox.get(); }
  TKVFind* Engine() const { return Find1.get(); }
  // The decimals of the column sums: those of the component the form belongs to (0 without one).
  uint8_t Decimals() const;

 protected:
  // Enter in CCampo or CCondicion confirms the entry instead of accepting the window.
  bool eventFilter(QObject* Watched, QEvent* E) override;
  // The find keys: Ctrl+F, F3, Shift+F3 and F1.
  void keyPressEvent(QKeyEvent* E) override;

 private:
  friend class TSearchDialog;
  // ---- keyboard and feedback
  // Runs the box's change handler, as a pick from its list does, and moves to the value editor.
  void ConfirmEntry(TComboBox* Box);
  // The value editor shown (of the date-and-time pair, the date).
  QWidget* ValueEditor() const;
  void FocusValueEditor();
  // Paints the value editor light red while the value typed matches no record.
  void ShowNoMatch(bool NoMatch);
  // Runs the value handler of the editor shown.
  void RunValueHandler();
  // The search as the value is typed. A change that comes while the search for an older value
  // runs stops that one; the value as it is then is searched once the older search has unwound.
  void IncrementalSearch(bool TextEditor);
  // One search for the value shown; the result is the one before when it is stopped.
  void SearchValue(bool TextEditor);
  // BTFiltrarY and BTFiltrarO: Connector " and " or " or ", Letter "Y" or "O".
  void AddCondition(const std::string& Connector, const std::string& Letter);
  // The value of the condition as the filter description shows it.
  std::string ValueDescription() const;
  // One comparison of TraduceFiltro for field F.
  std::string Comparison(const std::string& F, const std::string& OP);
  // After a search that failed half-way: the engine shows the result it showed before.
  void RestoreResult(bool WasFiltered);
  // After an order stopped half-way: the order OldOrder (none when empty) and its result again.
  void PutBackOrder(const std::string& OldOrder, bool WasFiltered);
  void EnableSteps(bool Enabled);
  void ShowEditors(QWidget* First, QWidget* Second = nullptr);
  void ShowCounter();
  // Over a database whose records are not counted yet: counts them now, inside busy work in
  // place (the value editor keeps taking keys; a key, a click, Escape or "Cancelar" stops it),
  // and shows as many rows in the grid. Before the form has painted, or while other work runs,
  // the count is asked for later. A count stopped by the user leaves the counter without a
  // number until it is needed again.
  void CountRecords();
  void ScheduleCount();
  void CountWhenIdle();
  // The record count of the result when known without a statement, -1 otherwise.
  int KnownCount() const;
  // The counter and the column titles for the rows picked now (the record count and plain
  // titles when none is).
  void ShowPicked();
  // Whether the result is shown ordered by the column BTOrdenar coloured.
  bool Ordered() const;

  std::string FFilterText;
  // Made by FormCreate, freed by FormDestroy.
  std::unique_ptr<TFExportBox> FExportBox;
  std::unique_ptr<TKVFind> Find1;
  // The search as the value is typed, while it runs; whether a newer value waits for it.
  TBusyWork* FTyping = nullptr;
  bool FSearchAgain = false;
  bool FAgainInText = false;
  QTimer* FCountTimer = nullptr;
};

// Puts every column title of Grid back to its field's label, aqua for lookup fields and silver
// for the others, in black.
void ResetColumnTitles(TDBGrid* Grid);

// The folder (with its trailing separator) where an export is proposed for the program file
// ProgramFile: the program's folder when it may be written, else the user's home folder.
std::string ExportFolderFor(const std::string& ProgramFile);

// The number text S moved by Step (-1 or +1) units of its last typed decimal place, written with
// a comma ("3,5" and -1 give "3,4"); "" when S is no number in the locale.
std::string AjustaUltimoDecimal(const std::string& S, int Step);

}  // namespace kv
#pragma GCC visibility pop
