// Dataset behaviour the search engine relies on: fields, moving, find with the Filter text,
// Locate options, bookmarks, lookup and calculated fields, and the notification of controls.
#include <gtest/gtest.h>

#include <thread>

#include "DB.h"

using namespace kv;

namespace {

// Customers: CustNo (integer), Company (string), Amount (float), Since (date).
std::unique_ptr<TMemDataSet> MakeCustomers() {
  auto DS = std::make_unique<TMemDataSet>();
  DS->FieldDefs().Add("CustNo", ftInteger);
  DS->FieldDefs().Add("Company", ftString, 30);
  DS->FieldDefs().Add("Amount", ftFloat);
  DS->FieldDefs().Add("Since", ftDate);
  DS->CreateDataSet();
  DS->AppendRecord({1221, "Ángel Compañía", 10.5, EncodeDate(1998, 12, 25)});
  DS->AppendRecord({1231, "Velero Azul", 20.0, EncodeDate(1999, 1, 2)});
  DS->AppendRecord({1351, "Corales del Sur", Variant::Null(), Variant::Null()});
  DS->AppendRecord({1354, "Pesca Tarifa", 30.25, EncodeDate(2000, 6, 1)});
  DS->AppendRecord({1356, "ángel compañía", 40.0, EncodeDate(2001, 7, 7)});
  DS->First();
  return DS;
}

// Counts the notifications a control would receive, and records their order.
class TCountingLink : public TDataLink {
 public:
  int Changed = 0, Scrolled = 0, Active = 0, Changing = 0;
  std::string Log;
  void DataSetChanging() override { ++Changing, Log += 'b'; }
  void ActiveChanged() override { ++Active, Log += 'a'; }
  void DataSetChanged() override { ++Changed, Log += 'c'; }
  void DataSetScrolled() override { ++Scrolled, Log += 's'; }
};

TEST(DataSetFields, DeclarationOrderAndNamesInAnyCase) {
  auto DS = MakeCustomers();
  ASSERT_EQ(DS->FieldCount(), 4);
  EXPECT_EQ(DS->Fields(0)->FieldName(), "CustNo");
  EXPECT_EQ(DS->Fields(3)->FieldName(), "Since");
  EXPECT_EQ(DS->FieldByName("company"), DS->Fields(1));
  EXPECT_EQ(DS->FindField("COMPANY"), DS->Fields(1));
  EXPECT_EQ(DS->FindField("Nope"), nullptr);
  try {
    DS->FieldByName("Nope");
    FAIL() << "FieldByName must raise for a missing name";
  } catch (const EDatabaseError& E) {
    EXPECT_NE(E.Message().find("Nope"), std::string::npos);
  }
}

TEST(DataSetFields, EmptyValueIsNullAndTypesConvert) {
  auto DS = MakeCustomers();
  DS->SetRecNo(3);
  EXPECT_TRUE(DS->FieldByName("Amount")->Value().IsNull());
  EXPECT_TRUE(DS->FieldByName("Since")->Value().IsNull());
  EXPECT_EQ(DS->FieldByName("Amount")->AsString(), "");
  DS->First();
  EXPECT_EQ(DS->FieldByName("CustNo")->AsInteger(), 1221);
  EXPECT_EQ(DS->FieldByName("Amount")->AsString(), "10,5");
  EXPECT_EQ(DS->FieldByName("Since")->AsString(), "25/12/1998");
}

TEST(DataSetFields, ClosedWithoutPersistentFieldsHasNone) {
  TMemDataSet DS;
  DS.FieldDefs().Add("A", ftString, 10);
  EXPECT_EQ(DS.FieldCount(), 0);
  DS.CreateDataSet();
  EXPECT_EQ(DS.FieldCount(), 1);
  DS.Close();
  EXPECT_EQ(DS.FieldCount(), 0);
}

TEST(DataSetFields, PersistentFieldsKeepTheirSettingsAcrossOpen) {
  TMemDataSet DS;
  auto* Amount = DS.AddField<TFloatField>("Amount");
  Amount->SetDisplayFormat("#,##0.00");
  Amount->SetDisplayLabel("Importe");
  DS.CreateDataSet();
  DS.AppendRecord({1234.5});
  EXPECT_EQ(DS.FieldCount(), 1);
  EXPECT_EQ(Amount->DisplayText(), "1.234,50");
  EXPECT_EQ(Amount->DisplayLabel(), "Importe");
  DS.Close();
  EXPECT_EQ(DS.FieldCount(), 1);
}

TEST(DataSetFields, FieldDefsCreateFieldAppendsLast) {
  TMemDataSet DS;
  DS.AddField<TStringField>("A");
  TFieldDefs Defs;
  Defs.Add("B", ftInteger);
  Defs.Add("C", ftString, 5);
  EXPECT_EQ(Defs.IndexOf("c"), 1);
  EXPECT_EQ(Defs.IndexOf("x"), -1);
  TField* F = Defs.Items(Defs.IndexOf("B")).CreateField(&DS);
  EXPECT_EQ(DS.Fields(DS.FieldCount() - 1), F);
  EXPECT_EQ(F->DataType(), ftInteger);
  EXPECT_NE(dynamic_cast<TNumericField*>(F), nullptr);
}

TEST(DataSetFields, LookupAndCalculatedFields) {
  auto Customers = MakeCustomers();
  TMemDataSet Orders;
  Orders.AddField<TIntegerField>("OrderNo");
  Orders.AddField<TFloatField>("CustNo");
  Orders.AddLookupField("Company", ftString, Customers.get(), "CustNo", "CustNo", "Company", 30);
  TField* Twice = Orders.AddField<TFloatField>("Twice");
  Twice->SetCalculated(true);
  Twice->OnCalcValue = [](const TDataSet& DS, TBookmark Row) -> Variant {
    return DS.FieldByName("CustNo")->ValueAt(Row).AsDouble() * 2;
  };
  Orders.CreateDataSet();
  Orders.AppendRecord({1003, 1351.0});
  Orders.AppendRecord({1004, 9999.0});
  Orders.First();
  EXPECT_EQ(Orders.FieldByName("Company")->AsString(), "Corales del Sur");
  EXPECT_DOUBLE_EQ(Twice->AsFloat(), 2702.0);
  Orders.Next();
  EXPECT_TRUE(Orders.FieldByName("Company")->Value().IsNull());
  EXPECT_EQ(Orders.FieldByName("Company")->DisplayTextAt(Orders.RowAt(0)), "Corales del Sur");
}

// A lookup dataset destroyed before the dataset whose field reads it: the field lets go of it
// and reads as empty.
TEST(DataSetFields, LookupDataSetDestroyedFirst) {
  auto Customers = MakeCustomers();
  TMemDataSet Orders;
  Orders.AddField<TFloatField>("CustNo");
  TField* Company =
      Orders.AddLookupField("Company", ftString, Customers.get(), "CustNo", "CustNo", "Company");
  Orders.CreateDataSet();
  Orders.AppendRecord({1351.0});
  EXPECT_EQ(Company->AsString(), "Corales del Sur");
  Customers.reset();
  EXPECT_EQ(Company->LookupDataSet(), nullptr);
  EXPECT_TRUE(Company->Value().IsNull());
  EXPECT_EQ(Company->DisplayText(), "");
}

// A dataset opened over another's store keeps what it was given when the other appends; the
// other's filter, set before its store was copied, reads the copy.
TEST(DataSetStore, AppendsGoToACopyOthersDoNotSee) {
  auto A = MakeCustomers();
  TMemDataSet B;
  B.OpenStore(A->StorePtr());
  A->SetFilter("CustNo > 1355");
  A->SetFiltered(true);
  A->AppendRecord({1400, "Nuevo", 1.0, Variant::Null()});
  A->AppendRecord({1300, "Fuera", 1.0, Variant::Null()});
  A->AppendRecord({1500, "Otro", 2.0, Variant::Null()});
  EXPECT_EQ(A->RecordCount(), 3);
  EXPECT_EQ(A->FieldByName("Company")->AsString(), "Otro");
  A->Refresh();
  EXPECT_EQ(A->RecordCount(), 3);
  EXPECT_EQ(A->Store()->RowCount(), 8u);
  B.Refresh();
  EXPECT_EQ(B.RecordCount(), 5);
  EXPECT_EQ(B.Store()->RowCount(), 5u);
}

// Indexes and orders built on demand on a shared store are built once, whichever thread asks.
TEST(DataSetStore, LazyIndexesAreBuiltOnceAcrossThreads) {
  auto Build = std::make_shared<TTableStore>();
  Build->AddColumn({"Key", ftInteger, 0, false});
  Build->AddColumn({"Name", ftString, 10, false});
  for (int I = 0; I < 20000; ++I) Build->AppendRow({I % 97, std::to_string(I % 1013)});
  std::shared_ptr<const TTableStore> Store = Build;
  std::vector<const THashIndex*> Hashes(8);
  std::vector<const std::vector<uint32_t>*> Orders(8);
  std::vector<std::thread> Threads;
  for (size_t T = 0; T < Hashes.size(); ++T)
    Threads.emplace_back([&, T] {
      Hashes[T] = &Store->HashIndex({0});
      Orders[T] = &Store->SortedRows({1, 0});
    });
  for (auto& T : Threads) T.join();
  for (size_t T = 1; T < Hashes.size(); ++T) {
    EXPECT_EQ(Hashes[T], Hashes[0]);
    EXPECT_EQ(Orders[T], Orders[0]);
  }
  EXPECT_EQ(Hashes[0]->Buckets.size(), 97u);
  EXPECT_EQ(Orders[0]->size(), 20000u);
}

TEST(DataSetMoving, SumRecordsOverAPositionRange) {
  auto DS = MakeCustomers();
  const std::vector<const TField*> F{DS->FieldByName("Amount"), DS->FieldByName("CustNo")};
  EXPECT_EQ(DS->KnownRecordCount(), 5);
  // Either order, the null Amount left out, the range cut at the last record.
  EXPECT_EQ(DS->SumRecords(F, 3, 1), (std::vector<double>{50.25, 3936}));
  EXPECT_EQ(DS->SumRecords(F, 4, 99), (std::vector<double>{40.0, 1356}));
  DS->SetFilter("Amount > 15");
  DS->SetFiltered(true);
  EXPECT_EQ(DS->SumRecords(F, 0, 2), (std::vector<double>{90.25, 3941}));
  EXPECT_EQ(DS->SumRecords(F, 7, 9), (std::vector<double>{0, 0}));
}

TEST(DataSetMoving, BofEofAndMoveBy) {
  auto DS = MakeCustomers();
  EXPECT_TRUE(DS->Bof());
  DS->Prior();
  EXPECT_TRUE(DS->Bof());
  EXPECT_EQ(DS->RecNo(), 1);
  EXPECT_EQ(DS->MoveBy(10), 4);
  EXPECT_TRUE(DS->Eof());
  EXPECT_EQ(DS->RecNo(), 5);
  DS->Next();
  EXPECT_EQ(DS->RecNo(), 5);
  DS->First();
  EXPECT_FALSE(DS->IsEmpty());
  EXPECT_EQ(DS->RecordCount(), 5);
}

TEST(DataSetFind, HonoursFilterTextWhileNotFilteredAndStopsAtEnds) {
  auto DS = MakeCustomers();
  DS->SetFilterOptions(foCaseInsensitive);
  DS->SetFilter("Company = 'ángel*'");
  EXPECT_FALSE(DS->Filtered());
  EXPECT_EQ(DS->RecordCount(), 5);
  ASSERT_TRUE(DS->FindFirst());
  EXPECT_EQ(DS->FieldByName("CustNo")->AsInteger(), 1221);
  ASSERT_TRUE(DS->FindNext());
  EXPECT_EQ(DS->FieldByName("CustNo")->AsInteger(), 1356);
  EXPECT_FALSE(DS->FindNext());
  EXPECT_EQ(DS->FieldByName("CustNo")->AsInteger(), 1356);
  ASSERT_TRUE(DS->FindPrior());
  EXPECT_EQ(DS->FieldByName("CustNo")->AsInteger(), 1221);
  EXPECT_FALSE(DS->FindPrior());
  EXPECT_EQ(DS->FieldByName("CustNo")->AsInteger(), 1221);
  ASSERT_TRUE(DS->FindLast());
  EXPECT_EQ(DS->FieldByName("CustNo")->AsInteger(), 1356);
}

TEST(DataSetFind, NoMatchLeavesThePosition) {
  auto DS = MakeCustomers();
  DS->SetRecNo(2);
  DS->SetFilter("CustNo = 42");
  EXPECT_FALSE(DS->FindFirst());
  EXPECT_EQ(DS->RecNo(), 2);
}

TEST(DataSetFilter, AppliesAtOnceAndBadTextKeepsThePreviousFilter) {
  auto DS = MakeCustomers();
  DS->SetFilter("Amount > 15");
  DS->SetFiltered(true);
  EXPECT_EQ(DS->RecordCount(), 3);
  DS->SetRecNo(2);
  EXPECT_THROW(DS->SetFilter("Amount >"), EDatabaseError);
  EXPECT_EQ(DS->Filter(), "Amount > 15");
  EXPECT_EQ(DS->RecordCount(), 3);
  EXPECT_EQ(DS->RecNo(), 2);
  EXPECT_THROW(DS->SetFilter("Nope = 1"), EDatabaseError);
  EXPECT_EQ(DS->RecordCount(), 3);
  DS->SetFiltered(false);
  EXPECT_EQ(DS->RecordCount(), 5);
}

TEST(DataSetFilter, CaseFollowsFilterOptions) {
  auto DS = MakeCustomers();
  DS->SetFilter("Company = 'ÁNGEL COMPAÑÍA'");
  DS->SetFiltered(true);
  EXPECT_EQ(DS->RecordCount(), 0);
  DS->SetFilterOptions(foCaseInsensitive);
  EXPECT_EQ(DS->RecordCount(), 2);
}

TEST(DataSetLocate, OptionsAndValueForms) {
  auto DS = MakeCustomers();
  struct Case {
    const char* Fields;
    Variant Values;
    TLocateOptions Options;
    int ExpectedCustNo;  // 0: not found
  } Cases[] = {
      {"CustNo", 1354, 0, 1354},
      {"CustNo", "1354", 0, 1354},
      {"Company", "velero azul", 0, 0},
      {"Company", "velero azul", loCaseInsensitive, 1231},
      {"Company", "Pes", 0, 0},
      {"Company", "Pes", loPartialKey, 1354},
      {"Company", "ÁNGEL", loPartialKey | loCaseInsensitive, 1221},
      {"Amount", Variant::Null(), 0, 1351},
      {"Since", EncodeDate(2000, 6, 1), 0, 1354},
  };
  for (const auto& C : Cases) {
    DS->First();
    bool Found = DS->Locate(C.Fields, C.Values, C.Options);
    EXPECT_EQ(Found, C.ExpectedCustNo != 0) << C.Fields << " " << C.Values.AsString();
    if (Found) {
      EXPECT_EQ(DS->FieldByName("CustNo")->AsInteger(), C.ExpectedCustNo);
    }
  }
  Variant Key = VarArrayCreate(0, 1);
  Key[0] = "ángel compañía";
  Key[1] = 40.0;
  ASSERT_TRUE(DS->Locate("Company;Amount", Key, 0));
  EXPECT_EQ(DS->FieldByName("CustNo")->AsInteger(), 1356);
}

// Several keys led by a number: the first row where every key matches, Nulls matching only Null.
TEST(DataSetLocate, NumberLedKeysFindTheFirstFullMatch) {
  TMemDataSet DS;
  DS.FieldDefs().Add("N", ftInteger);
  DS.FieldDefs().Add("F", ftFloat);
  DS.FieldDefs().Add("T", ftString, 5);
  DS.CreateDataSet();
  const Variant Null = Variant::Null();
  DS.AppendRecord({Null, 1.0, "a"});
  DS.AppendRecord({2, 1.0, "b"});
  DS.AppendRecord({2, Null, "c"});
  DS.AppendRecord({2, 2.0, "d"});
  DS.AppendRecord({3, 2.0, "e"});
  auto Key = [](Variant A, Variant B) {
    Variant K = VarArrayCreate(0, 1);
    K[0] = A;
    K[1] = B;
    return K;
  };
  const struct {
    const char* Fields;
    Variant Values;
    const char* Want;  // "" when not found
  } Cases[] = {
      {"N;F", Key(2, 2.0), "d"}, {"F;T", Key(2.0, "e"), "e"}, {"N", Null, "a"},
      {"F;N", Key(1.0, 2), "b"}, {"N;F", Key(2, Null), "c"},  {"F", Variant(3.0), ""},
      {"N;T", Key(3, "d"), ""},  {"N", Variant("3"), "e"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Fields);
    DS.Last();
    const bool Found = DS.Locate(C.Fields, C.Values, 0);
    EXPECT_EQ(Found, C.Want[0] != 0);
    if (Found) {
      EXPECT_EQ(DS.FieldByName("T")->AsString(), C.Want);
    }
  }
}

TEST(DataSetLocate, BadInputRaisesAndKeepsPosition) {
  auto DS = MakeCustomers();
  DS->SetRecNo(2);
  Variant Key = VarArrayCreate(0, 1);
  Key[0] = 1;
  Key[1] = 2;
  EXPECT_THROW(DS->Locate("CustNo", Key, 0), EDatabaseError);
  EXPECT_THROW(DS->Locate("Nope", 1, 0), EDatabaseError);
  EXPECT_THROW(DS->Locate("CustNo", "abc", 0), EDatabaseError);
  EXPECT_EQ(DS->RecNo(), 2);
}

TEST(DataSetBookmarks, GoBackToARowAndRejectHiddenOnes) {
  auto DS = MakeCustomers();
  DS->SetRecNo(4);
  TBookmark B = DS->GetBookmark();
  DS->First();
  DS->GotoBookmark(B);
  EXPECT_EQ(DS->FieldByName("CustNo")->AsInteger(), 1354);
  DS->SetFilter("CustNo < 1300");
  DS->SetFiltered(true);
  EXPECT_FALSE(DS->BookmarkValid(B));
  EXPECT_THROW(DS->GotoBookmark(B), EDatabaseError);
}

TEST(DataSetControls, DisableIsACounterAndEnableNotifiesOnce) {
  auto DS = MakeCustomers();
  TDataSource Source;
  Source.SetDataSet(DS.get());
  TCountingLink Link;
  Link.SetDataSource(&Source);
  DS->Next();
  EXPECT_EQ(Link.Scrolled, 1);
  DS->DisableControls();
  DS->DisableControls();
  DS->Next();
  DS->SetFilter("CustNo > 1300");
  DS->SetFiltered(true);
  EXPECT_EQ(Link.Scrolled, 1);
  EXPECT_EQ(Link.Changed, 0);
  DS->EnableControls();
  EXPECT_TRUE(DS->ControlsDisabled());
  EXPECT_EQ(Link.Changed, 0);
  DS->EnableControls();
  EXPECT_FALSE(DS->ControlsDisabled());
  EXPECT_EQ(Link.Changed, 1);
  DS->EnableControls();  // an extra enable is harmless
  EXPECT_EQ(Link.Changed, 1);
}

// What a view relies on: "changing" before the rows change and one answer after, a scroll when
// only the record moved, nothing when nothing visible changed.
TEST(DataSetControls, NotificationsAViewCanUse) {
  auto DS = MakeCustomers();
  TDataSource Source;
  Source.SetDataSet(DS.get());
  TCountingLink Link;
  Link.SetDataSource(&Source);
  Link.Log.clear();

  DS->Close();
  DS->Open();
  EXPECT_EQ(Link.Log, "baba") << "open and close are announced and answered by active changed";

  Link.Log.clear();
  DS->SetFilter("CustNo > 1300");  // not filtered: no visible row changes
  EXPECT_EQ(Link.Log, "");
  DS->SetFiltered(true);
  EXPECT_EQ(Link.Log, "bc");
  Link.Log.clear();
  DS->Refresh();  // same rows, same record
  EXPECT_EQ(Link.Log, "");
  DS->Next();
  Link.Log.clear();
  DS->Refresh();  // same rows, back to the first record
  EXPECT_EQ(Link.Log, "s");

  // A pending scroll stays a scroll after EnableControls; a pending change announces itself at
  // once and is answered once.
  Link.Log.clear();
  DS->DisableControls();
  DS->Next();
  DS->Prior();
  DS->Next();
  DS->EnableControls();
  EXPECT_EQ(Link.Log, "s");
  Link.Log.clear();
  DS->DisableControls();
  DS->SetFiltered(false);
  EXPECT_EQ(Link.Log, "b");
  DS->Next();
  DS->EnableControls();
  EXPECT_EQ(Link.Log, "bc");

  // A find that moves the cursor is a scroll, whether or not controls are disabled around it.
  DS->First();
  Link.Log.clear();
  DS->SetFilter("Company = 'Pesca Tarifa'");
  DS->DisableControls();
  EXPECT_TRUE(DS->FindNext());
  DS->EnableControls();
  EXPECT_EQ(Link.Log, "s");

  // The data source switching datasets and dying both reach the link in the same order.
  auto Other = MakeCustomers();
  Link.Log.clear();
  Source.SetDataSet(Other.get());
  EXPECT_EQ(Link.Log, "ba");
}

TEST(DataSetControls, DataSourceSwitchAndDestructionAreSafe) {
  auto DS = MakeCustomers();
  TCountingLink Link;
  {
    TDataSource Source;
    Link.SetDataSource(&Source);
    Source.SetDataSet(DS.get());
    EXPECT_EQ(Link.DataSet(), DS.get());
  }
  EXPECT_EQ(Link.DataSource(), nullptr);
  TDataSource Source2;
  {
    TMemDataSet Temp;
    Temp.FieldDefs().Add("A", ftString, 5);
    Temp.CreateDataSet();
    Source2.SetDataSet(&Temp);
  }
  EXPECT_EQ(Source2.DataSet(), nullptr);
}

}  // namespace

