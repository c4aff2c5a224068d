// TForm, TDataModule and TApplication: modal showing and results, creation and destruction
// events, key preview, placement, the Qt application's set-up, the event loop and the help window.
#include "Forms.h"

#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QStyleFactory>
#include <QTextBrowser>
#include <QTranslator>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "Dialogs.h"
#include "MessageBoxes.h"
#include "StdCtrls.h"
#include "SysUtils.h"

namespace kv {

// ---------------------------------------------------------------------------------- TForm

namespace {
QWidget* ParentOf(TComponent* AOwner, QWidget* Parent) {
  return Parent ? Parent : dynamic_cast<QWidget*>(AOwner);
}
}  // namespace

TForm::TForm(TComponent* AOwner, QWidget* Parent)
    : QDialog(ParentOf(AOwner, Parent)), TComponent(AOwner) {
  SetBorderIcons(FBorderIcons);
}

void TForm::SetBorderIcons(TBorderIcons V) {
  FBorderIcons = V;
  Qt::WindowFlags F = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (V & biSystemMenu) F |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (V & biMinimize) F |= Qt::WindowMinimizeButtonHint;
  if (V & biMaximize) F |= Qt::WindowMaximizeButtonHint;
  if (V & biHelp) F |= Qt::WindowContextHelpButtonHint;
  const bool Shown = isVisible();
  setWindowFlags(F);
  if (Shown) show();  // changing the flags hides a window
}

TForm::~TForm() {
  DoDestroy();
}

void TForm::DoCreate() {
  if (FCreated) return;
  FCreated = true;
  Fire(OnCreate, this);
}

void TForm::DoDestroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  Fire(OnDestroy, this);
}

int TForm::ShowModal() {
  if (isVisible()) throw Exception("No se puede mostrar como modal un formulario ya visible");
  DoCreate();
  setResult(mrNone);
  return exec();
}

void TForm::Show() {
  DoCreate();
  show();
  raise();
}

void TForm::Close() {
  if (isModal() && isVisible())
    SetModalResult(mrCancel);
  else
    close();
}

void TForm::SetModalResult(int V) {
  setResult(V);
  if (V != mrNone && isModal() && isVisible()) done(V);
}

void TForm::done(int R) {
  QDialog::done(R);
  setResult(R);
}

void TForm::reject() {
  done(mrCancel);
}

void TForm::accept() {
  done(mrOk);
}

void TForm::SetWindowState(TWindowState V) {
  FWindowState = V;
  Qt::WindowStates S = windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized);
  if (V == wsMaximized) S |= Qt::WindowMaximized;
  if (V == wsMinimized) S |= Qt::WindowMinimized;
  setWindowState(S);
}

void TForm::SetKeyPreview(bool V) {
  if (V == FKeyPreview) return;
  FKeyPreview = V;
  if (V)
    qApp->installEventFilter(this);
  else
    qApp->removeEventFilter(this);
}

void TForm::PlaceOnScreen() {
  if (FPlaced || FWindowState != wsNormal) return;
  FPlaced = true;
  QRect Area;
  if (FPosition == poMainFormCenter && Application->MainForm() && Application->MainForm() != this)
    Area = Application->MainForm()->frameGeometry();
  else if (FPosition != poDesigned && screen())
    Area = screen()->availableGeometry();
  if (Area.isValid()) move(Area.center() - rect().center());
}

void TForm::showEvent(QShowEvent* E) {
  DoCreate();
  PlaceOnScreen();
  QDialog::showEvent(E);
  Fire(OnShow, this);
}

bool TForm::PreviewKey(QKeyEvent* E) {
  if (!OnKeyDown) return false;
  Word Key = KeyCodeOf(E->key());
  if (Key == 0) return false;
  Fire(OnKeyDown, this, Key, ShiftStateOf(E->modifiers()));
  return Key == 0;
}

bool TForm::eventFilter(QObject* Watched, QEvent* E) {
  // Only the key's first receiver (the focused control, or the form itself): keys that a
  // control ignores travel on to its parents and must not be previewed twice.
  if (FKeyPreview && E->type() == QEvent::KeyPress) {
    QWidget* Target = focusWidget() ? focusWidget() : this;
    if (Watched == Target && PreviewKey(static_cast<QKeyEvent*>(E))) return true;
  }
  return QDialog::eventFilter(Watched, E);
}

void TForm::keyPressEvent(QKeyEvent* E) {
  if (E->key() == Qt::Key_Escape && E->modifiers() == Qt::NoModifier) {
    // A Cancel button answers Escape with its own click (its handler runs); else the form
    // closes with mrCancel.
    for (TButton* B : findChildren<TButton*>()) {
      if (B->Cancel() && B->isVisible() && B->isEnabled()) {
        B->click();
        return;
      }
    }
    reject();
    return;
  }
  QDialog::keyPressEvent(E);
}

// ------------------------------------------------------------------------------ TDataModule

void TDataModule::DoCreate() {
  if (FCreated) return;
  FCreated = true;
  Fire(OnCreate, nullptr);
}

