// The search form: condition entry and its translation into the search language, the
// incremental search, the filter, order, navigation and export buttons, the record counter with
// the multi-select text, and accepting or cancelling.
#include "SearchDialogBox.h"

#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <optional>
#include <utility>

#include "BusyWork.h"
#include "Dialogs.h"
#include "Glyphs.h"
#include "ScopeExit.h"
#include "SearchDialog.h"

namespace kv {

namespace {

constexpr const char* ContainsText = "contiene";

// How long the count waits for other work to end before it looks again.
constexpr int CountRetryMs = 50;

// The conditions the form offers, with the operator each becomes.
constexpr std::pair<const char*, const char*> Conditions[] = {
    {"contiene", "><"},        {"empieza por", "=="},    {"igual a", "="},
    {"distinto a", "<>"},      {"mayor que", ">"},       {"menor que", "<"},
    {"mayor o igual a", ">="}, {"menor o igual a", "<="}};

constexpr const char* BadTypeText =
    "Tipo de dato incorrecto, posiblemente este buscando texto en un campo numérico o fecha";

// Plays the animation while an action runs, and stops it however the action ends.
class TAnimating {
 public:
  explicit TAnimating(TAnimate* A) : FAnimate(A) { FAnimate->SetActive(true); }
  ~TAnimating() { FAnimate->SetActive(false); }
  TAnimating(const TAnimating&) = delete;
  TAnimating& operator=(const TAnimating&) = delete;

