// The search window over a PostgreSQL table whose every statement can be made slow on purpose:
// the window keeps answering while a statement runs, stops it on the server when asked, lets the
// next key replace the search of the previous one, and says so when the session is lost.
#include <libpq-fe.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "BusyWork.h"
#include "DialogTestSupport.h"

using namespace kv;
using namespace dialogtest;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kOrders = 300;

std::string ServerUri() {
  if (const char* E = std::getenv("KV_TEST_PG"); E && *E) return E;
  std::ifstream In(KV_PG_URI_FILE);
  std::string Uri;
  std::getline(In, Uri);
  if (Uri.empty()) ADD_FAILURE() << "no PostgreSQL test server: run ./run test or ctest";
  return Uri;
}

// A session of the test's own, beside the window's.
class TAdmin {
 public:
  explicit TAdmin(const std::string& Uri) : FConn(PQconnectdb(Uri.c_str()), PQfinish) {
    if (PQstatus(FConn.get()) != CONNECTION_OK)
      ADD_FAILURE() << "cannot connect to " << Uri << ": " << PQerrorMessage(FConn.get());
    PQsetNoticeProcessor(
        FConn.get(), [](void*, const char*) {}, nullptr);  // "does not exist"
  }
  // Runs Sql; the first cell of its result ("" without one).
  std::string Exec(const std::string& Sql) {
    std::unique_ptr<PGresult, decltype(&PQclear)> R(PQexec(FConn.get(), Sql.c_str()), PQclear);
    const ExecStatusType St = PQresultStatus(R.get());
    if (St != PGRES_COMMAND_OK && St != PGRES_TUPLES_OK)
      ADD_FAILURE() << Sql << ": " << PQresultErrorMessage(R.get());
    return PQntuples(R.get()) > 0 && PQnfields(R.get()) > 0 ? PQgetvalue(R.get(), 0, 0) : "";
  }

 private:
  std::unique_ptr<PGconn, decltype(&PQfinish)> FConn;
};

// A database of its own: orders, and the view "slow" over them whose every statement waits as
// many seconds as "pause" says and then notes in "done" that it ran to its end (a statement
// stopped on the server leaves no note).
class SlowServer : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string Server = ServerUri();
    const size_t H = Server.find("host=");
    ASSERT_NE(H, std::string::npos) << Server;
    Name = "kvwin_" + std::to_string(getpid());
    Uri = "postgresql://postgres@/" + Name + "?" + Server.substr(H);
    Server0 = std::make_unique<TAdmin>(Server);
    Server0->Exec("DROP DATABASE IF EXISTS " + Name + " WITH (FORCE)");
    Server0->Exec("CREATE DATABASE " + Name + " TEMPLATE template0");
    Admin = std::make_unique<TAdmin>(Uri);
    Admin->Exec(
        "CREATE TABLE orders (orderno integer PRIMARY KEY, shipvia varchar(7));"
        "INSERT INTO orders SELECT i, (ARRAY['DHL','SEUR','UPS'])[i % 3 + 1] "
        "FROM generate_series(1, 300) i;"
        "CREATE TABLE pause (secs float8); INSERT INTO pause VALUES (0);"
        "CREATE TABLE done (n integer);"
        "CREATE FUNCTION kv_pause() RETURNS integer LANGUAGE plpgsql VOLATILE AS $$"
        " DECLARE s float8; BEGIN SELECT secs INTO s FROM pause;"
        " IF s > 0 THEN PERFORM pg_sleep(s); INSERT INTO done VALUES (1); END IF;"
        " RETURN 1; END $$;"
        "CREATE VIEW slow AS SELECT o.* FROM orders o CROSS JOIN (SELECT kv_pause() AS p) s");
    Slow.SetDatabaseName(Uri);
    Slow.SetTableName("slow");
    Slow.Open();
    Dialog.SetDataSet(&Slow);
  }
  void TearDown() override {
    TBusyWork::SetOnWindowShown({});
    TBusyWork::SetOnIndicatorShown({});
    Slow.Close();
    Admin.reset();
    if (Server0) Server0->Exec("DROP DATABASE IF EXISTS " + Name + " WITH (FORCE)");
  }
  void Pause(double Secs) { Admin->Exec("UPDATE pause SET secs = " + std::to_string(Secs)); }
  int Done() { return std::stoi(Admin->Exec("SELECT count(*) FROM done")); }
  // Statements of the window's session still running on the server.
  int Running() {
    return std::stoi(Admin->Exec("SELECT count(*) FROM pg_stat_activity WHERE datname = '" + Name +
                                 "' AND pid <> pg_backend_pid() AND state = 'active'"));
  }
  // Waits for the count the form makes once it has painted.
  static void WaitForCount(TSearchDialogBox& F) {
    const std::string Bare = "Registros encontrados:";
    for (int I = 0; I < 500 && F.STRegistros->Caption() == Bare; ++I) QTest::qWait(10);
    EXPECT_NE(F.STRegistros->Caption(), Bare) << "the records were never counted";
  }
  // The orderno column picked with "igual a", its value editor emptied.
  static void PickOrderNo(TSearchDialogBox& F) {
    Pick(F.CCampo, "orderno");
    Pick(F.CCondicion, "igual a");
    Erase(F.ETValor);
  }
  // The record a search reached, and what the form says of it.
  std::string Reached(TSearchDialogBox& F) {
    return std::to_string(Slow.RecNo()) + "|" + Slow.FieldByName("orderno")->AsString() + "|" +
           F.STRegistros->Caption() + "|" + (F.SPSiguiente->isEnabled() ? "steps" : "no steps");
  }
  // The same with the value and the filter shown.
  std::string State(TSearchDialogBox& F) {
    return Reached(F) + "|" + F.ETValor->Text() + "|" + F.STFiltro->Caption();
  }
  std::string Name, Uri;
  std::unique_ptr<TAdmin> Server0, Admin;
  TTable Slow;
  TSearchDialog Dialog;
};

