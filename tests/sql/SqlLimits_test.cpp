// The SQL engine at its limits: results read only as far as a row limit asks (a cross join of
// billions of rows answers its first rows at once), and memory that runs out while a statement
// reads its tables, told the one way it is everywhere.
#include <gtest/gtest.h>

#include <new>

#include "IoUtil.h"
#include "LocalSQL.h"
#include "SqlEngine.h"
#include "SqlParser.h"

using namespace kv;

namespace {

std::shared_ptr<TTableStore> Numbers(int Rows) {
  auto S = std::make_shared<TTableStore>();
  S->AddColumn({"N", ftInteger, 0, false});
  S->AddColumn({"Name", ftString, 10, false});
  for (int R = 0; R < Rows; ++R) S->AppendRow({R, Variant("n" + std::to_string(R))});
  return S;
}

// A column read from a file whose decoding finds no memory, as a large table's would.
class TNoMemoryDecoder : public TColumnDecoder {
 public:
  void Decode(size_t, size_t, size_t, TColumn&) const override { throw std::bad_alloc(); }
};

class SqlLimits : public ::testing::Test {
 protected:
  TSqlTableSource Tables{""};
  std::shared_ptr<TTableStore> Run(const std::string& Sql) {
    TSqlTranslation T = TranslateSelect(ParseSql(Sql), Tables.Lookup());
    return RunTranslatedSelect(T, Tables, Sql);
  }
  std::optional<std::vector<uint32_t>> RunRows(const std::string& Sql) {
    TSqlTranslation T = TranslateSelect(ParseSql(Sql), Tables.Lookup());
    return RunTranslatedSelectRows(T, Tables, Sql);
  }
};

TEST_F(SqlLimits, ARowLimitStopsReadingAndEndsWithItsScope) {
  Tables.Register("t.db", Numbers(200));
  // 200^4 = 1.6e9 rows: only a statement stepped no further than asked ends.
  const std::string Cross = "select a.N from t a, t b, t c, t d";
  {
    TSqlRowLimit Limit(3);
    auto R = Run(Cross);
    EXPECT_EQ(3u, R->RowCount());
    EXPECT_EQ(0, R->Columns[0].Int(2));
    {
      TSqlRowLimit Inner(1);
      EXPECT_EQ(1u, Run(Cross)->RowCount());
    }
    EXPECT_EQ(3u, TSqlRowLimit::Current());
    // A table's own rows, found whole by the direct path or ordered, are cut to the limit too.
    auto Rows = RunRows("select * from t where N >= 10 order by N desc");
    ASSERT_TRUE(Rows);
    EXPECT_EQ((std::vector<uint32_t>{199, 198, 197}), *Rows);
    EXPECT_EQ(3u, RunRows("select * from t")->size());
  }
  EXPECT_EQ(SIZE_MAX, TSqlRowLimit::Current());
  EXPECT_EQ(200u, Run("select N from t")->RowCount());
}

TEST_F(SqlLimits, MemoryThatRunsOutInAScanIsToldAsSuch) {
  auto S = Numbers(3 * kColumnChunkRows);
  const size_t Rows = S->RowCount();
  S->Columns[1] = TColumn(ftString, Rows, std::make_shared<TNoMemoryDecoder>(), 1);
  Tables.Register("big.db", S);
  // Whether the column is decoded whole before the scan or a value at a time.
  for (const char* Sql : {"select Name from big where Name like '%x%'",
                          "select N from big where N = 5 and Name = 'n5'"}) {
    try {
      Run(Sql);
      ADD_FAILURE() << "no error: " << Sql;
    } catch (const ESQLError& E) {
      EXPECT_STREQ(OutOfMemoryText(), E.what()) << Sql;
    }
  }
  EXPECT_EQ("no hay memoria suficiente", ErrnoText(ENOMEM));
}

}  // namespace
