// Datasets over a PostgreSQL server when the server or the session fails: a refused connection,
// a failed login, a missing database or table, a table the user may not read, a statement the
// server cancels, a session ended during a statement, and a server stopped in the middle of a
// search and started again. Each is a Spanish message naming the database without its password;
// the dataset goes on working and the next search, once the server is back, gets its records.
// Hostile names and values stay names and values.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DbCursor.h"
#include "Progress.h"
#include "ScopeExit.h"
#include "db/SqliteTestDb.h"
#include "pg/PgTestServer.h"

using namespace kv;

using namespace pgtest;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr int kOrders = 300;

std::string MessageOf(const std::function<void()>& Action) {
  try {
    Action();
  } catch (const EDatabaseError& E) {
    return E.Message();
  }
  return "(nada)";
}

struct TScopedProgress {
  explicit TScopedProgress(TProgressHandler H) { SetProgressHandler(std::move(H)); }
  ~TScopedProgress() { SetProgressHandler({}); }
};

// The tables of a fault: orders, and a view over them whose every statement takes a while (the
// server can be stopped or the statement cancelled while it runs).
void CreateTables(TPgConnection& C) {
  C.Exec(
      "CREATE TABLE orders (orderno integer PRIMARY KEY, shipvia varchar(7));"
      "INSERT INTO orders SELECT i, (ARRAY['DHL','SEUR','UPS'])[i % 3 + 1] "
      "FROM generate_series(1, 300) i;"
      "CREATE VIEW slow AS SELECT o.* FROM orders o CROSS JOIN pg_sleep(0.4) AS s;"
      "CREATE TABLE secreto (a integer PRIMARY KEY)");
}

// While Action runs, Fault is done once, at the first wait for the server's answer.
std::string FaultDuring(const std::function<void()>& Fault, const std::function<void()>& Action) {
  bool Done = false;
  TScopedProgress P([&](const TProgress& Pr) {
    if (!Done && std::string(Pr.What) == "Consultando la base de datos") {
      Done = true;
      Fault();
    }
    return true;
  });
  std::string M = MessageOf(Action);
  EXPECT_TRUE(Done) << "the statement ended before the fault";
  return M;
}

}  // namespace

TEST(PgFaults, ConnectingFailuresNameTheDatabaseAndWhatFailed) {
  TScratchDatabase Db;
  const std::string Socket = SocketFolder();
  const struct {
    std::string Uri;
    std::string Message;
  } Cases[] = {
      {"postgresql://kv:clave-secreta@/postgres?host=/nonexistent-kv-folder",
       "No se puede conectar con la base de datos 'postgresql://kv@/postgres?host=/"
       "nonexistent-kv-folder': el servidor no está en marcha o rechaza la conexión"},
      {"postgresql://kv_password:clave-secreta@/postgres?host=" + Socket,
       "No se puede conectar con la base de datos 'postgresql://kv_password@/postgres?host=" +
           Socket + "': "},
      {"postgresql://postgres@/no_such_db_kv?host=" + Socket + "&password=clave-secreta",
       "No se puede conectar con la base de datos 'postgresql://postgres@/no_such_db_kv?host=" +
           Socket + "': la base de datos 'no_such_db_kv' no existe"},
      {"postgresql://postgres:clave-secreta@/" + Db.Name() + "?host=" + Socket,
       "No se encuentra la tabla 'pedidos' en la base de datos 'postgresql://postgres@/" +
           Db.Name() + "?host=" + Socket + "'"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Uri);
    TTable T;
    T.SetDatabaseName(C.Uri);
    T.SetTableName("pedidos");
    const std::string M = MessageOf([&] { T.Open(); });
    EXPECT_THAT(M, HasSubstr(C.Message));
    EXPECT_THAT(M, Not(HasSubstr("clave-secreta")));
    EXPECT_FALSE(T.Active());
  }
}

TEST(PgFaults, ATableTheUserMayNotReadIsNamed) {
  TScratchDatabase Db;
  TPgConnection Owner(Db.Uri());
  CreateTables(Owner);
  const std::string User = UniqueName("kvr");
  Db.Admin().Exec("CREATE ROLE " + User + " LOGIN");
  TScopeExit Drop([&] {
    Owner.Exec("DROP OWNED BY " + User);
    Db.Admin().Exec("DROP ROLE " + User);
  });
  Owner.Exec("GRANT SELECT ON orders TO " + User);
  const std::string Uri = UriFor(User, Db.Name());
  TTable T;
  T.SetDatabaseName(Uri);
  T.SetTableName("secreto");
  EXPECT_EQ("Permiso denegado sobre la tabla 'secreto' en la base de datos '" + Uri + "'",
            MessageOf([&] { T.Open(); }));
  EXPECT_FALSE(T.Active());
  // The same session goes on reading what it may.
  EXPECT_EQ(kOrders, OpenTable(Uri, "orders")->RecordCount());
}

