// kvpgbench: the search components over a large sample database on a PostgreSQL server (ten
// million orders in ./run bench --postgres), beside psql running the statements we sent. Each
// operation is timed as a user sees it (the dataset moved, the form painted); the statements it
// sent are read back from the server's log (log_min_duration_statement = 0 for the database),
// their parameters written in, and run by psql in one process: that is the peer's figure. The
// server's own time for our statements is shown beside it, and the client's resident memory is
// read after every step.
//
// Usage: kvpgbench --uri URI --log SERVER_LOG [--picked N] [--only LINE]
// LINE, one line alone: open, last, execute, typing-orderno, typing-custno, filter-plain,
// filter-prefix, filter-contains, filter-trgm, order, find, pick, sum.
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "DBTables.h"
#include "FormDriver.h"
#include "Forms.h"
#include "MessageBoxes.h"
#include "PgDialect.h"
#include "PgStatementLog.h"
#include "SearchDialog.h"

using namespace kv;

namespace fs = std::filesystem;

namespace {

void OnForm(TSearchDialog& D, std::function<void(TSearchDialogBox&)> Steps) {
  kv::OnForm(D, std::move(Steps), "kvpgbench");
}

using TClock = std::chrono::steady_clock;

constexpr int kScreenRows = 50;

std::string Uri, ServerLog;
int Picked = 100000;
std::string Only;  // one line alone (see the usage above); empty: every line
const char* const kLines[] = {"open",
                              "last",
                              "execute",
                              "typing-orderno",
                              "typing-custno",
                              "filter-plain",
                              "filter-prefix",
                              "filter-contains",
                              "filter-trgm",
                              "order",
                              "find",
                              "pick",
                              "sum"};
bool Wants(const char* Line) {
  return Only.empty() || Only == Line;
}
int Failures = 0;

double Since(TClock::time_point From) {
  return std::chrono::duration<double>(TClock::now() - From).count();
}

// psql on the bench database: the output of one statement, unaligned, without headers.
std::string PsqlValue(const std::string& Sql) {
  return Trimmed(
      RunProcessOutput({"psql", "-X", "-q", "-At", "-v", "ON_ERROR_STOP=1", Uri, "-c", Sql}));
}

// The highest resident memory and peak read after a step, and where.
double MaxRss = 0, MaxHwm = 0;
std::string MaxRssStep, CurrentStep = "start";
void NoteClientMemory() {
  const double Rss = static_cast<double>(ProcessStatusBytes("VmRSS")) / (1024.0 * 1024.0);
  const double Hwm = static_cast<double>(ProcessStatusBytes("VmHWM")) / (1024.0 * 1024.0);
  if (Rss > MaxRss) {
    MaxRss = Rss;
    MaxRssStep = "the step after " + CurrentStep;
  }
  MaxHwm = std::max(MaxHwm, Hwm);
}
void NoteMemory(const std::string& Step) {
  NoteClientMemory();
  CurrentStep = Step;
}
// Forgets the peak so far (Linux: 5 to clear_refs), so that the next one is the client's again.
void ResetPeakMemory() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

// What the server logged between Begin and End: the statements our process sent.
class TCapture {
 public:
  void Begin() { FFrom = fs::exists(ServerLog) ? fs::file_size(ServerLog) : 0; }
  std::vector<TLoggedStatement> End() const {
    // The server writes its log line by line as statements end; give it a moment.
    QTest::qWait(30);
    // The client's memory is read before the log is: reading it is the benchmark's own work.
    NoteClientMemory();
    std::ifstream In(ServerLog, std::ios::binary);
    In.seekg(static_cast<std::streamoff>(FFrom));
    std::string Text((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
    std::vector<TLoggedStatement> Out = ParseStatementLog(Text);
    ResetPeakMemory();
    return Out;
  }

 private:
  uintmax_t FFrom = 0;
};

// The peer: psql running Statements (parameters written in) in one process; the median of Runs.
std::optional<double> Peer(const std::vector<TLoggedStatement>& Statements, std::string& Error,
                           int Runs = 3) {
  if (Statements.empty()) return std::nullopt;
  // In a session set as ours is (the library turns JIT off for its statements).
  std::string Script = "SET jit = off;\n";
  for (const TLoggedStatement& S : Statements) Script += StatementWithParameters(S) + ";\n";
  const std::string File =
      fs::temp_directory_path() / ("kvpgbench-" + std::to_string(getpid()) + ".sql");
  std::ofstream(File) << Script;
  std::vector<double> T;
  try {
    // A long script once: its time is the statements', not the process start.
    if (Statements.size() > 1000) Runs = 1;
    for (int I = 0; I < Runs; ++I)
      T.push_back(
          RunProcessSeconds({"psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", Uri, "-f", File}));
  } catch (const std::exception& E) {
    Error = E.what();
    fs::remove(File);
    return std::nullopt;
  }
  fs::remove(File);
  return Median(T);
}

double ServerSeconds(const std::vector<TLoggedStatement>& Statements) {
  double S = 0;
  for (const TLoggedStatement& L : Statements) S += L.Milliseconds / 1000.0;
  return S;
}

void Print(const TTargetLine& L) {
  const std::string Line = FormatTargetLine(L);
  if (Line.starts_with("MISSED")) ++Failures;
  std::printf("%s\n", Line.c_str());
  std::fflush(stdout);
}

// One measured operation: our runs, the statements of the last one, the peer's figure.
struct TResult {
  std::vector<double> Runs;
  std::vector<TLoggedStatement> Sent;
  std::string Note;
};

// A line for R: an absolute limit (Factor 0) or "<= Factor x psql + 20 ms".
void Report(const std::string& Operation, const TResult& R, double Limit, double Factor = 0) {
  TTargetLine L;
  L.Operation = "PostgreSQL: " + Operation;
  if (!R.Runs.empty()) L.Seconds = Median(R.Runs);
  std::string Error;
  const std::optional<double> P = Peer(R.Sent, Error);
  L.Peers.push_back({"psql", P});
  char Server[96];
  std::snprintf(Server, sizeof Server, "%zu statements, server %s", R.Sent.size(),
                FormatSeconds(ServerSeconds(R.Sent)).c_str());
  L.Note = R.Note.empty() ? Server : R.Note + "; " + Server;
  if (!Error.empty()) L.Note += "; psql: " + Error;
  if (Factor > 0) {
    L.Target = "<= " + std::to_string(Factor).substr(0, 3) + " x psql + 20 ms";
    if (P) L.Limit = Factor * *P + 0.020;
  } else {
    char T[32];
    std::snprintf(T, sizeof T, "<= %.0f ms", Limit * 1000);
    L.Target = T;
    L.Limit = Limit;
  }
  Print(L);
}

// Times Fn Runs times, capturing the statements of the last run.
TResult Time(int Runs, const std::function<void()>& Fn) {
  TResult R;
  TCapture C;
  for (int I = 0; I < Runs; ++I) {
    if (I == Runs - 1) C.Begin();
    const auto Start = TClock::now();
    Fn();
    R.Runs.push_back(Since(Start));
  }
  R.Sent = C.End();
  return R;
}

// ---------------------------------------------------------------------------------------------
// The search form, driven as a user does (the pattern of kvdialogbench).

void Paint(TSearchDialogBox& F) {
  (void)F.DBGrid1->grab();
}

// The number in "Registros encontrados: 1.234.567" (separators dropped); -1 without one.
long long CaptionCount(const std::string& Caption) {
  const size_t Colon = Caption.find(':');
  if (Colon == std::string::npos) return -1;
  std::string Digits;
  for (size_t I = Colon; I < Caption.size(); ++I)
    if (Caption[I] >= '0' && Caption[I] <= '9') Digits += Caption[I];
  return Digits.empty() ? -1 : std::stoll(Digits);
}

struct TBench {
  std::unique_ptr<TTable> Orders, Items;
  std::unique_ptr<TDataSource> OrdersSource;
  std::unique_ptr<TSearchDialog> OrdersSearch, ItemsSearch;
  std::string City, Contact = "ana", MiddleOrder, MiddleCust;
  int64_t OrderCount = 0;

  void InForm(const std::function<void(TSearchDialogBox&)>& Body) {
    OnForm(*OrdersSearch, Body);
    OrdersSearch->Execute();
  }

  void OpenLines() {
    if (Wants("open")) OpenLine();
    if (Wants("last")) LastLine();
  }

  void OpenLine() {
    TResult Open = Time(3, [&] {
      TTable T;
      T.SetDatabaseName(Uri);
      T.SetTableName("orders");
      T.Open();
      ShowScreen(T);
    });
    Report("open orders and show the first screen", Open, 0.100);
    NoteMemory("open");
  }

  void LastLine() {
    // Each time a table just opened (its windows, count and positions not yet read).
    TResult Last;
    TCapture C;
    for (int I = 0; I < 3; ++I) {
      TTable T;
      T.SetDatabaseName(Uri);
      T.SetTableName("orders");
      T.Open();
      ShowScreen(T);
      if (I == 2) C.Begin();
      const auto Start = TClock::now();
      // The last screen, as the grid shows it after Ctrl+End.
      T.Last();
      for (int R = 1; R < kScreenRows && !T.Bof(); ++R) T.Prior();
      ShowScreen(T);
      Last.Runs.push_back(Since(Start));
    }
    Last.Sent = C.End();
    Report("jump to the last row and show it", Last, 0.100);
    NoteMemory("last row");
  }

  void ExecuteLine() {
    TResult R;
    TCapture C;
    // The first Execute prepares the form; it is the one measured and its statements are the
    // peer's. The later ones are shown in the note.
    for (int I = 0; I < 3; ++I) {
      if (I == 0) C.Begin();
      const auto Start = TClock::now();
      double Shown = 0;
      OnForm(*OrdersSearch, [&](TSearchDialogBox& F) {
        (void)F.grab();
        Shown = Since(Start);
      });
      OrdersSearch->Execute();
      R.Runs.push_back(Shown);
      if (I == 0) R.Sent = C.End();
    }
    R.Note = std::to_string(OrderCount) + " pedidos; again " + FormatSeconds(R.Runs[1]) + ", " +
             FormatSeconds(R.Runs[2]);
    R.Runs.resize(1);
    Report("search form: Execute to the painted form", R, 0.500);
    NoteMemory("Execute");
  }

  // Characters typed one by one into the value box on Column ("igual a"), each a search.
  void TypingLine(const std::string& Column, const std::string& Value) {
    TResult R;
    InForm([&](TSearchDialogBox& F) {
      Pick(F.CCampo, Column);
      Pick(F.CCondicion, "igual a");
      TCapture C;
      for (int I = 0; I < static_cast<int>(Value.size()); ++I) {
        if (I + 1 == static_cast<int>(Value.size())) C.Begin();
        const auto Start = TClock::now();
        QTest::keyClicks(F.ETValor, QString(QChar(Value[I])));
        Paint(F);
        R.Runs.push_back(Since(Start));
      }
      R.Sent = C.End();
      R.Note = Column + " igual a '" + Value + "', median of " + std::to_string(Value.size()) +
               ", slowest " + FormatSeconds(*std::max_element(R.Runs.begin(), R.Runs.end()));
    });
    Report("one typed character, " + Column + " (indexed)", R, 0.050);
    NoteMemory("typing " + Column);
  }

  // "Filtra en Y" with one condition, from the click to the counter and the repainted grid;
  // the counter checked against count(*) over Check.
  void FilterLine(const std::string& Label, const std::string& Column, const std::string& Condition,
                  const std::string& Value, const std::string& Check) {
    TResult R;
    std::string Caption;
    InForm([&](TSearchDialogBox& F) {
      Pick(F.CCampo, Column);
      Pick(F.CCondicion, Condition);
      F.ETValor->SetText(Value);
      TCapture C;
      for (int I = 0; I < 3; ++I) {
        F.BTBorrarFiltro->click();
        if (I == 2) C.Begin();
        const auto Start = TClock::now();
        F.BTFiltrarY->click();
        Paint(F);
        R.Runs.push_back(Since(Start));
      }
      R.Sent = C.End();
      Caption = F.STRegistros->Caption();
    });
    R.Note = Column + " " + Condition + " '" + Value + "': " + Caption;
    Report("\"Filtra en Y\", " + Label, R, 0, 1.2);
    NoteMemory("Filtra en Y " + Label);
    CountLine(Label, Caption, "SELECT count(*) FROM orders WHERE " + Check);
  }

  void CountLine(const std::string& Label, const std::string& Caption, const std::string& Sql) {
    const long long Shown = CaptionCount(Caption);
    std::string Exact;
    try {
      Exact = PsqlValue(Sql);
    } catch (const std::exception& E) {
      Exact = E.what();
    }
    const bool Ok = Shown >= 0 && Exact == std::to_string(Shown);
    if (!Ok) ++Failures;
    std::printf("%s \"Registros encontrados:\" exact after %s: %lld shown, count(*) %s\n",
                Ok ? "ok" : "MISSED", Label.c_str(), Shown, Exact.c_str());
    std::fflush(stdout);
  }

  void OrderLine() {
    TResult R;
    TCapture C;
    for (int I = 0; I < 3; ++I) {
      InForm([&](TSearchDialogBox& F) {
        ClickCell(F.DBGrid1, 0, ColumnOf(F, "ItemsTotal"));
        if (I == 2) C.Begin();
        const auto Start = TClock::now();
        F.BTOrdenar->click();
        Paint(F);
        R.Runs.push_back(Since(Start));
      });
    }
    R.Sent = C.End();
    R.Note = "ItemsTotal, whole table";
    Report("\"O&rdenar\" by a column", R, 0, 1.2);
    NoteMemory("O&rdenar");
  }

  void FindDetailLine() {
    TResult R;
    TCapture C;
    for (int I = 0; I < 3; ++I) {
      Orders->First();
      TClock::time_point Accepted;
      OnForm(*ItemsSearch, [&](TSearchDialogBox& F) {
        Pick(F.CCampo, "OrderNo");
        Pick(F.CCondicion, "igual a");
        F.ETValor->SetText(MiddleOrder);
        F.ETValorChange(F.ETValor);
        if (I == 2) C.Begin();
        Accepted = TClock::now();
        F.BTAceptar->click();
      });
      if (!ItemsSearch->Find()) throw Exception("la búsqueda no se aceptó");
      R.Runs.push_back(Since(Accepted));
      R.Note = "pedido " + Orders->FieldByName("OrderNo")->AsString() + ", " +
               std::to_string(Items->RecordCount()) + " líneas";
    }
    R.Sent = C.End();
    if (Orders->FieldByName("OrderNo")->AsString() != MiddleOrder) {
      ++Failures;
      R.Note += " (se esperaba el pedido " + MiddleOrder + ")";
    }
    Report("accepted Find on a detail item, masters moved", R, 0, 1.2);
    NoteMemory("Find");
  }

  void PickLine() {
    TResult R;
    std::string Caption;
    TCapture C;
    for (int I = 0; I < 3; ++I) {
      InForm([&](TSearchDialogBox& F) {
        const int Total = ColumnOf(F, "ItemsTotal"), Freight = ColumnOf(F, "Freight");
        ClickCell(F.DBGrid1, 0, Total);
        F.DBGrid1->Columns()[Freight]->Title().SetColor(clBlack);
        if (I == 2) C.Begin();
        const auto Start = TClock::now();
        ClickCell(F.DBGrid1, Picked - 1, Total, Qt::ShiftModifier);
        R.Runs.push_back(Since(Start));
        Caption = F.STRegistros->Caption();
      });
    }
    R.Sent = C.End();
    // What one statement summing the same rows costs psql, for comparison.
    const std::string Sum =
        "SELECT sum(\"ItemsTotal\"), sum(\"Freight\") FROM (SELECT * FROM orders "
        "ORDER BY \"OrderNo\" LIMIT " +
        std::to_string(Picked) + ") s";
    std::vector<double> One;
    for (int I = 0; I < 3; ++I)
      One.push_back(RunProcessSeconds({"psql", "-X", "-q", Uri, "-c", "SET jit = off", "-c", Sum}));
    R.Note = Caption + "; one summing statement: psql " + FormatSeconds(Median(One));
    Report("pick " + std::to_string(Picked) + " rows and sum two columns", R, 0, 1.2);
    NoteMemory("pick and sum");
  }

  // The dataset's side of the pick: the sums of two fields over the first Picked records of a
  // table just opened, as the form asks for them.
  void SumLine() {
    std::vector<double> Sums;
    TResult R = Time(3, [&] {
      TTable T;
      T.SetDatabaseName(Uri);
      T.SetTableName("orders");
      T.Open();
      Sums = T.SumRecords({T.FieldByName("ItemsTotal"), T.FieldByName("Freight")}, 0, Picked - 1);
    });
    char Note[96];
    std::snprintf(Note, sizeof Note, "sums %.2f, %.2f", Sums.at(0), Sums.at(1));
    R.Note = Note;
    Report("sum two fields over " + std::to_string(Picked) + " records (dataset)", R, 0, 1.2);
    NoteMemory("sum");
  }

  void Run() {
    OpenLines();
    if (Only == "open" || Only == "last") return Finish();
    Orders = std::make_unique<TTable>();
    Orders->SetDatabaseName(Uri);
    Orders->SetTableName("orders");
    Orders->Open();
    OrdersSource = std::make_unique<TDataSource>();
    OrdersSource->SetDataSet(Orders.get());
    Items = std::make_unique<TTable>();
    Items->SetDatabaseName(Uri);
    Items->SetTableName("items");
    Items->SetIndexFieldNames("OrderNo;ItemNo");
    Items->SetMasterSource(OrdersSource.get());
    Items->SetMasterFields("OrderNo");
    Items->Open();
    OrderCount = std::stoll(PsqlValue("SELECT count(*) FROM orders"));
    Picked = static_cast<int>(std::min<int64_t>(Picked, OrderCount));
    // Values from the middle of the table, read by psql (a position in the middle would cost
    // the dataset a count of the rows before it).
    const std::string Middle = PsqlValue(
        "SELECT \"OrderNo\", \"CustNo\", \"ShipToCity\" FROM orders ORDER BY \"OrderNo\" "
        "OFFSET " +
        std::to_string(OrderCount / 2) + " LIMIT 1");
    const size_t A = Middle.find('|'), B = Middle.find('|', A + 1);
    MiddleOrder = Middle.substr(0, A);
    MiddleCust = Middle.substr(A + 1, B - A - 1);
    City = Middle.substr(B + 1);
    if (City.empty()) City = "Madrid";
    OrdersSearch = std::make_unique<TSearchDialog>();
    OrdersSearch->SetDataSet(Orders.get());
    ItemsSearch = std::make_unique<TSearchDialog>();
    ItemsSearch->SetDataSet(Items.get());
    NoteMemory("tables open");
    std::fprintf(stderr, "kvpgbench: %lld pedidos; pedido %s, cliente %s, ciudad %s\n",
                 static_cast<long long>(OrderCount), MiddleOrder.c_str(), MiddleCust.c_str(),
                 City.c_str());

    FormLines();
    Finish();
  }

  void FormLines() {
    if (Wants("execute")) ExecuteLine();
    if (Wants("typing-orderno")) TypingLine("OrderNo", MiddleOrder);
    if (Wants("typing-custno")) TypingLine("CustNo", MiddleCust);

    const std::string Lit = PgStringLiteral(City);
    if (Wants("filter-plain"))
      FilterLine("plain comparison", "ShipToCity", "igual a", City, "\"ShipToCity\" = " + Lit);
    const std::string Prefix = City.substr(0, std::min<size_t>(3, City.size()));
    if (Wants("filter-prefix"))
      FilterLine("empieza por", "ShipToCity", "empieza por", Prefix,
                 "lower(\"ShipToCity\") LIKE lower(" + PgStringLiteral(Prefix) + ") || '%'");
    const std::string ContainsCheck =
        "lower(\"ShipToContact\") LIKE '%' || lower(" + PgStringLiteral(Contact) + ") || '%'";
    if (Wants("filter-contains")) {
      PsqlValue("DROP INDEX IF EXISTS orders_shiptocontact_trgm");
      FilterLine("contiene, no pg_trgm index", "ShipToContact", "contiene", Contact, ContainsCheck);
    }
    if (Wants("filter-trgm")) {
      // The index that serves "contiene" with letter case ignored: trigrams of the expression
      // the condition is written on.
      std::fprintf(stderr, "kvpgbench: creando el índice de trigramas de ShipToContact\n");
      PsqlValue("CREATE EXTENSION IF NOT EXISTS pg_trgm");
      PsqlValue("CREATE INDEX IF NOT EXISTS orders_shiptocontact_trgm ON orders USING gin ((" +
                PgLower("\"ShipToContact\"") + ") gin_trgm_ops)");
      PsqlValue("ANALYZE orders");
      FilterLine("contiene, pg_trgm index", "ShipToContact", "contiene", Contact, ContainsCheck);
    }
    if (Wants("order")) OrderLine();
    if (Wants("find")) FindDetailLine();
    if (Wants("pick")) PickLine();
    if (Wants("sum")) SumLine();
  }

  void Finish() {
    NoteMemory("end");
    const double Hwm = MaxHwm;
    const bool Ok = MaxRss <= 100 && Hwm <= 100;
    if (!Ok) ++Failures;
    std::printf(
        "%s client resident memory: highest VmRSS %.1f MB (%s), VmHWM %.1f MB "
        "(target <= 100 MB at every step; read before the server's log)\n",
        Ok ? "ok" : "MISSED", MaxRss, MaxRssStep.c_str(), Hwm);

    ItemsSearch.reset();
    OrdersSearch.reset();
    Items.reset();
    OrdersSource.reset();
    Orders.reset();
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> Args = {argv[0]};
  for (int I = 1; I < argc; ++I) {
    const std::string A = argv[I];
    if (A == "--uri" && I + 1 < argc)
      Uri = argv[++I];
    else if (A == "--log" && I + 1 < argc)
      ServerLog = argv[++I];
    else if (A == "--only" && I + 1 < argc)
      Only = argv[++I];
    else if (A == "--picked" && I + 1 < argc)
      Picked = std::max(2, std::atoi(argv[++I]));
    else
      Args.push_back(argv[I]);
  }
  const bool KnownLine =
      Only.empty() || std::find(std::begin(kLines), std::end(kLines), Only) != std::end(kLines);
  if (Uri.empty() || ServerLog.empty() || !KnownLine) {
    std::fprintf(stderr,
                 "uso: kvpgbench --uri URI --log REGISTRO_DEL_SERVIDOR [--picked N] "
                 "[--only LÍNEA]\n");
    if (!KnownLine) {
      std::fprintf(stderr, "kvpgbench: línea desconocida '%s'; las líneas son:", Only.c_str());
      for (const char* L : kLines) std::fprintf(stderr, " %s", L);
      std::fprintf(stderr, "\n");
    }
    return 2;
  }
  if (!std::getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int Argc = static_cast<int>(Args.size());
  QApplication App(Argc, Args.data());
  Application->Initialize();
  TMessageRecorder Quiet;  // no box may stop the run; messages are listed at the end
  TBench B;
  try {
    // Every statement of a new session of the database is logged with its time and parameters.
    PsqlValue("ALTER DATABASE postgres SET log_min_duration_statement = 0");
    B.Run();
  } catch (const std::exception& E) {
    std::printf("MISSED PostgreSQL at scale: %s\n", E.what());
    ++Failures;
  }
  try {
    PsqlValue("ALTER DATABASE postgres RESET log_min_duration_statement");
  } catch (const std::exception&) {
  }
  for (const TRecordedMessage& M : Quiet.Messages())
    std::fprintf(stderr, "kvpgbench: mensaje: %s\n", M.Msg.c_str());
  return Failures ? 1 : 0;
}