// "Filtra en Y" over the slow view: the progress window shows soon, the form under it still
// paints (its grid keeps its picture), "Cancelar" stops the statement on the server and the
// result is the one before the click.
TEST_F(SlowServer, AFilterShowsItsWindowAndCancelsOnTheServer) {
  int Shown = 0, Painted = 0;
  long long ShownAfterMs = -1;
  Clock::time_point Clicked;
  OnForm(Dialog, [&](TSearchDialogBox& F) {
    // The records are counted once the form has painted.
    WaitForCount(F);
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:" + std::to_string(kOrders));
    TBusyWork::SetOnWindowShown([&](TProgressWindow& W) {
      ++Shown;
      ShownAfterMs =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - Clicked).count();
      EXPECT_EQ(Running(), 1) << "the filter runs on the server";
      // The form under the window paints while the statement runs.
      struct TPaints : QObject {
        int* N;
        explicit TPaints(int* C) : N(C) {}
        bool eventFilter(QObject*, QEvent* E) override {
          if (E->type() == QEvent::Paint) ++*N;
          return false;
        }
      } Counter(&Painted);
      F.Panel1->installEventFilter(&Counter);
      F.Panel1->update();
      for (int I = 0; I < 5 && Painted == 0; ++I) QApplication::processEvents();
      F.Panel1->removeEventFilter(&Counter);
      EXPECT_TRUE(F.isVisible());
      EXPECT_FALSE(F.DBGrid1->updatesEnabled()) << "the grid keeps its picture";
      Shot(&W, "slowserver-progress");
      Pause(0);
      QTest::mouseClick(W.CancelButton(), Qt::LeftButton);
    });
    Pick(F.CCampo, "shipvia");
    Pick(F.CCondicion, "igual a");
    Erase(F.ETValor);
    Type(F.ETValor, "UPS");
    const std::string Before = State(F);
    Pause(5);
    Clicked = Clock::now();
    QTest::mouseClick(F.BTFiltrarY, Qt::LeftButton);
    const auto Took = Clock::now() - Clicked;
    EXPECT_LT(Took, std::chrono::seconds(4)) << "the statement was not waited for";
    EXPECT_EQ(Running(), 0) << "the statement is gone from the server";
    EXPECT_EQ(Done(), 0) << "the statement did not run to its end";
    EXPECT_TRUE(F.DBGrid1->updatesEnabled());
    EXPECT_EQ(State(F), Before) << "the result before the click";
  });
  EXPECT_TRUE(Dialog.Execute());
  EXPECT_EQ(Shown, 1);
  EXPECT_GE(ShownAfterMs, 140);
  EXPECT_LT(ShownAfterMs, 2000);
  EXPECT_GT(Painted, 0) << "the form did not paint under the window";
}