namespace {
// Bookmark lookups stay right across the changes of the visible rows that keep positions cached.
TEST(DataSetBookmarks, PositionsFollowFilterAppendAndReopen) {
  auto DS = MakeCustomers();
  std::vector<TBookmark> Marks;
  for (DS->First(); !DS->Eof(); DS->Next()) Marks.push_back(DS->GetBookmark());
  for (size_t I = Marks.size(); I-- > 0;) {
    DS->GotoBookmark(Marks[I]);
    EXPECT_EQ(DS->RecNo(), static_cast<int>(I) + 1);
  }
  DS->SetFilter("CustNo > 1300");
  DS->SetFiltered(true);
  EXPECT_FALSE(DS->BookmarkValid(Marks[0]));
  EXPECT_EQ(DS->IndexOfRow(Marks[2]), 0);
  DS->AppendRecord({1400, "Nuevo", 1.0, Variant::Null()});
  const TBookmark Appended = DS->GetBookmark();
  DS->First();
  EXPECT_EQ(DS->IndexOfRow(Appended), 3);
  DS->SetFiltered(false);
  EXPECT_EQ(DS->IndexOfRow(Marks[0]), 0);
  EXPECT_EQ(DS->IndexOfRow(Appended), 5);
  DS->Close();
  EXPECT_FALSE(DS->BookmarkValid(Marks[0]));
  DS->Open();
  EXPECT_EQ(DS->IndexOfRow(Marks[4]), 4);
}
}  // namespace
