// The package's windows pictured at the screen sizes users have (1024 × 768 and 1280 × 800),
// with every text that must show whole measured against the room its control gives it: the
// column box and its list, the date pickers, the message box titles. The pictures are left in
// the build tree to be looked at.
#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>

#include "DialogTestSupport.h"

using namespace kv;

using namespace dialogtest;

namespace {

const QSize Screens[] = {{1024, 768}, {1280, 800}};

std::string SizeName(const QSize& S) {
  return std::to_string(S.width()) + "x" + std::to_string(S.height());
}

// Whether the line edit shows its whole text.
bool ShowsWhole(QLineEdit* E) {
  const QMargins M = E->textMargins();
  const int Room = E->contentsRect().width() - M.left() - M.right() - 4;  // Qt's own margin
  return E->fontMetrics().horizontalAdvance(E->text()) <= Room;
}

QLineEdit* EditOf(QWidget* W) {
  return W->findChild<QLineEdit*>();
}

TEST(WholeTexts, SearchFormShowsItsTextsWholeAtBothSizes) {
  TTable Clientes;
  OpenTable(Clientes, "CLIENTES.DB");
  TSearchDialog Dialog;
  Dialog.SetDataSet(&Clientes);
  for (const QSize& Size : Screens) {
    OnForm(
        Dialog,
        [&](TSearchDialogBox& F) {
          F.resize(Size);
          const std::string Name = "search-" + SizeName(Size);
          Pick(F.CCampo, "Todas las columnas");
          EXPECT_EQ(F.CCampo->width(), 137) << "the box keeps its width";
          EXPECT_TRUE(ShowsWhole(F.CCampo->lineEdit())) << Name;
          Shot(&F, Name + "-all");
          F.CCampo->showPopup();
          QAbstractItemView* List = F.CCampo->view();
          int Longest = 0;
          for (int I = 0; I < F.CCampo->count(); ++I)
            Longest =
                std::max(Longest, List->fontMetrics().horizontalAdvance(F.CCampo->itemText(I)));
          EXPECT_GE(List->viewport()->width(), Longest + 8) << "the list is as wide as its items";
          Shot(List->window(), Name + "-list");
          F.CCampo->hidePopup();
          // The long date of the longest day and month names.
          Pick(F.CCampo, "Since");
          F.DTValor->SetDate(EncodeDate(2000, 9, 27));
          EXPECT_TRUE(ShowsWhole(EditOf(F.DTValor))) << EditOf(F.DTValor)->text().toStdString();
          Shot(&F, Name + "-date");
          Pick(F.CCampo, "Joined");
          F.DT1Valor->SetDate(EncodeDate(2000, 12, 25));
          EXPECT_TRUE(ShowsWhole(EditOf(F.DT1Valor)));
          EXPECT_TRUE(ShowsWhole(EditOf(F.HT1Valor)));
          Shot(&F, Name + "-datetime");
          Pick(F.CCampo, "Active");
          EXPECT_GE(F.CBValor->width(), F.CBValor->sizeHint().width()) << "the box's caption";
          Shot(&F, Name + "-flag");
          for (TButton* B : F.findChildren<TButton*>()) {
            if (!B->isVisible()) continue;
            EXPECT_GE(B->width(), B->sizeHint().width()) << B->Caption() << " " << Name;
          }
          for (TCheckBox* B : F.findChildren<TCheckBox*>()) {
            if (!B->isVisible()) continue;
            EXPECT_GE(B->width(), B->sizeHint().width()) << B->Caption() << " " << Name;
          }
          WhenShown(F.ExportBox(), [&F, Name] {
            TFExportBox* E = F.ExportBox();
            for (QWidget* W : E->findChildren<QWidget*>()) {
              auto* B = qobject_cast<QAbstractButton*>(W);
              if (!B || !B->isVisible()) continue;
              EXPECT_GE(B->width(), B->sizeHint().width()) << B->text().toStdString();
            }
            Shot(E, Name + "-export");
            E->SetModalResult(mrCancel);
          });
          QTest::mouseClick(F.BTExportar, Qt::LeftButton);
        },
        TEnd::Cancel);
    EXPECT_FALSE(Dialog.Execute());
  }
}

TEST(WholeTexts, MessageBoxTitlesAreNotElided) {
  const std::string OldTitle = Application->Title();
  Application->SetTitle("TsearchDialog demo");
  for (const char* Text : {"Valor de campo no válido", "No"}) {
    WhenModalIs([] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); },
                [Text](QWidget* Box) {
                  QFont TitleFont = QApplication::font("QMdiSubWindowTitleBar");
                  TitleFont.setBold(true);
                  const int Title = QFontMetrics(TitleFont).horizontalAdvance(Box->windowTitle());
                  EXPECT_GE(Box->width(), Title + 120) << "room for the title and its buttons";
                  Shot(Box, std::string("message-") + (Text[1] == 'o' ? "short" : "long"));
                  static_cast<QMessageBox*>(Box)->accept();
                });
    ShowQtMessageBox(Text, mtError, "");
  }
  Application->SetTitle(OldTitle);
}

}  // namespace
