// Panels and images.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <string>

#include "Controls.h"

#pragma GCC visibility push(default)
namespace kv {

enum TPanelBevel { bvNone, bvLowered, bvRaised };

// A container with a bevel and an optional centred caption.
class TPanel : public TControl<QFrame> {
  Q_OBJECT
 public:
  explicit TPanel(QWidget* Parent = nullptr);
  std::string Caption() const { return FCaption; }
  void SetCaption(const std::string& V);
  TPanelBevel BevelOuter() const { return FBevel; }
  void SetBevelOuter(TPanelBevel V);

 protected:
  void paintEvent(QPaintEvent* E) override;

 private:
  std::string FCaption;
  TPanelBevel FBevel = bvRaised;
};

// A picture, shown at its size, centred or stretched to the control.
class TImage : public TControl<QLabel> {
  Q_OBJECT
 public:
  explicit TImage(QWidget* Parent = nullptr);
  QPixmap Picture() const { return FPicture; }
  void SetPicture(const QPixmap& V);
  // Loads the picture from a file; raises Exception naming the file when it cannot be read.
  void LoadFromFile(const std::string& FileName);
  bool Stretch() const { return hasScaledContents(); }
  void SetStretch(bool V) { setScaledContents(V); }
  bool Center() const { return FCenter; }
  void SetCenter(bool V);

 private:
  QPixmap FPicture;
  bool FCenter = false;
};

}  // namespace kv
#pragma GCC visibility pop
