// The search window from the keyboard and what it tells the user: Enter in the column and
// condition boxes, the find keys (Ctrl+F, F3, Shift+F3, F1, Ctrl+Tab), the colour of a value that
// matches nothing, a click on a column title, and the step arrows.
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTextBrowser>
#include <fstream>

#include "DialogTestSupport.h"

using namespace kv;

using namespace dialogtest;

namespace {

// A key pressed where the focus is, as the keyboard sends it.
void Press(TSearchDialogBox& F, int Key, Qt::KeyboardModifiers Mods = {}) {
  QWidget* W = F.focusWidget() ? F.focusWidget() : &F;
  QTest::keyClick(W, static_cast<Qt::Key>(Key), Mods);
}

// Types into a combo box's text as the user does, replacing it.
void TypeInto(TComboBox* C, const std::string& Text) {
  C->setFocus();
  QTest::keyClick(C->lineEdit(), Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(C->lineEdit(), QString::fromStdString(Text));
}

// The value editor's background, away from its text.
QColor EditorBack(QWidget* W) {
  return W->grab().toImage().pixelColor(W->width() / 2, 3);
}

bool LightRed(const QColor& C) {
  return C.red() > 230 && C.green() < 215 && C.blue() < 215;
}

class KeyboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OpenTable(Clientes, "CLIENTES.DB");
    Dialog.SetDataSet(&Clientes);
    Since = Messages->Count();
  }
  TTable Clientes;
  TSearchDialog Dialog;
  int Since = 0;
};

TEST_F(KeyboardTest, EnterConfirmsColumnAndConditionAndAcceptsOnlyFromTheValue) {
  bool StillOpen = false;
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        TypeInto(F.CCampo, "Cit");  // completes to City
        Press(F, Qt::Key_Return);
        EXPECT_TRUE(F.isVisible()) << "Enter in Columna: confirms the column only";
        EXPECT_EQ(F.CCampo->Text(), "City");
        EXPECT_EQ(F.DBGrid1->SelectedField()->FieldName(), "City");
        EXPECT_EQ(F.focusWidget(), F.ETValor) << "and moves to the value";
        TypeInto(F.CCondicion, "igual a");
        Press(F, Qt::Key_Enter);
        EXPECT_TRUE(F.isVisible()) << "Enter in Condicion: confirms the condition only";
        EXPECT_EQ(F.focusWidget(), F.ETValor);
        // A column that is none: its message, as on a pick, and the window stays.
        TypeInto(F.CCampo, "Todas las columnas");
        F.CCampo->lineEdit()->setText("Nada");
        Press(F, Qt::Key_Return);
        EXPECT_EQ(MessagesSince(Since), std::vector<std::string>{"Valor de campo no válido"});
        EXPECT_EQ(F.CCampo->Text(), "Todas las columnas");
        Pick(F.CCampo, "City");
        Pick(F.CCondicion, "igual a");
        QTest::keyClicks(F.ETValor, "Vigo");
        StillOpen = F.isVisible();
        Press(F, Qt::Key_Return);  // Enter in the value accepts, as before
      },
      TEnd::Leave);
  EXPECT_TRUE(Dialog.Execute());
  EXPECT_TRUE(StillOpen);
  EXPECT_EQ(Dialog.Results()->FieldByName("CustNo")->AsInteger(), 5);
  Dialog.Liberate();
}

TEST_F(KeyboardTest, ValueThatMatchesNothingIsLightRedUntilOneMatches) {
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        Pick(F.CCampo, "Company");
        const QColor Plain = EditorBack(F.ETValor);
        EXPECT_FALSE(LightRed(Plain));
        QTest::keyClicks(F.ETValor, "Ana");
        EXPECT_FALSE(LightRed(EditorBack(F.ETValor))) << "Ana matches";
        QTest::keyClicks(F.ETValor, "x");
        EXPECT_TRUE(LightRed(EditorBack(F.ETValor))) << "Anax matches nothing";
        EXPECT_EQ(F.ETValor->palette().color(QPalette::Text), QColor(Qt::black))
            << "dark text on it, whatever the palette";
        QTest::keyClick(F.ETValor, Qt::Key_Backspace);
        EXPECT_FALSE(LightRed(EditorBack(F.ETValor))) << "a match clears it";
        QTest::keyClicks(F.ETValor, "x");
        Erase(F.ETValor);
        EXPECT_EQ(EditorBack(F.ETValor), Plain) << "an empty value clears it";
        QTest::keyClicks(F.ETValor, "Zz");
        ASSERT_TRUE(LightRed(EditorBack(F.ETValor)));
        Pick(F.CCampo, "City");
        EXPECT_TRUE(LightRed(EditorBack(F.ETValor))) << "Zz is still no city";
        ClickCell(F.DBGrid1, 0, 0);
        EXPECT_EQ(EditorBack(F.ETValor), Plain) << "another column clears it";
        // The date picker says it too.
        Pick(F.CCampo, "Since");
        F.DTValor->setFocus();
        QTest::keyClicks(F.DTValor, "01/01/1990");
        EXPECT_TRUE(LightRed(EditorBack(F.DTValor)));
        QTest::keyClicks(F.DTValor, "25/12/2000");
        EXPECT_FALSE(LightRed(EditorBack(F.DTValor)));
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());
}