// The form paints before the records are counted: while the count runs the counter shows no
// number, the grid the records read so far and the indicator "Cancelar"; then the count and
// every row. Escape leaves the counter without a number until the next click asks again. A shift
// range of 200 rows is summed on the server, a row dropped from it with ctrl+click too.
TEST_F(SlowServer, TheFormPaintsBeforeTheCountAndRangesAreSummedOnTheServer) {
  std::string Pending;
  int PendingRows = -1, Counts = 0;
  auto WatchCount = [&](TSearchDialogBox& F, bool Stop, char Key = 0) {
    TBusyWork::SetOnIndicatorShown([&, Stop, Key](TBusyIndicator& I) {
      ++Counts;
      Pending = F.STRegistros->Caption() + "|" + I.Text()->text().toStdString() + "|" +
                I.CancelButton()->text().toStdString();
      PendingRows = F.DBGrid1->model()->rowCount();
      Shot(F.window(), "slowserver-count");
      if (Stop) QTest::keyClick(F.ETValor, Qt::Key_Escape);
      if (Key) QTest::keyClick(F.ETValor, Key);
      Pause(0);
    });
  };
  WhenShown(Dialog.SearchForm(), [&] {
    TSearchDialogBox& F = *Dialog.SearchForm();
    // Painted, before the count: the records read so far and a counter without a number.
    const QImage Painted = Shot(F.window(), "slowserver-before-count");
    EXPECT_NE(Painted.pixelColor(F.DBGrid1->viewport()->mapTo(F.window(), QPoint(20, 5))),
              QColor(Qt::black));
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:");
    WatchCount(F, false);
    Pause(1);
  });
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        WaitForCount(F);
        Shot(F.window(), "slowserver-counted");
        EXPECT_EQ(Counts, 1);
        EXPECT_EQ(Pending, "Registros encontrados:|Buscando...|Cancelar");
        EXPECT_EQ(PendingRows, 100) << "the records read before the count";
        EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:" + std::to_string(kOrders));
        EXPECT_EQ(F.DBGrid1->model()->rowCount(), kOrders);
        EXPECT_EQ(Done(), 1) << "the count ran to its end once";
        ClickCell(F.DBGrid1, 0, 0);
        ClickCell(F.DBGrid1, 199, 0, Qt::ShiftModifier);
        ASSERT_EQ(F.DBGrid1->SelectedRows().Count(), 200);
        EXPECT_EQ(F.STRegistros->Caption(), "Suma de orderno: 20100") << "1 + ... + 200";
        ClickCell(F.DBGrid1, 50, 0, Qt::ControlModifier);
        EXPECT_EQ(F.STRegistros->Caption(), "Suma de orderno: 20049") << "without order 51";
        EXPECT_EQ(F.DBGrid1->SelectedRows()[50], Slow.RowAt(51)) << "the pick after the gap";
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());

  // Records read again are counted again.
  Slow.Refresh();
  Counts = 0;
  WhenShown(Dialog.SearchForm(), [&] {
    WatchCount(*Dialog.SearchForm(), true);
    Pause(2);
  });
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        for (int I = 0; I < 300 && Counts == 0; ++I) QTest::qWait(10);
        QTest::qWait(50);
        EXPECT_EQ(Counts, 1);
        EXPECT_EQ(Running(), 0) << "Escape stopped the count on the server";
        EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:");
        EXPECT_EQ(F.DBGrid1->model()->rowCount(), 100);
        EXPECT_TRUE(F.isVisible());
        ClickCell(F.DBGrid1, 3, 0);
        EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:" + std::to_string(kOrders))
            << "asked again when the counter is shown";
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());

  // A key typed while the count runs stops it, and its search runs after.
  Slow.Refresh();
  Counts = 0;
  WhenShown(Dialog.SearchForm(), [&] {
    TSearchDialogBox& F = *Dialog.SearchForm();
    PickOrderNo(F);
    WatchCount(F, false, '7');
    Pause(2);
  });
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        for (int I = 0; I < 300 && Counts == 0; ++I) QTest::qWait(10);
        QTest::qWait(50);
        EXPECT_EQ(Counts, 1);
        EXPECT_EQ(Running(), 0);
        EXPECT_EQ(Reached(F), "7|7|Registros encontrados:|steps");
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());
}