TEST(PgFaults, AStatementCancelledByTheServerIsReportedAndTheNextSearchWorks) {
  TScratchDatabase Db;
  TPgConnection Owner(Db.Uri());
  CreateTables(Owner);
  auto T = OpenTable(Db.Uri(), "slow");
  ASSERT_EQ(kOrders, T->RecordCount());
  const std::string Head = "El servidor de la base de datos '" + Db.Uri() + "' ha cancelado la ";

  // An administrator's cancel, from another session.
  auto CancelAll = [&] {
    Db.Admin().Exec("SELECT pg_cancel_backend(pid) FROM pg_stat_activity WHERE datname = " +
                    PgStringLiteral(Db.Name()) +
                    " AND pid <> pg_backend_pid() AND state = 'active'");
  };
  T->SetFilter("shipvia = 'UPS'");
  std::string M = FaultDuring(CancelAll, [&] { T->SetFiltered(true); });
  EXPECT_EQ(Head + "sentencia: se lo ha pedido un administrador", M);
  T->SetFiltered(false);
  T->SetFilter("shipvia = 'DHL'");
  T->SetFiltered(true);
  EXPECT_EQ(kOrders / 3, T->RecordCount());
  EXPECT_EQ("DHL", T->FieldByName("shipvia")->AsString());

  // A time limit of the database, for sessions opened after it is set.
  Db.Admin().Exec("ALTER DATABASE " + PgQuoteIdentifier(Db.Name()) +
                  " SET statement_timeout = 100");
  Db.Admin().Exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = " +
                  PgStringLiteral(Db.Name()) + " AND pid <> pg_backend_pid()");
  Owner.Reconnect();
  M = MessageOf([&] { T->SetFilter("shipvia = 'SEUR'"); });
  if (M.find("vuelve a conectar") != std::string::npos || M.find("perdido") != std::string::npos)
    M = MessageOf([&] { T->Refresh(); });  // the ended session is noticed first
  EXPECT_EQ(Head + "sentencia: ha superado el tiempo máximo de una sentencia (statement_timeout)",
            M);
  Owner.Exec("SET statement_timeout = 0");
  EXPECT_EQ(kOrders, OpenTable(Db.Uri(), "orders")->RecordCount()) << "quick ones still run";
}

// A standby cancels a read that conflicts with its replay of the primary's changes (SQLSTATE
// 40001 or 40P01): the user is told it was the replication and that trying again will do, and
// the next search works.
TEST(PgFaults, AReadCancelledByAStandbySaysToTryAgain) {
  TScratchDatabase Db;
  TPgConnection Owner(Db.Uri());
  CreateTables(Owner);
  Owner.Exec(
      "CREATE TABLE conflict (state text);"
      "CREATE FUNCTION replayed() RETURNS boolean LANGUAGE plpgsql AS $$ DECLARE s text; BEGIN "
      "SELECT state INTO s FROM conflict; IF s IS NOT NULL THEN RAISE EXCEPTION "
      "'canceling statement due to conflict with recovery' USING ERRCODE = s, DETAIL = 'User "
      "query might have needed to see row versions that must be removed.'; END IF; RETURN true; "
      "END $$;"
      "CREATE VIEW replica AS SELECT o.* FROM orders o WHERE replayed()");
  auto T = OpenTable(Db.Uri(), "replica");
  ASSERT_EQ(kOrders, T->RecordCount());
  for (const char* State : {"40001", "40P01"}) {
    SCOPED_TRACE(State);
    Owner.Exec("DELETE FROM conflict; INSERT INTO conflict VALUES ('" + std::string(State) + "')");
    try {
      T->Refresh();
      ADD_FAILURE() << "no error";
    } catch (const EDatabaseError& E) {
      EXPECT_EQ("El servidor de la base de datos '" + Db.Uri() +
                    "' ha detenido la búsqueda por la replicación (un conflicto con los cambios "
                    "que recibe del servidor principal); vuelva a intentarlo",
                E.Message());
      EXPECT_TRUE(IsStoreFailure(E)) << "the form shows it as it is";
    }
    Owner.Exec("DELETE FROM conflict");
    T->Refresh();
    EXPECT_EQ(kOrders, T->RecordCount()) << "tried again";
  }
}

