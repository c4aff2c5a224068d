// The scratch database of the search-dialog tests and the helpers that operate the forms.
#include "DialogTestSupport.h"

#include <stdlib.h>

#include <QApplication>
#include <QTimer>
#include <cctype>
#include <filesystem>
#include <memory>

#include "BusyWork.h"
#include "KVplus/TableMaker.h"

using namespace kv;

namespace dialogtest {

namespace {

using kvtest::TCol;

void Make(const std::string& Dir, const std::string& Name, const std::vector<TCol>& Defs,
          const std::vector<std::string>& Key, const std::vector<std::vector<Variant>>& Rows) {
  kvtest::MakeTable(Dir, Name, Defs, Key, Rows);
}

TDateTime At(int Y, int M, int D, int H = 0, int N = 0) {
  return TDateTime(EncodeDate(Y, M, D).Val + EncodeTime(H, N, 0).Val);
}

std::string WriteDatabase() {
  char Tmpl[] = "/tmp/kvdialogXXXXXX";
  if (!mkdtemp(Tmpl)) throw Exception("No se ha podido crear la carpeta de pruebas");
  const std::string Dir = Tmpl;
  Make(Dir, "CLIENTES.DB",
       {{"CustNo", ftInteger, 0},
        {"Company", ftString, 30},
        {"City", ftString, 20},
        {"Limit", ftFloat, 0},
        {"Since", ftDate, 0},
        {"Active", ftBoolean, 0},
        {"Joined", ftDateTime, 0},
        {"Opens", ftTime, 0}},
       {"CustNo"},
       {{1, "Ana Náutica", "Madrid", 10.5, At(2000, 12, 25), true, At(2000, 12, 25, 8, 30),
         EncodeTime(8, 0, 0)},
        {2, "Bahía Azul", "Cádiz", 0.1, Null(), false, At(2001, 1, 2), EncodeTime(9, 0, 0)},
        {3, "Corales SA", "Málaga", 1.15, At(1999, 3, 1), true, At(1999, 3, 1, 12), Null()},
        {4, "Diana Buceo", "Madrid", 2.675, Null(), false, Null(), Null()},
        {5, "Ana Pesca", "Vigo", 30.0, At(2002, 5, 5), true, At(2002, 5, 5, 18), Null()},
        {6, "Faro Norte", "Gijón", Null(), Null(), Null(), Null(), Null()}});
  Make(Dir, "PEDIDOS.DB",
       {{"OrderNo", ftInteger, 0},
        {"CustNo", ftInteger, 0},
        {"Amount", ftCurrency, 0},
        {"SaleDate", ftDateTime, 0}},
       {"OrderNo"},
       {{100, 1, 150.5, At(2003, 1, 10, 10)},
        {101, 1, 20.0, At(2003, 2, 11, 11)},
        {102, 2, 35.25, At(2003, 3, 12, 12)},
        {103, 3, 10.0, At(2003, 4, 13, 13)},
        {104, 4, 99.99, At(2003, 5, 14, 14)},
        {105, 5, 5.0, At(2003, 6, 15, 15)}});
  Make(Dir, "LINEAS.DB",
       {{"OrderNo", ftInteger, 0},
        {"ItemNo", ftInteger, 0},
        {"PartNo", ftInteger, 0},
        {"Qty", ftInteger, 0},
        {"Discount", ftFloat, 0}},
       {"OrderNo", "ItemNo"},
       {{100, 1, 1, 2, 0.0},
        {100, 2, 2, 3, 5.0},
        {100, 3, 3, Null(), 10.0},
        {101, 1, 1, 7, 0.0},
        {102, 1, 4, 1, 0.0},
        {103, 1, 2, 4, 25.0},
        {104, 1, 3, 9, 0.0},
        {105, 1, 1, 5, 50.0}});
  Make(Dir, "ARTICULOS.DB", {{"PartNo", ftInteger, 0}, {"Description", ftString, 20}}, {"PartNo"},
       {{1, "Ancla"}, {2, "Boya"}, {3, "Cabo"}, {4, "Defensa"}});
  Make(Dir, "PRUEBA.DB",
       {{"NOMBRE", ftString, 20},
        {"CIUDAD", ftString, 20},
        {"PRECIO", ftFloat, 0},
        {"FECHA", ftDate, 0},
        {"ACTIVO", ftBoolean, 0},
        {"ALTA", ftDateTime, 0}},
       {},
       {{"Ana", "Madrid", 3.5, At(2000, 12, 25), true, At(2000, 12, 25, 8, 30)},
        {"Juana", "Sevilla", 10.0, At(2001, 1, 1), false, At(2001, 1, 1)},
        {"Luis", "Anaya", 0.25, At(1999, 6, 1), true, At(1999, 6, 1, 12)}});
  Make(Dir, "NUMEROS.DB", {{"N", ftInteger, 0}, {"X", ftFloat, 0}}, {}, {{1, 1.5}, {2, 2.5}});
  return Dir;
}

std::string& DirSlot() {
  static std::string Dir;
  return Dir;
}

}  // namespace

const std::string& DatabaseDir() {
  std::string& Dir = DirSlot();
  if (Dir.empty()) Dir = WriteDatabase();
  return Dir;
}

void RemoveDatabase() {
  if (!DirSlot().empty()) std::filesystem::remove_all(DirSlot());
}

void OpenTable(TTable& T, const std::string& Name) {
  T.SetDatabaseName(DatabaseDir());
  T.SetTableName(Name);
  T.Open();
}

void OpenPrueba(TTable& T) {
  OpenTable(T, "PRUEBA.DB");
  for (const char* Name : {"NOMBRE", "CIUDAD", "PRECIO", "FECHA", "ACTIVO", "ALTA"}) {
    std::string Label = LowerCase(Name);
    Label[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(Label[0])));
    T.FieldByName(Name)->SetDisplayLabel(Label);
  }
}

