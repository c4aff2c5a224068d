// The monkey's world and driver: the sample datasets an application would have (masters, a
// detail searched with and without its master, a query, a table of odd values), one
// TSearchDialog per dataset, the actions performed on the real widgets from inside the search
// form's modal loop, and the checks after every action and after every search.
#include "Monkey.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "DBTables.h"
#include "Filter.h"
#include "MessageBoxes.h"
#include "SearchDialog.h"
#include "TableFile.h"

using namespace kv;

namespace monkey {

namespace fs = std::filesystem;

namespace {

// ------------------------------------------------------------------------------ the data

enum TScenario { scCustomer, scOrders, scItems, scItemsLinked, scQuery, scVarios, scCount };
const char* const ScenarioNames[scCount] = {"customer",     "orders", "items",
                                            "items-linked", "query",  "varios"};
// The application's own filter on each dataset (the "appfilter" flag of a session).
const char* const AppFilters[scCount] = {"TaxRate > 0", "ItemsTotal > 1000", "Qty > 2",
                                         "Qty > 2",     "ItemsTotal > 1000", "Cantidad > 0"};

// Odd pieces of values and names: accents, both quotes, the connectors of the search language,
// the filter language's wildcards and brackets, numbers with either separator, right-to-left
// text, emoji and combining accents.
const char* const Pieces[] = {"Ana",        "ana",         "José",      "Ñandú",
                              "O'Brien",    "'",           "\"",        "dice \"hola\"",
                              " and ",      " or ",        "and",       "or",
                              "%",          "_",           "*",         "[",
                              "]",          "(",           ")",         "\\",
                              "12",         "3,5",         "3.5",       "-0,25",
                              "1.234,5",    "1e5",         "0",         "25/12/2000",
                              "31/02/2001", "08:30",       " ",         "  ",
                              "Í",          "ü",           "שלום",      "مرحبا",
                              "🐟",          "👩‍🔧", "e\xCC\x81", "a\xCC\x8A",
                              "€",          "¿?",          "\t",        "NULL",
                              "''",         "==",          "><",        "<>"};

// Rows of the table of odd values.
struct TOddRow {
  const char* Nombre;
  int Day;  // 0 for none
  double Precio;
};
const TOddRow OddRows[] = {
    {"Ana", 1, 3.5},
    {"José Núñez", 40, 10.0},
    {"O'Brien", 400, 0.25},
    {"dice \"hola\"", 0, -2.0},
    {"pan and vino", 800, 1234.5},
    {"té or café", 1200, 0.1},
    {"שלום עולם", 1500, 99.99},
    {"مرحبا بالعالم", 2000, 7.0},
    {"🐟 pez 🐠", 2500, 0.0},
    {"Jose\xCC\x81 combinado", 3000, 5.5},
    {"ÁÉÍÓÚ ÑÜ", 3500, 1e6},
    {"100% seguro", 4000, 12.75},
    {"a_b*c[d]", 4500, 3.5},
    {"  espacios  ", 5000, 2.675},
    {"3,5", 5500, 3.0},
    {"", 6000, 0.5},
    {"Ana María", 6500, 8.25},
    {"ana", 7000, 3.25},
    {"Zoë", 7500, 1.15},
    {"ĳ ǅ ß ﬁ", 8000, 42.0},
};

// The monkey's table of odd values, written as an ASCII table (UTF-8 keeps every character):
// every editor of the search form gets its turn (dates, times, a logical, date-times).
void WriteVarios(const std::string& Path) {
  TMemDataSet M;
  M.FieldDefs().Add("Nombre", ftString, 40);
  M.FieldDefs().Add("Fecha", ftDate);
  M.FieldDefs().Add("Hora", ftTime);
  M.FieldDefs().Add("Activo", ftBoolean);
  M.FieldDefs().Add("Alta", ftDateTime);
  M.FieldDefs().Add("Precio", ftFloat);
  M.FieldDefs().Add("Importe", ftCurrency);
  M.FieldDefs().Add("Cantidad", ftSmallint);
  M.CreateDataSet();
  int I = 0;
  for (const TOddRow& R : OddRows) {
    const double Day = 36000 + R.Day;
    auto Or = [&](Variant V) { return R.Day == 0 ? Null() : V; };
    M.AppendRecord({R.Nombre[0] ? Variant(R.Nombre) : Null(), Or(TDateTime(Day)),
                    Or(TDateTime((I % 24) / 24.0 + (I % 60) / 1440.0)), Or(I % 3 == 0),
                    Or(TDateTime(Day + (I % 24) / 24.0)), R.Precio, R.Precio * 2, I - 5});
    ++I;
  }
  TTable T;
  T.SetTableName(Path);
  T.BatchMove(&M, batCopy);
}

// Labels of the odd table's fields: accents, quotes, emoji and right-to-left text.
const std::pair<const char*, const char*> VariosLabels[] = {
    {"Nombre", "Nombre ñ"},          {"Hora", "Hora ⏰"},
    {"Activo", "¿Activo?"},          {"Precio", "Precio €"},
    {"Importe", "Importe \"neto\""}, {"Cantidad", "כמות"}};

// Declares the fields of a table file as persistent fields of T (so lookup and calculated
// fields can follow them).
void DeclareFields(TTable& T, const std::string& Dir, const std::string& Name) {
  TTable Probe;
  Probe.SetDatabaseName(Dir);
  Probe.SetTableName(Name);
  Probe.Open();
  const TFieldDefs Defs = Probe.FieldDefs();
  Probe.Close();
  for (int I = 0; I < Defs.Count(); ++I) Defs.Items(I).CreateField(&T);
}

// ------------------------------------------------------------------------------ texts

constexpr const char* BadTypeText =
    "Tipo de dato incorrecto, posiblemente este buscando texto en un campo numérico o fecha";
constexpr const char* ExportText = "Ruta o nombre de archivo no válidos (no se permiten acentos)";
// The boxes the search form shows itself (all others with the error icon are errors that
// escaped a handler, shown by the default error display).
const std::set<std::string> FormErrorTexts = {
    "Valor de campo no válido", "Valor de condicion no válido",
    "No se puede ordenar por todas las columnas", "No se puede ordenar por este tipo de campos",
    ExportText};
const std::set<std::string> FormPlainTexts = {BadTypeText,
                                              "No se puede pasar al registro siguiente",
                                              "No se puede pasar al registro anterior"};

bool StartsWith(const std::string& S, const std::string& P) {
  return S.compare(0, P.size(), P) == 0;
}
bool EndsWith(const std::string& S, const std::string& P) {
  return S.size() >= P.size() && S.compare(S.size() - P.size(), P.size(), P) == 0;
}

// Errors that the search form lets through to the default error display, by the action that
// raised them: the engine's rejection of an expression when the filter grows with Y or O (or an
// export runs the search), and the lookup of a column's field by its label.
bool LetThrough(const TAction& A, const std::string& Msg) {
  // The parser's rejection names the position: "Filtro no válido en la posición N (…): …".
  const bool Rejected = Msg == "Filtro no válido" ||
                        StartsWith(Msg, "Filtro no válido en la posición ") ||
                        Msg == "No valid filter" ||
                        (StartsWith(Msg, "El valor:") && EndsWith(Msg, " no es de tipo válido"));
  const bool Adds = A.Verb == "click" && !A.Args.empty() &&
                    (A.Args[0] == "BTFiltrarY" || A.Args[0] == "BTFiltrarO");
  if (Rejected && (Adds || A.Verb == "export")) return true;
  return StartsWith(Msg, "Campo '") && EndsWith(Msg, "' no encontrado");
}

// Qt's chatter that says nothing about the program.
bool QuietQtMessage(const QString& M) {
  return M.startsWith("This plugin does not support") || M.startsWith("QStandardPaths");
}

// ------------------------------------------------------------------------------ helpers

std::string FileBytes(const std::string& Path) {
  std::ifstream F(Path, std::ios::binary);
  std::ostringstream S;
  S << F.rdbuf();
  return S.str();
}

// The files one table consists of: the table file and an ASCII table's schema.
std::vector<std::string> TableFiles(const std::string& Path) {
  std::vector<std::string> Files{Path};
  if (ExtractFileExt(Path) == ".txt") Files.push_back(Path.substr(0, Path.size() - 4) + ".sch");
  return Files;
}

// A value (or each element of an array) as text, for comparing records.
std::string Shown(const Variant& V) {
  if (!V.IsArray()) return V.IsNullOrEmpty() ? "<null>" : V.AsString();
  std::string S;
  for (int I = V.ArrayLowBound(); I <= V.ArrayHighBound(); ++I) S += Shown(V[I]) + "|";
  return S;
}

// Looks for the modal widget Find gives on each turn of the event loop, and runs Action on it
// once it is shown; gives up (Missed) after Tries turns or when Cancelled is set.
struct TWatch : std::enable_shared_from_this<TWatch> {
  std::function<QWidget*()> Find;
  std::function<void(QWidget*)> Action;
  bool Done = false, Cancelled = false, Missed = false;
  void Poll(int Tries) {
    if (Cancelled) return;
    QWidget* W = Find();
    if (W && W->isVisible() && QApplication::activeModalWidget() == W) {
      Done = true;
      Action(W);
    } else if (Tries > 0) {
      QTimer::singleShot(0, [Self = shared_from_this(), Tries] { Self->Poll(Tries - 1); });
    } else {
      Missed = true;
    }
  }
};

std::shared_ptr<TWatch> WhenModal(std::function<QWidget*()> Find,
                                  std::function<void(QWidget*)> Action, int Tries = 2000) {
  auto W = std::make_shared<TWatch>();
  W->Find = std::move(Find);
  W->Action = std::move(Action);
  QTimer::singleShot(0, [W, Tries] { W->Poll(Tries); });
  return W;
}

// Types Text key by key as a keyboard does: plain ASCII as its keys, any other character (a
// whole code point; a combining accent is a key of its own) as a key that carries it.
// After each key runs AfterKey.
void TypeText(QWidget* W, const std::string& Text, const std::function<void()>& AfterKey) {
  const QString Q = QString::fromStdString(Text);
  for (qsizetype I = 0; I < Q.size(); ++I) {
    const QChar C = Q[I];
    if (C.unicode() < 0x80 && C.unicode() >= 0x20) {
      QTest::keyClick(W, static_cast<char>(C.unicode()));
    } else if (C == '\t' || C == '\n') {
      QTest::keyClick(W, C == '\t' ? Qt::Key_Tab : Qt::Key_Return);
    } else {
      QString One(C);
      if (C.isHighSurrogate() && I + 1 < Q.size()) One += Q[++I];
      QTest::sendKeyEvent(QTest::Click, W, Qt::Key_unknown, One, Qt::NoModifier);
    }
    AfterKey();
  }
}

// Clicks a widget where a user's click does what it says: check boxes and radio buttons on
// their box, the rest in the middle.
void ClickWidget(QWidget* W, Qt::KeyboardModifiers Mods = {}) {
  QPoint At = W->rect().center();
  if (qobject_cast<QCheckBox*>(W) || qobject_cast<QRadioButton*>(W))
    At = QPoint(8, W->height() / 2);
  QTest::mouseClick(W, Qt::LeftButton, Mods, At);
}

Qt::KeyboardModifiers ModsOf(const std::string& S) {
  Qt::KeyboardModifiers M;
  if (S.find("shift") != std::string::npos) M |= Qt::ShiftModifier;
  if (S.find("ctrl") != std::string::npos) M |= Qt::ControlModifier;
  return M;
}

const std::pair<const char*, Qt::Key> Keys[] = {{"Up", Qt::Key_Up},
                                                {"Down", Qt::Key_Down},
                                                {"Left", Qt::Key_Left},
                                                {"Right", Qt::Key_Right},
                                                {"Home", Qt::Key_Home},
                                                {"End", Qt::Key_End},
                                                {"PageUp", Qt::Key_PageUp},
                                                {"PageDown", Qt::Key_PageDown},
                                                {"Tab", Qt::Key_Tab},
                                                {"Space", Qt::Key_Space},
                                                {"Return", Qt::Key_Return},
                                                {"Escape", Qt::Key_Escape},
                                                {"Backspace", Qt::Key_Backspace},
                                                {"Delete", Qt::Key_Delete},
                                                {"A", Qt::Key_A}};

Qt::Key KeyOf(const std::string& Name) {
  for (const auto& [N, K] : Keys)
    if (Name == N) return K;
  throw Exception("Tecla desconocida: " + Name);
}

const std::string& Arg(const TAction& A, size_t I) {
  static const std::string None;
  return I < A.Args.size() ? A.Args[I] : None;
}

int IntArg(const TAction& A, size_t I) {
  try {
    return std::stoi(Arg(A, I));
  } catch (const std::exception&) {
    return 0;
  }
}

// The last index of a list of Count, picked by N (which may be beyond it after a replay was
// shortened).
int Wrap(int N, int Count) {
  return Count <= 0 ? -1 : ((N % Count) + Count) % Count;
}

}  // namespace

// ------------------------------------------------------------------------------ sources

// Where the actions come from: a seeded generator or a replay list.
class TSource {
 public:
  virtual ~TSource() = default;
  // The next action: a "session" line when no search form is open, any action when one is.
  virtual bool Next(TWorld& W, bool InForm, TAction& A) = 0;
  // Puts an action back, to be given again by the next call.
  void PutBack(TAction A) { FBack.push_back(std::move(A)); }

