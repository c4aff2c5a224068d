// TFExportBox: the export options form the search form shows before it exports its result: the
// table format, which records and which fields to export, and the file name (typed, or chosen
// with the save-file dialog).
#pragma once

#include <string>

#include "Forms.h"
#include "SaveDialogs.h"
#include "ui_ExportBox.h"

#pragma GCC visibility push(default)
namespace kv {

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
  // chosen file type does not change the format buttons). The dialog asks before it offers a
  // file that exists.
  void Button1Click(TObject* Sender);

  // Whether an export may write the table file FileName: false, after an error box naming it,
  // when a table open in this program reads that file (any letter case, any path to it, links
  // included); false when the file exists and the user answers No to replacing it.
  static bool MayWrite(const std::string& FileName);

  TSaveDialog* SaveDialog1;
};

// A question box with the buttons "&Sí" and "&No" (No is the default and Escape's answer);
// true for Sí.
bool AskYesNo(const std::string& Question);

}  // namespace kv
#pragma GCC visibility pop
