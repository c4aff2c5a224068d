// TSaveDialog: the save-file dialog. The filter is given as "Text (*.x)|*.x|All (*.*)|*.*"
// (description and patterns, pairs joined by "|", patterns by ";"); FilterIndex counts from 1.
// The dialog is Qt's own (not the desktop's), so a test drives it from the event loop like any
// modal form: post a queued call that finds Dialog(), fills it and accepts or rejects it.
#pragma once

#include <QFileDialog>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <string>
#include <string_view>

#include "Classes.h"
#include "Controls.h"

#pragma GCC visibility push(default)
namespace kv {

// The Qt name filters of a filter text: one "Description (patterns)" per pair; raises Exception
// when a description has no patterns.
QStringList ToQtNameFilters(std::string_view Filter);

enum TOpenOption : unsigned { ofOverwritePrompt = 1 };
using TOpenOptions = unsigned;

class TSaveDialog : public QObject, public TComponent {
  Q_OBJECT
 public:
  explicit TSaveDialog(TComponent* AOwner = nullptr);
  ~TSaveDialog() override;
  const std::string& FileName() const { return FFileName; }
  void SetFileName(std::string V) { FFileName = std::move(V); }
  const std::string& Filter() const { return FFilter; }
  // Raises Exception for a malformed filter.
  void SetFilter(std::string V);
  int FilterIndex() const { return FFilterIndex; }
  void SetFilterIndex(int V) { FFilterIndex = V; }
  // Extension (without the dot) added to a chosen name that has none; empty adds nothing.
  const std::string& DefaultExt() const { return FDefaultExt; }
  void SetDefaultExt(std::string V) { FDefaultExt = std::move(V); }
  const std::string& InitialDir() const { return FInitialDir; }
  void SetInitialDir(std::string V) { FInitialDir = std::move(V); }
  const std::string& Title() const { return FTitle; }
  void SetTitle(std::string V) { FTitle = std::move(V); }
  TOpenOptions Options() const { return FOptions; }
  void SetOptions(TOpenOptions V) { FOptions = V; }
  // Shows the dialog modally; true when the user chose a file (FileName and FilterIndex then
  // hold the choice).
  bool Execute();
  // The dialog while Execute shows it, else null.
  QFileDialog* Dialog() const { return FDialog; }
  // Runs when the user picks another file type (FilterIndex already holds it).
  TNotifyEvent OnTypeChange;

 private:
  std::string FFileName, FFilter, FDefaultExt, FInitialDir, FTitle;
  int FFilterIndex = 1;
  TOpenOptions FOptions = 0;
  QPointer<QFileDialog> FDialog;
};

}  // namespace kv
#pragma GCC visibility pop
