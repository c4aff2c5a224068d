// Forms and the application object: a Designer form with promoted controls, creation and
// destruction events, modal results of buttons, Escape and closing, key preview, placement,
// the application's title, form creation and help window.
#include <gtest/gtest.h>

#include <QFile>
#include <QScreen>
#include <QTest>
#include <QTextBrowser>
#include <fstream>

#include "ExampleForm.h"
#include "FormsTestSupport.h"
#include "Glyphs.h"
#include "MessageBoxes.h"

using namespace kv;

namespace {

TEST(FormDesigner, PromotedWidgetsAreTheToolkitsControls) {
  TExampleForm F;
  EXPECT_EQ(F.CCampo->metaObject()->className(), std::string("kv::TComboBox"));
  EXPECT_EQ(F.DBGrid1->metaObject()->className(), std::string("kv::TDBGrid"));
  EXPECT_EQ(F.BTAceptar->Caption(), "&Aceptar");
  // Properties set in the .ui reach the toolkit's own members.
  EXPECT_EQ(F.BTAceptar->Kind(), bkOK);
  EXPECT_EQ(F.BTAceptar->ModalResult(), mrOk);
  EXPECT_EQ(F.BTCancelar->ModalResult(), mrCancel);
  EXPECT_TRUE(F.BTCancelar->Cancel());
  EXPECT_TRUE(F.RBParadox->Checked());
  EXPECT_EQ(F.STRegistros->frameShadow(), QFrame::Sunken);
  EXPECT_TRUE(F.ETValor->Visible()) << "Visible is the control's own flag, form not shown";
  F.ETValor->SetVisible(false);
  EXPECT_FALSE(F.ETValor->Visible());
}

TEST(FormDesigner, ExampleFormShowsItsControlsAndGrid) {
  TExampleForm F;
  auto DS = MakeCustomers();
  TDataSource S;
  S.SetDataSet(DS.get());
  F.DBGrid1->SetDataSource(&S);
  F.DBGrid1->SetOptions(DefaultDBGridOptions | dgAlwaysShowSelection | dgMultiSelect);
  F.DBGrid1->Columns().Items(1)->Title().SetColor(clAqua);
  F.DBGrid1->Columns().Items(2)->SetColor(clAqua);
  F.DBGrid1->Columns().Items(3)->Title().SetColor(clBlack);
  F.DBGrid1->Columns().Items(3)->Title().Font().SetColor(clYellow);
  F.DBGrid1->Columns().Items(3)->Title().SetCaption("60.75");
  F.CCampo->Items().Add("Todas las columnas");
  F.CCampo->SetText("Todas las columnas");
  F.STRegistros->SetColor(clSilver);
  F.STRegistros->SetCaption("Registros encontrados:5");
  F.Animate1->SetCommonAVI(aviFindComputer);
  F.SPSiguiente->SetGlyph(DrawGlyph(TGlyph::Next, 16));
  F.Show();
  const QImage I = Shot(&F, "example-form");
  // Every date shows whole: the column is as wide as its text.
  const QFontMetrics FM(F.DBGrid1->font());
  EXPECT_GE(F.DBGrid1->Columns().Items(4)->Width(), FM.horizontalAdvance("25/12/1998") + 8);
  EXPECT_GE(F.BTAceptar->width(), F.BTAceptar->sizeHint().width());
  F.close();
}

TEST(FormEvents, CreateOnceWithControlsShowOnShowDestroyOnDelete) {
  int Shown = 0, Destroyed = 0;
  auto* F = new TExampleForm;
  EXPECT_EQ(F->Created, 1);
  EXPECT_TRUE(F->ControlsReadyAtCreate);
  F->OnShow = [&](TObject* Sender) {
    EXPECT_EQ(Sender, F);
    ++Shown;
  };
  F->OnDestroy = [&](TObject*) { ++Destroyed; };
  WhenModal([](QWidget* M) { static_cast<TForm*>(M)->SetModalResult(mrOk); });
  EXPECT_EQ(F->ShowModal(), mrOk);
  EXPECT_EQ(F->Created, 1) << "showing does not create again";
  EXPECT_EQ(Shown, 1);
  delete F;
  EXPECT_EQ(Destroyed, 1);
}

TEST(FormEvents, FormWithoutDoCreateGetsOnCreateBeforeItsFirstShow) {
  TForm F;
  std::string Log;
  F.OnCreate = [&](TObject*) { Log += "c"; };
  F.OnShow = [&](TObject*) { Log += "s"; };
  F.Show();
  F.close();
  F.Show();
  EXPECT_EQ(Log, "css");
}

TEST(FormEvents, OwnedFormDiesWithItsOwner) {
  auto Owner = std::make_unique<TComponent>();
  bool Destroyed = false;
  auto* F = new TForm(Owner.get());
  F->OnDestroy = [&](TObject*) { Destroyed = true; };
  Owner.reset();
  EXPECT_TRUE(Destroyed);
}

TEST(FormEvents, FormOwnedByAFormIsItsQtChildAndEitherMayGoFirst) {
  auto* Main = new TForm;
  auto* Child = new TForm(Main);
  EXPECT_EQ(Child->parentWidget(), Main);
  EXPECT_TRUE(Child->isWindow());
  delete Child;  // leaves both its owner and its Qt parent
  EXPECT_EQ(Main->ComponentCount(), 0);
  bool ChildGone = false;
  auto* Second = new TForm(Main);
  Second->OnDestroy = [&](TObject*) { ChildGone = true; };
  delete Main;
  EXPECT_TRUE(ChildGone);
}

// The modal result of each way out of a modal form.
TEST(FormModal, ButtonsEscapeAndClosingGiveTheirResults) {
  TExampleForm F;
  WhenModal([&](QWidget*) { QTest::mouseClick(F.BTAceptar, Qt::LeftButton); });
  EXPECT_EQ(F.ShowModal(), mrOk);
  WhenModal([&](QWidget*) { QTest::mouseClick(F.BTCancelar, Qt::LeftButton); });
  EXPECT_EQ(F.ShowModal(), mrCancel);
  WhenModal([&](QWidget*) { QTest::keyClick(&F, Qt::Key_Escape); });
  EXPECT_EQ(F.ShowModal(), mrCancel);
  WhenModal([&](QWidget*) { F.close(); });
  EXPECT_EQ(F.ShowModal(), mrCancel);
  // Closing and then setting the result: the last result set is the answer.
  WhenModal([&](QWidget*) {
    F.Close();
    F.SetModalResult(mrOk);
  });
  EXPECT_EQ(F.ShowModal(), mrOk);
}

TEST(FormModal, ButtonHandlerRunsAndEscapeClicksTheCancelButton) {
  TExampleForm F;
  int Accepted = 0, Cancelled = 0;
  F.BTAceptar->OnClick = [&](TObject*) { ++Accepted; };
  F.BTCancelar->OnClick = [&](TObject*) { ++Cancelled; };
  WhenModal([&](QWidget*) { QTest::mouseClick(F.BTAceptar, Qt::LeftButton); });
  EXPECT_EQ(F.ShowModal(), mrOk);
  WhenModal([&](QWidget*) { QTest::keyClick(F.ETValor, Qt::Key_Escape); });
  EXPECT_EQ(F.ShowModal(), mrCancel);
  EXPECT_EQ(Accepted, 1);
  EXPECT_EQ(Cancelled, 1);
}

TEST(FormModal, PlainButtonWithModalResultClosesTheForm) {
  TExampleForm F;
  F.BTOrdenar->SetModalResult(mrRetry);
  WhenModal([&](QWidget*) { F.BTOrdenar->Click(); });
  EXPECT_EQ(F.ShowModal(), mrRetry);
}

TEST(FormModal, ShowModalOfAVisibleFormIsRefused) {
  TForm F;
  F.Show();
  EXPECT_THROW(F.ShowModal(), Exception);
}

TEST(FormWindow, MaximisedOrCentred) {
  TForm Big;
  Big.SetWindowState(wsMaximized);
  WhenModal([](QWidget* M) {
    EXPECT_TRUE(M->windowState() & Qt::WindowMaximized);
    static_cast<TForm*>(M)->SetModalResult(mrCancel);
  });
  Big.ShowModal();

  TForm Small;
  Small.resize(200, 100);
  Small.SetPosition(poScreenCenter);
  Small.Show();
  const QRect Area = Small.screen()->availableGeometry();
  EXPECT_LE((Small.geometry().center() - Area.center()).manhattanLength(), 4);
}

TEST(FormWindow, BorderIconsAreTheTitleBarsButtons) {
  TForm F;
  EXPECT_TRUE(F.windowFlags() & Qt::WindowMaximizeButtonHint);
  F.SetBorderIcons(biSystemMenu | biHelp);
  EXPECT_FALSE(F.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(F.windowFlags() & Qt::WindowContextHelpButtonHint);
  EXPECT_TRUE(F.windowFlags() & Qt::WindowCloseButtonHint);
}

TEST(FormKeys, KeyPreviewSeesKeysOfEveryControlOnce) {
  TExampleForm F;
  std::vector<Word> Keys;
  F.OnKeyDown = [&](TObject*, Word& Key, TShiftState) {
    Keys.push_back(Key);
    if (Key == VK_F1) Key = 0;  // swallowed: the control never sees it
  };
  F.Show();
  F.ETValor->setFocus();
  QTest::keyClick(F.ETValor, Qt::Key_F1);
  EXPECT_TRUE(Keys.empty()) << "no preview until KeyPreview is on";
  F.SetKeyPreview(true);
  QTest::keyClick(F.ETValor, Qt::Key_F1);
  QTest::keyClick(F.ETValor, Qt::Key_A);
  EXPECT_EQ(Keys, (std::vector<Word>{VK_F1, 'A'}));
  EXPECT_EQ(F.ETValor->Text(), "a") << "only the swallowed key is kept from the control";
}

// ---- the application object

TEST(ApplicationObject, TitleDefaultsToTheProgramName) {
  EXPECT_EQ(Application->Title(), "tests_forms");
  EXPECT_EQ(ExtractFileName(Application->ExeName()), "tests_forms");
  Application->SetTitle("TsearchDialog demo");
  EXPECT_EQ(Application->Title(), "TsearchDialog demo");
  Application->SetTitle("");
}

TEST(ApplicationObject, CreateFormOwnsTheFormAndTheFirstIsMain) {
  TForm* First = nullptr;
  TDataModule* Module = nullptr;
  TForm* Second = nullptr;
  int ModuleCreated = 0;
  Application->CreateForm(First);
  Application->CreateForm(Module);
  Module->OnCreate = [&](TObject*) { ++ModuleCreated; };
  Application->CreateForm(Second);
  ASSERT_NE(First, nullptr);
  EXPECT_EQ(Application->MainForm(), First);
  EXPECT_EQ(First->Owner(), Application);
  delete First;
  EXPECT_EQ(Application->MainForm(), nullptr) << "a destroyed main form is forgotten";
  delete Second;
  delete Module;
}

class HelpWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { Saved = Application->HelpFile(); }
  void TearDown() override {
    Application->HelpCommand(HELP_QUIT, 0);
    Application->SetHelpFile(Saved);
  }
  std::string Write(const std::string& Name, const std::string& Text) {
    const std::string Path = TestFilePath(Name);
    std::ofstream(Path, std::ios::binary) << Text;
    return Path;
  }
  std::string Saved;
  TMessageRecorder Messages;
};

TEST_F(HelpWindowTest, MarkdownContentsInTheHelpWindow) {
  Application->SetHelpFile(Write("help.hlp", "# Búsquedas\n\nElija una **columna**.\n"));
  ASSERT_TRUE(Application->HelpCommand(HELP_CONTENTS, 0));
  QTextBrowser* W = Application->HelpWindow();
  ASSERT_NE(W, nullptr);
  EXPECT_TRUE(W->isVisible());
  EXPECT_TRUE(W->toPlainText().contains("Búsquedas"));
  EXPECT_FALSE(W->toPlainText().contains("**")) << "Markdown is rendered, not shown raw";
  EXPECT_TRUE(W->windowTitle().endsWith(" - Ayuda"));
  Shot(W, "help-window");
  Application->HelpCommand(HELP_QUIT, 0);
  EXPECT_FALSE(W->isVisible());
}

TEST_F(HelpWindowTest, HtmlContentsWhenTheFileStartsWithATag) {
  Application->SetHelpFile(Write("help.html",
                                 "\xEF\xBB\xBF  <html><body><h1>Ayuda</h1><p>"
                                 "<b>Filtra en Y</b></p></body></html>"));
  ASSERT_TRUE(Application->HelpCommand(HELP_CONTENTS, 0));
  EXPECT_EQ(Application->HelpWindow()->toPlainText().trimmed(), "Ayuda\nFiltra en Y");
}

TEST_F(HelpWindowTest, MissingOrUnsetHelpFileIsAnErrorBoxNamingIt) {
  Application->SetHelpFile("/nonexistent/TSEARCHDIALOG.HLP");
  EXPECT_FALSE(Application->HelpCommand(HELP_CONTENTS, 0));
  ASSERT_EQ(Messages.Count(), 1);
  EXPECT_EQ(Messages.Last().Msg,
            "No se ha podido abrir el archivo de ayuda '/nonexistent/TSEARCHDIALOG.HLP'");
  EXPECT_EQ(Messages.Last().Kind, mtError);
  EXPECT_FALSE(Messages.Last().Detail.empty());
  Application->SetHelpFile("");
  EXPECT_FALSE(Application->HelpCommand(HELP_CONTENTS, 0));
  EXPECT_EQ(Messages.Last().Msg, "La aplicación no tiene archivo de ayuda");
}

}  // namespace
