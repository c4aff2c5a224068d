// Fuzz target: the dataset filter language. The input is a filter text compiled against a small
// dataset with one field of each kind, then evaluated on every row under every option set and
// applied to the dataset as its filter. Errors must be EDatabaseError/Exception, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "DB.h"
#include "DateTime.h"
#include "Filter.h"

using namespace kv;

namespace {

TMemDataSet& Sample() {
  static TMemDataSet* DS = [] {
    auto* D = new TMemDataSet;
    auto& F = D->FieldDefs();
    F.Add("Id", ftInteger);
    F.Add("Name", ftString, 20);
    F.Add("Qty", ftSmallint);
    F.Add("Price", ftFloat);
    F.Add("Amount", ftCurrency);
    F.Add("Active", ftBoolean);
    F.Add("Born", ftDate);
    F.Add("Stamp", ftDateTime);
    F.Add("At", ftTime);
    F.Add("Last Name", ftString, 20);
    F.Add("Notes", ftMemo);
    F.Add("Seq", ftAutoInc);
    D->CreateDataSet();
    const Variant N = Null();
    D->AppendRecord({1, "Ángel", 10, 12.5, Variant::Currency(1500.5), true,
                     TDateTime(EncodeDate(1998, 12, 31)), TDateTime(36160.5),
                     TDateTime(EncodeTime(8, 30, 0, 0)), "O'Brien", "línea\nsegunda", 1});
    D->AppendRecord({2, "ángel", -20, -7.25, Variant::Currency(-99.99), false,
                     TDateTime(EncodeDate(2000, 1, 1)), TDateTime(36526), TDateTime(0.75), "García",
                     "x", 2});
    D->AppendRecord({3, "Bernardo*", N, 1e300, N, N, N, N, N, N, N, 3});
    D->AppendRecord({N, "", 32767, N, Variant::Currency(0), true, TDateTime(-693593),
                     TDateTime(2958465.99999), TDateTime(0), "[x]", "", N});
    return D;
  }();
  return *DS;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  TMemDataSet& DS = Sample();
  try {
    auto Prog = TFilterProgram::Compile(Text, DS);
    for (TFilterOptions O = 0; O < 4; ++O)
      for (uint32_t R = 0; R < DS.Store()->RowCount(); ++R) (void)Prog->Matches(R, O);
  } catch (const Exception&) {
    return 0;
  }
  // The same text through the dataset: filtering, counting and finding.
  try {
    DS.SetFilter(Text);
    DS.SetFilterOptions(Size & 1 ? foCaseInsensitive : 0);
    DS.SetFiltered(true);
    (void)DS.RecordCount();
    DS.First();
    while (!DS.Eof()) DS.Next();
    DS.SetFiltered(false);
    if (DS.FindFirst()) (void)DS.FindNext();
    (void)DS.FindLast();
  } catch (const Exception&) {
  }
  DS.SetFiltered(false);
  DS.SetFilter("");
  return 0;
}