 protected:
  bool TakeBack(TAction& A) {
    if (FBack.empty()) return false;
    A = std::move(FBack.back());
    FBack.pop_back();
    return true;
  }

 private:
  std::vector<TAction> FBack;
};

// ------------------------------------------------------------------------------ the world

class TWorld {
 public:
  TWorld(const std::string& DbDir, const std::string& OutDir, TMonkey& Owner);
  ~TWorld();
  TWorld(const TWorld&) = delete;
  TWorld& operator=(const TWorld&) = delete;

  // Runs the actions of S until it has none or a check breaks.
  TResult Drive(TSource& S, std::ostream* Journal);

  // ---- what the generator looks at
  TSearchDialogBox* Form() const { return FForm; }
  TDataSet* Results() const { return FForm ? FForm->Engine()->Results() : nullptr; }
  const std::string& OutDir() const { return FOutDir; }
  int ExportsDone() const { return FExports; }

 private:
  void RunSession(const TAction& Start, TSource& S);
  void InForm(TSource& S);
  void Perform(const TAction& A);
  void Export(const TAction& A);
  // ---- checks
  // The checks after an action (messages from MessagesBefore on).
  void CheckForm(const TAction& A, int MessagesBefore);
  void CheckMessages(const TAction& A, int Since);
  bool ConditionHolds();
  void CheckArrows(const TAction& A, bool ArrowsBefore);
  void CheckExportFolder(const TAction& A);
  void Fail(const std::string& Check, const std::string& Detail);
  void Log(const TAction& A);

