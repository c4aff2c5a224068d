// The package: TSearchDialog alone on the palette page "KVPLUS" with its 32 × 32, 16-colour
// picture, and pictures of the forms as a user sees them (saved to be looked at).
#include <QSet>
#include <QTest>

#include "DialogTestSupport.h"
#include "KVplus.h"
#include "Registry.h"

using namespace kv;

using namespace dialogtest;

namespace {

TEST(Package, RegistersTheSearchDialogAloneOnKVPLUS) {
  ClearComponentRegistry();
  Register();
  Register();  // registering again does not duplicate
  EXPECT_EQ(PalettePages(), std::vector<std::string>{"KVPLUS"});
  const std::vector<TComponentClass> Classes = PaletteClasses("KVPLUS");
  ASSERT_EQ(Classes.size(), 1u);
  EXPECT_EQ(Classes[0].ClassName, "TSearchDialog");
  EXPECT_EQ(FindComponentClass("TKVFind"), nullptr) << "the engine is not on the palette";
  const QImage& Icon = Classes[0].Icon;
  ASSERT_FALSE(Icon.isNull());
  EXPECT_EQ(Icon.size(), QSize(32, 32));
  QSet<QRgb> Colours;
  for (int Y = 0; Y < Icon.height(); ++Y)
    for (int X = 0; X < Icon.width(); ++X) Colours.insert(Icon.pixel(X, Y));
  EXPECT_LE(Colours.size(), 16);
  EXPECT_GE(Colours.size(), 8) << "a picture, not a blank";
  Icon.scaled(256, 256).save(ShotPath("dialog-palette-picture"));
  TComponent Owner;
  TComponent* C = Classes[0].Create(&Owner);
  ASSERT_NE(dynamic_cast<TSearchDialog*>(C), nullptr);
  EXPECT_EQ(C->Owner(), &Owner);
  ClearComponentRegistry();
}

// The forms as the user sees them on the order items: after a filter, an order and a picked
// range with sums; and the export options. The pictures land in forms-shots/ to be looked at;
// what can be checked here is that nothing is cut or hidden.
TEST(Pictures, SearchAndExportForms) {
  TTable Articulos, Lineas;
  OpenItemsWithDescription(Articulos, Lineas);
  TSearchDialog D;
  D.SetDataSet(&Lineas);
  D.SetOnPrintButton([](TDataSet*) {});
  OnForm(
      D,
      [&](TSearchDialogBox& F) {
        Shot(&F, "dialog-search-start");
        // Every caption fits its control.
        for (QAbstractButton* B : F.findChildren<QAbstractButton*>()) {
          if (B->isVisible() && !B->text().isEmpty()) {
            EXPECT_GE(B->width(), B->sizeHint().width()) << B->objectName().toStdString();
          }
        }
        for (QLabel* L : {static_cast<QLabel*>(F.Label1), static_cast<QLabel*>(F.Label2),
                          static_cast<QLabel*>(F.Label3)})
          EXPECT_GE(L->width(), L->sizeHint().width()) << L->objectName().toStdString();
        EXPECT_GE(F.CCampo->width(),
                  F.CCampo->fontMetrics().horizontalAdvance("Todas las columnas"));
        AddToFilter(F, "Qty", "mayor que", "2");
        Shot(&F, "dialog-search-filtered");
        ClickCell(F.DBGrid1, 0, 4);
        QTest::mouseClick(F.BTOrdenar, Qt::LeftButton);
        Shot(&F, "dialog-search-ordered");
        ClickCell(F.DBGrid1, 0, 3);
        ClickCell(F.DBGrid1, 3, 3, Qt::ShiftModifier);
        ClickCell(F.DBGrid1, 4, 4, Qt::ControlModifier);
        EXPECT_EQ(F.STRegistros->Caption().rfind("Suma de Discount: ", 0), 0u);
        Shot(&F, "dialog-search-sums");
        WhenShown(F.ExportBox(), [&] {
          TFExportBox* B = F.ExportBox();
          Shot(B, "dialog-export");
          for (QAbstractButton* Button : B->findChildren<QAbstractButton*>()) {
            if (Button->isVisible()) {
              EXPECT_GE(Button->width(), Button->sizeHint().width())
                  << Button->objectName().toStdString();
            }
          }
          B->BitBtn2->click();
        });
        QTest::mouseClick(F.BTExportar, Qt::LeftButton);
      },
      TEnd::Cancel);
  EXPECT_FALSE(D.Execute());
}

}  // namespace