// A session ended by an administrator in the middle of a search: the search fails naming the
// database, the dataset keeps its place, and the next search reconnects.
TEST(PgFaults, ASessionEndedDuringASearchIsOpenedAgain) {
  TScratchDatabase Db;
  TPgConnection Owner(Db.Uri());
  CreateTables(Owner);
  auto T = OpenTable(Db.Uri(), "slow");
  T->SetRecNo(5);
  T->SetFilter("shipvia = 'UPS'");
  const std::string M = FaultDuring(
      [&] {
        Db.Admin().Exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = " +
                        PgStringLiteral(Db.Name()) + " AND pid <> pg_backend_pid()");
      },
      [&] { T->SetFiltered(true); });
  EXPECT_THAT(M, HasSubstr("'" + Db.Uri() + "'"));
  EXPECT_THAT(M, HasSubstr("la próxima"));
  EXPECT_TRUE(T->Active());
  T->Refresh();
  EXPECT_EQ(kOrders / 3, T->RecordCount());
  EXPECT_EQ("UPS", T->FieldByName("shipvia")->AsString());
}

// The server stopped while a search runs and started again: the search fails, a search while it
// is down says it is not there, and once it is back the dataset's next search gets its records.
TEST(PgFaults, AServerStoppedInTheMiddleOfASearchAndStartedAgain) {
  TPrivateServer Server;
  ASSERT_FALSE(Server.Uri().empty());
  {
    TPgConnection C(Server.Uri());
    CreateTables(C);
  }
  auto T = OpenTable(Server.Uri(), "slow");
  auto O = OpenTable(Server.Uri(), "orders", "shipvia");
  ASSERT_EQ(kOrders, T->RecordCount());
  T->SetFilter("shipvia = 'SEUR'");
  std::string M = FaultDuring([&] { Server.Pause(); }, [&] { T->SetFiltered(true); });
  EXPECT_EQ("El servidor de la base de datos '" + Server.Uri() +
                "' se ha detenido durante la sentencia; la próxima vez se vuelve a conectar",
            M);
  M = MessageOf([&] { T->Refresh(); });
  EXPECT_THAT(M, HasSubstr("No se puede conectar con la base de datos '" + Server.Uri() +
                           "': el servidor no está en marcha"));
  M = MessageOf([&] { O->Last(); });
  EXPECT_THAT(M, HasSubstr("el servidor no está en marcha")) << "another dataset on it";
  Server.Resume();
  T->Refresh();
  EXPECT_EQ(kOrders / 3, T->RecordCount());
  EXPECT_EQ("SEUR", T->FieldByName("shipvia")->AsString());
  O->Last();
  EXPECT_EQ("UPS", O->FieldByName("shipvia")->AsString());
  EXPECT_EQ(kOrders, O->RecNo());
}

// ---------------------------------------------------------------- hostile names and values

class PgHostile : public ::testing::Test {
 protected:
  TScratchDatabase Db;

  void SetUp() override {
    TPgConnection C(Db.Uri());
    C.Exec(
        "CREATE TABLE customer (\"CustNo\" integer PRIMARY KEY, \"Company\" varchar(40), "
        "\"Last Name\" varchar(20), \"Limit\" double precision, \"Since\" date)");
    TPgParams P;
    C.Exec(
        "INSERT INTO customer VALUES (1, 'Kiosco Divino Mar', 'Muñoz', 12.5, '1999-01-01'), "
        "(2, 'Sigma and Sol', 'O''Brien', 3, NULL), (3, " +
            P.AddText("x'); DROP TABLE customer; --") +
            ", 'García', NULL, '2000-01-01'), (4, 'x'' or ''1''=''1', 'Ñandú', 1, NULL), "
            "(5, '100% (algodón)', '\"Q\"', 2, NULL), (6, NULL, 'x', 0, NULL)",
        P);
  }
  std::string Filtered(const std::string& Filter, TFilterOptions Options = 0) {
    auto T = OpenTable(Db.Uri(), "customer");
    T->SetFilterOptions(Options);
    T->SetFilter(Filter);
    T->SetFiltered(true);
    return Texts(*T, "CustNo");
  }
  std::string Selected(const std::string& Sql) {
    TQuery Q;
    Q.SetDatabaseName(Db.Uri());
    Q.SQL().Add(Sql);
    Q.Open();
    return Texts(Q, "CustNo");
  }
};