  struct TState {
    std::string Filter;
    bool Filtered = false;
    TDataSource* MasterSource = nullptr;
    std::string MasterFields;
    TBookmark Row = NoBookmark;
    int Count = 0;
  };
  static TState StateOf(TDataSet* DS);
  // The searched dataset and its masters, nearest first.
  static std::vector<TDataSet*> Chain(TDataSet* DS);
  // Filter and master link as Before; with Row also the records shown and the current one.
  void CheckState(const std::string& When, TDataSet* DS, const TState& Before, bool Row);
  void Position(TScenario Sc, int At);

  TMonkey& FOwner;
  std::string FDbDir, FOutDir;
  // The application's datasets: customers are the masters of orders (MasterOrders), which are
  // the masters of the order items; Orders is a table of its own with a lookup and a calculated
  // field; Items has a lookup field too.
  TTable FCustomer, FCustomerLookup, FOrders, FMasterOrders, FParts, FItems, FVarios;
  TDataSource FCustomerSource, FMasterOrdersSource;
  TQuery FQuery;
  TDataSet* FDataSets[scCount] = {};
  std::unique_ptr<TSearchDialog> FDialogs[scCount];

  TMessageRecorder FMessages;
  int FMessagesChecked = 0;  // messages before this one have been checked
  QtMessageHandler FPreviousQtHandler = nullptr;
  std::vector<std::string> FQtMessages;

