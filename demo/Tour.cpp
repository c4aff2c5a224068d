// The guided tour: the main form's four searches operated through real key presses and mouse
// clicks, with a picture of every step. The values typed suit the generated sample database;
// on other data the steps still run, with whatever they find.
#include "Tour.h"

#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Dialogs.h"
#include "SysUtils.h"
#include "Unicode.h"
#include "Unit1.h"

using namespace kv;

namespace fs = std::filesystem;

namespace {

// ---- what a user does

// Types Text into an edit or an editable combo box key by key, replacing what it held.
void TypeText(QWidget* W, const std::string& Text) {
  if (auto* C = qobject_cast<QComboBox*>(W); C && C->lineEdit()) W = C->lineEdit();
  W->setFocus();
  QTest::keyClick(W, Qt::Key_A, Qt::ControlModifier);
  const QString Keys = QString::fromStdString(Text);
  for (int I = 0; I < Keys.size(); ++I) {
    const QChar K = Keys[I];
    if (K.unicode() < 0x80)
      QTest::keyClick(W, K.toLatin1());
    else  // letters such as ñ come from keys the US layout lacks: the text alone
      QTest::sendKeyEvent(QTest::Click, W, Qt::Key_unknown, QString(K), Qt::NoModifier);
  }
}

void Click(QWidget* Button) {
  QTest::mouseClick(Button, Qt::LeftButton);
}

// The grid column showing FieldName; -1 when none does.
int ColumnOf(TDBGrid* G, const std::string& FieldName) {
  for (int I = 0; I < G->Columns().Count(); ++I)
    if (AnsiSameText(G->Columns()[I]->FieldName(), FieldName)) return I;
  return -1;
}

// Clicks the cell of the grid at Row (the last row when there are fewer) in FieldName's column.
void ClickCell(TDBGrid* G, int Row, const std::string& FieldName, Qt::KeyboardModifiers Mods = {}) {
  const int Rows = G->model()->rowCount(), Col = ColumnOf(G, FieldName);
  if (Rows == 0 || Col < 0) return;
  const QModelIndex I = G->model()->index(std::min(Row, Rows - 1), Col);
  G->scrollTo(I);
  QTest::mouseClick(G->viewport(), Qt::LeftButton, Mods, G->visualRect(I).center());
}

// Picks the first Count rows of the grid as a user does: a click, then shift and a click.
void PickRows(TDBGrid* G, const std::string& FieldName, int Count) {
  ClickCell(G, 0, FieldName);
  ClickCell(G, Count - 1, FieldName, Qt::ShiftModifier);
}

// One condition built in the form's upper row: the column and condition typed into their
// boxes, then the value, key by key (the form searches as it goes).
void Condition(TSearchDialogBox& F, const std::string& Column, const std::string& Cond,
               const std::string& Value) {
  TypeText(F.CCampo, Column);
  TypeText(F.CCondicion, Cond);
  TypeText(F.ETValor, Value);
}

// Drops the offscreen platform's notes on what it cannot do (raise a window, and the like) and
// the missing runtime folder it does not need; every other Qt message is printed.
void QuietOffscreen(QtMsgType Type, const QMessageLogContext& Context, const QString& Msg) {
  if (Msg.startsWith("This plugin does not support") || Msg.contains("XDG_RUNTIME_DIR")) return;
  qt_message_output(Type, Context, Msg);
}

// The picture with a palette of its 256 most frequent colours, the rest drawn in the nearest of
// them: forms are flat areas of a few colours, and the file becomes a fraction of the size.
QImage Paletted(const QImage& Picture) {
  const QImage I = Picture.convertToFormat(QImage::Format_RGB32);
  std::unordered_map<QRgb, int> Count;
  for (int Y = 0; Y < I.height(); ++Y) {
    const auto* Line = reinterpret_cast<const QRgb*>(I.constScanLine(Y));
    for (int X = 0; X < I.width(); ++X) ++Count[Line[X]];
  }
  std::vector<std::pair<int, QRgb>> ByUse;
  for (const auto& [Colour, N] : Count) ByUse.emplace_back(-N, Colour);
  std::sort(ByUse.begin(), ByUse.end());
  QList<QRgb> Table;
  for (size_t K = 0; K < ByUse.size() && K < 256; ++K) Table.append(ByUse[K].second);
  return I.convertToFormat(QImage::Format_Indexed8, Table, Qt::ThresholdDither | Qt::AvoidDither);
}

// ---- the tour

// One search of the tour, as the user runs it: the captions say what each picture shows.
struct TScene {
  TSpeedButton* Ui::TForm1::*Button;
  const char* Name;  // the pictures' names start with it
  const char* Opened;
  const char *Column, *Condition, *Value, *Typed;
  const char* Filtered;
  const char *OrderBy, *Ordered;  // the column clicked before "O&rdenar"
  const char* SumOf;              // the column whose first Rows rows are picked
  int Rows;
  const char *Summed, *Accepted;
};

const TScene Scenes[] = {
    {&Ui::TForm1::SpeedButton2, "pedidos",
     "«Search in all Orders»: la búsqueda sobre todos los pedidos", "Items total", "mayor que",
     "20000",
     "Columna «Items total», condición «mayor que», valor 20000: mientras se escribe, el cursor "
     "va al primer pedido que lo cumple",
     "«Filtra en Y»: quedan los pedidos de más de 20.000", "SaleDate",
     "Un clic en la columna SaleDate y «Ordenar»: por fecha", "ItemsTotal", 4,
     "Cuatro filas elegidas (clic y mayúsculas+clic): la suma en el título de la columna y en el "
     "contador",
     "«Aceptar»: el formulario va al pedido elegido, con su cliente"},
    {&Ui::TForm1::SpeedButton1, "clientes",
     "«Search Customer»: todos los clientes, no solo el del pedido actual", "Country", "igual a",
     "España", "Columna «Country», «igual a», valor España",
     "«Filtra en Y»: los clientes de España", "Company", "«Ordenar» por Company", "TaxRate", 3,
     "Tres filas elegidas en TaxRate", "«Aceptar»: el pedido pasa a uno del cliente elegido"},
    {&Ui::TForm1::SpeedButton4, "articulos",
     "«Search in all Items»: los artículos de todos los pedidos", "Description", "contiene",
     "bambú",
     "Columna «Description» (de la tabla de piezas, título azul claro), «contiene», valor bambú",
     "«Filtra en Y»: los artículos cuya pieza contiene «bambú»", "Qty", "«Ordenar» por Qty", "Qty",
     5, "Cinco filas elegidas en Qty",
     "«Aceptar»: el pedido pasa al del artículo elegido, que queda marcado en la rejilla"},
    {&Ui::TForm1::SpeedButton3, "pedido-articulos",
     "«Search Items in Order»: solo los artículos del pedido actual", "Qty", "mayor que", "5",
     "Columna «Qty», «mayor que», valor 5",
     "«Filtra en Y»: los artículos del pedido de más de 5 unidades", "Discount",
     "«Ordenar» por Discount", "Qty", 2, "Dos filas elegidas en Qty",
     "«Aceptar»: el pedido no cambia; el artículo elegido queda marcado"},
};

class TTour {
 public:
  TTour(TForm1& Form, fs::path Dir, int* Status)
      : FForm(Form), FDir(std::move(Dir)), FStatus(Status), FIndex(FDir / TourIndexName) {
    if (!FIndex)
      throw Exception("No se ha podido escribir '" + (FDir / TourIndexName).string() + "'");
  }