namespace {
// Looks for the modal form again on each turn of the event loop until it is shown.
struct TPoll : std::enable_shared_from_this<TPoll> {
  std::function<QWidget*()> Find;
  std::function<void(QWidget*)> Action;
  void Run(int Tries) {
    QWidget* W = Find();
    if (W && W->isVisible() && QApplication::activeModalWidget() == W)
      Action(W);
    else if (Tries > 0)
      QTimer::singleShot(0, [Self = shared_from_this(), Tries] { Self->Run(Tries - 1); });
    else
      ADD_FAILURE() << "the form was never shown";
  }
};
}  // namespace

void WhenModalIs(std::function<QWidget*()> Find, std::function<void(QWidget*)> Action) {
  auto Poll = std::make_shared<TPoll>();
  Poll->Find = std::move(Find);
  Poll->Action = std::move(Action);
  QTimer::singleShot(0, [Poll] { Poll->Run(500); });
}

namespace {
// Runs Action once no work of the form runs (the count it starts after showing): the steps'
// input would otherwise wait for that work to end.
void WhenIdle(std::function<void()> Action) {
  if (!TBusyWork::Current()) return Action();
  QTimer::singleShot(10, [Action = std::move(Action)]() mutable { WhenIdle(std::move(Action)); });
}
}  // namespace

void OnForm(TSearchDialog& D, std::function<void(TSearchDialogBox& F)> Steps, TEnd End) {
  TSearchDialogBox* F = D.SearchForm();
  WhenShown(F, [F, Steps = std::move(Steps), End] {
    WhenIdle([F, Steps, End] {
      try {
        Steps(*F);
      } catch (const std::exception& E) {
        ADD_FAILURE() << "the steps on the form raised: " << E.what();
      }
      if (End == TEnd::Leave && F->isVisible()) {
        ADD_FAILURE() << "the steps left the form open";
        F->SetModalResult(mrCancel);
      } else if (End != TEnd::Leave) {
        QTest::mouseClick(End == TEnd::Accept ? F->BTAceptar : F->BTCancelar, Qt::LeftButton);
      }
    });
  });
}