  TSearchDialogBox* FForm = nullptr;
  TSearchDialog* FDialog = nullptr;
  std::string FLastMulti;
  TPos FAcceptedPos;
  bool FAcceptedEmpty = false;
  bool FFormAccepted = false;
  // The application's own filter hides the chosen record (its dataset cannot stand on it).
  bool FChosenHidden = false;
  bool FArrowsBefore = false;  // the arrows' state before the action (or its last key)
  int FExports = 0;
  int FActionNo = 0;
  std::ostream* FJournal = nullptr;
  TResult FResult;
};

namespace {
std::vector<std::string>* QtSink = nullptr;
QtMessageHandler QtPrevious = nullptr;
void CollectQtMessage(QtMsgType Type, const QMessageLogContext& Context, const QString& Msg) {
  if (QuietQtMessage(Msg)) return;
  if (QtSink && Type != QtDebugMsg && Type != QtInfoMsg) QtSink->push_back(Msg.toStdString());
  if (QtPrevious) QtPrevious(Type, Context, Msg);
}
}  // namespace

TWorld::TWorld(const std::string& DbDir, const std::string& OutDir, TMonkey& Owner)
    : FOwner(Owner), FDbDir(DbDir), FOutDir(OutDir) {
  auto Open = [&](TTable& T, const char* Name) {
    T.SetDatabaseName(FDbDir);
    T.SetTableName(Name);
  };
  Open(FCustomer, "CUSTOMER.DB");
  FCustomer.Open();
  FCustomerSource.SetDataSet(&FCustomer);
  Open(FCustomerLookup, "CUSTOMER.DB");
  FCustomerLookup.Open();
  Open(FParts, "PARTS.DB");
  FParts.Open();

  Open(FOrders, "ORDERS.DB");
  DeclareFields(FOrders, FDbDir, "ORDERS.DB");
  FOrders.AddLookupField("Company", ftString, &FCustomerLookup, "CustNo", "CustNo", "Company", 30);
  TField* Balance = FOrders.AddField<TCurrencyField>("Balance");
  Balance->SetCalculated(true);
  Balance->OnCalcValue = [](const TDataSet& DS, TBookmark Row) -> Variant {
    return DS.FieldByName("ItemsTotal")->ValueAt(Row).AsDouble() -
           DS.FieldByName("AmountPaid")->ValueAt(Row).AsDouble();
  };
  FOrders.Open();
  FOrders.FieldByName("Company")->SetDisplayLabel("Compañía");

  Open(FMasterOrders, "ORDERS.DB");
  FMasterOrders.SetIndexFieldNames("CustNo;OrderNo");
  FMasterOrders.SetMasterSource(&FCustomerSource);
  FMasterOrders.SetMasterFields("CustNo");
  FMasterOrders.Open();
  FMasterOrdersSource.SetDataSet(&FMasterOrders);

  Open(FItems, "ITEMS.DB");
  DeclareFields(FItems, FDbDir, "ITEMS.DB");
  FItems.AddLookupField("Description", ftString, &FParts, "PartNo", "PartNo", "Description", 30);
  FItems.SetIndexFieldNames("OrderNo;ItemNo");
  FItems.SetMasterSource(&FMasterOrdersSource);
  FItems.SetMasterFields("OrderNo");
  FItems.Open();

  FQuery.SetDatabaseName(FDbDir);
  FQuery.SQL().Add(
      "select OrderNo, CustNo, SaleDate, ShipToContact, ShipToCity, ShipVIA, ItemsTotal, "
      "AmountPaid from \"ORDERS.DB\"");
  FQuery.Open();

  Open(FVarios, "VARIOS.txt");
  FVarios.Open();
  for (const auto& [Name, Label] : VariosLabels) FVarios.FieldByName(Name)->SetDisplayLabel(Label);

  TDataSet* All[scCount] = {&FCustomer, &FOrders, &FItems, &FItems, &FQuery, &FVarios};
  for (int S = 0; S < scCount; ++S) {
    FDataSets[S] = All[S];
    FDialogs[S] = std::make_unique<TSearchDialog>();
    FDialogs[S]->SetDataSet(All[S]);
  }
  FDialogs[scItemsLinked]->SetMasterSlave(true);

  QtSink = &FQtMessages;
  FPreviousQtHandler = qInstallMessageHandler(CollectQtMessage);
  QtPrevious = FPreviousQtHandler;
}

TWorld::~TWorld() {
  qInstallMessageHandler(FPreviousQtHandler);
  QtSink = nullptr;
  QtPrevious = nullptr;
  // The wrapper around the multi-select handler refers to this world.
  ExecuteOnMultiSelect = nullptr;
  for (auto& D : FDialogs) D.reset();
}

void TWorld::Fail(const std::string& Check, const std::string& Detail) {
  if (!FResult.Ok) return;
  FResult.Ok = false;
  FResult.Check = Check;
  FResult.Detail = Detail;
}

void TWorld::Log(const TAction& A) {
  const std::string Line = FormatAction(A);
  FResult.Actions.push_back(Line);
  ++FActionNo;
  if (FJournal) *FJournal << Line << std::endl;
}

TWorld::TState TWorld::StateOf(TDataSet* DS) {
  TState S;
  S.Filter = DS->Filter();
  S.Filtered = DS->Filtered();
  if (auto* T = dynamic_cast<TTable*>(DS)) {
    S.MasterSource = T->MasterSource();
    S.MasterFields = T->MasterFields();
  }
  S.Row = DS->GetBookmark();
  S.Count = DS->RecordCount();
  return S;
}

std::vector<TDataSet*> TWorld::Chain(TDataSet* DS) {
  std::vector<TDataSet*> C;
  while (DS) {
    C.push_back(DS);
    auto* T = dynamic_cast<TTable*>(DS);
    DS = T && T->MasterSource() ? T->MasterSource()->DataSet() : nullptr;
  }
  return C;
}

void TWorld::CheckState(const std::string& When, TDataSet* DS, const TState& Before, bool Row) {
  std::string Name = "the dataset";
  for (int S = 0; S < scCount; ++S)
    if (FDataSets[S] == DS) Name = ScenarioNames[S];
  if (DS == &FCustomer) Name = "customer";
  if (DS == &FMasterOrders) Name = "the master orders";
  const TState Now = StateOf(DS);
  std::ostringstream D;
  if (Now.Filter != Before.Filter || Now.Filtered != Before.Filtered)
    D << "filter '" << Now.Filter << "' (" << Now.Filtered << "), was '" << Before.Filter << "' ("
      << Before.Filtered << "); ";
  if (Now.MasterSource != Before.MasterSource || Now.MasterFields != Before.MasterFields)
    D << "master link '" << Now.MasterFields << "', was '" << Before.MasterFields << "'; ";
  if (Row && Now.Count != Before.Count) D << Now.Count << " records, were " << Before.Count << "; ";
  if (Row && Now.Row != Before.Row) D << "on row " << Now.Row << ", was on " << Before.Row << "; ";
  if (!D.str().empty()) Fail("dataset", When + " " + Name + ": " + D.str());
}

void TWorld::Position(TScenario Sc, int At) {
  auto Move = [](TDataSet& DS, int N) {
    if (DS.RecordCount() > 0) DS.SetRecNo(1 + N % DS.RecordCount());
  };
  if (Sc == scItems || Sc == scItemsLinked) {
    Move(FCustomer, At);
    Move(FMasterOrders, At / 3);
  }
  Move(*FDataSets[Sc], At / 7);
}

TResult TWorld::Drive(TSource& S, std::ostream* Journal) {
  FJournal = Journal;
  TAction A;
  while (FResult.Ok && S.Next(*this, false, A)) {
    if (A.Verb != "session") continue;  // left over from a shortened replay
    RunSession(A, S);
  }
  return FResult;
}

void TWorld::RunSession(const TAction& Start, TSource& S) {
  Log(Start);
  int Sc = 0;
  while (Sc < scCount && Arg(Start, 0) != ScenarioNames[Sc]) ++Sc;
  if (Sc == scCount) return Fail("replay", "unknown scenario: " + Arg(Start, 0));
  const bool UseFind = Arg(Start, 1) == "find";
  TSearchDialog* D = FDialogs[Sc].get();
  TDataSet* DS = FDataSets[Sc];
  std::set<std::string> Flags(Start.Args.begin() + std::min<size_t>(Start.Args.size(), 3),
                              Start.Args.end());
  D->SetUseSQLAlways(Flags.count("sql") > 0);
  D->SetDecimals(Flags.count("dec2") ? 2 : 0);
  D->SetOnPrintButton(Flags.count("print") ? TPrintEvent([this, D](TDataSet* R) {
    if (R != D->Results()) Fail("print", "the print handler got another dataset than Results");
  })
                                           : TPrintEvent());
  D->SetOnMultiSelect(Flags.count("multi") ? TMultiselectEvent([](TDBGrid* G) {
    return "Seleccionadas: " + std::to_string(G->SelectedRows().Count());
  })
                                           : TMultiselectEvent());
  // The application's own filter on the searched dataset only (a master that hides the chosen
  // record's master is a case of its own).
  for (int X = 0; X < scCount; ++X) {
    FDataSets[X]->SetFiltered(false);
    FDataSets[X]->SetFilter("");
  }
  DS->SetFilter(Flags.count("appfilter") ? AppFilters[Sc] : "");
  DS->SetFiltered(Flags.count("appfilter") > 0);
  Position(static_cast<TScenario>(Sc), IntArg(Start, 2));

  const std::vector<TDataSet*> Datasets = Chain(DS);
  std::vector<TState> Before;
  for (TDataSet* X : Datasets) Before.push_back(StateOf(X));

  FDialog = D;
  FForm = D->SearchForm();
  FLastMulti.clear();
  FAcceptedEmpty = true;
  FFormAccepted = false;
  FChosenHidden = false;
  const std::string AppFilter = DS->Filtered() ? DS->Filter() : "";
  const TFilterOptions AppOptions = DS->FilterOptions();
  // The record the user chose, taken as the form closes accepted, and whether the application's
  // filter lets its dataset show it.
  const QMetaObject::Connection Closing =
      QObject::connect(FForm, &QDialog::finished, [&, this](int Result) {
        TDataSet* R = Results();
        FFormAccepted = Result == mrOk;
        FAcceptedEmpty = !FFormAccepted || !R || R->IsEmpty();
        if (FAcceptedEmpty) return;
        GetPos(FAcceptedPos, R);
        if (AppFilter.empty()) return;
        try {
          const auto Program = TFilterProgram::Compile(AppFilter, *R);
          FChosenHidden = !Program->Matches(static_cast<uint32_t>(R->GetBookmark()), AppOptions);
        } catch (const std::exception& E) {
          Fail("accept",
               "the application's filter does not read on the result: " + std::string(E.what()));
        }
      });
  ++FResult.Sessions;
  const int MessagesBefore = FMessages.Count();
  auto Watch = WhenModal([this] { return FForm; }, [this, &S](QWidget*) { InForm(S); });
  bool Accepted = false;
  try {
    Accepted = UseFind ? D->Find() : D->Execute();
  } catch (const std::exception& E) {
    Fail("raised", std::string(UseFind ? "Find" : "Execute") + " raised: " + E.what());
  }
  Watch->Cancelled = true;
  QObject::disconnect(Closing);
  if (!Watch->Done) Fail("form", "the search form was never shown");
  // Whatever the search showed after the form closed.
  CheckMessages(TAction{"close", {}}, MessagesBefore);
  const std::string How = Accepted        ? "after an accepted "
                          : FFormAccepted ? "after an accepted (false) "
                                          : "after a cancelled ";
  const std::string Call = UseFind ? "Find" : "Execute";
  // An accepted Find says no only when its dataset cannot stand on the chosen record: the
  // application's filter hides it, or the result was empty.
  if (UseFind && FFormAccepted && !FAcceptedEmpty && Accepted == FChosenHidden)
    Fail("accept", Accepted ? "Find returned true on a record the application's filter hides: " +
                                  Shown(FAcceptedPos.values)
                            : "an accepted Find returned false on a record its dataset shows: " +
                                  Shown(FAcceptedPos.values));
  if (!Accepted) {
    // Everything as it was: the record, the filter, the master link, the masters' records.
    for (size_t I = 0; I < Datasets.size(); ++I)
      CheckState(How + Call + ",", Datasets[I], Before[I], true);
  } else {
    if (!UseFind) D->Liberate();
    // The search is over: filter and master link as they were; the masters may have moved.
    CheckState(How + Call + ",", DS, Before[0], false);
    if (UseFind && !FAcceptedEmpty) {
      // On the chosen record.
      Variant Now;
      GetFieldsValues(FAcceptedPos.Fields, DS, Now);
      if (Shown(Now) != Shown(FAcceptedPos.values))
        Fail("accept", "after an accepted Find the dataset is on " + Shown(Now) +
                           ", the chosen record was " + Shown(FAcceptedPos.values));
    }
  }
  FForm = nullptr;
  FDialog = nullptr;
}

void TWorld::InForm(TSource& S) {
  // Every text the grid's multi-select handler gives is one the counter may show.
  TMultiselectEvent Inner = ExecuteOnMultiSelect;
  ExecuteOnMultiSelect = [this, Inner](TDBGrid* G) {
    FLastMulti = Inner ? Inner(G) : std::string();
    return FLastMulti;
  };
  TSearchDialogBox& F = *FForm;
  FArrowsBefore = false;
  CheckForm(TAction{"show", {}}, FMessages.Count());
  TAction A;
  while (FResult.Ok && F.isVisible()) {
    if (!S.Next(*this, true, A) || A.Verb == "session") {
      if (A.Verb == "session") S.PutBack(A);
      // Out of actions with the form open (a shortened replay): the user cancels.
      F.SetModalResult(mrCancel);
      break;
    }
    Log(A);
    FArrowsBefore = F.SPSiguiente->Enabled();
    const int MessagesBefore = FMessages.Count();
    try {
      Perform(A);
    } catch (const std::exception& E) {
      Fail("replay", "action '" + FormatAction(A) + "' could not be done: " + E.what());
    }
    if (QWidget* Popup = QApplication::activePopupWidget()) Popup->close();
    QCoreApplication::processEvents();
    if (F.isVisible()) {
      CheckForm(A, MessagesBefore);
      if (FOwner.AfterAction && FResult.Ok) {
        FOwner.AfterAction(F, FActionNo);
        CheckForm(A, MessagesBefore);
      }
    } else {
      CheckMessages(A, MessagesBefore);
    }
  }
  if (F.isVisible()) F.SetModalResult(mrCancel);
}

// ------------------------------------------------------------------------------ actions

void TWorld::Perform(const TAction& A) {
  TSearchDialogBox& F = *FForm;
  auto Widget = [&](const std::string& Name) -> QWidget* {
    QWidget* W = F.findChild<QWidget*>(QString::fromStdString(Name));
    return W && W->isVisible() && W->isEnabled() ? W : nullptr;
  };
  // The text entry of a control: the combo boxes' line edits, or the control itself.
  auto Entry = [&](const std::string& Name) -> QWidget* {
    QWidget* W = Widget(Name);
    if (auto* C = qobject_cast<QComboBox*>(W)) return C->lineEdit() ? C->lineEdit() : W;
    return W;
  };
  const std::string& Verb = A.Verb;
  TDBGrid* G = F.DBGrid1;
  const int Rows = G->model()->rowCount(), Cols = G->model()->columnCount();
  if (Verb == "type" || Verb == "paste") {
    QWidget* W = Entry(Arg(A, 0));
    if (!W) return;
    W->setFocus();
    if (Verb == "paste") {
      if (auto* E = qobject_cast<QLineEdit*>(W)) E->insert(QString::fromStdString(Arg(A, 1)));
    } else {
      // Every key is a search of its own: the arrows are checked key by key, and the
      // action's own check starts from the last key.
      TypeText(W, Arg(A, 1), [&] {
        if (F.isVisible()) CheckArrows(A, FArrowsBefore);
        FArrowsBefore = F.SPSiguiente->Enabled();
      });
    }
  } else if (Verb == "erase") {
    if (QWidget* W = Entry(Arg(A, 0))) {
      QTest::keyClick(W, Qt::Key_A, Qt::ControlModifier);
      QTest::keyClick(W, Qt::Key_Backspace);
    }
  } else if (Verb == "pick") {
    auto* C = qobject_cast<QComboBox*>(Widget(Arg(A, 0)));
    if (!C || C->count() == 0) return;
    const int I = Wrap(IntArg(A, 1), C->count());
    C->setCurrentIndex(I);
    emit C->activated(I);
  } else if (Verb == "click") {
    QWidget* W = Widget(Arg(A, 0));
    if (!W) return;
    std::shared_ptr<TWatch> Answer;
    if (W == F.BTExportar) {
      // The export form comes up: the user thinks better of it.
      TFExportBox* B = F.ExportBox();
      Answer = WhenModal([B] { return B; }, [B](QWidget*) { ClickWidget(B->BitBtn2); });
    }
    ClickWidget(W);
    if (Answer && !Answer->Done) Fail("export", "the export form was not shown");
    if (Answer) Answer->Cancelled = true;
  } else if (Verb == "cell" || Verb == "dblcell") {
    if (Rows == 0 || Cols == 0) return;
    const QModelIndex I = G->model()->index(Wrap(IntArg(A, 0), Rows), Wrap(IntArg(A, 1), Cols));
    G->scrollTo(I);
    const QPoint At = G->visualRect(I).center();
    if (Verb == "dblcell") {
      QTest::mouseClick(G->viewport(), Qt::LeftButton, {}, At);
      QTest::mouseDClick(G->viewport(), Qt::LeftButton, {}, At);
    } else {
      QTest::mouseClick(G->viewport(), Qt::LeftButton, ModsOf(Arg(A, 2)), At);
    }
  } else if (Verb == "key") {
    QWidget* W = Arg(A, 0) == "focus" ? QApplication::focusWidget() : Entry(Arg(A, 0));
    if (!W || !F.isAncestorOf(W)) W = &F;
    QTest::keyClick(W, KeyOf(Arg(A, 1)), ModsOf(Arg(A, 2)));
  } else if (Verb == "export") {
    Export(A);
  } else {
    throw Exception("verbo desconocido");
  }
}

void TWorld::Export(const TAction& A) {
  TSearchDialogBox& F = *FForm;
  TFExportBox* B = F.ExportBox();
  const std::string& Format = Arg(A, 0);
  const std::string& Answer = Arg(A, 4);
  const std::string Chosen = FOutDir + "/" + Arg(A, 3);
  // What the target holds before: taken as the user accepts, from the name the form will use
  // (the save dialog may read a typed name its own way).
  std::string Target;
  std::vector<std::string> Old;
  bool Existed = true;
  std::error_code Ec;
  auto Snapshot = [&] {
    const std::string Name = B->Edit1->Text(), Ext = "." + Format;
    Target = ExtractFileExt(Name) == Ext ? Name : Name + Ext;
    for (const std::string& P : TableFiles(Target)) {
      Existed = Existed && fs::exists(P, Ec);
      Old.push_back(FileBytes(P));
    }
  };
  const int MessagesBefore = FMessages.Count();
  std::shared_ptr<TWatch> Browse;
  auto Watch = WhenModal([B] { return B; },
                         [&](QWidget*) {
                           TRadioButton* Kind = Format == "txt"   ? B->RBASCII
                                                : Format == "dbf" ? B->RBDBase
                                                                  : B->RBParadox;
                           ClickWidget(Kind);
                           ClickWidget(Arg(A, 1) == "all" ? B->RBTodos : B->RBEncontrados);
                           ClickWidget(Arg(A, 2) == "all" ? B->RBCampos : B->RBVisibles);
                           if (StartsWith(Answer, "browse")) {
                             TSaveDialog* S = B->SaveDialog1;
                             Browse = WhenModal([S]() -> QWidget* { return S->Dialog(); },
                                                [&](QWidget* W) {
                                                  auto* Dlg = static_cast<QFileDialog*>(W);
                                                  if (Answer == "browse-accept") {
                                                    Dlg->findChild<QLineEdit*>()->setText(
                                                        QString::fromStdString(Chosen));
                                                    static_cast<QDialog*>(Dlg)->accept();
                                                  }
                                                  // A folder's name (or one in a folder that is not
                                                  // there) only moves the dialog: the user gives up
                                                  // on it.
                                                  if (Dlg->isVisible())
                                                    static_cast<QDialog*>(Dlg)->reject();
                                                });
                             ClickWidget(B->Button1);
                             if (!Browse->Done) Fail("export", "the save dialog was not shown");
                             Browse->Cancelled = true;
                             if (Answer == "browse-cancel") B->Edit1->SetText(Chosen);
                           } else {
                             B->Edit1->SetText(Chosen);
                           }
                           Snapshot();
                           ClickWidget(Answer == "cancel" ? B->BitBtn2 : B->BitBtn1);
                         });
  // The user replaces a file that exists when asked (by the save dialog or by the form); the
  // options form shown again after a refused target is cancelled.
  QTimer Answers;
  QObject::connect(&Answers, &QTimer::timeout, [&] {
    QWidget* M = QApplication::activeModalWidget();
    if (auto* Box = qobject_cast<QMessageBox*>(M)) {
      if (QAbstractButton* Yes = Box->button(QMessageBox::Yes)) ClickWidget(Yes);
    } else if (M == B && Watch->Done) {
      ClickWidget(B->BitBtn2);
    }
  });
  Answers.start(0);
  ClickWidget(F.BTExportar);
  Answers.stop();
  Watch->Cancelled = true;
  if (!Watch->Done) return Fail("export", "the export form was not shown");
  ++FExports;
  CheckExportFolder(A);
  bool Refused = false;
  for (int I = MessagesBefore; I < FMessages.Count(); ++I)
    Refused = Refused || FMessages.Messages()[static_cast<size_t>(I)].Kind == mtError;
  const std::vector<std::string> Files = TableFiles(Target);
  if (Answer == "cancel" || Refused) {
    // Nothing written, nothing lost.
    for (size_t I = 0; I < Files.size(); ++I)
      if (fs::exists(Files[I], Ec) != Existed || (Existed && FileBytes(Files[I]) != Old[I]))
        return Fail("export", "a refused or cancelled export changed " + Files[I]);
    return;
  }
  // Written whole: it reads back with the result's records and the chosen columns.
  try {
    ClearTableCache(Target);
    const auto Store = LoadTableFile(Target);
    if (Arg(A, 1) != "all" && static_cast<int>(Store->RowCount()) != Results()->RecordCount())
      Fail("export", Target + " holds " + std::to_string(Store->RowCount()) +
                         " records, the result " + std::to_string(Results()->RecordCount()));
    if (Arg(A, 2) != "all" && static_cast<int>(Store->Defs.size()) != F.DBGrid1->Columns().Count())
      Fail("export", Target + " holds " + std::to_string(Store->Defs.size()) +
                         " fields, the grid shows " + std::to_string(F.DBGrid1->Columns().Count()));
  } catch (const std::exception& E) {
    Fail("export", "the exported " + Target + " does not read back: " + E.what());
  }
}

// ------------------------------------------------------------------------------ checks

void TWorld::CheckMessages(const TAction& A, int Since) {
  Since = std::max(Since, FMessagesChecked);
  FMessagesChecked = FMessages.Count();
  for (int I = Since; I < FMessages.Count(); ++I) {
    const TRecordedMessage& M = FMessages.Messages()[static_cast<size_t>(I)];
    if (M.Kind == mtCustom && FormPlainTexts.count(M.Msg)) continue;
    if (M.Kind == mtError && FormErrorTexts.count(M.Msg)) continue;
    // A target that is a table the program has open is refused, naming it.
    if (M.Kind == mtError && A.Verb == "export" &&
        StartsWith(M.Msg, "No se puede exportar sobre el archivo '"))
      continue;
    if (M.Kind == mtError && LetThrough(A, M.Msg)) continue;
    Fail(M.Kind == mtError ? "escape" : "message",
         "the message '" + M.Msg + "'" + (M.Detail.empty() ? "" : " (" + M.Detail + ")"));
  }
  if (!FQtMessages.empty()) {
    Fail("qt", "Qt said: " + FQtMessages.front());
    FQtMessages.clear();
  }
}

bool TWorld::ConditionHolds() {
  TKVFind* E = FForm->Engine();
  TDataSet* R = E->Results();
  if (!R || R->GetBookmark() == NoBookmark || !E->DataSet()) return false;
  try {
    // A second engine of our own reads the condition, so the form's engine is not touched.
    TKVFind Reader;
    Reader.SetPDataSet(E->DataSet());
    Reader.SetCondition(E->Condition());
    const std::string Text = Reader.Buildcondition();
    if (Text.empty()) return false;
    const auto Program = TFilterProgram::Compile(Text, *R);
    return Program->Matches(
        static_cast<uint32_t>(R->GetBookmark()),
        E->CaseSensitive() ? 0u : static_cast<TFilterOptions>(foCaseInsensitive));
  } catch (const std::exception&) {
    return false;
  }
}

void TWorld::CheckArrows(const TAction& A, bool ArrowsBefore) {
  TSearchDialogBox& F = *FForm;
  // Navigation: both arrows alike; enabled only after an incremental search found the record
  // the result is on; never right after the actions that disable them.
  const bool Next = F.SPSiguiente->Enabled(), Prior = F.SPAnterior->Enabled();
  if (Next != Prior) Fail("arrows", "one navigation arrow enabled, the other not");
  if (Next && !ArrowsBefore && !ConditionHolds())
    Fail("arrows",
         "the arrows came on without a found record (condition '" + F.Engine()->Condition() + "')");
  static const std::set<std::string> Disabling = {"BTFiltrarY", "BTFiltrarO", "BTBorrarFiltro",
                                                  "BTOrdenar", "CBOrdenDescendente"};
  const bool Disables = A.Verb == "cell" || (A.Verb == "click" && Disabling.count(Arg(A, 0)));
  if (Next && Disables) Fail("arrows", "the arrows stayed on after " + FormatAction(A));
}

void TWorld::CheckForm(const TAction& A, int MessagesBefore) {
  TSearchDialogBox& F = *FForm;
  CheckMessages(A, MessagesBefore);
  TDataSet* R = Results();
  if (!R) return Fail("results", "the engine has no result dataset");
  if (F.DataSource1->DataSet() != R) Fail("results", "the grid does not show Results");
  const std::string Counter = F.STRegistros->Caption();
  if (Counter != F.RecordCountText() && !(Counter == FLastMulti && !FLastMulti.empty()))
    Fail("counter", "the counter shows '" + Counter + "', Results holds " +
                        std::to_string(R->RecordCount()) + " records");
  if (!StartsWith(F.STFiltro->Caption(), "Filtro:"))
    Fail("filter-caption", "the filter caption is '" + F.STFiltro->Caption() + "'");
  CheckArrows(A, FArrowsBefore);
  // Exactly one value editor, or the date-and-time pair.
  std::string Shown;
  for (QWidget* W : {static_cast<QWidget*>(F.ETValor), static_cast<QWidget*>(F.DTValor),
                     static_cast<QWidget*>(F.CBValor), static_cast<QWidget*>(F.DT1Valor),
                     static_cast<QWidget*>(F.HT1Valor)})
    if (!W->isHidden()) Shown += W->objectName().toStdString() + " ";
  if (Shown != "ETValor " && Shown != "DTValor " && Shown != "CBValor " &&
      Shown != "DT1Valor HT1Valor ")
    Fail("editors", "value editors shown: '" + Shown + "'");
  if (F.CCampo->ItemIndex() < 0) Fail("column", "the column box holds '" + F.CCampo->Text() + "'");
  if (F.CCondicion->ItemIndex() < 0)
    Fail("condition", "the condition box holds '" + F.CCondicion->Text() + "'");
  if (F.DBGrid1->Options() != SearchGridOptions) Fail("grid", "the grid lost its options");
  if (F.Animate1->Active()) Fail("animation", "the animation still runs");
}

void TWorld::CheckExportFolder(const TAction& A) {
  for (const auto& E : fs::directory_iterator(FOutDir)) {
    const std::string Name = E.path().filename().string();
    // The data layer writes beside the target as ".<name>.tmp<pid>_<n>" (a file, or a folder
    // when columns are dropped) and renames only a complete table.
    if (StartsWith(Name, ".") && Name.find(".tmp") != std::string::npos)
      Fail("export", "a temporary " + Name + " stayed behind after " + FormatAction(A));
  }
}

// ------------------------------------------------------------------------------ generator

namespace {

class TGenerator : public TSource {
 public:
  TGenerator(uint64_t Seed, int Actions) : FRandom(Seed), FLeft(Actions) {}
  bool Next(TWorld& W, bool InForm, TAction& A) override {
    if (TakeBack(A)) return true;
    if (FLeft <= 0) return false;
    --FLeft;
    // The last action closes a form still open.
    if (InForm && FLeft == 0) {
      A = {"click", {"BTCancelar"}};
      return true;
    }
    A = InForm ? FormAction(W) : Session();
    return true;
  }