void TDataModule::DoDestroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  Fire(OnDestroy, nullptr);
}

// ----------------------------------------------------------------------------- TApplication

namespace {
TApplication TheApplication;
}
TApplication* Application = &TheApplication;

TApplication::TApplication() = default;

TApplication::~TApplication() {
  // The Qt application's post routine has destroyed the forms; a Qt application still alive
  // here (one that Run never ended) is left to the process's end with its widgets.
  if (!QCoreApplication::instance()) DestroyComponents();
}

void TApplication::Initialize() {
  if (!QCoreApplication::instance()) {
    static int Argc = 1;
    static char Name[] = "kvplus";
    static char* Argv[] = {Name, nullptr};
    Initialize(Argc, Argv);
    return;
  }
  static bool Done = false;
  if (Done) return;
  Done = true;
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain));
  // Qt's own texts (standard buttons, the file dialog) in Spanish when the translations are
  // installed; English otherwise.
  static QTranslator Translator;
  if (Translator.load(QLocale(QLocale::Spanish, QLocale::Spain), "qtbase", "_",
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(&Translator);
  InstallMessageBoxes();
  qAddPostRoutine(PostRoutine);
}

void TApplication::Initialize(int& Argc, char** Argv) {
  if (!QCoreApplication::instance()) {
    new QApplication(Argc, Argv);
    FOwnsQtApp = true;
  }
  Initialize();
}

std::string TApplication::Title() const {
  if (!FTitle.empty()) return FTitle;
  const std::string Name = ExtractFileName(ExeName());
  return ChangeFileExt(Name, "");
}

void TApplication::Created(TComponent* C) {
  if (auto* F = dynamic_cast<TForm*>(C)) {
    if (!FMainForm) {
      FMainForm = F;
      QObject::connect(F, &QDialog::finished, qApp, &QCoreApplication::quit);
    }
    F->DoCreate();
  } else if (auto* M = dynamic_cast<TDataModule*>(C)) {
    M->DoCreate();
  }
}

void TApplication::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent == FMainForm) FMainForm = nullptr;
  TComponent::Notification(AComponent, Operation);
}

void TApplication::Run() {
  Initialize();
  if (FMainForm) {
    FMainForm->Show();
    QApplication::exec();
  }
  ReleaseWidgets();
  if (FOwnsQtApp) {
    FOwnsQtApp = false;
    delete QCoreApplication::instance();
  }
}

void TApplication::ProcessMessages() {
  QCoreApplication::processEvents();
}

void TApplication::ReleaseWidgets() {
  FHelpWindow.reset();
  DestroyComponents();
  FMainForm = nullptr;
}

void TApplication::PostRoutine() {
  Application->ReleaseWidgets();
}

std::string TApplication::ExeName() const {
  char Buf[4096];
  const ssize_t N = readlink("/proc/self/exe", Buf, sizeof Buf - 1);
  return N > 0 ? std::string(Buf, static_cast<size_t>(N)) : std::string();
}

void TApplication::HandleException(const std::exception& E) {
  kv::HandleException(E);
}

namespace {
// The help window: the help file's text; Escape closes it, as it closes the forms.
class THelpWindow : public QTextBrowser {
 protected:
  void keyPressEvent(QKeyEvent* E) override {
    if (E->key() == Qt::Key_Escape && E->modifiers() == Qt::NoModifier) {
      close();
      return;
    }
    QTextBrowser::keyPressEvent(E);
  }
};
}  // namespace

QTextBrowser* TApplication::HelpWindow() const {
  return FHelpWindow.get();
}

bool TApplication::HelpCommand(int Command, intptr_t /*Data*/) {
  if (Command == HELP_QUIT) {
    if (FHelpWindow) FHelpWindow->close();
    return true;
  }
  if (FHelpFile.empty()) {
    MessageDlg("La aplicación no tiene archivo de ayuda", mtError);
    return false;
  }
  std::ifstream In(FHelpFile, std::ios::binary);
  if (!In) {
    MessageDlg("No se ha podido abrir el archivo de ayuda '" + FHelpFile + "'", mtError,
               std::strerror(errno));
    return false;
  }
  std::ostringstream Text;
  Text << In.rdbuf();
  QString Contents = QString::fromUtf8(Text.str());
  if (Contents.startsWith(QChar(0xFEFF))) Contents.remove(0, 1);
  if (!FHelpWindow) {
    FHelpWindow = std::make_unique<THelpWindow>();
    FHelpWindow->setOpenExternalLinks(true);
    FHelpWindow->resize(720, 540);
  }
  FHelpWindow->setWindowTitle(QStr(Title() + " - Ayuda"));
  FHelpWindow->setSearchPaths({QFileInfo(QStr(FHelpFile)).absolutePath()});
  if (Contents.trimmed().startsWith('<'))
    FHelpWindow->setHtml(Contents);
  else
    FHelpWindow->setMarkdown(Contents);
  FHelpWindow->show();
  FHelpWindow->raise();
  FHelpWindow->activateWindow();
  return true;
}

}  // namespace kv
