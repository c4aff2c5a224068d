// The standard and common controls driven as a user drives them: typed text and clicks fire the
// handlers, writes from code fire none; inline completion of combo boxes; date-time pickers in
// the locale's formats; the animation; colours and key codes.
#include <gtest/gtest.h>

#include <QCalendarWidget>
#include <QLineEdit>
#include <QTest>

#include "../core/TestLocale.h"
#include "Buttons.h"
#include "ComCtrls.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "FormsTestSupport.h"
#include "MessageBoxes.h"
#include "StdCtrls.h"

using namespace kv;

namespace {

TEST(Colors, ValuesAreBlueGreenRed) {
  EXPECT_EQ(clAqua, 0xFFFF00u);
  EXPECT_EQ(clSilver, 0xC0C0C0u);
  EXPECT_EQ(clBlack, 0u);
  EXPECT_EQ(clYellow, 0x00FFFFu);
  EXPECT_EQ(clWhite, 0xFFFFFFu);
  EXPECT_EQ(ToQColor(clAqua), QColor(0, 255, 255));
  EXPECT_EQ(ToQColor(clYellow), QColor(255, 255, 0));
  EXPECT_EQ(ToQColor(clRed), QColor(255, 0, 0));
  const QColor Info = ToQColor(clInfoBk);
  EXPECT_TRUE(Info.red() == 255 && Info.green() == 255 && Info.blue() > 200) << "pale yellow";
  EXPECT_EQ(ToTColor(QColor(0, 255, 255)), clAqua);
  QPalette P;
  P.setColor(QPalette::Base, QColor(1, 2, 3));
  EXPECT_EQ(ToQColor(clWindow, P), QColor(1, 2, 3));
}

TEST(Keys, CodesOfQtKeys) {
  EXPECT_EQ(KeyCodeOf(Qt::Key_F1), 112);
  EXPECT_EQ(KeyCodeOf(Qt::Key_A), 'A');
  EXPECT_EQ(KeyCodeOf(Qt::Key_Down), VK_DOWN);
  EXPECT_EQ(KeyCodeOf(Qt::Key_Escape), VK_ESCAPE);
  EXPECT_EQ(ShiftStateOf(Qt::ShiftModifier | Qt::ControlModifier), ssShift | ssCtrl);
}

TEST(ControlFont, ColourAndStyleApplyAtOnce) {
  TSpeedButton B;
  B.SetCaption("Search Customer");
  B.Font().SetColor(clRed);
  B.Font().SetStyle(fsBold);
  EXPECT_TRUE(B.font().bold());
  EXPECT_EQ(B.palette().color(QPalette::ButtonText), QColor(255, 0, 0));
  TStaticText S;
  S.SetColor(clBlack);
  S.Font().SetColor(clYellow);
  EXPECT_EQ(S.palette().color(QPalette::Window), QColor(0, 0, 0));
  EXPECT_EQ(S.palette().color(QPalette::WindowText), QColor(255, 255, 0));
  EXPECT_TRUE(S.autoFillBackground());
}

// ---- user-only events

TEST(UserOnlyEvents, EditFiresOnTypingNotOnWrites) {
  TEdit E;
  std::vector<std::string> Seen;
  E.OnChange = [&](TObject* Sender) { Seen.push_back(static_cast<TEdit*>(Sender)->Text()); };
  E.SetText("desde código");
  EXPECT_TRUE(Seen.empty());
  E.clear();
  QTest::keyClicks(&E, "ab");
  QTest::keyClick(&E, Qt::Key_Backspace);
  EXPECT_EQ(Seen, (std::vector<std::string>{"a", "ab", "a"}));
}

TEST(UserOnlyEvents, CheckAndRadioFireOnClicksNotOnWrites) {
  TCheckBox C;
  TRadioButton R;
  int Clicks = 0;
  C.OnClick = R.OnClick = [&](TObject*) { ++Clicks; };
  C.SetChecked(true);
  R.SetChecked(true);
  EXPECT_EQ(Clicks, 0);
  C.resize(120, 24);
  QTest::mouseClick(&C, Qt::LeftButton, {}, QPoint(8, 12));
  EXPECT_FALSE(C.Checked());
  QTest::keyClick(&C, Qt::Key_Space);
  EXPECT_TRUE(C.Checked());
  EXPECT_EQ(Clicks, 2);
}

TEST(UserOnlyEvents, ButtonsFireOnClickAndOnClickFromCode) {
  TButton B;
  TSpeedButton S;
  int N = 0;
  B.OnClick = S.OnClick = [&](TObject*) { ++N; };
  QTest::mouseClick(&B, Qt::LeftButton);
  B.Click();
  S.Click();
  EXPECT_EQ(N, 3);
  B.SetEnabled(false);
  QTest::mouseClick(&B, Qt::LeftButton);
  EXPECT_EQ(N, 3) << "a disabled button does nothing";
  EXPECT_FALSE(B.Enabled());
}

TEST(UserOnlyEvents, ExceptionFromAHandlerBecomesAnErrorBox) {
  TMessageRecorder Messages;
  TButton B;
  B.OnClick = [](TObject*) { throw Exception("Filtro no válido"); };
  B.Click();
  ASSERT_EQ(Messages.Count(), 1);
  EXPECT_EQ(Messages.Last().Msg, "Filtro no válido");
  EXPECT_EQ(Messages.Last().Kind, mtError);
}

// ---- combo boxes

class ComboTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* S : {"Todas las columnas", "City", "Country", "Company"}) C.Items().Add(S);
    C.OnChange = [this](TObject*) { Seen.push_back(C.Text()); };
    C.show();
  }
  TComboBox C;
  std::vector<std::string> Seen;
};

