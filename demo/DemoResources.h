// The demonstration program's pictures (compiled in from demo/pictures) and its help file.
#pragma once

#include <QPixmap>
#include <QString>
#include <string>

enum class TDemoPicture {
  Banner,          // 350 x 90, at the right of the order fields
  SearchCustomer,  // 32 x 32 glyphs of the search buttons
  SearchOrders,
  SearchItemsInOrder,
  SearchAllItems,
};

// The picture's resource path (":/demo/pictures/....xpm").
QString DemoPicturePath(TDemoPicture Picture);
// The picture; raises Exception naming the resource when it cannot be read.
QPixmap DemoPicture(TDemoPicture Picture);

// The name of the demo's help file, which the build copies beside the program.
inline constexpr const char* DemoHelpFileName = "TSEARCHDIALOG.HLP";
// The help file beside the running program, by absolute path.
std::string DemoHelpFile();
