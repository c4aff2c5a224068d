// Dates and times typed into the pickers from the keyboard, as users type them: field by field,
// with or without leading zeros, over a selected value, in any display format; impossible values
// are never taken.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>

#include "../core/TestLocale.h"
#include "ComCtrls.h"

using namespace kv;

namespace {

class TypedDates : public ::testing::Test {
 protected:
  void SetUp() override {
    P.SetDateFormat(dfLong);
    P.SetDateTime(TDateTime(EncodeDate(2000, 12, 25).Val + EncodeTime(8, 30, 0).Val));
    P.OnChange = [this](TObject*) { ++Changes; };
    P.show();
    P.setFocus();
  }
  void Type(const char* Keys, bool SelectAll = false) {
    if (SelectAll) QTest::keyClick(&P, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(&P, Keys);
  }
  double Day(int Y, int M, int D) const { return EncodeDate(Y, M, D).Val; }
  TLocaleScope Locale{TFormatSettings::Spanish()};
  TDateTimePicker P;
  int Changes = 0;
};

TEST_F(TypedDates, WholeDatesFieldByFieldGiveExactlyTheTypedDate) {
  const std::pair<const char*, double> Cases[] = {
      {"01/01/2020", Day(2020, 1, 1)}, {"15/03/2021", Day(2021, 3, 15)},
      {"1/3/2021", Day(2021, 3, 1)},   {"01032022", Day(2022, 3, 1)},
      {"9/11/1999", Day(1999, 11, 9)}, {"29/02/2024", Day(2024, 2, 29)}};
  for (const auto& [Keys, Expected] : Cases) {
    Changes = 0;
    Type(Keys, true);
    EXPECT_DOUBLE_EQ(P.Date().Val, Expected) << Keys;
    EXPECT_EQ(Changes, 1) << Keys << ": the typed date is the user's change";
    EXPECT_NEAR(P.Time().Val, EncodeTime(8, 30, 0).Val, 1e-9) << "the time part stays";
    EXPECT_EQ(P.Typed(), "");
  }
  // Without selecting first, and in the short format the same.
  P.SetDateFormat(dfShort);
  Type("07/08/2009");
  EXPECT_DOUBLE_EQ(P.Date().Val, Day(2009, 8, 7));
  EXPECT_EQ(P.text().toStdString(), "07/08/2009");
}

TEST_F(TypedDates, ImpossibleOrUnfinishedDatesAreNeverTaken) {
  Type("31/02/2021");
  EXPECT_DOUBLE_EQ(P.Date().Val, Day(2000, 12, 25)) << "31 February is no date";
  EXPECT_EQ(Changes, 0);
  EXPECT_EQ(P.text().toStdString(), "lunes, 25 de diciembre de 2000") << "the box shows its value";
  // Half a date: Enter does not take it, and the value stays.
  Type("15/13");
  QTest::keyClick(&P, Qt::Key_Return);
  EXPECT_DOUBLE_EQ(P.Date().Val, Day(2000, 12, 25));
  EXPECT_EQ(P.Typed(), "");
  // Day and month with Enter: this year's date; Escape drops what was typed.
  Type("2/5");
  QTest::keyClick(&P, Qt::Key_Escape);
  EXPECT_DOUBLE_EQ(P.Date().Val, Day(2000, 12, 25));
  Type("2/5");
  QTest::keyClick(&P, Qt::Key_Enter);
  int Year, Month, DayOfMonth;
  DecodeDate(Date(), Year, Month, DayOfMonth);
  EXPECT_DOUBLE_EQ(P.Date().Val, EncodeDate(Year, 5, 2).Val);
  // Backspace corrects a digit before the date is whole.
  Type("14/07/20");
  QTest::keyClick(&P, Qt::Key_Backspace);
  Type("019");
  EXPECT_DOUBLE_EQ(P.Date().Val, Day(2019, 7, 14));
}

TEST_F(TypedDates, TimesAndTheEnglishOrder) {
  P.SetKind(dtkTime);
  Type("8:05:09", true);
  EXPECT_NEAR(P.Time().Val, EncodeTime(8, 5, 9).Val, 1e-9);
  Type("23:45");
  QTest::keyClick(&P, Qt::Key_Return);
  EXPECT_NEAR(P.Time().Val, EncodeTime(23, 45, 0).Val, 1e-9);
  EXPECT_DOUBLE_EQ(P.Date().Val, Day(2000, 12, 25)) << "the date part stays";
  Type("25:00:00");
  EXPECT_NEAR(P.Time().Val, EncodeTime(23, 45, 0).Val, 1e-9) << "25 o'clock is no time";
  TLocaleScope English(TFormatSettings::English());
  TDateTimePicker E;
  E.show();
  E.setFocus();
  QTest::keyClicks(&E, "3/15/2021");
  EXPECT_DOUBLE_EQ(E.Date().Val, Day(2021, 3, 15)) << "month first, as that locale writes it";
}

}  // namespace
