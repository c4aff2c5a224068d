// TStringList: lookup ignoring case and conversion to and from line-broken text; TComponent:
// ownership and free notification.
#include "Classes.h"

#include <algorithm>

#include "Unicode.h"

namespace kv {

int TStringList::IndexOf(std::string_view S) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (AnsiSameText(FItems[i], S)) return static_cast<int>(i);
  return -1;
}

std::string TStringList::Text() const {
  std::string r;
  for (const auto& s : FItems) {
    r += s;
    r += '\n';
  }
  return r;
}

void TStringList::SetText(std::string_view S) {
  FItems.clear();
  size_t start = 0;
  const size_t n = S.size();
  size_t i = 0;
  while (i < n) {
    if (S[i] == '\r' || S[i] == '\n') {
      FItems.emplace_back(S.substr(start, i - start));
      if (S[i] == '\r' && i + 1 < n && S[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  // A final line break closes the last line; it does not open an empty one.
  if (start < n) FItems.emplace_back(S.substr(start));
}

void TStringList::SetDelimitedText(std::string_view S, char Delimiter) {
  FItems.clear();
  if (S.empty()) return;
  size_t start = 0;
  for (;;) {
    const size_t p = S.find(Delimiter, start);
    if (p == std::string_view::npos) {
      FItems.emplace_back(S.substr(start));
      break;
    }
    FItems.emplace_back(S.substr(start, p - start));
    start = p + 1;
  }
}

// ---------------------------------------------------------------- TComponent

namespace {
void EraseOne(std::vector<TComponent*>& V, TComponent* C) {
  auto It = std::find(V.begin(), V.end(), C);
  if (It != V.end()) V.erase(It);
}
}  // namespace

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {
  if (FOwner) FOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  FComponentState |= csDestroying;
  // Holders drop their references first; each may unregister others while being told.
  while (!FFreeNotifies.empty()) {
    TComponent* Holder = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    EraseOne(Holder->FFreeNotifies, this);
    Holder->Notification(this, opRemove);
  }
  if (TComponent* Owner = FOwner) {
    Owner->RemoveComponent(this);
    Owner->Notification(this, opRemove);
  }
  DestroyComponents();
}

void TComponent::InsertComponent(TComponent* C) {
  FComponents.push_back(C);
  C->FComponentState |= FComponentState & csDesigning;
}

void TComponent::RemoveComponent(TComponent* C) {
  EraseOne(FComponents, C);
  C->FOwner = nullptr;
}

void TComponent::DestroyComponents() {
  // Each destroyed component removes itself from the list.
  while (!FComponents.empty()) delete FComponents.back();
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end()) {
    FFreeNotifies.push_back(AComponent);
    AComponent->FFreeNotifies.push_back(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (!AComponent) return;
  EraseOne(FFreeNotifies, AComponent);
  EraseOne(AComponent->FFreeNotifies, this);
}

void TComponent::Notification(TComponent*, TOperation) {}

}  // namespace kv
