// The demo's compiled-in pictures and the place of its help file.
#include "DemoResources.h"

#include <filesystem>

#include "SysUtils.h"

using namespace kv;

// The resources live in a static library: nothing would pull them into a program without this.
// (Outside any namespace: the macro declares the resource's own initialiser.)
static void InitDemoResources() {
  static const bool Done = [] {
    Q_INIT_RESOURCE(demo);
    return true;
  }();
  (void)Done;
}

QString DemoPicturePath(TDemoPicture Picture) {
  switch (Picture) {
    case TDemoPicture::Banner:
      return ":/demo/pictures/banner.xpm";
    case TDemoPicture::SearchCustomer:
      return ":/demo/pictures/search_customer.xpm";
    case TDemoPicture::SearchOrders:
      return ":/demo/pictures/search_orders.xpm";
    case TDemoPicture::SearchItemsInOrder:
      return ":/demo/pictures/search_items_in_order.xpm";
    case TDemoPicture::SearchAllItems:
      return ":/demo/pictures/search_all_items.xpm";
  }
  return QString();
}

QPixmap DemoPicture(TDemoPicture Picture) {
  InitDemoResources();
  const QString Path = DemoPicturePath(Picture);
  QPixmap P(Path);
  if (P.isNull()) throw Exception("No se ha podido leer la imagen '" + Path.toStdString() + "'");
  return P;
}

std::string DemoHelpFile() {
  std::error_code Ec;
  const std::filesystem::path Exe = std::filesystem::read_symlink("/proc/self/exe", Ec);
  return (Exe.parent_path() / DemoHelpFileName).string();
}
