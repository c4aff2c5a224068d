// Fuzz target: the local SQL. The input is a statement translated to SQLite and run over a tiny
// database directory (a .db, a .dbf and a .txt table); ALTER TABLE runs on a scratch copy that
// is rewritten after every change. Errors must be ESQLError/Exception, never a crash.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "DateTime.h"
#include "FuzzUtil.h"
#include "LocalSQL.h"
#include "TableFile.h"

using namespace kv;

namespace {

TTableStore Customer() {
  TTableStore T;
  T.AddColumn({"CustNo", ftInteger, 0, true});
  T.AddColumn({"Company", ftString, 30, false});
  T.AddColumn({"Country", ftString, 20, false});
  T.AddColumn({"Since", ftDate, 0, false});
  T.AppendRow({1221, "Kiosco Divino Mar", "US", TDateTime(36160)});
  T.AppendRow({2000, "ÁNGEL Buceo", "España", Null()});
  T.AppendRow({2001, "O'Brien \"sig\"", Null(), TDateTime(0)});
  T.PrimaryKey = {"CustNo"};
  return T;
}

TTableStore Orders() {
  TTableStore T;
  T.AddColumn({"OrderNo", ftInteger, 0, true});
  T.AddColumn({"CustNo", ftInteger, 0, false});
  T.AddColumn({"SaleDate", ftDate, 0, false});
  T.AddColumn({"Amount", ftFloat, 0, false});
  T.AddColumn({"Paid", ftBoolean, 0, false});
  T.AppendRow({1003, 1221, TDateTime(36160), 1500.5, true});
  T.AppendRow({1004, 2001, Null(), -0.25, false});
  T.AppendRow({1005, 2000, TDateTime(36159), Null(), Null()});
  return T;
}

TTableStore Items() {
  TTableStore T;
  T.AddColumn({"OrderNo", ftInteger, 0, true});
  T.AddColumn({"Part", ftString, 10, false});
  T.AddColumn({"At", ftDateTime, 0, false});
  T.AppendRow({1003, "tubo", TDateTime(36160.5)});
  T.AppendRow({1004, "ñ%_", Null()});
  return T;
}

void WriteTables(const std::string& Dir) {
  SaveTableFile(Dir + "/customer.db", Customer());
  SaveTableFile(Dir + "/orders.dbf", Orders());
  SaveTableFile(Dir + "/items.txt", Items());
  ClearTableCache();
}

const std::string& Database() {
  static const std::string Dir = [] {
    std::string D = FuzzScratchDir() + "/db";
    std::filesystem::create_directories(D);
    WriteTables(D);
    return D;
  }();
  return Dir;
}

const std::string& AlterDatabase() {
  static const std::string Dir = [] {
    std::string D = FuzzScratchDir() + "/alter";
    std::filesystem::create_directories(D);
    WriteTables(D);
    return D;
  }();
  return Dir;
}

bool StartsWithAlter(const std::string& S) {
  size_t I = S.find_first_not_of(" \t\r\n");
  if (I == std::string::npos || S.size() - I < 5) return false;
  std::string W = S.substr(I, 5);
  for (char& C : W) C = static_cast<char>(C | 0x20);
  return W == "alter";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Sql(reinterpret_cast<const char*>(Data), Size);
  if (StartsWithAlter(Sql)) {
    if (FuzzTry([&] { ExecuteStatement(Sql, AlterDatabase()); })) WriteTables(AlterDatabase());
    return 0;
  }
  if (!FuzzTry([&] { (void)TranslateToSQLite(Sql, Database()); })) return 0;
  FuzzTry([&] {
    auto Result = ExecuteSelect(Sql, Database());
    for (auto& Col : Result->Columns)
      for (size_t R = 0; R < Col.Size(); ++R) (void)Col.Value(R);
  });
  return 0;
}
