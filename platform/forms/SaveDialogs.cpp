// TSaveDialog over Qt's own file dialog, with the filter text converted to Qt's name filters.
#include "SaveDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <algorithm>

#include "Forms.h"
#include "SysUtils.h"

namespace kv {

QStringList ToQtNameFilters(std::string_view Filter) {
  QStringList Out;
  if (Filter.empty()) return Out;
  QStringList Parts = QStr(Filter).split('|');
  // A closing "|" ends the last pair, it does not start another.
  if (Parts.size() % 2 != 0 && Parts.back().trimmed().isEmpty()) Parts.removeLast();
  if (Parts.size() % 2 != 0)
    throw Exception("Filtro de archivos no válido: falta el patrón de '" + StdStr(Parts.back()) +
                    "'");
  for (qsizetype I = 0; I + 1 < Parts.size(); I += 2) {
    const QString Description = Parts[I].trimmed();
    QStringList Patterns = Parts[I + 1].split(';', Qt::SkipEmptyParts);
    for (QString& P : Patterns) P = P.trimmed();
    if (Patterns.isEmpty())
      throw Exception("Filtro de archivos no válido: '" + StdStr(Description) +
                      "' no tiene patrones");
    const QString Joined = Patterns.join(' ');
    // Qt reads the patterns from the last parentheses: keep a description that already ends
    // with them, else append them.
    if (Description.endsWith('(' + Joined + ')'))
      Out << Description;
    else
      Out << (Description.isEmpty() ? Joined : Description) + " (" + Joined + ')';
  }
  return Out;
}

TSaveDialog::TSaveDialog(TComponent* AOwner) : QObject(nullptr), TComponent(AOwner) {}

TSaveDialog::~TSaveDialog() {
  if (FDialog) FDialog->reject();
}

void TSaveDialog::SetFilter(std::string V) {
  ToQtNameFilters(V);
  FFilter = std::move(V);
}

bool TSaveDialog::Execute() {
  QWidget* Parent = QApplication::activeModalWidget();
  if (!Parent) Parent = QApplication::activeWindow();
  QFileDialog Dlg(Parent, QStr(FTitle.empty() ? "Guardar como" : FTitle));
  Dlg.setOption(QFileDialog::DontUseNativeDialog);
  Dlg.setAcceptMode(QFileDialog::AcceptSave);
  Dlg.setFileMode(QFileDialog::AnyFile);
  Dlg.setOption(QFileDialog::DontConfirmOverwrite, !(FOptions & ofOverwritePrompt));
  const QStringList Filters = ToQtNameFilters(FFilter);
  if (!Filters.isEmpty()) {
    Dlg.setNameFilters(Filters);
    Dlg.selectNameFilter(
        Filters[std::clamp(FFilterIndex, 1, static_cast<int>(Filters.size())) - 1]);
  }
  const QFileInfo Current(QStr(FFileName));
  if (!FInitialDir.empty())
    Dlg.setDirectory(QStr(FInitialDir));
  else if (!FFileName.empty() && Current.dir().exists())
    Dlg.setDirectory(Current.absolutePath());
  if (!FFileName.empty()) Dlg.selectFile(Current.fileName());
  connect(&Dlg, &QFileDialog::filterSelected, this, [this, &Filters](const QString& F) {
    FFilterIndex = static_cast<int>(Filters.indexOf(F)) + 1;
    Fire(OnTypeChange, this);
  });
  FDialog = &Dlg;
  const int Result = Dlg.exec();
  FDialog = nullptr;
  if (Result != QDialog::Accepted || Dlg.selectedFiles().isEmpty()) return false;
  std::string Name = StdStr(Dlg.selectedFiles().first());
  if (!FDefaultExt.empty() && ExtractFileExt(ExtractFileName(Name)).empty())
    Name += "." + FDefaultExt;
  FFileName = Name;
  if (!Filters.isEmpty())
    FFilterIndex = static_cast<int>(Filters.indexOf(Dlg.selectedNameFilter())) + 1;
  return true;
}

}  // namespace kv
