// The demo's pictures as compiled in (size, at most 16 colours, transparency of the glyphs) and
// its help file as the build copies it and the help window shows it.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <set>

#include "DemoResources.h"
#include "Forms.h"
#include "tools/ToolTestUtil.h"

using namespace kv;

namespace {

TEST(DemoPictures, EachLoadsAtItsSizeInSixteenColoursAtMost) {
  const struct {
    TDemoPicture Picture;
    int Width, Height;
    bool Transparent;
  } Cases[] = {
      {TDemoPicture::Banner, 350, 90, false},
      {TDemoPicture::SearchCustomer, 32, 32, true},
      {TDemoPicture::SearchOrders, 32, 32, true},
      {TDemoPicture::SearchItemsInOrder, 32, 32, true},
      {TDemoPicture::SearchAllItems, 32, 32, true},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(DemoPicturePath(C.Picture).toStdString());
    const QImage I = DemoPicture(C.Picture).toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(I.width(), C.Width);
    ASSERT_EQ(I.height(), C.Height);
    std::set<QRgb> Colours;
    for (int Y = 0; Y < I.height(); ++Y)
      for (int X = 0; X < I.width(); ++X) Colours.insert(I.pixel(X, Y));
    EXPECT_LE(Colours.size(), 16u);
    EXPECT_GE(Colours.size(), 6u);  // a drawing, not a blank
    // Glyphs sit on the button's own colour: their corners are transparent.
    EXPECT_EQ(qAlpha(I.pixel(0, 0)) == 0, C.Transparent);
    EXPECT_EQ(qAlpha(I.pixel(C.Width - 1, 0)) == 0, C.Transparent);
  }
  // Four different drawings.
  for (int A = 0; A < 4; ++A)
    for (int B = A + 1; B < 4; ++B)
      EXPECT_NE(DemoPicture(Cases[A + 1].Picture).toImage(),
                DemoPicture(Cases[B + 1].Picture).toImage());
}

TEST(DemoHelp, TheBuildCopiesTheHelpFileBesideTheProgram) {
  const std::string Copy = KV_BINARY_DIR "/demo/TSEARCHDIALOG.HLP";
  ASSERT_TRUE(tooltest::fs::exists(Copy));
  EXPECT_EQ(tooltest::ReadFile(Copy), tooltest::ReadFile(KV_SOURCE_DIR "/demo/TSEARCHDIALOG.HLP"));
  EXPECT_EQ(tooltest::fs::path(DemoHelpFile()).filename(), DemoHelpFileName);
  EXPECT_TRUE(tooltest::fs::path(DemoHelpFile()).is_absolute());
}

class DemoHelpWindow : public ::testing::Test {
 protected:
  void SetUp() override { Saved = Application->HelpFile(); }
  void TearDown() override {
    Application->HelpCommand(HELP_QUIT, 0);
    Application->SetHelpFile(Saved);
  }
  std::string Saved;
};

TEST_F(DemoHelpWindow, TheContentsShowWithEverySectionAndTheDialogsWords) {
  Application->SetHelpFile(KV_BINARY_DIR "/demo/TSEARCHDIALOG.HLP");
  ASSERT_TRUE(Application->HelpCommand(HELP_CONTENTS, 0));
  QTextBrowser* W = Application->HelpWindow();
  ASSERT_NE(W, nullptr);
  EXPECT_TRUE(W->isVisible());
  // Headings in order; every link of the index leads to an anchor of the document.
  std::vector<std::string> Headings;
  QStringList Links, Anchors;
  for (QTextBlock B = W->document()->begin(); B.isValid(); B = B.next()) {
    if (B.blockFormat().headingLevel() > 0) Headings.push_back(B.text().trimmed().toStdString());
    for (auto It = B.begin(); !It.atEnd(); ++It) {
      const QTextCharFormat F = It.fragment().charFormat();
      if (F.anchorHref().startsWith('#')) Links << F.anchorHref().mid(1);
      Anchors << F.anchorNames();
    }
  }
  const std::vector<std::string> Expected = {
      "Ayuda de las búsquedas",
      "La ventana de búsqueda",
      "Elegir la columna",
      "Las condiciones",
      "El valor",
      "Búsqueda mientras escribe y las flechas",
      "Filtrar: «Filtra en Y» y «Filtrar en O»",
      "Borrar filtro",
      "Ordenar y «Orden descendente»",
      "Distinguir mayúsculas",
      "Sumar las filas seleccionadas",
      "Exportar",
      "Imprimir",
      "Aceptar y Cancelar",
      "El programa de demostración",
  };
  EXPECT_EQ(Headings, Expected);
  EXPECT_EQ(Links.size(), static_cast<int>(Expected.size()) - 1);
  for (const QString& L : Links) EXPECT_TRUE(Anchors.contains(L)) << L.toStdString();
  // The dialog's own words, as it shows them, and the conditions in a table.
  const QString Text = W->toPlainText();
  for (const char* Word : {"Todas las columnas",
                           "contiene",
                           "empieza por",
                           "igual a",
                           "distinto a",
                           "mayor que",
                           "menor que",
                           "mayor o igual a",
                           "menor o igual a",
                           "Filtra en Y",
                           "Filtrar en O",
                           "Borrar filtro",
                           "Orden descendente",
                           "Distinguir mayúsculas",
                           "Registros encontrados:",
                           "Filtro:",
                           "Exportación de datos",
                           "Paradox (*.db)",
                           "ASCII (*.txt)",
                           "DBase / Excel (*.dbf)",
                           "Registros encontrados con filtro",
                           "Todos los registros de la tabla",
                           "Exporta los campos visibles",
                           "Exporta todos los campos",
                           "Nombre del archivo:",
                           "Examinar...",
                           "Aceptar",
                           "Cancelar",
                           "Seleccionado = cierto sino = falso",
                           "Search Customer",
                           "Search in all Orders",
                           "Search Items in Order",
                           "Search in all Items"})
    EXPECT_TRUE(Text.contains(QString::fromUtf8(Word))) << Word;
  bool InTable = false;
  for (QTextBlock B = W->document()->begin(); B.isValid(); B = B.next())
    if (B.text() == "contiene") InTable = InTable || QTextCursor(B).currentTable() != nullptr;
  EXPECT_TRUE(InTable) << "the conditions are laid out as a table";
  // A picture of the window, to be looked at.
  QDir().mkpath(KV_BINARY_DIR "/demo-shots");
  W->resize(720, 900);
  EXPECT_TRUE(W->grab().save(KV_BINARY_DIR "/demo-shots/help.png"));
}

}  // namespace
