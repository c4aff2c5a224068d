// Fuzz target: the search engine. The input is a search expression: it is read and checked
// (SeparaDatos, ValidateFilter), then searched for as a dataset filter and as SQL on two small
// tables (one with a lookup and a calculated field), stepped through as a find condition, and
// its generated filter and SQL texts are built. Errors must be Exceptions, never a crash; a
// search that both ways run must find the same records both ways.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "DateTime.h"
#include "Dialogs.h"
#include "FuzzUtil.h"
#include "KVFind.h"
#include "TableFile.h"

using namespace kv;

namespace {

struct TTables {
  std::string Dir;
  TTable Customer, Orders;
  TDataSource Source;

  TTables() {
    Dir = FuzzScratchDir() + "/db";
    std::filesystem::create_directories(Dir);
    TTableStore C;
    C.AddColumn({"CustNo", ftInteger, 0, true});
    C.AddColumn({"Company", ftString, 30, false});
    C.AddColumn({"Last Name", ftString, 20, false});
    C.AddColumn({"Limit", ftFloat, 0, false});
    C.AddColumn({"Since", ftDate, 0, false});
    C.AddColumn({"Active", ftBoolean, 0, false});
    C.AppendRow({1221, "Kiosco Divino Mar", "Muñoz", 12.5, TDateTime(36160), true});
    C.AppendRow({1231, "O'Brien \"sig\"", Null(), -3.0, Null(), false});
    C.AppendRow({1351, "Sigma and Sol", "ÁNGEL", Null(), TDateTime(0), Null()});
    C.PrimaryKey = {"CustNo"};
    SaveTableFile(Dir + "/customer.db", C);
    TTableStore O;
    O.AddColumn({"OrderNo", ftInteger, 0, true});
    O.AddColumn({"CustNo", ftInteger, 0, false});
    O.AddColumn({"Amount", ftCurrency, 0, false});
    O.AddColumn({"SaleDate", ftDateTime, 0, false});
    O.AddColumn({"ShipTime", ftTime, 0, false});
    O.AppendRow({1003, 1221, 1500.5, TDateTime(36160.5), TDateTime(0.25)});
    O.AppendRow({1004, 1351, Null(), Null(), Null()});
    O.AppendRow({1005, 9999, -0.5, TDateTime(36526), TDateTime(0.999)});
    O.PrimaryKey = {"OrderNo"};
    SaveTableFile(Dir + "/orders.db", O);

    Customer.SetDatabaseName(Dir);
    Customer.SetTableName("customer.db");
    Customer.Open();
    Orders.SetDatabaseName(Dir);
    Orders.SetTableName("orders.db");
    Orders.AddField<TIntegerField>("OrderNo");
    Orders.AddField<TIntegerField>("CustNo");
    Orders.AddField<TCurrencyField>("Amount");
    Orders.AddField<TDateTimeField>("SaleDate");
    Orders.AddField<TTimeField>("ShipTime");
    Orders.AddLookupField("CustName", ftString, &Customer, "CustNo", "CustNo", "Company", 30);
    auto* Twice = Orders.AddField<TIntegerField>("Twice");
    Twice->SetCalculated(true);
    Twice->OnCalcValue = [](const TDataSet& S, TBookmark Row) -> Variant {
      return S.FieldByName("OrderNo")->ValueAt(Row).AsInteger() * 2;
    };
    Orders.Open();
    // Export and search failures show message boxes: nobody is there to see them.
    SetMessageHandler([](const std::string&, TMsgDlgType, const std::string&) {});
  }
};

TTables& Tables() {
  static TTables* T = new TTables;
  return *T;
}

// Reads every field of the first records; the bookmarks of the records seen, in order.
std::vector<TBookmark> Drain(TDataSet* DS) {
  std::vector<TBookmark> Seen;
  if (!DS || !DS->Active()) return Seen;
  for (DS->First(); !DS->Eof() && Seen.size() < 100; DS->Next()) {
    for (int I = 0; I < DS->FieldCount(); ++I) (void)DS->Fields(I)->DisplayText();
    Seen.push_back(DS->GetBookmark());
  }
  return Seen;
}

// The values of the records' first field (a key of both tables), sorted: the records a search
// found, whatever result holds them and in whatever order.
std::vector<std::string> Keys(TDataSet* DS) {
  std::vector<std::string> K;
  if (!DS || !DS->Active()) return K;
  for (DS->First(); !DS->Eof(); DS->Next()) K.push_back(DS->Fields(0)->AsString());
  std::sort(K.begin(), K.end());
  return K;
}

void SearchOn(TDataSet& DS, TDataSource& Source, const std::string& Text, bool CaseSensitive) {
  TKVFind K;
  K.SetPDataSet(&DS);
  K.SetpDataSource(&Source);
  K.SetCaseSensitive(CaseSensitive);
  FuzzTry([&] {
    K.SeparaDatos(Text);
    (void)K.ValidateFilter();
  });
  std::vector<std::string> Found[2];
  bool Ran[2] = {false, false};
  for (bool Sql : {false, true}) {
    Ran[Sql] = FuzzTry([&] {
      K.SetForceSQL(Sql);
      K.SetFilter(Text);
      K.SetFiltered(true);
      Drain(K.Results());
      Found[Sql] = Keys(K.Results());
    });
    FuzzTry([&] { K.SetFiltered(false); });
  }
  // The two paths are one search: when both run, they find the same records.
  if (Ran[0] && Ran[1] && Found[0] != Found[1]) std::abort();
  // The generated texts, without running them.
  FuzzTry([&] {
    K.SeparaDatos(Text);
    K.PrepareData();
    (void)K.TTAbleBuildSQL();
  });
  FuzzTry([&] {
    K.SetCondition(Text);
    (void)K.Buildcondition();
    if (K.FindFirst()) (void)K.FindNext();
    (void)K.FindPrior();
  });
  DS.SetFiltered(false);
  DS.SetFilter("");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  TTables& T = Tables();
  SearchOn(T.Customer, T.Source, Text, Size % 2 == 0);
  SearchOn(T.Orders, T.Source, Text, Size % 2 == 1);
  return 0;
}