void Pick(TComboBox* C, const std::string& Item) {
  const int I =
      C->findText(QString::fromStdString(Item), Qt::MatchExactly | Qt::MatchCaseSensitive);
  ASSERT_GE(I, 0) << "'" << Item << "' is no item";
  C->setCurrentIndex(I);
  emit C->activated(I);
}

void OpenOrderItems(TTable& Pedidos, TDataSource& Src, TTable& Lineas) {
  OpenTable(Pedidos, "PEDIDOS.DB");
  Src.SetDataSet(&Pedidos);
  Lineas.SetIndexFieldNames("OrderNo;ItemNo");
  Lineas.SetMasterSource(&Src);
  Lineas.SetMasterFields("OrderNo");
  OpenTable(Lineas, "LINEAS.DB");
}

void OpenItemsWithDescription(TTable& Articulos, TTable& Lineas) {
  OpenTable(Articulos, "ARTICULOS.DB");
  Lineas.AddField<TIntegerField>("OrderNo");
  Lineas.AddField<TIntegerField>("ItemNo");
  Lineas.AddField<TIntegerField>("PartNo");
  Lineas.AddField<TIntegerField>("Qty");
  Lineas.AddField<TFloatField>("Discount");
  Lineas.AddLookupField("Description", ftString, &Articulos, "PartNo", "PartNo", "Description", 20);
  OpenTable(Lineas, "LINEAS.DB");
}

void AddToFilter(TSearchDialogBox& F, const std::string& Column, const std::string& Condition,
                 const std::string& Value, bool Or) {
  Pick(F.CCampo, Column);
  Pick(F.CCondicion, Condition);
  Erase(F.ETValor);
  Type(F.ETValor, Value);
  QTest::mouseClick(Or ? F.BTFiltrarO : F.BTFiltrarY, Qt::LeftButton);
}

void Erase(QWidget* W) {
  QTest::keyClick(W, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(W, Qt::Key_Backspace);
}

void ClickCell(TDBGrid* G, int Row, int Col, Qt::KeyboardModifiers Mods) {
  const QModelIndex I = G->model()->index(Row, Col);
  G->scrollTo(I);
  QTest::mouseClick(G->viewport(), Qt::LeftButton, Mods, G->visualRect(I).center());
}

QColor CellColor(TDBGrid* G, const QImage& Shot, int Row, int Col) {
  const QRect R = G->visualRect(G->model()->index(Row, Col));
  return Shot.pixelColor(G->viewport()->mapTo(G, QPoint(R.right() - 3, R.top() + 3)));
}

QColor TitleColor(TDBGrid* G, const QImage& Shot, int Col) {
  const QHeaderView* H = G->horizontalHeader();
  const QPoint P =
      H->mapTo(G, QPoint(H->sectionViewportPosition(Col) + H->sectionSize(Col) - 4, 3));
  return Shot.pixelColor(P);
}

QColor BackColor(QWidget* W) {
  return W->grab().toImage().pixelColor(4, 4);
}

std::vector<std::string> MessagesSince(int Since) {
  std::vector<std::string> Out;
  for (int I = Since; I < Messages->Count(); ++I) Out.push_back(Messages->Messages()[I].Msg);
  return Out;
}

std::string Column(TDataSet* DS, const std::string& Field) {
  const TBookmark Here = DS->GetBookmark();
  std::string R;
  for (DS->First(); !DS->Eof(); DS->Next())
    R += (DS->RecNo() > 1 ? "," : "") + DS->FieldByName(Field)->AsString();
  if (Here != NoBookmark) DS->GotoBookmark(Here);
  return R;
}

}  // namespace dialogtest