TEST_F(ComboTest, ItemsAddClearIndexOfKeepTheText) {
  EXPECT_EQ(C.Items().Count(), 4);
  EXPECT_EQ(C.Text(), "") << "adding items does not change the text";
  EXPECT_EQ(C.Items().IndexOf("country"), 2) << "IndexOf ignores case";
  EXPECT_EQ(C.Items().IndexOf("Nowhere"), -1);
  EXPECT_EQ(C.Items()[1], "City");
  EXPECT_THROW(C.Items()[9], Exception);
  C.SetText("igual a");
  C.Items().Add("mayor que");
  EXPECT_EQ(C.Text(), "igual a");
  EXPECT_EQ(C.ItemIndex(), -1);
  C.Items().Clear();
  EXPECT_EQ(C.Items().Count(), 0);
  EXPECT_EQ(C.Text(), "");
  EXPECT_TRUE(Seen.empty()) << "no item or text change from code fires OnChange";
}

TEST(ComboPickOnly, AddingItemsKeepsThePick) {
  TComboBox C;
  C.SetStyle(csDropDownList);
  C.Items().Add("Paradox");
  EXPECT_EQ(C.ItemIndex(), -1) << "nothing picked until the user or code picks";
  C.SetItemIndex(0);
  C.Items().Insert(0, "ASCII");
  EXPECT_EQ(C.Text(), "Paradox");
  EXPECT_EQ(C.ItemIndex(), 1);
}

TEST_F(ComboTest, WritingTextOrIndexFiresNothing) {
  C.SetText("Country");
  EXPECT_EQ(C.ItemIndex(), 2);
  C.SetItemIndex(1);
  EXPECT_EQ(C.Text(), "City");
  C.SetText("no es un elemento");
  EXPECT_EQ(C.Text(), "no es un elemento");
  EXPECT_TRUE(Seen.empty());
}

TEST_F(ComboTest, TypingAPrefixCompletesInlineBeforeOnChange) {
  C.SetText("");
  QTest::keyClicks(&C, "Ci");
  EXPECT_EQ(C.Text(), "City");
  EXPECT_EQ(C.lineEdit()->selectedText(), "ty") << "the completion stays selected";
  EXPECT_EQ(Seen, (std::vector<std::string>{"City", "City"}))
      << "the handler never sees a bare prefix";
  Seen.clear();
  C.lineEdit()->selectAll();
  QTest::keyClicks(&C, "com");
  EXPECT_EQ(C.Text(), "Company") << "completion ignores case and takes the item's text";
  EXPECT_EQ(Seen.back(), "Company");
}

TEST_F(ComboTest, DeletingDoesNotCompleteAgain) {
  C.SetText("");
  QTest::keyClicks(&C, "C");
  EXPECT_EQ(C.Text(), "City");
  QTest::keyClick(&C, Qt::Key_Backspace);  // drops the selected completion
  EXPECT_EQ(C.Text(), "C");
  EXPECT_EQ(Seen.back(), "C");
}

TEST_F(ComboTest, TextThatIsNoItemStaysAsTyped) {
  C.SetText("");
  QTest::keyClicks(&C, "Xyz");
  EXPECT_EQ(C.Text(), "Xyz");
  EXPECT_EQ(C.Items().Count(), 4) << "Enter must not add the text as an item";
  QTest::keyClick(&C, Qt::Key_Return);
  EXPECT_EQ(C.Items().Count(), 4);
}