 private:
  TAnimate* FAnimate;
};

// ---- whole numbers as digit strings (no leading zeros, "0" for zero), for exact decimals

int CompareDigits(const std::string& A, const std::string& B) {
  if (A.size() != B.size()) return A.size() < B.size() ? -1 : 1;
  return A.compare(B) < 0 ? -1 : (A == B ? 0 : 1);
}

std::string StripZeros(std::string D) {
  const size_t First = D.find_first_not_of('0');
  return First == std::string::npos ? "0" : D.substr(First);
}

std::string AddDigits(const std::string& A, const std::string& B) {
  std::string R;
  int Carry = 0;
  for (size_t I = 0; I < std::max(A.size(), B.size()) || Carry; ++I) {
    const int X = I < A.size() ? A[A.size() - 1 - I] - '0' : 0;
    const int Y = I < B.size() ? B[B.size() - 1 - I] - '0' : 0;
    const int S = X + Y + Carry;
    R.insert(R.begin(), static_cast<char>('0' + S % 10));
    Carry = S / 10;
  }
  return StripZeros(R);
}

// A - B for A >= B.
std::string SubDigits(const std::string& A, const std::string& B) {
  std::string R = A;
  int Borrow = 0;
  for (size_t I = 0; I < R.size(); ++I) {
    const size_t At = R.size() - 1 - I;
    int D = R[At] - '0' - Borrow - (I < B.size() ? B[B.size() - 1 - I] - '0' : 0);
    Borrow = D < 0;
    if (D < 0) D += 10;
    R[At] = static_cast<char>('0' + D);
  }
  return StripZeros(R);
}

}  // namespace

// ------------------------------------------------------------------------ unit routines

std::string AjustaUltimoDecimal(const std::string& S, int Step) {
  const TFormatSettings& FS = FormatSettings();
  double Checked;
  if (!TryStrToFloat(S, Checked, FS)) return "";
  // The number as typed: sign, digits and the count of decimals after them, so the last
  // decimal place is the one the user wrote (binary fractions would add digits of their own).
  const std::string T = Trim(S);
  size_t I = 0;
  bool Negative = false;
  if (I < T.size() && (T[I] == '+' || T[I] == '-')) Negative = T[I++] == '-';
  auto IsDigit = [&](size_t At) {
    return At < T.size() && std::isdigit(static_cast<unsigned char>(T[At]));
  };
  std::string Digits;
  long Decimals = 0;
  while (IsDigit(I)) Digits += T[I++];
  if (I < T.size() && T[I] == FS.DecimalSeparator)
    for (++I; IsDigit(I); ++Decimals) Digits += T[I++];
  if (I < T.size() && (T[I] == 'e' || T[I] == 'E')) {
    ++I;
    const bool ExpNegative = I < T.size() && T[I] == '-';
    if (I < T.size() && (T[I] == '+' || T[I] == '-')) ++I;
    long Exp = 0;
    // A finite number cannot shift further than this; longer exponents only add zeros.
    for (; IsDigit(I); ++I) Exp = std::min(Exp * 10 + (T[I] - '0'), 400L);
    Decimals += ExpNegative ? Exp : -Exp;
  }
  if (Decimals < 0) {
    Digits.append(static_cast<size_t>(-Decimals), '0');
    Decimals = 0;
  }
  std::string Magnitude = StripZeros(Digits);
  if (Magnitude == "0") Negative = false;
  // Signed whole number of last-place units, moved by Step.
  const std::string Units = std::to_string(Step < 0 ? -static_cast<long>(Step) : Step);
  if ((Step >= 0) != Negative) {
    Magnitude = AddDigits(Magnitude, Units);
  } else if (CompareDigits(Magnitude, Units) >= 0) {
    Magnitude = SubDigits(Magnitude, Units);
  } else {
    Magnitude = SubDigits(Units, Magnitude);
    Negative = !Negative;
  }
  if (Magnitude == "0") Negative = false;
  // Fixed notation with exactly Decimals decimals, written with a comma.
  const size_t Places = static_cast<size_t>(Decimals);
  if (Magnitude.size() <= Places) Magnitude.insert(0, Places + 1 - Magnitude.size(), '0');
  if (Places > 0) Magnitude.insert(Magnitude.size() - Places, 1, ',');
  return (Negative ? "-" : "") + Magnitude;
}

void ResetColumnTitles(TDBGrid* Grid) {
  for (int I = 0; I < Grid->Columns().Count(); ++I) {
    TGridColumn* C = Grid->Columns()[I];
    const TField* F = C->Field();
    C->Title().SetCaption(F ? F->DisplayLabel() : C->FieldName());
    C->Title().SetColor(F && F->Lookup() ? clAqua : clSilver);
    C->Title().Font().SetColor(clBlack);
  }
}

// ------------------------------------------------------------------------------ the form

TSearchDialogBox::TSearchDialogBox(TComponent* AOwner) : TForm(AOwner) {
  setupUi(this);
  SetPosition(poScreenCenter);
  SetWindowState(wsMaximized);
  DataSource1 = new TDataSource(this);
  FCountTimer = new QTimer(this);
  FCountTimer->setSingleShot(true);
  connect(FCountTimer, &QTimer::timeout, this, [this] { CountWhenIdle(); });

  DTValor->SetKind(dtkDate);
  DTValor->SetDateFormat(dfLong);
  DT1Valor->SetKind(dtkDate);
  DT1Valor->SetDateFormat(dfShort);
  HT1Valor->SetKind(dtkTime);
  // Stacked one above the other: the previous match points up, the next one down.
  SPAnterior->SetGlyph(DrawGlyph(TGlyph::Up));
  SPSiguiente->SetGlyph(DrawGlyph(TGlyph::Down));
  Animate1->SetCommonAVI(aviFindComputer);
  Animate1->SetStopFrame(8);
  STFiltro->SetBorderStyle(sbsSunken);
  STRegistros->SetBorderStyle(sbsSunken);
  STRegistros->SetAlignment(taCenter);
  STRegistros->Font().SetSize(12);
  STRegistros->Font().SetStyle(fsBold);
  ShowCounter();
  DBGrid1->SetOptions(SearchGridOptions);
  DBGrid1->SetReadOnly(true);
  DBGrid1->SetDataSource(DataSource1);

  CCampo->OnChange = [this](TObject* S) { CCampoChange(S); };
  CCondicion->OnChange = [this](TObject* S) { CCondicionChange(S); };
  ETValor->OnChange = [this](TObject* S) { ETValorChange(S); };
  DTValor->OnChange = [this](TObject* S) { DTValorChange(S); };
  DT1Valor->OnChange = [this](TObject* S) { DT1ValorChange(S); };
  HT1Valor->OnChange = [this](TObject* S) { HT1ValorChange(S); };
  CBValor->OnClick = [this](TObject* S) { CBValorClick(S); };
  DBGrid1->OnCellClick = [this](TGridColumn* C) { DBGrid1CellClick(C); };
  DBGrid1->OnColEnter = [this](TObject* S) { DBGrid1ColEnter(S); };
  DBGrid1->OnKeyUp = [this](TObject* S, Word& K, TShiftState Sh) { DBGrid1KeyUp(S, K, Sh); };
  DBGrid1->OnDblClick = [this](TObject* S) { BTAceptarClick(S); };
  DBGrid1->OnTitleClick = [this](TGridColumn* C) { DBGrid1CellClick(C); };
  for (QObject* O :
       {static_cast<QObject*>(CCampo), static_cast<QObject*>(CCampo->lineEdit()),
        static_cast<QObject*>(CCondicion), static_cast<QObject*>(CCondicion->lineEdit())})
    if (O) O->installEventFilter(this);
  BTFiltrarY->OnClick = [this](TObject* S) { BTFiltrarYClick(S); };
  BTFiltrarO->OnClick = [this](TObject* S) { BTFiltrarOClick(S); };
  BTBorrarFiltro->OnClick = [this](TObject* S) { BTBorrarFiltroClick(S); };
  BTOrdenar->OnClick = [this](TObject* S) { BTOrdenarClick(S); };
  BTExportar->OnClick = [this](TObject* S) { BTExportarClick(S); };
  CBOrdenDescendente->OnClick = [this](TObject* S) { CBOrdenDescendenteClick(S); };
  CBDistinguirMayusculas->OnClick = [this](TObject* S) { CBDistinguirMayusculasClick(S); };
  CBDistinguirAcentos->OnClick = [this](TObject* S) { CBDistinguirAcentosClick(S); };
  SPSiguiente->OnClick = [this](TObject* S) { SPSiguienteClick(S); };
  SPAnterior->OnClick = [this](TObject* S) { SPAnteriorClick(S); };
  BTAceptar->OnClick = [this](TObject* S) { BTAceptarClick(S); };
  BTCancelar->OnClick = [this](TObject* S) { BTCancelarClick(S); };
  OnCreate = [this](TObject* S) { FormCreate(S); };
  OnShow = [this](TObject* S) { FormShow(S); };
  OnDestroy = [this](TObject* S) { FormDestroy(S); };
  DoCreate();
}

TSearchDialogBox::~TSearchDialogBox() {
  DoDestroy();
}

void TSearchDialogBox::FormCreate(TObject*) {
  Find1 = std::make_unique<TKVFind>(this);
  FExportBox = std::make_unique<TFExportBox>(this);
}

void TSearchDialogBox::FormShow(TObject*) {
  // The form paints first; records not counted yet are counted after that.
  STRegistros->SetCaption(RecordCountText());
  ScheduleCount();
}

void TSearchDialogBox::FormDestroy(TObject*) {
  Find1.reset();
  FExportBox.reset();
}

uint8_t TSearchDialogBox::Decimals() const {
  const auto* Dialog = dynamic_cast<const TSearchDialog*>(Owner());
  return Dialog ? Dialog->Decimals() : 0;
}

std::string TSearchDialogBox::RecordCountText() const {
  const TDataSet* R = Find1 ? Find1->Results() : nullptr;
  if (!R || !R->Active()) return RecordsFoundText + IntToStr(0);
  const int Known = KnownCount();
  return Known >= 0 ? RecordsFoundText + IntToStr(Known) : std::string(RecordsFoundText);
}

int TSearchDialogBox::KnownCount() const {
  const TDataSet* R = Find1 ? Find1->Results() : nullptr;
  if (!R || !R->Active()) return 0;
  return R->KnownRecordCount();
}

void TSearchDialogBox::ScheduleCount() {
  TDataSet* R = Find1 ? Find1->Results() : nullptr;
  if (FCountTimer->isActive() || !R || !R->Active() || KnownCount() >= 0) return;
  // A timer, not a queued call: it fires once the events already waiting (the form's first
  // paint among them) have been handled.
  FCountTimer->start(TBusyWork::Current() ? CountRetryMs : 0);
}

void TSearchDialogBox::CountWhenIdle() {
  if (!isVisible() || KnownCount() >= 0) return;
  // Not inside other work, nor under another window (a message, a progress window).
  const QWidget* Modal = QApplication::activeModalWidget();
  if (TBusyWork::Current() || (Modal && Modal != this)) {
    FCountTimer->start(CountRetryMs);
    return;
  }
  SafeCall([this] {
    CountRecords();
    if (KnownCount() >= 0) ShowPicked();
  });
}

void TSearchDialogBox::CountRecords() {
  TDataSet* R = Find1 ? Find1->Results() : nullptr;
  if (!R || !R->Active() || KnownCount() >= 0) return;
  if (!isVisible() || TBusyWork::Current()) return ScheduleCount();
  try {
    TBusyWork Work(this, ValueEditor());
    TScopeExit Done([this] { FTyping = nullptr; });
    // A key typed meanwhile stops the count as it would stop a search, and is searched after.
    FTyping = &Work;
    // The dataset keeps the number it counted: the grid and the counter read it from there.
    R->RecordCount();
  } catch (const EAborted&) {
    // Stopped by the user: the counter shows no number until it is needed again.
  } catch (const std::exception& E) {
    // A database that failed under the count says so; the form keeps its result.
    if (!IsStoreFailure(E)) throw;
    ShowMessage(E.what());
  }
  DBGrid1->RefreshRowCount();
  if (FSearchAgain) {
    FSearchAgain = false;
    IncrementalSearch(FAgainInText);
  }
}

void TSearchDialogBox::EnableSteps(bool Enabled) {
  SPAnterior->SetEnabled(Enabled);
  SPSiguiente->SetEnabled(Enabled);
}

void TSearchDialogBox::ShowCounter() {
  STRegistros->SetCaption(RecordCountText());
  STRegistros->Font().SetColor(clBlack);
  STRegistros->SetColor(clSilver);
}

// ------------------------------------------------------------------------ condition entry

std::string TSearchDialogBox::NombreReal(const std::string& Label) {
  const TDataSet* R = Find1->Results();
  if (!R) return {};
  for (int I = 0; I < R->FieldCount(); ++I) {
    const TField* F = R->Fields(I);
    if (F->DisplayLabel() == Label && F->Visible()) return F->FieldName();
  }
  return {};
}

namespace {
// The searched dataset's field shown under a column label.
TField* SearchedField(TKVFind* Engine, const std::string& Name) {
  if (!Engine->DataSet()) throw Exception("La tabla no se ha podido abrir para la busqueda");
  return Engine->DataSet()->FieldByName(Name);
}
}  // namespace

void TSearchDialogBox::ActualizaCondicion() {
  CCondicion->Items().Clear();
  const std::string Column = CCampo->Text();
  if (Column == AllColumnsText ||
      SearchedField(Find1.get(), NombreReal(Column))->DataType() == ftString) {
    CCondicion->Items().Add("contiene");
    CCondicion->Items().Add("empieza por");
    CCondicion->SetText("empieza por");
  } else {
    CCondicion->SetText("igual a");
  }
  for (const char* C :
       {"igual a", "distinto a", "mayor que", "menor que", "mayor o igual a", "menor o igual a"})
    CCondicion->Items().Add(C);
}

void TSearchDialogBox::ShowEditors(QWidget* First, QWidget* Second) {
  for (QWidget* W : std::initializer_list<QWidget*>{ETValor, DTValor, CBValor, DT1Valor, HT1Valor})
    if (W != First && W != Second) W->setVisible(false);
  First->setVisible(true);
  if (Second) Second->setVisible(true);
}

void TSearchDialogBox::ValidaValor(const std::string& FieldName) {
  TGridColumns& Cols = DBGrid1->Columns();
  TGridColumn* Column = nullptr;
  for (int I = 0; I < Cols.Count(); ++I)
    if (Cols[I]->FieldName() == FieldName) Column = Cols[I];
  if (!Column && Cols.Count() > 0) Column = Cols[0];
  const TField* F = Column ? Column->Field() : nullptr;
  switch (F ? F->DataType() : ftUnknown) {
    case ftDate:
      ShowEditors(DTValor);
      DTValor->SetDateFormat(dfLong);
      DTValor->SetDateTime(Date());
      DTValor->SetKind(dtkDate);
      DTValor->Repaint();
      break;
    case ftTime:
      ShowEditors(DTValor);
      DTValor->SetDateFormat(dfShort);
      DTValor->SetDateTime(Now());
      DTValor->SetKind(dtkTime);
      DTValor->Repaint();
      break;
    case ftBoolean:
      ShowEditors(CBValor);
      break;
    case ftDateTime:
      ShowEditors(DT1Valor, HT1Valor);
      DT1Valor->SetDateTime(Date());
      HT1Valor->SetDateTime(Date());
      break;
    default:
      ShowEditors(ETValor);
      break;
  }
}

void TSearchDialogBox::RunValueHandler() {
  if (ETValor->Visible())
    ETValorChange(ETValor);
  else if (DTValor->Visible())
    DTValorChange(DTValor);
  else if (CBValor->Visible())
    CBValorClick(CBValor);
  else if (HT1Valor->Visible())
    HT1ValorChange(HT1Valor);
}

void TSearchDialogBox::CCampoChange(TObject*) {
  if (CCampo->ItemIndex() < 0) {
    MessageDlg("Valor de campo no válido", mtError);
    CCampo->SetText(CCampo->Items()[0]);
  }
  ActualizaCondicion();
  const std::string Column = CCampo->Text();
  TGridColumns& Cols = DBGrid1->Columns();
  if (Column == AllColumnsText) {
    ShowEditors(ETValor);
  } else {
    std::string Name;
    for (int I = 0; I < Cols.Count(); ++I)
      if (const TField* F = Cols[I]->Field(); F && F->DisplayLabel() == Column)
        Name = F->FieldName();
    ValidaValor(Name);
  }
  RunValueHandler();
  for (int I = 0; I < Cols.Count(); ++I)
    if (TField* F = Cols[I]->Field(); F && F->DisplayLabel() == Column)
      DBGrid1->SetSelectedField(F);
}

void TSearchDialogBox::CCondicionChange(TObject*) {
  if (CCondicion->ItemIndex() < 0) {
    MessageDlg("Valor de condicion no válido", mtError);
    CCondicion->SetText(CCondicion->Items()[0]);
  }
  RunValueHandler();
}

void TSearchDialogBox::DBGrid1CellClick(TGridColumn* Column) {
  EnableSteps(false);
  ShowNoMatch(false);
  ValidaValor(Column->FieldName());
  TAnimating Busy(Animate1);
  if (const TField* F = Column->Field()) CCampo->SetText(F->DisplayLabel());
  ActualizaCondicion();
  Word Key = 0;
  DBGrid1KeyUp(DBGrid1, Key, 0);
}

void TSearchDialogBox::DBGrid1ColEnter(TObject*) {
  const TField* F = DBGrid1->SelectedField();
  // The same text written again would select it while the user types in the box.
  if (F && CCampo->Text() != F->DisplayLabel()) CCampo->SetText(F->DisplayLabel());
}

// ------------------------------------------------------------------ translation and search

std::string TSearchDialogBox::Comparison(const std::string& F, const std::string& OP) {
  if (ETValor->Visible()) {
    const std::string V = ETValor->Text();
    const TDataSet* DS = DBGrid1->DataSet();
    const TFieldType T = DS ? DS->FieldByName(F)->DataType() : ftUnknown;
    if ((T == ftFloat || T == ftCurrency) && OP == "=") {
      // Equality on a float is a range one unit of the last typed decimal wide on each side.
      std::string Low = AjustaUltimoDecimal(V, -1), High = AjustaUltimoDecimal(V, 1);
      if (Low.empty() || High.empty()) Low = High = V;
      return "(" + F + ">'" + Low + "' and " + F + "<'" + High + "')";
    }
    return F + OP + "'" + V + "'";
  }
  if (DTValor->Visible()) {
    const std::string V = DTValor->Kind() == dtkDate ? FormatDateTime("DD/MM/YYYY", DTValor->Date())
                                                     : TimeToStr(DTValor->Time());
    return F + OP + "'" + V + "'";
  }
  if (CBValor->Visible()) return F + OP + (CBValor->Checked() ? "'true'" : "'false'");
  return F + OP + "'" + FormatDateTime("DD/MM/YYYY", DT1Valor->Date()) + " " +
         FormatDateTime("HH:MM:SS", HT1Valor->Time()) + "'";
}

std::string TSearchDialogBox::TraduceFiltro() {
  std::string OP;
  for (const auto& [Text, Token] : Conditions)
    if (CCondicion->Text() == Text) OP = Token;
  std::string Result = "(";
  if (CCampo->Text() != AllColumnsText) {
    Result += Comparison(NombreReal(CCampo->Text()), OP);
  } else {
    bool First = true;
    TGridColumns& Cols = DBGrid1->Columns();
    for (int I = 0; I < Cols.Count(); ++I) {
      const TField* F = Cols[I]->Field();
      if (!F || F->DataType() != ftString) continue;
      if (!First) Result += " or ";
      First = false;
      Result += Comparison(NombreReal(CCampo->Items()[I + 1]), OP);
    }
  }
  return Result + ")";
}

void TSearchDialogBox::IncrementalSearch(bool TextEditor) {
  if (FTyping) {
    // Called from inside the running search, as the next key arrives: that search stops and
    // this value waits for it.
    FSearchAgain = true;
    FAgainInText = TextEditor;
    FTyping->Cancel();
    return;
  }
  SearchValue(TextEditor);
  while (FSearchAgain && isVisible()) {
    FSearchAgain = false;
    SearchValue(FAgainInText);
  }
  FSearchAgain = false;
}

void TSearchDialogBox::SearchValue(bool TextEditor) {
  const std::string Column = CCampo->Text();
  const bool Searchable = Column != AllColumnsText && CCondicion->Text() != ContainsText &&
                          !SearchedField(Find1.get(), NombreReal(Column))->Lookup() &&
                          (!TextEditor || !ETValor->Text().empty());
  if (!Searchable) {
    ShowNoMatch(false);
    if (TextEditor) EnableSteps(false);
    return;
  }
  try {
    Find1->SetCondition(TraduceFiltro());
    DBGrid1->SetOptions(SearchGridOptions & ~dgMultiSelect);
    bool Found;
    {
      // The value editor keeps taking keys while a slow search runs.
      TBusyWork Work(this, ValueEditor());
      TScopeExit Done([this] { FTyping = nullptr; });
      FTyping = &Work;
      Found = Find1->FindFirst();
    }
    EnableSteps(Found);
    ShowNoMatch(!Found);
  } catch (const EAborted&) {
    // Stopped by a newer value, Escape or "Cancelar": the record and the marks stay as they were.
  } catch (const std::exception& E) {
    // A value the data layer cannot compare yet (half typed) is no match, without a message;
    // a database that failed under the search says so.
    if (IsStoreFailure(E)) ShowMessage(E.what());
  }
  DBGrid1->SetOptions(SearchGridOptions);
}

void TSearchDialogBox::ETValorChange(TObject*) {
  IncrementalSearch(true);
}
void TSearchDialogBox::DTValorChange(TObject*) {
  IncrementalSearch(false);
}
void TSearchDialogBox::CBValorClick(TObject*) {
  IncrementalSearch(false);
}
void TSearchDialogBox::HT1ValorChange(TObject*) {
  IncrementalSearch(false);
}
void TSearchDialogBox::DT1ValorChange(TObject* Sender) {
  HT1ValorChange(Sender);
}

// ------------------------------------------------------------------- keyboard and feedback

QWidget* TSearchDialogBox::ValueEditor() const {
  for (QWidget* W : std::initializer_list<QWidget*>{ETValor, DTValor, CBValor, DT1Valor})
    if (!W->isHidden()) return W;
  return ETValor;
}

void TSearchDialogBox::FocusValueEditor() {
  QWidget* W = ValueEditor();
  W->setFocus(Qt::ShortcutFocusReason);
  if (W == ETValor) ETValor->selectAll();
}

void TSearchDialogBox::ShowNoMatch(bool NoMatch) {
  for (QWidget* W : std::initializer_list<QWidget*>{ETValor, DTValor, DT1Valor, HT1Valor}) {
    if (NoMatch && !W->isHidden()) {
      // Dark text on light red, whatever the palette's own colours.
      QPalette P = W->palette();
      P.setColor(QPalette::Base, QColor(255, 200, 200));
      P.setColor(QPalette::Text, Qt::black);
      W->setPalette(P);
    } else {
      W->setPalette(QPalette());
    }
  }
}

void TSearchDialogBox::ConfirmEntry(TComboBox* Box) {
  SafeCall([&] { Box == CCampo ? CCampoChange(CCampo) : CCondicionChange(CCondicion); });
  FocusValueEditor();
}

bool TSearchDialogBox::eventFilter(QObject* Watched, QEvent* E) {
  if (E->type() == QEvent::KeyPress) {
    const int Key = static_cast<QKeyEvent*>(E)->key();
    if (Key == Qt::Key_Return || Key == Qt::Key_Enter) {
      if (Watched == CCampo || Watched == CCampo->lineEdit()) {
        ConfirmEntry(CCampo);
        return true;
      }
      if (Watched == CCondicion || Watched == CCondicion->lineEdit()) {
        ConfirmEntry(CCondicion);
        return true;
      }
    }
  }
  return TForm::eventFilter(Watched, E);
}

void TSearchDialogBox::keyPressEvent(QKeyEvent* E) {
  const Qt::KeyboardModifiers Mods = E->modifiers() & ~Qt::KeypadModifier;
  if (E->key() == Qt::Key_F && Mods == Qt::ControlModifier) {
    FocusValueEditor();
  } else if (E->key() == Qt::Key_F3 && (Mods == Qt::NoModifier || Mods == Qt::ShiftModifier)) {
    // As the step arrows: only while they are usable.
    TSpeedButton* Step = Mods == Qt::ShiftModifier ? SPAnterior : SPSiguiente;
    if (Step->isEnabled()) Step->Click();
  } else if (E->key() == Qt::Key_F1 && Mods == Qt::NoModifier) {
    if (!Application->HelpFile().empty()) Application->HelpCommand(HELP_CONTENTS, 0);
  } else {
    TForm::keyPressEvent(E);
    return;
  }
  E->accept();
}

// ------------------------------------------------------------------------------ the filter

std::string TSearchDialogBox::ValueDescription() const {
  auto Quoted = [](const std::string& V) { return " \"" + V + "\""; };
  if (ETValor->Visible()) return Quoted(ETValor->Text());
  if (DTValor->Visible())
    return Quoted(DTValor->Kind() == dtkDate ? DateToStr(DTValor->Date())
                                             : TimeToStr(DTValor->Time()));
  if (CBValor->Visible()) return Quoted(CBValor->Checked() ? "Cierto" : "Falso");
  return Quoted(DateToStr(DT1Valor->Date()) + " " + TimeToStr(HT1Valor->Time()));
}

void TSearchDialogBox::RestoreResult(bool WasFiltered) {
  try {
    // Reading the result again is a statement over a database: it may be stopped too.
    TBusyWork Work(this);
    if (WasFiltered)
      Find1->SetFiltered(true);
    else if (!Find1->OrderBy().empty())
      Find1->SetOrderBy(Find1->OrderBy());
    else
      Find1->SetFiltered(false);
  } catch (const std::exception&) {
    // The result shown before cannot be read again either: the searched dataset as it stands
    // is shown instead, and the error that started this is the one the user sees.
    Find1->SetFiltered(false);
  }
}

void TSearchDialogBox::AddCondition(const std::string& Connector, const std::string& Letter) {
  // What a cancel puts back besides the filter: the record shown and the step arrows.
  TDataSet* const Shown = Find1->Results();
  const TBookmark Mark = Shown && Shown->Active() ? Shown->GetBookmark() : NoBookmark;
  const bool Stepping = SPSiguiente->isEnabled();
  EnableSteps(false);
  TAnimating Busy(Animate1);
  const std::string Description = ValueDescription();
  const std::string OldFilter = Find1->Filter();
  const std::string OldText = FFilterText;
  const bool WasFiltered = Find1->Filtered();
  const std::string Condition = TraduceFiltro();
  const std::string Step = CCampo->Text() + " " + CCondicion->Text() + Description;
  try {
    Find1->SetFilter(OldFilter.empty() ? Condition : OldFilter + Connector + Condition);
  } catch (...) {
    // A rejected expression stays out of the engine, so the next condition extends the
    // filter that is applied, not the rejected one. The error itself reaches the user.
    Find1->SetFilter(OldFilter);
    throw;
  }
  FFilterText = OldFilter.empty() ? Step : FFilterText + " " + Letter + " " + Step;
  try {
    const int Column = DBGrid1->SelectedIndex();
    // Once the user has ordered the result (its column is aqua), every later search keeps that
    // order: an ordered search runs as SQL.
    TScopeExit Unforce([this, Forced = Find1->ForceSQL()] { Find1->SetForceSQL(Forced); });
    if (Ordered()) Find1->SetForceSQL(true);
    {
      TBusyWork Work(this);
      Find1->SetFiltered(true);
    }
    DBGrid1->SetSelectedIndex(Column);
    STFiltro->SetCaption("Filtro:" + FFilterText);
    DBGrid1->Repaint();
    ShowPicked();
  } catch (const EAborted&) {
    // Stopped by the user: the result before the click comes back, on the record it showed,
    // with nothing to tell.
    Find1->SetFilter(OldFilter);
    FFilterText = OldText;
    RestoreResult(WasFiltered);
    if (Mark != NoBookmark && Find1->Results() == Shown && Shown->Active()) {
      SafeCall([&] {
        if (Shown->BookmarkValid(Mark)) Shown->GotoBookmark(Mark);
      });
      EnableSteps(Stepping);
    }
    ShowPicked();
  } catch (const std::exception& E) {
    // A database that failed under the search names itself and what went wrong; anything else
    // is a condition the column cannot take.
    ShowMessage(IsStoreFailure(E) ? std::string(E.what()) : std::string(BadTypeText));
    Find1->SetFilter(OldFilter);
    FFilterText = OldText;
    RestoreResult(WasFiltered);
    // The result put back may be an ordered one read as SQL, which holds other records than
    // the dataset shown before the refused condition: the counter follows it.
    ShowPicked();
  }
}

void TSearchDialogBox::BTFiltrarYClick(TObject*) {
  AddCondition(" and ", "Y");
}

void TSearchDialogBox::BTFiltrarOClick(TObject*) {
  AddCondition(" or ", "O");
}

void TSearchDialogBox::BTBorrarFiltroClick(TObject*) {
  EnableSteps(false);
  Animate1->SetActive(false);
  const bool WasFiltered = Find1->Filtered();
  try {
    TBusyWork Work(this);
    Find1->SetFiltered(false);
  } catch (const EAborted&) {
    // Stopped by the user: the filter stays, with its result.
    RestoreResult(WasFiltered);
    ShowPicked();
    return;
  }
  Find1->SetFilter("");
  FFilterText.clear();
  STFiltro->SetCaption("Filtro:");
  ShowPicked();
  for (int I = 0; I < DBGrid1->Columns().Count(); ++I) DBGrid1->Columns()[I]->SetColor(clWhite);
}

void TSearchDialogBox::BTOrdenarClick(TObject*) {
  EnableSteps(false);
  if (CCampo->Text() == AllColumnsText) {
    MessageDlg("No se puede ordenar por todas las columnas", mtError);
    return;
  }
  const TField* Selected = DBGrid1->SelectedField();
  if (!Selected) return;
  if (Selected->Lookup()) {
    MessageDlg("No se puede ordenar por este tipo de campos", mtError);
    return;
  }
  TAnimating Busy(Animate1);
  const std::string Name = Selected->FieldName();
  const std::string OldOrder = Find1->OrderBy();
  const bool WasFiltered = Find1->Filtered();
  try {
    TBusyWork Work(this);
    Find1->SetOrderBy(Name);
  } catch (const EAborted&) {
    // Stopped by the user: the order (and the result) before the click come back.
    PutBackOrder(OldOrder, WasFiltered);
    return;
  }
  // The ordered result runs as SQL, which may hold other records than a filter on the dataset
  // (the dataset's own filter does not apply there): the counter follows it.
  ShowPicked();
  ETValor->SetText("");
  for (int I = 0; I < DBGrid1->Columns().Count(); ++I) {
    TGridColumn* C = DBGrid1->Columns()[I];
    C->SetColor(C->FieldName() == Name ? clAqua : clWhite);
  }
}

void TSearchDialogBox::CBOrdenDescendenteClick(TObject*) {
  EnableSteps(false);
  TAnimating Busy(Animate1);
  try {
    TBusyWork Work(this);
    Find1->SetDescendant(CBOrdenDescendente->Checked());
  } catch (const EAborted&) {
    // Stopped by the user: the direction before the click, in the box too, and its result.
    CBOrdenDescendente->SetChecked(!CBOrdenDescendente->Checked());
    Find1->SetDescendant(CBOrdenDescendente->Checked());
    return;
  }
  ETValor->SetText("");
}

void TSearchDialogBox::PutBackOrder(const std::string& OldOrder, bool WasFiltered) {
  if (!OldOrder.empty())
    Find1->SetOrderBy(OldOrder);
  else {
    Find1->SetOrderBy("");
    RestoreResult(WasFiltered);
  }
  ShowPicked();
}

void TSearchDialogBox::CBDistinguirMayusculasClick(TObject*) {
  EnableSteps(false);
  try {
    TBusyWork Work(this);
    Find1->SetCaseSensitive(CBDistinguirMayusculas->Checked());
  } catch (const EAborted&) {
    // Stopped by the user: the option before the click, in the box too, and its result.
    CBDistinguirMayusculas->SetChecked(!CBDistinguirMayusculas->Checked());
    Find1->SetCaseSensitive(CBDistinguirMayusculas->Checked());
  }
  // A filtered result is read again with the new options: the counter follows it.
  ShowPicked();
  RunValueHandler();
}

void TSearchDialogBox::CBDistinguirAcentosClick(TObject*) {
  EnableSteps(false);
  try {
    TBusyWork Work(this);
    Find1->SetAccentSensitive(CBDistinguirAcentos->Checked());
  } catch (const EAborted&) {
    // Stopped by the user: the option before the click, in the box too, and its result.
    CBDistinguirAcentos->SetChecked(!CBDistinguirAcentos->Checked());
    Find1->SetAccentSensitive(CBDistinguirAcentos->Checked());
  }
  ShowPicked();
  RunValueHandler();
}

// A value typed after the match that made the arrows usable may not be comparable with the
// column (a date half typed into a number column): the step then does not move, without a box,
// as the typing itself showed no match.
void TSearchDialogBox::SPSiguienteClick(TObject*) {
  Find1->SetCondition(TraduceFiltro());
  try {
    bool Moved;
    {
      TBusyWork Work(this);
      Moved = Find1->FindNext();
    }
    if (!Moved) ShowMessage("No se puede pasar al registro siguiente");
  } catch (const std::exception&) {
    // Not comparable, or stopped by the user: no step (see above).
  }
}

void TSearchDialogBox::SPAnteriorClick(TObject*) {
  Find1->SetCondition(TraduceFiltro());
  try {
    bool Moved;
    {
      TBusyWork Work(this);
      Moved = Find1->FindPrior();
    }
    if (!Moved) ShowMessage("No se puede pasar al registro anterior");
  } catch (const std::exception&) {
    // Not comparable, or stopped by the user: no step (see above).
  }
}

bool TSearchDialogBox::Ordered() const {
  TGridColumns& Cols = DBGrid1->Columns();
  for (int I = 0; I < Cols.Count(); ++I)
    if (Cols[I]->Color() == clAqua) return !Find1->OrderBy().empty();
  return false;
}

void TSearchDialogBox::ShowPicked() {
  Word Key = 0;
  DBGrid1KeyUp(DBGrid1, Key, 0);
}

void TSearchDialogBox::DBGrid1KeyUp(TObject*, Word&, TShiftState) {
  CountRecords();
  if (DBGrid1->SelectedRows().Count() > 0 && ExecuteOnMultiSelect) {
    std::string Text;
    try {
      // The handler reads the picked rows: over a database that is statements.
      std::optional<TBusyWork> Work;
      if (DBGrid1->DataSet() && DBGrid1->DataSet()->Cursor()) Work.emplace(this);
      Text = ExecuteOnMultiSelect(DBGrid1);
    } catch (const EAborted&) {
      // Stopped by the user: the counter and the titles stay as they were.
      return;
    }
    STRegistros->SetCaption(Text);
    STRegistros->Font().SetColor(clYellow);
    STRegistros->SetColor(clBlack);
    return;
  }
  ShowCounter();
  ResetColumnTitles(DBGrid1);
}

// ------------------------------------------------------------------------------ export

std::string ExportFolderFor(const std::string& ProgramFile) {
  const std::string Folder = ExtractFilePath(ProgramFile);
  if (!Folder.empty() && access(Folder.c_str(), W_OK) == 0) return Folder;
  std::string Home = StdStr(QDir::homePath());
  if (Home.empty() || Home.back() != '/') Home += '/';
  return Home;
}

std::string TSearchDialogBox::DefaultExportFolder() {
  return ExportFolderFor(Application->ExeName());
}

void TSearchDialogBox::BTExportarClick(TObject*) {
  TEdit* Name = FExportBox->Edit1;
  Name->SetText(DefaultExportFolder() + "Resultado");
  // A target the program reads, or one the user does not want replaced, takes them back to the
  // options form with nothing written.
  do {
    if (FExportBox->ShowModal() != mrOk) return;
    for (const auto& [Button, Ext] :
         {std::pair{FExportBox->RBParadox, ".db"}, std::pair{FExportBox->RBASCII, ".txt"},
          std::pair{FExportBox->RBDBase, ".dbf"}})
      if (Button->Checked() && ExtractFileExt(Name->Text()) != Ext)
        Name->SetText(Name->Text() + Ext);
  } while (!TFExportBox::MayWrite(Name->Text()));
  std::string Fields;
  if (FExportBox->RBVisibles->Checked()) {
    for (int I = 0; I < DBGrid1->Columns().Count(); ++I)
      Fields += "\"" + DBGrid1->Columns()[I]->FieldName() + "\", ";
    if (!Fields.empty()) Fields.resize(Fields.size() - 2);
  }
  const bool AllRecords = FExportBox->RBTodos->Checked();
  const bool WasFiltered = Find1->Filtered();
  try {
    TBusyWork Work(this);
    Find1->ExportResults(Name->Text(), Fields, AllRecords);
  } catch (const EAborted&) {
    // Stopped by the user: nothing was written (the file appears only when complete) and the
    // result before the click comes back.
    RestoreResult(WasFiltered);
  }
  // The export leaves the grid on its SQL result, with no row picked: the counter and the
  // column titles follow it.
  ShowPicked();
}

// -------------------------------------------------------------------- accept and cancel

void TSearchDialogBox::BTAceptarClick(TObject*) {
  SetModalResult(mrOk);
}

void TSearchDialogBox::BTCancelarClick(TObject*) {
  SetModalResult(mrCancel);
}

}  // namespace kv