 private:
  int Below(int N) { return FRandom.Below(N); }
  bool Chance(int P) { return FRandom.Chance(P); }
  template <class T, size_t N>
  const T& Pick(const T (&Items)[N]) {
    return Items[Below(static_cast<int>(N))];
  }

  TAction Session() {
    TAction A{"session",
              {ScenarioNames[Below(scCount)], Chance(60) ? "find" : "execute",
               std::to_string(Below(10000))}};
    for (const char* Flag : {"sql", "print", "multi", "dec2", "appfilter"})
      if (Chance(20)) A.Args.push_back(Flag);
    return A;
  }

  // A value as a user types it: part of a value the grid shows, a number, odd pieces.
  std::string Value(TWorld& W) {
    const int Kind = Below(100);
    TDataSet* R = W.Results();
    TField* F = W.Form()->DBGrid1->SelectedField();
    if (Kind < 35 && R && F && R->RecordCount() > 0) {
      const TField* RF = R->FindField(F->FieldName());
      const std::string Shown = RF ? RF->DisplayTextAt(R->RowAt(Below(R->RecordCount()))) : "";
      if (!Shown.empty())
        return Shown.substr(0, 1 + static_cast<size_t>(Below(static_cast<int>(Shown.size()))));
    }
    if (Kind < 50) {
      std::string N = (Chance(20) ? "-" : "") + std::to_string(Below(Chance(50) ? 100 : 100000));
      if (Chance(50)) N += (Chance(50) ? "," : ".") + std::to_string(Below(1000));
      return N;
    }
    std::string V;
    for (int I = 1 + Below(3); I > 0; --I) V += Pick(Pieces);
    return V;
  }