  void Run();

 private:
  // Saves what W shows as the next step's picture; its line says what it shows.
  void Picture(QWidget* W, const std::string& Name, const std::string& Caption);
  // Clicks the scene's button on the main form and, once the search form shows, runs the
  // scene's steps on it and accepts; then pictures the main form.
  void Search(const TScene& S);
  // The main form's order, customer and country, as its edits show them, and the current item.
  std::string CurrentOrder() const;
  void Fail(const std::string& Why);

  TForm1& FForm;
  fs::path FDir;
  int* FStatus;
  std::ofstream FIndex;
  int FStep = 0, FFailures = 0;
};

void TTour::Fail(const std::string& Why) {
  ++FFailures;
  std::fprintf(stderr, "searchdemo: %s\n", Why.c_str());
}

void TTour::Picture(QWidget* W, const std::string& Name, const std::string& Caption) {
  QCoreApplication::processEvents();
  char File[80];
  std::snprintf(File, sizeof File, "%02d-%s.png", ++FStep, Name.c_str());
  if (!W || !W->isVisible()) {
    Fail(std::string("no se ve lo que debía mostrar ") + File);
    return;
  }
  const fs::path Path = FDir / File;
  const QImage Shot = Paletted(W->grab().toImage());
  if (!Shot.save(QString::fromStdString(Path.string()), "PNG")) {
    Fail("no se ha podido guardar '" + Path.string() + "'");
    return;
  }
  const std::string Line = std::string(File) + "  " + Caption;
  std::printf("%s\n", Line.c_str());
  std::fflush(stdout);
  FIndex << Line << '\n';
}

std::string TTour::CurrentOrder() const {
  std::string Item;
  if (const TDataSet* Items = FForm.DBGrid1->DataSet(); Items && !Items->IsEmpty())
    Item = ", artículo " + Items->FieldByName("ItemNo")->DisplayText();
  return "pedido " + FForm.DBEdit1->Text() + " de " + FForm.DBEdit3->Text() + " (" +
         FForm.DBEdit4->Text() + ")" + Item;
}

void TTour::Search(const TScene& S) {
  TSpeedButton* Button = FForm.*S.Button;
  TSearchDialogBox* F = FForm.SearchDialog1->SearchForm();
  const std::string Name = S.Name;
  const auto Counter = [F] { return " (" + F->STRegistros->Caption() + ")"; };
  // The steps on the search form, which is modal: they run from its own event loop.
  const auto Steps = [&] {
    // Over a database the form paints before its count: the first picture waits for it.
    for (int I = 0; I < 1000 && F->STRegistros->Caption() == RecordsFoundText; ++I)
      QTest::qWait(10);
    Picture(F, Name, S.Opened + Counter());
    Condition(*F, S.Column, S.Condition, S.Value);
    Picture(F, Name + "-valor", S.Typed);
    Click(F->BTFiltrarY);
    Picture(F, Name + "-filtro", S.Filtered + Counter());
    ClickCell(F->DBGrid1, 0, S.OrderBy);
    Click(F->BTOrdenar);
    Picture(F, Name + "-orden", S.Ordered);
    PickRows(F->DBGrid1, S.SumOf, S.Rows);
    Picture(F, Name + "-suma", S.Summed + Counter());
  };
  bool Shown = false;
  QTimer Poll;
  Poll.setInterval(0);
  QObject::connect(&Poll, &QTimer::timeout, [&] {
    if (!F->isVisible() || QApplication::activeModalWidget() != F) return;
    Poll.stop();
    Shown = true;
    try {
      Steps();
    } catch (const std::exception& E) {
      Fail(E.what());
    }
    if (F->isVisible()) Click(F->BTAceptar);
  });
  Poll.start();
  Click(Button);
  Poll.stop();
  if (!Shown) {
    Fail("«" + Button->Caption() + "» no mostró la ventana de búsqueda");
    return;
  }
  Picture(&FForm, Name + "-aceptado", S.Accepted + (": " + CurrentOrder()));
}

void TTour::Run() {
  Picture(&FForm, "inicio",
          "El formulario principal: el pedido actual, su cliente y sus artículos, y los cuatro "
          "botones de búsqueda: " +
              CurrentOrder());
  for (const TScene& S : Scenes) Search(S);

  FForm.DBGrid1->setFocus();
  QTest::keyClick(FForm.DBGrid1, Qt::Key_F1);
  Picture(Application->HelpWindow(), "ayuda", "F1 desde cualquier control: la ayuda");

  FIndex.flush();
  if (!FIndex) Fail("no se ha podido escribir '" + (FDir / TourIndexName).string() + "'");
  std::printf("searchdemo: %d imágenes en %s (índice: %s)\n", FStep, FDir.c_str(),
              (FDir / TourIndexName).c_str());
  *FStatus = FFailures == 0 ? 0 : 1;
}

}  // namespace

