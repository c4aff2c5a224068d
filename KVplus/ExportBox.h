// TFExportBox: the export options form the search form shows before it exports its result: the
// table format, which records and which fields to export, and the file name (typed, or chosen
// with the save-file dialog).
#pragma once

#include <string>

#include "Forms.h"
#include "SaveDialogs.h"
#include "ui_ExportBox.h"

// The file-type filter of the save-file dialog: the three table formats and all files.
inline constexpr const char* ExportFileFilter =
    "Paradox (*.db)|*.db|ASCII (*.txt)|*.txt|DBase / Excel (*.dbf)|*.dbf|"
    "Todos los archivos (*.*)|*.*";

class TFExportBox : public TForm, public Ui::TFExportBox {
  Q_OBJECT
 public:
  explicit TFExportBox(TComponent* AOwner = nullptr);
  ~TFExportBox() override;

  // Asks for a file name with SaveDialog1; a confirmed name replaces the text of Edit1 (the
  // chosen file type does not change the format buttons).
  void Button1Click(TObject* Sender);

  TSaveDialog* SaveDialog1;
};