  // Part of an item of a combo box (which the box completes), or text of no item.
  std::string ComboText(QComboBox* C) {
    if (C->count() > 0 && Chance(75)) {
      const std::string Item = C->itemText(Below(C->count())).toStdString();
      if (!Item.empty())
        return Item.substr(0, 1 + static_cast<size_t>(Below(static_cast<int>(Item.size()))));
    }
    return Pick(Pieces);
  }

  std::string ExportName(TWorld& W) {
    static const char* const Names[] = {"Resultado",     "lista",          "con espacios",
                                        "acentuación",   "comilla'simple", "comilla\"doble",
                                        "x.DB",          ".oculto",        "",
                                        "sub/no/existe", "punto.",         "Resultado",
                                        "lista",         "Resultado"};
    if (Chance(3)) return std::string(300, 'n');
    std::string N = Pick(Names);
    if (Chance(10)) N += std::to_string(W.ExportsDone());
    return N;
  }

  TAction FormAction(TWorld& W) {
    TSearchDialogBox& F = *W.Form();
    const int Rows = F.DBGrid1->model()->rowCount();
    const int Cols = F.DBGrid1->model()->columnCount();
    auto Mods = [&]() -> std::string {
      const int M = Below(10);
      return M < 2 ? "shift" : M < 4 ? "ctrl" : "";
    };
    auto Cell = [&](const char* Verb) {
      TAction A{Verb, {std::to_string(Below(Rows)), std::to_string(Below(Cols))}};
      const std::string M = Mods();
      if (!M.empty() && A.Verb == "cell") A.Args.push_back(M);
      return A;
    };
    auto Shown = [](QWidget* W) { return !W->isHidden() && W->isEnabled(); };
    for (int Tries = 0; Tries < 50; ++Tries) {
      int R = Below(1000);
      auto Take = [&R](int Weight) { return (R -= Weight) < 0; };
      if (Take(200)) {
        if (!Shown(F.ETValor)) continue;
        if (Chance(30)) return {"erase", {"ETValor"}};
        return {"type", {"ETValor", Value(W)}};
      }
      if (Take(12)) {
        if (!Shown(F.ETValor)) continue;
        if (Chance(50)) return {"paste", {"ETValor", std::string(10000, "x9ñ"[Below(3)])}};
        std::string Piece = Pick(Pieces);
        std::string Long;
        while (Long.size() < 10000) Long += Piece;
        return {"paste", {"ETValor", Long}};
      }
      if (Take(45)) {
        const char* const Pickers[] = {"DTValor", "DT1Valor", "HT1Valor"};
        const char* Picker = Pick(Pickers);
        if (!Shown(F.findChild<QWidget*>(Picker))) continue;
        static const char* const PickerKeys[] = {"Up", "Down", "Left", "Right", "Up", "Down"};
        if (Chance(20)) return {"type", {Picker, std::to_string(Below(32))}};
        return {"key", {Picker, Pick(PickerKeys)}};
      }
      if (Take(20)) {
        if (!Shown(F.CBValor)) continue;
        return {"click", {"CBValor"}};
      }
      if (Take(70)) return {"pick", {"CCampo", std::to_string(Below(F.CCampo->count() + 1))}};
      if (Take(20)) return {"type", {"CCampo", ComboText(F.CCampo)}};
      if (Take(60))
        return {"pick", {"CCondicion", std::to_string(Below(F.CCondicion->count() + 1))}};
      if (Take(15)) return {"type", {"CCondicion", ComboText(F.CCondicion)}};
      if (Take(110)) {
        if (Rows == 0 || Cols == 0) continue;
        return Cell("cell");
      }
      if (Take(60)) {
        static const char* const GridKeys[] = {"Up",  "Down",   "Left",     "Right", "Home",
                                               "End", "PageUp", "PageDown", "Tab",   "Space"};
        TAction A{"key", {"DBGrid1", Pick(GridKeys)}};
        const std::string M = Mods();
        if (!M.empty()) A.Args.push_back(M);
        return A;
      }
      const std::pair<int, const char*> Buttons[] = {
          {55, "BTFiltrarY"},  {35, "BTFiltrarO"},         {25, "BTBorrarFiltro"},
          {25, "BTOrdenar"},   {15, "CBOrdenDescendente"}, {15, "CBDistinguirMayusculas"},
          {35, "SPSiguiente"}, {25, "SPAnterior"},         {5, "BTImprimir"},
          {12, "BTAceptar"},   {8, "BTCancelar"}};
      bool Clicked = false;
      TAction A;
      for (const auto& [Weight, Name] : Buttons)
        if (!Clicked && Take(Weight)) {
          A = {"click", {Name}};
          Clicked = true;
        }
      if (Clicked) return A;
      if (Take(15)) {
        static const char* const Formats[] = {"db", "txt", "dbf"};
        static const char* const Answers[] = {"accept", "accept",        "accept",       "accept",
                                              "cancel", "browse-accept", "browse-cancel"};
        return {"export",
                {Pick(Formats), Chance(30) ? "all" : "found", Chance(30) ? "all" : "visible",
                 ExportName(W), Pick(Answers)}};
      }
      if (Take(30)) {
        // Any control the user can see and reach.
        std::vector<QWidget*> Reachable;
        for (QWidget* C : F.findChildren<QWidget*>())
          if (!C->objectName().isEmpty() && !C->objectName().startsWith("qt_") && C->isVisible() &&
              C->isEnabled())
            Reachable.push_back(C);
        if (Reachable.empty()) continue;
        return {"click",
                {Reachable[static_cast<size_t>(Below(static_cast<int>(Reachable.size())))]
                     ->objectName()
                     .toStdString()}};
      }
      if (Take(5)) return {"key", {"focus", "Escape"}};
      if (Take(4)) {
        if (Rows == 0 || Cols == 0) continue;
        return Cell("dblcell");
      }
      if (Take(2)) return {"key", {"focus", "Return"}};
    }
    return {"click", {"BTBorrarFiltro"}};
  }

