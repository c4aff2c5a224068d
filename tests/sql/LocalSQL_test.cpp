// The local SQL over table files: statements against a directory of .db files (file names,
// full paths, bare names), ALTER TABLE ... DROP rewriting a file, and statements that must
// fail without touching any file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "LocalSQL.h"
#include "TableFile.h"

using namespace kv;

namespace fs = std::filesystem;

namespace {

class LocalSQLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/kvsql_XXXXXX";
    ASSERT_NE(mkdtemp(Tmpl), nullptr);
    Dir = Tmpl;
    TTableStore C;
    C.AddColumn({"CustNo", ftInteger, 0, true});
    C.AddColumn({"Company", ftString, 30, false});
    C.AddColumn({"City", ftString, 20, false});
    C.AddColumn({"State", ftString, 2, false});
    C.AddColumn({"Phone", ftString, 15, false});
    C.PrimaryKey = {"CustNo"};
    C.AppendRow({1221, "Kiosco Divino Mar", "Kapri Norte", "HI", "808-555-0269"});
    C.AppendRow({1351, "Sigma Divas", "Kativa Alta", "CA", "357-6-876708"});
    C.AppendRow({2000, "ÁNGEL Buceo", "Cádiz", Variant::Null(), ""});
    C.AppendRow({2001, "sig", "San Diego", "CA", "619-555-0100"});
    SaveTableFile(Dir + "/customer.db", C);

    TTableStore O;
    O.AddColumn({"OrderNo", ftInteger, 0, true});
    O.AddColumn({"CustNo", ftInteger, 0, false});
    O.AddColumn({"SaleDate", ftDateTime, 0, false});
    O.AddColumn({"Amount", ftCurrency, 0, false});
    O.PrimaryKey = {"OrderNo"};
    O.AppendRow({1003, 1221, TDateTime(36160.5), 1500.5});
    O.AppendRow({1004, 2001, TDateTime(36159), 1600.0});
    O.AppendRow({1005, 2001, TDateTime(36000), 10.0});
    SaveTableFile(Dir + "/orders.db", O);
  }
  void TearDown() override {
    ClearTableCache();
    std::error_code Ec;
    fs::remove_all(Dir, Ec);
  }

  static std::string Bytes(const std::string& Path) {
    std::ifstream F(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(F), {});
  }

  static std::vector<std::string> Column(const TTableStore& S, const char* Name) {
    std::vector<std::string> Out;
    const int C = S.ColumnIndex(Name);
    for (size_t R = 0; C >= 0 && R < S.RowCount(); ++R)
      Out.push_back(S.Columns[C].IsNull(R) ? "-" : S.Columns[C].Value(R).AsString());
    return Out;
  }

  std::string Dir;
};

TEST_F(LocalSQLTest, TablesByFileNamePathOrBareName) {
  struct {
    std::string Sql;
    std::vector<std::string> CustNos;
  } Cases[] = {
      {"Select * From \"customer.db\" Where (lower(\"customer.db\".\"Company\")=\"sig\" and "
       "(lower(\"customer.db\".\"State\")=\"ca\" or lower(\"customer.db\".\"State\")=\"hi\")) "
       "Order by \"customer.db\".\"Company\" ASC",
       {"2001"}},
      {"Select  * From  customer Where (State=\"CA\") and ( City='San Diego'\n)", {"2001"}},
      {"Select * From \"" + Dir + "/customer.db\" Where \"" + Dir + "/customer.db\".\"State\"='HI'",
       {"1221"}},
      {"Select * From CUSTOMER Where \"customer.db\".\"State\" IS NULL", {"2000"}},
      {"Select * From \"customer.db\" Where Phone IS NULL", {"2000"}},
      {"Select * From \"customer.db\" Where lower(Company) like \"%á%\"", {"2000"}},
      {"Select * From \"orders.db\",\"customer.db\" Where (\"customer.db\".\"Company\" like "
       "\"%i%\") and (CustNo=\"customer.db\".\"CustNo\") Order by \"orders.db\".\"Amount\" DESC",
       {"2001", "1221", "2001"}},
      {"Select * From \"orders.db\" Where \"orders.db\".\"Amount\">=1500.5 and "
       "\"orders.db\".\"SaleDate\"<\"12/31/1998 00:00:00\"",
       {"2001"}},
  };
  for (const auto& C : Cases) {
    try {
      auto R = ExecuteSelect(C.Sql, Dir);
      EXPECT_EQ(Column(*R, "CustNo"), C.CustNos) << C.Sql;
    } catch (const Exception& E) {
      ADD_FAILURE() << C.Sql << ": " << E.Message();
    }
  }
  EXPECT_EQ(TranslateToSQLite("Select Company From customer Where CustNo = 1221", Dir),
            "SELECT \"t1\".\"Company\" AS \"Company\" FROM \"t1\" WHERE (\"t1\".\"CustNo\" = "
            "1221)");
}

