// The export options form: its controls come from ExportBox.ui; the file-name button runs the
// save-file dialog; a target that an open table reads, or that exists, is refused or asked about
// before anything is written.
#include "ExportBox.h"

#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "DBTables.h"
#include "Database.h"
#include "Dialogs.h"

namespace kv {

TFExportBox::TFExportBox(TComponent* AOwner) : TForm(AOwner) {
  setupUi(this);
  SetPosition(poScreenCenter);
  SaveDialog1 = new TSaveDialog(this);
  SaveDialog1->SetFilter(ExportFileFilter);
  SaveDialog1->SetOptions(ofOverwritePrompt);
  Button1->OnClick = [this](TObject* Sender) { Button1Click(Sender); };
  DoCreate();
}

TFExportBox::~TFExportBox() {
  DoDestroy();
}

void TFExportBox::Button1Click(TObject*) {
  if (SaveDialog1->Execute()) Edit1->SetText(SaveDialog1->FileName());
}

bool TFExportBox::MayWrite(const std::string& FileName) {
  // The file the export would write, as the data layer finds it: an existing file in another
  // letter case is that file.
  const std::string Path = TargetTablePath("", FileName);
  if (const TTable* Open = FindOpenTableOnFile(Path)) {
    MessageDlg("No se puede exportar sobre el archivo '" + Path + "': es la tabla '" +
                   Open->TableName() + "', abierta en el programa",
               mtError);
    return false;
  }
  if (access(Path.c_str(), F_OK) != 0) return true;
  return AskYesNo("El archivo '" + Path + "' ya existe. ¿Desea reemplazarlo?");
}

bool AskYesNo(const std::string& Question) {
  QWidget* Parent = QApplication::activeModalWidget();
  if (!Parent) Parent = QApplication::activeWindow();
  QMessageBox Box(QMessageBox::Question, QStr(Application->Title()), QStr(Question),
                  QMessageBox::Yes | QMessageBox::No, Parent);
  Box.setTextFormat(Qt::PlainText);
  Box.button(QMessageBox::Yes)->setText("&Sí");
  Box.button(QMessageBox::No)->setText("&No");
  Box.setDefaultButton(QMessageBox::No);
  Box.setEscapeButton(QMessageBox::No);
  return Box.exec() == QMessageBox::Yes;
}

}  // namespace kv