// A scroll to records not read yet reads them inside busy work: its window shows, "Cancelar"
// stops the statement on the server and the grid goes back to the records it showed.
TEST_F(SlowServer, AScrollIsStoppedOnTheServerAndTheGridGoesBack) {
  int Shown = 0;
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        WaitForCount(F);
        QScrollBar* Bar = F.DBGrid1->verticalScrollBar();
        const int Top = Bar->value();
        TBusyWork::SetOnWindowShown([&](TProgressWindow& W) {
          ++Shown;
          EXPECT_EQ(Running(), 1) << "the window read runs on the server";
          Pause(0);
          W.CancelButton()->click();
        });
        Pause(3);
        const auto Start = Clock::now();
        Bar->setValue(Bar->maximum());
        EXPECT_LT(Clock::now() - Start, std::chrono::seconds(2));
        EXPECT_EQ(Shown, 1);
        EXPECT_EQ(Running(), 0);
        EXPECT_EQ(Done(), 0) << "the statement did not run to its end";
        EXPECT_EQ(Bar->value(), Top) << "the records shown before the scroll";
        TBusyWork::SetOnWindowShown({});
        Bar->setValue(Bar->maximum());
        EXPECT_EQ(Bar->value(), Bar->maximum());
        EXPECT_EQ(F.DBGrid1->model()->index(kOrders - 1, 0).data().toString(),
                  QString::number(kOrders));
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());
}

// A grid holding a band of the records: its scroll bar over every record reads the records of
// the place it is let go at, a stop goes back to the band and records shown before, and the
// dataset stays on its record throughout.
TEST_F(SlowServer, TheBarOverEveryRecordMovesTheBandAndAStopGoesBack) {
  int Shown = 0;
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        WaitForCount(F);
        TDBGrid* G = F.DBGrid1;
        G->SetBandRows(64);
        QScrollBar* Bar = G->RecordsScrollBar();
        ASSERT_NE(Bar, G->verticalScrollBar());
        EXPECT_FALSE(Bar->hasTracking()) << "over a database the grid follows the bar let go";
        auto TopShown = [&] { return G->model()->index(G->rowAt(0), 0).data().toString(); };
        const QString Before = TopShown();
        const int First = G->BandFirst();
        TBusyWork::SetOnWindowShown([&](TProgressWindow& W) {
          ++Shown;
          Pause(0);
          W.CancelButton()->click();
        });
        Pause(3);
        Bar->setValue(200);
        EXPECT_EQ(Shown, 1);
        EXPECT_EQ(Running(), 0);
        EXPECT_EQ(Done(), 0) << "the statement did not run to its end";
        EXPECT_EQ(G->BandFirst(), First);
        EXPECT_EQ(TopShown(), Before) << "the records shown before the scroll";
        EXPECT_EQ(Bar->value(), G->BandFirst() + G->verticalScrollBar()->value());
        TBusyWork::SetOnWindowShown({});
        Bar->setValue(200);
        EXPECT_EQ(G->BandFirst() + G->rowAt(0), 200);
        EXPECT_EQ(TopShown(), "201");
        EXPECT_EQ(Slow.RecNo(), 1) << "the bar shows records without moving the dataset";
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());
}

// Three keys while each search is slow: each key stops the search of the one before, only the
// last search runs to its end, and the form ends as one search for the whole value leaves it.
TEST_F(SlowServer, TypingReplacesTheSearchStillRunning) {
  std::string Single;
  OnForm(Dialog, [&](TSearchDialogBox& F) {
    PickOrderNo(F);
    Type(F.ETValor, "123");
    Single = State(F);
  });
  EXPECT_TRUE(Dialog.Execute());
  EXPECT_EQ(Single.substr(0, 8), "123|123|") << Single;
  Slow.First();

  int Indicators = 0;
  std::string Text, Button;
  OnForm(Dialog, [&](TSearchDialogBox& F) {
    PickOrderNo(F);
    TBusyWork::SetOnIndicatorShown([&](TBusyIndicator& I) {
      ++Indicators;
      EXPECT_TRUE(I.isVisible());
      EXPECT_FALSE(F.DBGrid1->geometry().intersects(I.geometry()))
          << "the indicator hides no part of the grid";
      if (Indicators == 1) {
        Text = I.Text()->text().toStdString();
        Button = I.CancelButton()->text().toStdString();
        Shot(F.window(), "slowserver-typing");
        QTest::keyClick(F.ETValor, '2');
      } else if (Indicators == 2) {
        QTest::keyClick(F.ETValor, '3');
      } else {
        Pause(0);  // the last search still waits its pause; what follows it does not
      }
    });
    Pause(2);
    Type(F.ETValor, "1");
    EXPECT_EQ(F.ETValor->Text(), "123");
    EXPECT_EQ(State(F), Single);
  });
  EXPECT_TRUE(Dialog.Execute());
  EXPECT_EQ(Indicators, 3);
  EXPECT_EQ(Text, "Buscando...");
  EXPECT_EQ(Button, "Cancelar");
  EXPECT_EQ(Done(), 1) << "only the last search ran to its end";
  EXPECT_EQ(Running(), 0);
}