// The search form's rule: a text that is no item goes back to item 0, and typing goes on.
TEST_F(ComboTest, HandlerPuttingAnItemBackLetsTheUserTypeOn) {
  C.OnChange = [this](TObject*) {
    Seen.push_back(C.Text());
    if (C.Items().IndexOf(C.Text()) < 0) C.SetText(C.Items()[0]);
  };
  C.activateWindow();
  C.setFocus();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&C));
  QTest::keyClicks(&C, "X");
  EXPECT_EQ(C.Text(), "Todas las columnas");
  EXPECT_EQ(C.lineEdit()->selectedText(), "Todas las columnas");
  QTest::keyClicks(&C, "co");
  EXPECT_EQ(C.Text(), "Country");
  EXPECT_EQ(Seen, (std::vector<std::string>{"X", "City", "Country"}));
}

TEST_F(ComboTest, PickingFromTheListFiresOnChange) {
  C.SetText("City");
  QTest::keyClick(&C, Qt::Key_Down);
  EXPECT_EQ(C.Text(), "Country");
  EXPECT_EQ(Seen, (std::vector<std::string>{"Country"}));
}

// ---- date-time pickers

TEST(DateFormats, PatternsOfTheLocaleBecomeQtFormats) {
  const TFormatSettings ES = TFormatSettings::Spanish();
  struct {
    const char* Pattern;
    const char* Qt;
  } Cases[] = {
      {"dd/mm/yyyy", "dd/MM/yyyy"}, {"dddd, d' de 'mmmm' de 'yyyy", "dddd, d' de 'MMMM' de 'yyyy"},
      {"'Día' d", "'Día 'd"},       {"\"O'Neil\" h", "'O''Neil 'h"},
      {"hh:nn:ss", "hh:mm:ss"},     {"h:mm", "h:mm"},
      {"hh:mm am/pm", "hh:mm AP"},  {"yy-m-d", "yy-M-d"},
      {"ddddd", "dd/MM/yyyy"},
  };
  for (const auto& C : Cases) EXPECT_EQ(StdStr(ToQtDateFormat(C.Pattern, ES)), C.Qt) << C.Pattern;
  TFormatSettings Dots = ES;
  Dots.DateSeparator = '.';
  EXPECT_EQ(StdStr(ToQtDateFormat("dd/mm/yyyy", Dots)), "dd.MM.yyyy");
}

TEST(DateTimeValues, ConversionsKeepDateAndTime) {
  const TDateTime D(EncodeDate(2000, 12, 25).Val + EncodeTime(8, 30, 0).Val);
  EXPECT_EQ(ToQDateTime(D), QDateTime(QDate(2000, 12, 25), QTime(8, 30), Qt::UTC));
  EXPECT_DOUBLE_EQ(ToTDateTime(ToQDateTime(D)).Val, D.Val);
  const TDateTime Old(-1.25);  // 29/12/1899 06:00
  EXPECT_EQ(ToQDateTime(Old), QDateTime(QDate(1899, 12, 29), QTime(6, 0), Qt::UTC));
  EXPECT_DOUBLE_EQ(ToTDateTime(ToQDateTime(Old)).Val, -1.25);
}

TEST(DateTimePicker, ShortAndLongDatesAndTimeKind) {
  TLocaleScope Locale(TFormatSettings::Spanish());
  TDateTimePicker P;
  P.SetDateTime(TDateTime(EncodeDate(2000, 12, 25).Val + EncodeTime(8, 30, 0).Val));
  EXPECT_EQ(StdStr(P.text()), "25/12/2000");
  EXPECT_TRUE(P.calendarPopup()) << "the date kind drops down a calendar";
  P.SetDateFormat(dfLong);
  EXPECT_EQ(StdStr(P.text()), "lunes, 25 de diciembre de 2000");
  P.SetKind(dtkTime);
  EXPECT_EQ(StdStr(P.text()), "08:30:00");
  EXPECT_FALSE(P.calendarPopup());
  EXPECT_DOUBLE_EQ(P.Date().Val, EncodeDate(2000, 12, 25).Val);
  EXPECT_NEAR(P.Time().Val, EncodeTime(8, 30, 0).Val, 1e-9);
}

TEST(DateTimePicker, EnglishSettingsGiveEnglishOrderAndNames) {
  TLocaleScope Locale(TFormatSettings::English());
  TDateTimePicker P;
  P.SetDate(EncodeDate(2000, 12, 25));
  EXPECT_EQ(StdStr(P.text()), "12/25/2000");
}

TEST(DateTimePicker, WritesKeepTheOtherPartAndFireNothing) {
  TDateTimePicker P;
  int Changes = 0;
  P.OnChange = [&](TObject*) { ++Changes; };
  P.SetDateTime(TDateTime(EncodeDate(1999, 1, 2).Val + EncodeTime(10, 0, 0).Val));
  P.SetDate(EncodeDate(2001, 7, 7));
  EXPECT_NEAR(P.Time().Val, EncodeTime(10, 0, 0).Val, 1e-9);
  P.SetTime(EncodeTime(0, 0, 0));
  EXPECT_DOUBLE_EQ(P.DateTime().Val, EncodeDate(2001, 7, 7).Val);
  P.SetKind(dtkTime);
  P.SetDateFormat(dfLong);
  EXPECT_EQ(Changes, 0);
}

