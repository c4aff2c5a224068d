// The save-file dialog: the filter text turned into Qt's name filters, and Execute driven from
// its own modal loop (accepting a name, changing the file type, cancelling).
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLineEdit>

#include "FormsTestSupport.h"
#include "SaveDialogs.h"

using namespace kv;

namespace {

TEST(SaveDialogFilter, PairsBecomeNameFilters) {
  EXPECT_EQ(ToQtNameFilters("Paradox (*.db)|*.db|ASCII (*.txt)|*.txt|DBase / Excel (*.dbf)|*.dbf|"
                            "Todos los archivos (*.*)|*.*"),
            (QStringList{"Paradox (*.db)", "ASCII (*.txt)", "DBase / Excel (*.dbf)",
                         "Todos los archivos (*.*)"}));
  EXPECT_EQ(ToQtNameFilters("Tablas|*.db;*.dbf"), (QStringList{"Tablas (*.db *.dbf)"}));
  EXPECT_EQ(ToQtNameFilters("Texto (*.x)|*.txt"), (QStringList{"Texto (*.x) (*.txt)"}))
      << "Qt reads the last parentheses: they must be the real patterns";
  EXPECT_EQ(ToQtNameFilters("Texto|*.txt|"), (QStringList{"Texto (*.txt)"}));
  EXPECT_TRUE(ToQtNameFilters("").isEmpty());
  EXPECT_THROW(ToQtNameFilters("Texto|*.txt|Sin patrón"), Exception);
  EXPECT_THROW(ToQtNameFilters("Texto|"), Exception);
  TSaveDialog D;
  EXPECT_THROW(D.SetFilter("Texto|*.txt|Otro"), Exception);
  EXPECT_EQ(D.Filter(), "");
}

class SaveDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    D.SetFilter("Paradox (*.db)|*.db|ASCII (*.txt)|*.txt|DBase / Excel (*.dbf)|*.dbf");
    D.SetFilterIndex(2);
    D.SetInitialDir(TestFilePath(""));
    D.OnTypeChange = [this](TObject* Sender) {
      EXPECT_EQ(Sender, &D);
      Types.push_back(D.FilterIndex());
    };
  }
  TSaveDialog D;
  std::vector<int> Types;
};

TEST_F(SaveDialogTest, AcceptedNameAndChosenType) {
  D.SetFileName("Resultado");
  WhenModal([this](QWidget* W) {
    auto* Dlg = qobject_cast<QFileDialog*>(W);
    ASSERT_EQ(Dlg, D.Dialog());
    EXPECT_EQ(Dlg->selectedNameFilter(), "ASCII (*.txt)") << "FilterIndex counts from 1";
    EXPECT_EQ(Dlg->windowTitle(), "Guardar como");
    Dlg->selectNameFilter("DBase / Excel (*.dbf)");
    emit Dlg->filterSelected("DBase / Excel (*.dbf)");
    Dlg->findChild<QLineEdit*>()->setText("Lista.dbf");
    static_cast<QDialog*>(Dlg)->accept();  // as the Save button does
  });
  ASSERT_TRUE(D.Execute());
  EXPECT_EQ(D.FileName(), TestFilePath("Lista.dbf"));
  EXPECT_EQ(D.FilterIndex(), 3);
  EXPECT_EQ(Types, (std::vector<int>{3}));
  EXPECT_EQ(D.Dialog(), nullptr);
}

TEST_F(SaveDialogTest, CancelKeepsEverything) {
  D.SetFileName("Resultado");
  WhenModal([](QWidget* W) { qobject_cast<QFileDialog*>(W)->reject(); });
  EXPECT_FALSE(D.Execute());
  EXPECT_EQ(D.FileName(), "Resultado");
  EXPECT_EQ(D.FilterIndex(), 2);
}

TEST_F(SaveDialogTest, DefaultExtensionCompletesANameWithout) {
  D.SetDefaultExt("db");
  WhenModal([](QWidget* W) {
    auto* Dlg = qobject_cast<QFileDialog*>(W);
    Dlg->findChild<QLineEdit*>()->setText("Lista");
    static_cast<QDialog*>(Dlg)->accept();  // as the Save button does
  });
  ASSERT_TRUE(D.Execute());
  EXPECT_EQ(D.FileName(), TestFilePath("Lista.db"));
}

}  // namespace
