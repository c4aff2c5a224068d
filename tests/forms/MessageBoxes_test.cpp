// Message boxes: the recorder that tests install, and the real Qt boxes (plain box: one OK, no
// icon; error box: the error icon, one OK; titled with the application's title; the detail in
// the details section), operated from their own modal loop.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QTest>

#include "Forms.h"
#include "FormsTestSupport.h"
#include "MessageBoxes.h"

using namespace kv;

namespace {

TEST(MessageRecorder, RecordsAndRestoresThePreviousHandler) {
  TMessageRecorder Outer;
  {
    TMessageRecorder Inner;
    ShowMessage("Registros encontrados:5");
    EXPECT_EQ(MessageDlg("Valor de campo no válido", mtError, "detalle"), 1);
    ASSERT_EQ(Inner.Count(), 2);
    EXPECT_EQ(Inner.Messages()[0].Msg, "Registros encontrados:5");
    EXPECT_EQ(Inner.Messages()[0].Kind, mtCustom);
    EXPECT_EQ(Inner.Last().Kind, mtError);
    EXPECT_EQ(Inner.Last().Detail, "detalle");
  }
  EXPECT_EQ(Outer.Count(), 0);
  ShowMessage("otra");
  EXPECT_EQ(Outer.Count(), 1);
  Outer.Clear();
  EXPECT_THROW(Outer.Last(), Exception);
}

// Installs the Qt boxes for one test and gives the recorder back afterwards.
class QtBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Previous = SetMessageHandler(ShowQtMessageBox);
    Application->SetTitle("TsearchDialog demo");
  }
  void TearDown() override {
    SetMessageHandler(std::move(Previous));
    Application->SetTitle("");
  }
  // Shows a box through Show and returns what it looked like; the box is closed with its button.
  struct TSeen {
    QString Title, Text, Detail;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    int Buttons = 0;
    bool Modal = false;
    Qt::CursorShape Cursor = Qt::ArrowCursor;  // the application's cursor while it shows
  };
  TSeen Run(const std::function<void()>& Show, const std::string& ShotName) {
    TSeen Seen;
    WhenModal([&](QWidget* W) {
      auto* Box = qobject_cast<QMessageBox*>(W);
      ASSERT_NE(Box, nullptr);
      Seen = {Box->windowTitle(),
              Box->text(),
              Box->detailedText(),
              Box->icon(),
              static_cast<int>(Box->buttons().size()),
              Box->isModal(),
              QApplication::overrideCursor() ? QApplication::overrideCursor()->shape()
                                             : Qt::ArrowCursor};
      Shot(Box, ShotName);
      QTest::mouseClick(Box->buttons().front(), Qt::LeftButton);
    });
    Show();
    return Seen;
  }
  TMessageHandler Previous;
};

TEST_F(QtBoxTest, PlainBoxHasOneButtonNoIconAndTheTitle) {
  const TSeen S = Run([] { ShowMessage("No se puede pasar al registro siguiente"); }, "box-plain");
  EXPECT_EQ(S.Title, "TsearchDialog demo");
  EXPECT_EQ(S.Text, "No se puede pasar al registro siguiente");
  EXPECT_EQ(S.Icon, QMessageBox::NoIcon);
  EXPECT_EQ(S.Buttons, 1);
  EXPECT_TRUE(S.Modal);
}

TEST_F(QtBoxTest, ErrorBoxHasTheErrorIconAndTheDetail) {
  const TSeen S = Run(
      [] {
        MessageDlg("No se ha podido exportar el resultado", mtError,
                   "Permiso denegado: /datos/Resultado.db");
      },
      "box-error");
  EXPECT_EQ(S.Icon, QMessageBox::Critical);
  EXPECT_EQ(S.Buttons, 2) << "OK and the details button";
  EXPECT_EQ(S.Detail, "Permiso denegado: /datos/Resultado.db");
  const TSeen Plain =
      Run([] { MessageDlg("Valor de condicion no válido", mtError); }, "box-error-plain");
  EXPECT_EQ(Plain.Buttons, 1);
  EXPECT_EQ(Plain.Detail, "");
}

// An error raised while long work shows its busy cursor: the box shows the arrow, and the busy
// cursor is back once it closes.
TEST_F(QtBoxTest, ABoxOverBusyWorkShowsTheArrowUntilItCloses) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const TSeen S = Run([] { MessageDlg("No se ha podido exportar el resultado", mtError); },
                      "box-over-busy-work");
  EXPECT_EQ(S.Cursor, Qt::ArrowCursor);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  QApplication::restoreOverrideCursor();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
