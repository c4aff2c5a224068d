// The package unit of the KVplus library: puts the package's component on the palette.
#pragma once

#include <QImage>

#pragma GCC visibility push(default)
namespace kv {

// Registers TSearchDialog, and only it, on the palette page "KVPLUS" with its picture.
void Register();

// The palette picture of TSearchDialog, "TSEARCHDIALOG": 32 × 32 pixels in 16 colours.
QImage SearchDialogPicture();

}  // namespace kv
#pragma GCC visibility pop
