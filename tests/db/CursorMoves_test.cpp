// What a dataset over a database sends for its moves, on SQLite and on the PostgreSQL test
// server: a new order keeps the count, the window at a located row is read from that row's key,
// a range of records is summed by the database, the last record is reached without counting —
// every record where it belongs, in an order with ties and Nulls, under a filter and a master
// restriction.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "DbCursor.h"
#include "db/SqliteTestDb.h"
#include "pg/PgTestServer.h"

using namespace kv;

namespace {

// The rows of table t: id 1..N, grp a letter or Null (ties), qty and lot small numbers (qty
// sometimes Null), price.
struct TRow {
  int Id;
  std::optional<char> Grp;
  std::optional<int> Qty;
  int Lot;
  double Price;
};

TRow RowOf(int I) {
  return {I, I % 7 == 0 ? std::nullopt : std::optional<char>('A' + I % 5),
          I % 11 == 0 ? std::nullopt : std::optional<int>(I % 13), I % 17, I * 0.5};
}

const char* const kRowsSql =
    " SELECT i, CASE WHEN i % 7 = 0 THEN NULL ELSE substr('ABCDE', 1 + i % 5, 1) END, CASE WHEN i "
    "% 11 = 0 "
    "THEN NULL ELSE i % 13 END, i % 17, i * 0.5 FROM s";

// The expected records: rows Keep lets through, ordered by grp (Nulls first) then id, or by id.
std::vector<TRow> Expected(int N, bool ByGrp, const std::function<bool(const TRow&)>& Keep) {
  std::vector<TRow> Rows;
  for (int I = 1; I <= N; ++I)
    if (Keep(RowOf(I))) Rows.push_back(RowOf(I));
  if (ByGrp)
    std::stable_sort(Rows.begin(), Rows.end(),
                     [](const TRow& A, const TRow& B) { return A.Grp < B.Grp; });
  return Rows;
}

TDbCursor& CursorOf(TDataSet& DS) {
  return *static_cast<TDbCursor*>(DS.Cursor());
}

// Records the statements a dataset's connection sends.
struct TSent {
  std::vector<std::string> Sql;
  explicit TSent(TDataSet& DS) {
    CursorOf(DS).Connection().SetStatementTrace(
        [this](const std::string& S, const std::vector<TSqlParam>&) { Sql.push_back(S); });
  }
  // The most rows a statement skipped by OFFSET.
  long MostSkipped() const {
    long Most = 0;
    for (const std::string& S : Sql)
      if (const size_t At = S.find(" OFFSET "); At != std::string::npos)
        Most = std::max(Most, std::stol(S.substr(At + 8)));
    return Most;
  }
};

// Table t as the detail of m's current record (k), linked by the first of Index.
std::unique_ptr<TTable> OpenDetail(const std::string& Db, TDataSource& Master,
                                   const std::string& Index) {
  auto D = std::make_unique<TTable>();
  D->SetDatabaseName(Db);
  D->SetTableName("t");
  D->SetIndexFieldNames(Index);
  D->SetMasterSource(&Master);
  D->SetMasterFields("k");
  D->Open();
  return D;
}

void CheckRecords(TTable& T, const std::vector<TRow>& Rows, int From, int To) {
  TField* Id = T.FieldByName("id");
  for (int I = std::max(0, From); I <= std::min<int>(To, static_cast<int>(Rows.size()) - 1); ++I)
    ASSERT_EQ(Rows[static_cast<size_t>(I)].Id, Id->ValueAt(T.RowAt(I)).AsInteger())
        << "record " << I;
}

// An order changes nothing of how many records there are; a refresh, a filter or a new link
// to the master does.
void CountKeptThroughOrder(const std::string& Db, int N) {
  auto T = OpenTable(Db, "t");
  TDbCursor& C = CursorOf(*T);
  EXPECT_EQ(-1, T->KnownRecordCount()) << "a table just opened counts nothing";
  EXPECT_EQ(N, T->RecordCount());
  const int64_t Before = C.StatementsRun();
  T->SetIndexFieldNames("grp");
  EXPECT_EQ(N, T->KnownRecordCount());
  EXPECT_EQ(N, T->RecordCount());
  EXPECT_EQ(Before + 1, C.StatementsRun()) << "the first window, no count";
  T->Refresh();
  EXPECT_EQ(-1, T->KnownRecordCount());
  T->SetFilter("qty > 2");
  T->SetFiltered(true);
  const auto Filtered = Expected(N, true, [](const TRow& R) { return R.Qty && *R.Qty > 2; });
  EXPECT_EQ(static_cast<int>(Filtered.size()), T->RecordCount());
  T->SetIndexFieldNames("lot");
  EXPECT_EQ(static_cast<int>(Filtered.size()), T->KnownRecordCount());
  T->SetFiltered(false);
  EXPECT_EQ(-1, T->KnownRecordCount());

  // The detail's index fields link it to the master: another index, another link.
  auto M = OpenTable(Db, "m");
  TDataSource Source;
  Source.SetDataSet(M.get());
  auto D = OpenDetail(Db, Source, "qty");
  const int ByQty =
      static_cast<int>(Expected(N, false, [](const TRow& R) { return R.Qty == 1; }).size());
  const int ByLot =
      static_cast<int>(Expected(N, false, [](const TRow& R) { return R.Lot == 1; }).size());
  EXPECT_EQ(ByQty, D->RecordCount());
  D->SetIndexFieldNames("lot");
  EXPECT_EQ(ByLot, D->RecordCount());
  EXPECT_EQ(1, D->FieldByName("lot")->AsInteger());
}

// A located row's position is counted once; the window holding it and its neighbours are read
// from its key, in either order.
void WindowAtALocatedRow(const std::string& Db, int N, const std::string& Index, int Id) {
  SCOPED_TRACE(Index.empty() ? "by key" : "by " + Index);
  auto T = OpenTable(Db, "t", Index);
  const auto Rows = Expected(N, !Index.empty(), [](const TRow&) { return true; });
  const int Place = static_cast<int>(
      std::find_if(Rows.begin(), Rows.end(), [&](const TRow& R) { return R.Id == Id; }) -
      Rows.begin());
  TSent Sent(*T);
  ASSERT_TRUE(T->Locate("id", Id, 0));
  EXPECT_EQ(Place + 1, T->RecNo());
  EXPECT_EQ(2u, Sent.Sql.size()) << "the row, and the count of the records before it";
  EXPECT_EQ(Id, T->FieldByName("id")->AsInteger());
  CheckRecords(*T, Rows, Place - 200, Place + 200);
  // Nothing skipped but the rows between a window and a cached one.
  EXPECT_LE(Sent.MostSkipped(), TDbCursor::WindowRows) << ::testing::PrintToString(Sent.Sql);
  EXPECT_LE(Sent.Sql.size(), 2u + 8u);
  T->Next();
  EXPECT_EQ(Rows[static_cast<size_t>(Place + 1)].Id, T->FieldByName("id")->AsInteger());
  EXPECT_EQ(N, T->RecordCount());
  CheckRecords(*T, Rows, N - 130, N - 1);
}

// Sums over ranges of records: by one statement and the one that finds the range's last row,
// equal to adding the values up record by record (Nulls left out).
void SumsOverRanges(const std::string& Db, int N) {
  auto Check = [&](TTable& T, const std::vector<TRow>& Rows, int From, int To) {
    SCOPED_TRACE(std::to_string(From) + ".." + std::to_string(To));
    double Qty = 0, Price = 0;
    for (int I = From; I <= To && I < static_cast<int>(Rows.size()); ++I) {
      Qty += Rows[static_cast<size_t>(I)].Qty.value_or(0);
      Price += Rows[static_cast<size_t>(I)].Price;
    }
    const int64_t Before = CursorOf(T).StatementsRun();
    const auto Sums = T.SumRecords({T.FieldByName("qty"), T.FieldByName("price")}, From, To);
    EXPECT_LE(CursorOf(T).StatementsRun() - Before, 3) << "a window, the last row, the sum";
    ASSERT_EQ(2u, Sums.size());
    EXPECT_EQ(Qty, Sums[0]);
    EXPECT_NEAR(Price, Sums[1], 1e-6 * std::max(1.0, Price));
  };
  auto T = OpenTable(Db, "t", "grp");
  const auto All = Expected(N, true, [](const TRow&) { return true; });
  Check(*T, All, 0, 0);
  Check(*T, All, 3, 127);
  Check(*T, All, 100, N - 20);
  Check(*T, All, N - 40, N + 500);
  T->SetFilter("qty > 2");
  T->SetFiltered(true);
  const auto Some = Expected(N, true, [](const TRow& R) { return R.Qty && *R.Qty > 2; });
  Check(*T, Some, 1, static_cast<int>(Some.size()) / 2);
  // A range whose last window is cached.
  T->RowAt(static_cast<int>(Some.size()) - 1);
  Check(*T, Some, 5, static_cast<int>(Some.size()) - 3);
  // Not a number: the dataset reads the rows itself.
  std::vector<double> Out;
  EXPECT_FALSE(CursorOf(*T).SumRecords({T->FieldByName("grp")}, 0, 5, Out));

  auto M = OpenTable(Db, "m");
  M->Next();
  TDataSource Source;
  Source.SetDataSet(M.get());
  auto D = OpenDetail(Db, Source, "lot;grp");
  auto OfLot = Expected(N, true, [](const TRow& R) { return R.Lot == 2; });
  Check(*D, OfLot, 2, static_cast<int>(OfLot.size()) - 2);
}

// The last record is read from the end without counting the records; moving, bookmarks and
// reading around it are exact, and the place from the first is counted when asked for.
void LastWithoutCounting(const std::string& Db, int N) {
  auto T = OpenTable(Db, "t", "grp");
  TDbCursor& C = CursorOf(*T);
  const auto Rows = Expected(N, true, [](const TRow&) { return true; });
  auto IdHere = [&] { return T->FieldByName("id")->AsInteger(); };
  auto IdAt = [&](int Place) { return Rows[static_cast<size_t>(Place)].Id; };
  const int64_t Opened = C.StatementsRun();
  T->Last();
  EXPECT_TRUE(T->Eof());
  EXPECT_FALSE(T->Bof());
  EXPECT_EQ(IdAt(N - 1), IdHere());
  EXPECT_EQ(Opened + 1, C.StatementsRun()) << "the last window, backwards";
  for (int Back = 1; Back <= 300; ++Back) {
    T->Prior();
    ASSERT_EQ(IdAt(N - 1 - Back), IdHere()) << Back;
  }
  const TBookmark Mark = T->GetBookmark();
  for (int Back = 299; Back >= 0; --Back) {
    T->Next();
    ASSERT_EQ(IdAt(N - 1 - Back), IdHere()) << Back;
  }
  T->Next();
  EXPECT_TRUE(T->Eof());
  EXPECT_EQ(IdAt(N - 1), IdHere());
  T->First();
  EXPECT_TRUE(T->BookmarkValid(Mark));
  T->GotoBookmark(Mark);
  EXPECT_EQ(IdAt(N - 301), IdHere());
  EXPECT_EQ(-1, T->KnownRecordCount()) << "nothing so far counted the records";
  EXPECT_EQ(Opened + 3, C.StatementsRun()) << "three windows from the end";
  EXPECT_EQ(N - 300, T->RecNo());
  EXPECT_EQ(N, T->KnownRecordCount());
  EXPECT_EQ(IdAt(N - 301), IdHere());
  EXPECT_EQ(-5, T->MoveBy(-5));
  EXPECT_EQ(IdAt(N - 306), IdHere());
  CheckRecords(*T, Rows, N - 400, N - 1);

  // Fewer records than a window, and none.
  T->SetFilter("id <= 3000 and qty = 3 and lot = 4");
  T->SetFiltered(true);
  const auto Few =
      Expected(N, true, [](const TRow& R) { return R.Id <= 3000 && R.Qty == 3 && R.Lot == 4; });
  ASSERT_LT(Few.size(), 128u);
  T->Last();
  EXPECT_EQ(static_cast<int>(Few.size()), T->KnownRecordCount()) << "the short window ends them";
  EXPECT_EQ(static_cast<int>(Few.size()), T->RecNo());
  EXPECT_EQ(Few.back().Id, IdHere());
  T->SetFilter("id < 0");
  T->Last();
  EXPECT_TRUE(T->Bof() && T->Eof());
  EXPECT_EQ(0, T->RecNo());
  T->Prior();
  EXPECT_TRUE(T->Bof());
}

class SqliteCursor : public ::testing::Test {
 protected:
  static constexpr int N = 3000;
  TSqliteFile Db;
  void SetUp() override {
    Db.Exec(
        "CREATE TABLE t (id INTEGER PRIMARY KEY, grp VARCHAR(4), qty INTEGER, lot INTEGER NOT "
        "NULL, price REAL)");
    Db.Exec("WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < " +
            std::to_string(N) + ") INSERT INTO t" + kRowsSql);
    Db.Exec("CREATE TABLE m (k INTEGER PRIMARY KEY)");
    Db.Exec("INSERT INTO m VALUES (1), (2), (3)");
  }
};

TEST_F(SqliteCursor, ANewOrderKeepsTheCount) {
  CountKeptThroughOrder(Db.Name(), N);
}

TEST_F(SqliteCursor, TheWindowAtALocatedRowIsReadFromItsKey) {
  WindowAtALocatedRow(Db.Name(), N, "", 1700);
  WindowAtALocatedRow(Db.Name(), N, "grp", 1701);
  WindowAtALocatedRow(Db.Name(), N, "grp", 2101);
}

TEST_F(SqliteCursor, RangesOfRecordsAreSummedByTheDatabase) {
  SumsOverRanges(Db.Name(), N);
}

TEST_F(SqliteCursor, TheLastRecordIsReadWithoutCounting) {
  LastWithoutCounting(Db.Name(), N);
}

class PgCursor : public ::testing::Test {
 protected:
  static constexpr int N = 120000;
  pgtest::TScratchDatabase Db;
  void SetUp() override {
    TPgConnection C(Db.Uri());
    C.Exec(
        "CREATE TABLE t (id integer PRIMARY KEY, grp varchar(4), qty integer, lot integer NOT "
        "NULL, price double precision);"
        "CREATE INDEX t_grp ON t (grp COLLATE \"C\", id);"
        "WITH s(i) AS (SELECT generate_series(1, " +
        std::to_string(N) + ")) INSERT INTO t" + std::string(kRowsSql) +
        ";"
        "CREATE TABLE m (k integer PRIMARY KEY); INSERT INTO m VALUES (1), (2), (3); ANALYZE");
  }
};

TEST_F(PgCursor, ANewOrderKeepsTheCount) {
  CountKeptThroughOrder(Db.Uri(), N);
}

TEST_F(PgCursor, TheWindowAtALocatedRowIsReadFromItsKey) {
  WindowAtALocatedRow(Db.Uri(), N, "", 61700);
  WindowAtALocatedRow(Db.Uri(), N, "grp", 90001);
}

TEST_F(PgCursor, RangesOfRecordsAreSummedByTheDatabase) {
  SumsOverRanges(Db.Uri(), N);
}

TEST_F(PgCursor, TheLastRecordIsReadWithoutCounting) {
  LastWithoutCounting(Db.Uri(), N);
}

}  // namespace
