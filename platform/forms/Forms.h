// Forms and the application object: TForm (a QDialog that is also a TComponent), TDataModule,
// and TApplication with the global Application (initialisation, title, help file, form
// creation, the event loop, the help window, the executable's name).
//
// How a form is declared: lay it out in a Qt Designer .ui file whose controls are the toolkit's
// classes as promoted widgets, and derive the form class from TForm and the generated Ui class:
//
//   class TMyForm : public TForm, public Ui::TMyForm {
//    public:
//     explicit TMyForm(TComponent* AOwner = nullptr) : TForm(AOwner) {
//       setupUi(this);
//       OnCreate = [this](TObject*) { FormCreate(); };   // handlers wired here
//       DoCreate();                                       // fires OnCreate once, set up
//     }
//     ~TMyForm() override { DoDestroy(); }                // fires OnDestroy while members live
//   };
//
// OnCreate fires from DoCreate, which the derived constructor calls at its end (C++ runs the
// TForm constructor before the derived members exist); a form that never calls it gets OnCreate
// just before it is first shown. OnDestroy fires from DoDestroy, which a derived destructor calls
// first when its handler uses the derived members; ~TForm calls it otherwise. Both fire once.
#pragma once

#include <QDialog>
#include <QPointer>
#include <memory>
#include <string>

#include "Classes.h"
#include "Controls.h"

class QTextBrowser;

#pragma GCC visibility push(default)
namespace kv {

// Modal results (ShowModal's answer).
constexpr int mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6,
              mrNo = 7;

enum TWindowState { wsNormal, wsMinimized, wsMaximized };
// The buttons of a form's title bar, as a set of bit flags.
enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
using TBorderIcons = unsigned;

// Where a form appears: where it was laid out, centred on the screen, or centred on the main form.
enum TPosition { poDesigned, poScreenCenter, poMainFormCenter };

class TForm : public QDialog, public TComponent {
  Q_OBJECT
 public:
  // The owner destroys the form with itself; a form owned by another form is also its Qt child
  // (shown over it) unless Parent says otherwise.
  explicit TForm(TComponent* AOwner = nullptr, QWidget* Parent = nullptr);
  ~TForm() override;

  // Shows the form modally; returns the modal result: mrOk (1) or mrCancel (2) for the OK and
  // Cancel buttons, mrCancel for Escape or the window's close button.
  int ShowModal();
  // Shows the form without blocking.
  void Show();
  // Closes the form; a modal form without a modal result closes with mrCancel.
  void Close();
  int ModalResult() const { return result(); }
  // Sets the modal result; a non-zero result closes a modal form (the last one set is returned).
  void SetModalResult(int V);

  std::string Caption() const { return StdStr(windowTitle()); }
  void SetCaption(const std::string& V) { setWindowTitle(QStr(V)); }
  TWindowState WindowState() const { return FWindowState; }
  void SetWindowState(TWindowState V);
  TBorderIcons BorderIcons() const { return FBorderIcons; }
  void SetBorderIcons(TBorderIcons V);
  TPosition Position() const { return FPosition; }
  void SetPosition(TPosition V) { FPosition = V; }
  // With key preview on, OnKeyDown sees every key pressed in any control of the form first.
  bool KeyPreview() const { return FKeyPreview; }
  void SetKeyPreview(bool V);

  TNotifyEvent OnCreate, OnShow, OnDestroy;
  TKeyEvent OnKeyDown;

  // Fires OnCreate once (derived constructors call it at their end).
  void DoCreate();
  // Fires OnDestroy once (derived destructors call it first).
  void DoDestroy();

 protected:
  void showEvent(QShowEvent* E) override;
  void keyPressEvent(QKeyEvent* E) override;
  bool eventFilter(QObject* Watched, QEvent* E) override;
  void done(int R) override;
  void reject() override;
  void accept() override;

 private:
  // The key passed to OnKeyDown; true when the handler swallowed it.
  bool PreviewKey(QKeyEvent* E);
  void PlaceOnScreen();
  bool FCreated = false, FDestroyed = false, FPlaced = false;
  bool FKeyPreview = false;
  TWindowState FWindowState = wsNormal;
  TPosition FPosition = poDesigned;
  TBorderIcons FBorderIcons = biSystemMenu | biMinimize | biMaximize;
};

// A non-visual container of datasets and data sources, created like a form.
class TDataModule : public TComponent {
 public:
  explicit TDataModule(TComponent* AOwner = nullptr) : TComponent(AOwner) {}
  ~TDataModule() override { DoDestroy(); }
  TNotifyEvent OnCreate, OnDestroy;
  // Fire OnCreate / OnDestroy once each (as TForm's).
  void DoCreate();
  void DoDestroy();

 private:
  bool FCreated = false, FDestroyed = false;
};

// Help commands.
constexpr int HELP_CONTEXT = 1, HELP_QUIT = 2, HELP_CONTENTS = 3, HELP_FINDER = 11;

class TApplication : public TComponent {
 public:
  TApplication();
  ~TApplication() override;

  // Readies the toolkit: creates the Qt application when there is none (with the program's
  // arguments when given), sets the Fusion style, loads Qt's Spanish texts and installs the Qt
  // message boxes. Idempotent.
  void Initialize();
  void Initialize(int& Argc, char** Argv);
  // The title of message boxes and of the help window; the executable's name when not set.
  std::string Title() const;
  void SetTitle(std::string V) { FTitle = std::move(V); }
  const std::string& HelpFile() const { return FHelpFile; }
  void SetHelpFile(std::string V) { FHelpFile = std::move(V); }
  // Creates a form or data module owned by the application into Reference; the first form
  // created is the main form. Fires its OnCreate.
  template <class T>
  void CreateForm(T*& Reference) {
    Reference = new T(this);
    Created(Reference);
  }
  TForm* MainForm() const { return FMainForm; }
  // Shows the main form and runs the event loop until it closes; then destroys the forms.
  void Run();
  // Processes pending events (lets a long action repaint).
  void ProcessMessages();
  // HELP_CONTENTS and HELP_FINDER show the help file's contents in the help window (HTML when
  // the file starts with '<', else Markdown); HELP_QUIT closes it. Returns false (after an
  // error box naming the file) when there is no help file or it cannot be read.
  bool HelpCommand(int Command, intptr_t Data);
  // The help window, null until first shown (for tests).
  QTextBrowser* HelpWindow() const;
  // The running program's full path.
  std::string ExeName() const;
  // Shows the error box for an exception nobody caught.
  void HandleException(const std::exception& E);

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  void Created(TComponent* C);
  // Destroys the forms, data modules and help window (before the Qt application goes).
  void ReleaseWidgets();
  static void PostRoutine();
  std::string FTitle, FHelpFile;
  TForm* FMainForm = nullptr;
  std::unique_ptr<QTextBrowser> FHelpWindow;
  bool FOwnsQtApp = false;
};

// The application object.
extern TApplication* Application;

}  // namespace kv
#pragma GCC visibility pop