TEST_F(PgHostile, ConstantsHoldingQuotesAndConnectorsAreValues) {
  const struct {
    const char* Filter;
    const char* Rows;
  } Filters[] = {
      {"Company = 'Sigma and Sol'", "2"},
      {"Company = 'x'' or ''1''=''1'", "4"},
      {"Company = 'x''); DROP TABLE customer; --'", "3"},
      {"Company = 'x'' or ''1''=''1' or CustNo = 6", "4,6"},
      {"[Last Name] = 'O''Brien'", "2"},
      {"[Last Name] = '\"Q\"'", "5"},
      {"Company = '100%*'", "5"},
      {"Company = '100%'", ""},
      {"Company = '(algodón)'", ""},
  };
  for (const auto& C : Filters) EXPECT_EQ(C.Rows, Filtered(C.Filter)) << C.Filter;
  const struct {
    const char* Sql;
    const char* Rows;
  } Statements[] = {
      {"Select * From customer Where Company = 'x'' or ''1''=''1'", "4"},
      {"Select * From customer Where Company = \"x'); DROP TABLE customer; --\"", "3"},
      {"Select * From customer Where Company like \"100%\"", "5"},
      {"Select * From customer Where \"Last Name\" = \"O'Brien\"", "2"},
      {"Select * From customer Where Company = \"x\" or \"1\"=\"1\"", "1,2,3,4,5,6"},
  };
  for (const auto& C : Statements) EXPECT_EQ(C.Rows, Selected(C.Sql)) << C.Sql;
  EXPECT_EQ("1,2,3,4,5,6", Selected("select * from customer"));
}

TEST_F(PgHostile, WrongFiltersAndStatementsAreRefusedByName) {
  for (const auto& [Filter, Part] :
       std::vector<std::pair<std::string, std::string>>{{"Nope = 1", "Nope"},
                                                        {"Company = 'x'; drop table customer", ";"},
                                                        {"CustNo = 'uno'", "uno"}}) {
    const std::string M = MessageOf([&] { Filtered(Filter); });
    EXPECT_THAT(M, HasSubstr(Part)) << Filter;
  }
  EXPECT_THAT(MessageOf([&] { Selected("Select * From customer; Delete From customer"); }),
              HasSubstr("Delete"));
  EXPECT_EQ("1,2,3,4,5,6", Selected("select * from customer"));
}

TEST_F(PgHostile, ConstantsThatAreNoUtf8MatchNothingAsOnTableFiles) {
  const char* Values[] = {"\xFF",         "Mu\xC3",           "\xC3\x28",
                          "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC0\xAF"};
  for (const char* V : Values)
    for (TFilterOptions O : {0u, unsigned(foCaseInsensitive)}) {
      const std::string F = std::string("[Last Name] = '") + V + "'";
      EXPECT_EQ("", Filtered(F, O)) << F;
      const std::string Prefix = Filtered(std::string("[Last Name] = '") + V + "*'", O);
      EXPECT_TRUE(Prefix.empty() || (Prefix == "1" && V[0] == 'M')) << F << ": " << Prefix;
      EXPECT_EQ("1,2,3,4,5,6", Filtered(std::string("[Last Name] <> '") + V + "'", O)) << F;
    }
}

// ---------------------------------------------------------------- the server's own types

// Types the platform has no field for are searched by their text, never with the server's
// error; texts order by their bytes in a query's result as in a table, whatever the column's
// collation; a bigint is a whole number in both.
TEST(PgServerTypes, OtherTypesAreTextsAndQueriesOrderByBytes) {
  TScratchDatabase Db;
  TPgConnection(Db.Uri()).Exec(
      "CREATE TABLE things (n integer PRIMARY KEY, id uuid, doc json, big bigint, "
      "name text COLLATE \"und-x-icu\");"
      "INSERT INTO things VALUES (1, '3a1c7d62-6b9e-4b7f-9a34-2a9a3cbd0c11', '{\"a\": 1}', "
      "9007199254740993, 'b'), (2, NULL, '[1, 2]', -5, 'B'), (3, NULL, NULL, NULL, 'a')");
  auto T = OpenTable(Db.Uri(), "things");
  T->SetFilter("id = '3a1c7d62-6b9e-4b7f-9a34-2a9a3cbd0c11'");
  T->SetFiltered(true);
  EXPECT_EQ("1", Texts(*T, "n"));
  T->SetFilter("doc = '[1, 2]' or id = null");
  EXPECT_EQ("2,3", Texts(*T, "n"));
  T->SetFiltered(false);
  EXPECT_TRUE(T->Locate("doc", "{\"a\"", loPartialKey));
  EXPECT_EQ(1, T->FieldByName("n")->AsInteger());
  EXPECT_EQ(ftInteger, T->FieldByName("big")->DataType());
  EXPECT_EQ(9007199254740993, T->FieldByName("big")->Value().AsInt64());

  TQuery Q;
  Q.SetDatabaseName(Db.Uri());
  Q.SQL().Add("select n, name, big from things order by name");
  Q.Open();
  EXPECT_EQ("2,3,1", Texts(Q, "n")) << "B, a, b: by their bytes";
  Q.Last();
  EXPECT_EQ(1, Q.FieldByName("n")->AsInteger());
  EXPECT_EQ(ftInteger, Q.FieldByName("big")->DataType());
}