TEST_F(LocalSQLTest, AlterTableDropsColumnsAndKeepsRows) {
  const std::string File = Dir + "/Resultado.db";
  SaveTableFile(File, *LoadTableFile(Dir + "/customer.db"));
  ExecuteStatement("ALTER TABLE \"" + File + "\" DROP \"" + File + "\".\"CustNo\"\n, DROP \"" +
                       File + "\".\"Phone\"",
                   "");
  auto R = LoadTableFile(File);
  ASSERT_EQ(R->Defs.size(), 3u);
  EXPECT_EQ(R->Defs[0].Name, "Company");
  EXPECT_EQ(R->Defs[1].Name, "City");
  EXPECT_EQ(R->Defs[2].Name, "State");
  EXPECT_TRUE(R->PrimaryKey.empty());
  EXPECT_EQ(Column(*R, "City"),
            (std::vector<std::string>{"Kapri Norte", "Kativa Alta", "Cádiz", "San Diego"}));
  EXPECT_EQ(Column(*R, "State"), (std::vector<std::string>{"HI", "CA", "-", "CA"}));

  // A key whose columns all remain is kept; relative names resolve in the database.
  SaveTableFile(File, *LoadTableFile(Dir + "/customer.db"));
  ExecuteStatement("alter table Resultado drop Resultado.City, drop column \"Phone\";", Dir);
  auto K = LoadTableFile(File);
  EXPECT_EQ(K->Defs.size(), 3u);
  EXPECT_EQ(K->PrimaryKey, (std::vector<std::string>{"CustNo"}));
  EXPECT_EQ(Column(*K, "CustNo"), (std::vector<std::string>{"1221", "1351", "2000", "2001"}));
}

TEST_F(LocalSQLTest, FailuresChangeNoFile) {
  const std::string File = Dir + "/customer.db";
  const std::string Before = Bytes(File);
  struct {
    std::string Sql;
    bool Alter;
    std::string Message;
  } Cases[] = {
      {"ALTER TABLE \"customer.db\" DROP \"customer.db\".\"Phone\", DROP \"customer.db\".\"Fax\"",
       true, "Campo desconocido 'Fax' (posición 74)"},
      {"ALTER TABLE \"customer.db\" DROP \"orders.db\".\"Amount\"", true,
       "Tabla desconocida 'orders.db' (posición 32)"},
      {"ALTER TABLE \"nada.db\" DROP \"nada.db\".\"Phone\"", true,
       "Tabla desconocida 'nada.db' (posición 13)"},
      {"ALTER TABLE customer DROP CustNo, DROP Company, DROP City, DROP State, DROP Phone", true,
       "No se pueden eliminar todos los campos de la tabla 'customer' (posición 13)"},
      {"Select * From customer", true,
       "La sentencia devuelve registros: use Open en lugar de ExecSQL (posición 1)"},
      {"\n  ALTER TABLE customer DROP Phone", false,
       "La sentencia no devuelve registros: 'ALTER' (posición 4)"},
      {"DELETE FROM customer", true, "Sentencia no soportada: 'DELETE' (posición 1)"},
      {"Select * From customer Where Foo = 1", false, "Campo desconocido 'Foo' (posición 30)"},
      {"Select * From clientes", false, "Tabla desconocida 'clientes' (posición 15)"},
  };
  for (const auto& C : Cases) {
    std::string Msg = "(no error)";
    try {
      if (C.Alter)
        ExecuteStatement(C.Sql, Dir);
      else
        ExecuteSelect(C.Sql, Dir);
    } catch (const ESQLError& E) {
      Msg = E.Message();
    }
    EXPECT_EQ(Msg, C.Message) << C.Sql;
  }
  // Translating an ALTER TABLE checks it and shows the column removal, changing nothing.
  EXPECT_EQ(TranslateToSQLite("ALTER TABLE customer DROP \"customer.db\".phone", Dir),
            "ALTER TABLE \"" + fs::weakly_canonical(File).string() + "\" DROP COLUMN \"Phone\"");
  EXPECT_EQ(Bytes(File), Before);
  EXPECT_EQ(LoadTableFile(File)->Defs.size(), 5u);
  std::vector<std::string> Left;
  for (const auto& E : fs::directory_iterator(Dir)) Left.push_back(E.path().filename().string());
  std::sort(Left.begin(), Left.end());
  EXPECT_EQ(Left, (std::vector<std::string>{"customer.db", "orders.db"}));
}

}  // namespace