std::string PrepareTourPlatform() {
  qInstallMessageHandler(QuietOffscreen);
  const char* Chosen = std::getenv("QT_QPA_PLATFORM");
  if (Chosen && std::string(Chosen) != "offscreen") return std::string();
  const fs::path Config =
      fs::temp_directory_path() / ("searchdemo-screen-" + std::to_string(getpid()) + ".json");
  std::ofstream Out(Config);
  Out << R"({"windowFrameMargins": false, "screens": [{"name": "tour", "x": 0, "y": 0, "width": )"
      << TourScreenWidth << R"(, "height": )" << TourScreenHeight
      << R"(, "logicalDpi": 96}]})" << '\n';
  Out.close();
  if (!Out) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return std::string();
  }
  setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + Config.string()).c_str(), 1);
  return Config.string();
}

void StartTour(TForm1& Form, const std::string& Dir, int* Status) {
  std::error_code Ec;
  const fs::path Folder = fs::absolute(Dir, Ec);
  fs::create_directories(Folder, Ec);
  if (Ec || !fs::is_directory(Folder))
    throw Exception("No se ha podido crear la carpeta '" + Dir + "'" +
                    (Ec ? ": " + Ec.message() : std::string()));
  *Status = 1;
  auto Tour = std::make_shared<TTour>(Form, Folder, Status);
  // Message boxes would wait for a click nobody makes: each is reported and fails the tour.
  auto Failures = std::make_shared<int>(0);
  SetMessageHandler([Failures](const std::string& Msg, TMsgDlgType, const std::string& Detail) {
    ++*Failures;
    std::fprintf(stderr, "searchdemo: mensaje: %s%s%s\n", Msg.c_str(), Detail.empty() ? "" : ": ",
                 Detail.c_str());
  });
  QTimer::singleShot(0, &Form, [Tour, Failures, Status, &Form] {
    Tour->Run();
    if (*Failures > 0) *Status = 1;
    Form.Close();
  });
}
