// Registration of the package's component, with the palette picture compiled in as a resource.
#include "KVplus.h"

#include "Registry.h"
#include "SearchDialog.h"

// The resource lives in this library; a program that links it statically must load it too. The
// loader Qt generates is a global function, so it is called from outside the namespace.
static void LoadPackageResources() { Q_INIT_RESOURCE(KVplus); }

namespace kv {

QImage SearchDialogPicture() {
  LoadPackageResources();
  return QImage(":/KVplus/TSEARCHDIALOG", "XPM");
}

void Register() {
  RegisterComponents("KVPLUS",
                     {ComponentClass<TSearchDialog>("TSearchDialog", SearchDialogPicture())});
}

}  // namespace kv