  TRandom FRandom;
  int FLeft;
};

class TReplay : public TSource {
 public:
  explicit TReplay(const std::vector<std::string>& Lines) {
    for (const std::string& L : Lines)
      if (!L.empty() && L[0] != '#') FLines.push_back(ParseAction(L));
  }
  bool Next(TWorld&, bool, TAction& A) override {
    if (TakeBack(A)) return true;
    if (FLines.empty()) return false;
    A = std::move(FLines.front());
    FLines.pop_front();
    return true;
  }

 private:
  std::deque<TAction> FLines;
};

std::string MakeFolder(const std::string& Parent, const std::string& Name) {
  const std::string Dir = Parent + "/" + Name;
  fs::create_directories(Dir);
  return Dir;
}

}  // namespace

// ------------------------------------------------------------------------------ TMonkey

TMonkey::TMonkey(const std::string& GensamplePath) {
  char Templ[] = "/tmp/kvmonkeyXXXXXX";
  if (!mkdtemp(Templ)) throw Exception("No se ha podido crear la carpeta del mono");
  FFolder = Templ;
  const std::string Db = MakeFolder(FFolder, "db");
  const std::string Command = "'" + GensamplePath + "' --out '" + Db + "' >/dev/null 2>&1";
  if (std::system(Command.c_str()) != 0)
    throw Exception("gensample no ha podido escribir la base de datos de ejemplo en " + Db);
  WriteVarios(Db + "/VARIOS.txt");
}

TMonkey::~TMonkey() {
  std::error_code Ec;
  fs::remove_all(FFolder, Ec);
}

namespace {
int Worlds = 0;
}

TResult TMonkey::Run(uint64_t Seed, int Actions, std::ostream* Journal) {
  TWorld W(FFolder + "/db", MakeFolder(FFolder, "out" + std::to_string(++Worlds)), *this);
  TGenerator G(Seed, Actions);
  return W.Drive(G, Journal);
}

TResult TMonkey::Replay(const std::vector<std::string>& Lines) {
  TWorld W(FFolder + "/db", MakeFolder(FFolder, "out" + std::to_string(++Worlds)), *this);
  TReplay R(Lines);
  return W.Drive(R, nullptr);
}

std::vector<std::string> TMonkey::Shrink(const TResult& Failed, int Budget) {
  std::vector<std::string> Best = Failed.Actions;
  auto StillFails = [&](const std::vector<std::string>& Lines) {
    if (Budget-- <= 0) return false;
    const TResult R = Replay(Lines);
    return !R.Ok && R.Check == Failed.Check;
  };
  // First the failing search alone (from its session line), then one action less at a time.
  for (size_t I = Best.size(); I-- > 0;)
    if (StartsWith(Best[I], "session ")) {
      std::vector<std::string> Last(Best.begin() + static_cast<long>(I), Best.end());
      if (I > 0 && StillFails(Last)) Best = Last;
      break;
    }
  for (size_t Chunk = std::max<size_t>(1, Best.size() / 4); Chunk > 0; Chunk /= 2) {
    for (size_t I = 1; I < Best.size() && Budget > 0;) {
      std::vector<std::string> Fewer = Best;
      Fewer.erase(Fewer.begin() + static_cast<long>(I),
                  Fewer.begin() + static_cast<long>(std::min(Best.size(), I + Chunk)));
      if (StillFails(Fewer))
        Best = Fewer;
      else
        I += Chunk;
    }
  }
  return Best;
}

// ------------------------------------------------------------------------------ the runner

namespace {

void PrintFailure(std::ostream& Out, const TResult& R) {
  Out << "monkey: check '" << R.Check << "' broken after action " << R.Actions.size() << ": "
      << R.Detail << "\n";
}

}  // namespace

int MonkeyMain(int Argc, char** Argv, const std::string& GensamplePath) {
  std::vector<std::string> Args(Argv + 1, Argv + Argc);
  TMonkey M(GensamplePath);
  TResult R;
  if (!Args.empty() && Args[0] == "--replay") {
    if (Args.size() < 2) {
      std::cerr << "uso: kvmonkey [ACCIONES] [SEMILLA] | kvmonkey --replay ARCHIVO\n";
      return 2;
    }
    std::ifstream In(Args[1]);
    if (!In) {
      std::cerr << "kvmonkey: no se puede leer " << Args[1] << "\n";
      return 2;
    }
    std::vector<std::string> Lines;
    for (std::string L; std::getline(In, L);) Lines.push_back(L);
    R = M.Replay(Lines);
    std::cout << "monkey: replayed " << R.Actions.size() << " actions\n";
  } else {
    int Actions = 100000;
    uint64_t Seed = static_cast<uint64_t>(std::time(nullptr));
    try {
      if (Args.size() > 0) Actions = std::stoi(Args[0]);
      if (Args.size() > 1) Seed = std::stoull(Args[1]);
    } catch (const std::exception&) {
      std::cerr << "uso: kvmonkey [ACCIONES] [SEMILLA] | kvmonkey --replay ARCHIVO\n";
      return 2;
    }
    const std::string JournalPath = "monkey-" + std::to_string(Seed) + ".actions";
    std::ofstream Journal(JournalPath);
    std::cout << "monkey: " << Actions << " actions, seed " << Seed << " (journal " << JournalPath
              << ")" << std::endl;
    R = M.Run(Seed, Actions, &Journal);
    std::cout << "monkey: " << R.Actions.size() << " actions in " << R.Sessions << " searches\n";
    if (R.Ok) std::remove(JournalPath.c_str());
  }
  if (R.Ok) {
    std::cout << "monkey: every check held\n";
    return 0;
  }
  PrintFailure(std::cout, R);
  const std::vector<std::string> Short = M.Shrink(R);
  std::cout << "monkey: replay (" << Short.size() << " actions; kvmonkey --replay FILE):\n";
  for (const std::string& L : Short) std::cout << L << "\n";
  return 1;
}

}  // namespace monkey
