// The progress hook: reports reach the handler, a false answer stops the work.
#include <gtest/gtest.h>

#include <thread>

#include "Progress.h"

using namespace kv;

TEST(Progress, ReportsReachTheHandlerAndFalseStopsTheWork) {
  EXPECT_FALSE(ProgressHandled());
  EXPECT_NO_THROW(ReportProgress("Exportando", 1, 10));  // no handler: nothing happens

  std::vector<TProgress> Seen;
  bool GoOn = true;
  SetProgressHandler([&](const TProgress& P) {
    Seen.push_back(P);
    return GoOn;
  });
  EXPECT_TRUE(ProgressHandled());
  ReportProgress("Exportando", 5, 10);
  ASSERT_EQ(Seen.size(), 1u);
  EXPECT_STREQ(Seen[0].What, "Exportando");
  EXPECT_EQ(Seen[0].Done, 5);
  EXPECT_EQ(Seen[0].Total, 10);
  ReportProgress("Exportando", 6, 10);  // too soon after the last: not passed on
  EXPECT_EQ(Seen.size(), 1u);

  GoOn = false;
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  try {
    ReportProgress("Buscando", 7);
    FAIL() << "a handler answering false must stop the work";
  } catch (const EAborted& E) {
    EXPECT_EQ(E.Message(), "Operación cancelada por el usuario");
  }
  SetProgressHandler(nullptr);
  EXPECT_FALSE(ProgressHandled());
}
