// Scans of a whole row vector by the filter (FindFirst, FindNext, Filtered) agree with a test of
// each row on its own, for the equality fast path and the cases it hands back.
#include <gtest/gtest.h>

#include "DB.h"

namespace {

std::unique_ptr<TMemDataSet> Cities() {
  auto DS = std::make_unique<TMemDataSet>();
  DS->FieldDefs().Add("City", ftString, 20);
  DS->CreateDataSet();
  for (const char* C : {"Lima", "", "Madrid", "madrid", "Madrid", "Madridejos", "Lim", "Lima"})
    DS->AppendRecord({Variant(std::string(C))});
  return DS;
}

TEST(FilterScan, FindAndFilterAgreeWithRowTests) {
  struct Case {
    const char* Filter;
    TFilterOptions Options;
    std::vector<int> RecNos;  // 1-based records that match, in order
  } Cases[] = {
      {"City = 'Madrid'", 0, {3, 5}},
      {"City = 'Madrid'", foCaseInsensitive, {3, 4, 5}},
      {"City = 'Madrid*'", 0, {3, 5, 6}},
      {"City = 'Madrid*'", foNoPartialCompare, {}},
      {"City = 'Lima'", 0, {1, 8}},
      {"City = 'Quito'", 0, {}},
      {"City = ''", 0, {2}},
      {"City <> 'Lima'", 0, {3, 4, 5, 6, 7}},
  };
  for (const Case& C : Cases) {
    auto DS = Cities();
    DS->SetFilterOptions(C.Options);
    DS->SetFilter(C.Filter);
    std::vector<int> Found;
    for (bool Ok = DS->FindFirst(); Ok; Ok = DS->FindNext()) Found.push_back(DS->RecNo());
    EXPECT_EQ(Found, C.RecNos) << C.Filter << " options " << C.Options;
    DS->SetFiltered(true);
    EXPECT_EQ(DS->RecordCount(), static_cast<int>(C.RecNos.size())) << C.Filter;
  }
}

}  // namespace