// Escape during a slow search stops the search and leaves the form open; a click on "Aceptar"
// during one stops it and then accepts the form.
TEST_F(SlowServer, EscapeStopsTheSearchNotTheForm) {
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        WaitForCount(F);
        PickOrderNo(F);
        const std::string Before = Reached(F);
        TBusyWork::SetOnIndicatorShown([&](TBusyIndicator&) {
          Pause(0);
          QTest::keyClick(F.ETValor, Qt::Key_Escape);
        });
        Pause(3);
        const auto Start = Clock::now();
        Type(F.ETValor, "7");
        EXPECT_LT(Clock::now() - Start, std::chrono::seconds(2));
        QApplication::processEvents();
        EXPECT_TRUE(F.isVisible()) << "Escape closed the form";
        EXPECT_EQ(Running(), 0);
        EXPECT_EQ(F.ETValor->Text(), "7");
        EXPECT_EQ(Reached(F), Before) << "the record and the marks before the key";

        TBusyWork::SetOnIndicatorShown([&](TBusyIndicator&) {
          Pause(0);
          QTest::mouseClick(F.BTAceptar, Qt::LeftButton);
        });
        Pause(3);
        Type(F.ETValor, "8");
        QApplication::processEvents();  // the click, after the search
        EXPECT_FALSE(F.isVisible()) << "the click on Aceptar was lost";
      },
      TEnd::Leave);
  EXPECT_TRUE(Dialog.Execute());
  EXPECT_EQ(Done(), 0);
  EXPECT_EQ(Running(), 0);
}

// The session ended by an administrator during "Filtra en Y": the window shows the database's
// message, keeps the result it had, and the next search works; clearing that filter can be
// stopped too.
TEST_F(SlowServer, ALostSessionIsShownAndTheNextSearchWorks) {
  const int Since = static_cast<int>(Messages->Messages().size());
  OnForm(Dialog, [&](TSearchDialogBox& F) {
    TBusyWork::SetOnWindowShown([&](TProgressWindow&) {
      Pause(0);
      Admin->Exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" +
                  Name + "' AND pid <> pg_backend_pid()");
    });
    Pick(F.CCampo, "shipvia");
    Pick(F.CCondicion, "igual a");
    Erase(F.ETValor);
    Type(F.ETValor, "UPS");
    Pause(3);
    QTest::mouseClick(F.BTFiltrarY, Qt::LeftButton);
    TBusyWork::SetOnWindowShown({});
    const std::vector<std::string> Said = MessagesSince(Since);
    ASSERT_EQ(Said.size(), 1u);
    EXPECT_NE(Said[0].find("'" + Uri + "'"), std::string::npos) << Said[0];
    EXPECT_NE(Said[0].find("se ha detenido"), std::string::npos) << Said[0];
    EXPECT_EQ(F.STFiltro->Caption(), "Filtro:");
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:" + std::to_string(kOrders));
    QTest::mouseClick(F.BTFiltrarY, Qt::LeftButton);
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:" + std::to_string(kOrders / 3));
    // Clearing the filter is stopped as a search is: the filter and its result stay.
    TBusyWork::SetOnWindowShown([&](TProgressWindow& W) {
      Pause(0);
      W.CancelButton()->click();
    });
    Pause(3);
    QTest::mouseClick(F.BTBorrarFiltro, Qt::LeftButton);
    EXPECT_EQ(Running(), 0);
    EXPECT_EQ(F.STFiltro->Caption(), "Filtro:shipvia igual a \"UPS\"");
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:" + std::to_string(kOrders / 3));
  });
  EXPECT_TRUE(Dialog.Execute());
}

}  // namespace