TEST_F(KeyboardTest, FindKeysStepAndFocusAndTheHelpCloses) {
  const std::string Help = std::string(KV_BINARY_DIR) + "/keyboard-help.md";
  std::ofstream(Help) << "# Ayuda\n\nBúsquedas.\n";
  const std::string OldHelp = Application->HelpFile();
  Application->SetHelpFile(Help);
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        Pick(F.CCampo, "Company");
        QTest::keyClicks(F.ETValor, "Ana");
        ASSERT_EQ(Clientes.FieldByName("CustNo")->AsInteger(), 1);
        F.DBGrid1->setFocus();
        Press(F, Qt::Key_F3);
        EXPECT_EQ(Clientes.FieldByName("CustNo")->AsInteger(), 5) << "F3: the next match";
        Press(F, Qt::Key_F3);
        EXPECT_EQ(MessagesSince(Since),
                  std::vector<std::string>{"No se puede pasar al registro siguiente"});
        Press(F, Qt::Key_F3, Qt::ShiftModifier);
        EXPECT_EQ(Clientes.FieldByName("CustNo")->AsInteger(), 1) << "Shift+F3: the previous";
        // Tab moves between the grid's columns; Ctrl+Tab leaves the grid.
        F.DBGrid1->setFocus();
        const int Column = F.DBGrid1->SelectedIndex();
        Press(F, Qt::Key_Tab);
        EXPECT_EQ(F.focusWidget(), F.DBGrid1);
        EXPECT_EQ(F.DBGrid1->SelectedIndex(), Column + 1);
        Press(F, Qt::Key_Tab, Qt::ControlModifier);
        EXPECT_NE(F.focusWidget(), F.DBGrid1);
        // Ctrl+F from anywhere: the value.
        F.DBGrid1->setFocus();
        Press(F, Qt::Key_F, Qt::ControlModifier);
        EXPECT_EQ(F.focusWidget(), F.ETValor);
        EXPECT_EQ(F.ETValor->selectedText().toStdString(), "Ana");
        // Without a match the arrows are off, and so is F3.
        QTest::keyClicks(F.ETValor, "Zz");
        const int Messages = static_cast<int>(MessagesSince(Since).size());
        Press(F, Qt::Key_F3);
        EXPECT_EQ(static_cast<int>(MessagesSince(Since).size()), Messages);
        Press(F, Qt::Key_F1);
        QTextBrowser* H = Application->HelpWindow();
        ASSERT_NE(H, nullptr);
        EXPECT_TRUE(H->isVisible()) << "F1: the application's help";
        QTest::keyClick(H, Qt::Key_Escape);
        EXPECT_FALSE(H->isVisible()) << "Escape closes the help";
        EXPECT_TRUE(F.isVisible());
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());
  Application->SetHelpFile(OldHelp);
}

TEST_F(KeyboardTest, TitleClickChoosesTheColumnAndArrowsPointWhereTheyAre) {
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        ClickCell(F.DBGrid1, 3, 0);
        QTest::keyClicks(F.ETValor, "4");
        const int Record = Clientes.RecNo();
        QHeaderView* H = F.DBGrid1->horizontalHeader();
        const int City = 2;
        QTest::mouseClick(
            H->viewport(), Qt::LeftButton, {},
            QPoint(H->sectionViewportPosition(City) + H->sectionSize(City) / 2, H->height() / 2));
        EXPECT_EQ(F.CCampo->Text(), "City");
        EXPECT_EQ(F.DBGrid1->SelectedIndex(), City);
        EXPECT_EQ(F.CCondicion->Text(), "empieza por");
        EXPECT_EQ(F.CCondicion->Items().Count(), 8);
        EXPECT_FALSE(F.SPSiguiente->isEnabled());
        EXPECT_EQ(Clientes.RecNo(), Record) << "the record stays";
        EXPECT_EQ(F.ETValor->Text(), "4") << "the value stays, as on a cell click";
        // Previous above next, pointing up and down: the widest row of ink is at the base.
        EXPECT_LT(F.SPAnterior->y(), F.SPSiguiente->y());
        auto WidestRowIsLow = [](const QPixmap& P) {
          const QImage I = P.toImage();
          int Widest = -1, WidestY = -1, Top = -1, Bottom = -1;
          for (int Y = 0; Y < I.height(); ++Y) {
            int Ink = 0;
            for (int X = 0; X < I.width(); ++X) Ink += qAlpha(I.pixel(X, Y)) > 128;
            if (Ink > 0 && Top < 0) Top = Y;
            if (Ink > 0) Bottom = Y;
            if (Ink > Widest) Widest = Ink, WidestY = Y;
          }
          return WidestY > (Top + Bottom) / 2;
        };
        EXPECT_TRUE(WidestRowIsLow(F.SPAnterior->Glyph())) << "previous points up";
        EXPECT_FALSE(WidestRowIsLow(F.SPSiguiente->Glyph())) << "next points down";
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());
}

}  // namespace