TEST(DateTimePicker, UserEditsAndCalendarFireOnChange) {
  TDateTimePicker P;
  P.SetDate(EncodeDate(2000, 12, 25));
  int Changes = 0;
  P.OnChange = [&](TObject*) { ++Changes; };
  P.show();
  P.setCurrentSection(QDateTimeEdit::DaySection);
  QTest::keyClick(&P, Qt::Key_Up);
  EXPECT_DOUBLE_EQ(P.Date().Val, EncodeDate(2000, 12, 26).Val);
  EXPECT_EQ(Changes, 1);
  ASSERT_NE(P.calendarWidget(), nullptr);
  emit P.calendarWidget()->clicked(QDate(2001, 1, 3));
  EXPECT_DOUBLE_EQ(P.Date().Val, EncodeDate(2001, 1, 3).Val);
  EXPECT_EQ(Changes, 2);
}

// ---- animation, image, panel

TEST(Animation, PlaysWhileActiveAndRestsOnTheStopFrame) {
  TAnimate A;
  A.SetCommonAVI(aviFindComputer);
  A.SetStopFrame(8);
  A.resize(80, 50);
  A.show();
  EXPECT_EQ(A.FrameCount(), 16);
  EXPECT_EQ(A.CurrentFrame(), 8);
  A.SetActive(true);
  EXPECT_EQ(A.CurrentFrame(), 1) << "starting shows the first frame at once";
  std::set<int> Frames;
  EXPECT_TRUE(QTest::qWaitFor([&] {
    Frames.insert(A.CurrentFrame());
    return Frames.count(8) > 0 && Frames.count(2) > 0;
  }));
  EXPECT_LE(*Frames.rbegin(), 8) << "frames stay within StartFrame..StopFrame";
  A.SetActive(false);
  EXPECT_FALSE(A.Active());
  EXPECT_EQ(A.CurrentFrame(), 8);
  // Frames differ (the magnifier moves) and the picture is not blank.
  A.Seek(1);
  const QImage First = Shot(&A, "animate-frame1");
  A.Seek(8);
  const QImage Eighth = Shot(&A, "animate-frame8");
  EXPECT_NE(First, Eighth);
}

TEST(Animation, RepetitionsStopByThemselves) {
  TAnimate A;
  A.SetCommonAVI(aviFindComputer);
  A.SetStartFrame(1);
  A.SetStopFrame(2);
  A.SetRepetitions(1);
  A.SetActive(true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !A.Active(); }));
  EXPECT_EQ(A.CurrentFrame(), 2);
}

TEST(Image, LoadFromFileNamesTheFileItCannotRead) {
  TImage I;
  try {
    I.LoadFromFile("/nonexistent/foto.png");
    FAIL();
  } catch (const Exception& E) {
    EXPECT_EQ(E.Message(), "No se ha podido cargar la imagen '/nonexistent/foto.png'");
  }
  QPixmap P(350, 90);
  P.fill(Qt::red);
  const std::string Path = TestFilePath("picture.png");
  P.save(QStr(Path));
  I.LoadFromFile(Path);
  EXPECT_EQ(I.Picture().size(), QSize(350, 90));
}

TEST(Panel, CaptionAndBevel) {
  TPanel P;
  P.SetCaption("Resultado");
  P.SetBevelOuter(bvLowered);
  EXPECT_EQ(P.frameShadow(), QFrame::Sunken);
  P.resize(200, 40);
  const QImage I = Shot(&P);
  bool Dark = false;
  for (int X = 60; X < 140 && !Dark; ++X) Dark = qGray(I.pixel(X, 20)) < 100;
  EXPECT_TRUE(Dark) << "the caption is drawn";
}

TEST(BitBtn, KindsSetGlyphResultAndCaption) {
  TBitBtn Ok, Cancel, Custom;
  Ok.SetKind(bkOK);
  Cancel.SetCaption("&Salir");
  Cancel.SetKind(bkCancel);
  EXPECT_EQ(Ok.Caption(), "&Aceptar");
  EXPECT_TRUE(Ok.Default());
  EXPECT_FALSE(Ok.icon().isNull());
  EXPECT_EQ(Cancel.Caption(), "&Salir") << "a caption given stays";
  EXPECT_EQ(Cancel.ModalResult(), mrCancel);
  EXPECT_EQ(Custom.ModalResult(), mrNone);
}

}  // namespace
