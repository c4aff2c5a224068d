// Registration of the package's component, with the palette picture compiled in as a resource.
#include "KVplus.h"

#include "Registry.h"
#include "SearchDialog.h"

QImage SearchDialogPicture() {
  // The resource lives in this library; a program that links it statically must load it too.
  Q_INIT_RESOURCE(KVplus);
  return QImage(":/KVplus/TSEARCHDIALOG", "XPM");
}

void Register() {
  RegisterComponents("KVPLUS",
                     {ComponentClass<TSearchDialog>("TSearchDialog", SearchDialogPicture())});
}
