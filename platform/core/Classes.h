// TStringList: the ordered list of strings the engine keeps its per-condition data in,
// plus the small component base class the engine and datasets derive from.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#pragma GCC visibility push(default)
namespace kv {

class TStringList {
 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  void Add(std::string S) { FItems.push_back(std::move(S)); }
  void Clear() { FItems.clear(); }
  void Delete(int Index) { FItems.erase(FItems.begin() + Index); }
  void Insert(int Index, std::string S) { FItems.insert(FItems.begin() + Index, std::move(S)); }
  // Index of the first entry equal to S ignoring case, -1 when absent.
  int IndexOf(std::string_view S) const;
  std::string& operator[](int Index) { return FItems.at(Index); }
  const std::string& operator[](int Index) const { return FItems.at(Index); }
  const std::string& Strings(int Index) const { return FItems.at(Index); }
  // The whole text: every entry followed by a line break.
  std::string Text() const;
  // Replaces the entries with the lines of S (split at CR LF, LF or CR).
  void SetText(std::string_view S);
  // Replaces the entries with the parts of S split at Delimiter.
  void SetDelimitedText(std::string_view S, char Delimiter);
  const std::vector<std::string>& Items() const { return FItems; }

 private:
  std::vector<std::string> FItems;
};

// Component state flags: the component is being loaded from its stored form, or is being
// designed (placed on a form in a designer rather than running in an application).
enum TComponentStateFlag : unsigned {
  csLoading = 1u << 0,
  csDesigning = 1u << 1,
  csDestroying = 1u << 2
};
using TComponentState = unsigned;
enum TOperation { opInsert, opRemove };

// Base of components. A component created with an owner is destroyed with it, unless it was
// destroyed before (a component that dies removes itself from its owner, so an owner may also
// hold its components in unique_ptr members: whichever goes first, nothing is destroyed twice).
// A component that keeps a plain reference to another asks for a free notification and is told
// through Notification(Other, opRemove) when the other is destroyed, so it can drop the
// reference. Not thread-safe: components live on one thread.
class TComponent {
 public:
  explicit TComponent(TComponent* AOwner = nullptr);
  // Tells every component that asked for a free notification, leaves the owner, then destroys
  // the owned components still alive.
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  void SetName(std::string N) { FName = std::move(N); }

  // Components owned by this one, in creation order.
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int Index) const { return FComponents.at(Index); }
  // Destroys every owned component now (derived destructors call it when their owned
  // components must go before the derived part does).
  void DestroyComponents();

  TComponentState ComponentState() const { return FComponentState; }
  // Sets or clears csLoading / csDesigning (designers and form loaders call these).
  void SetDesigning(bool Value) { SetStateFlag(csDesigning, Value); }
  void SetLoading(bool Value) { SetStateFlag(csLoading, Value); }

  // AComponent will receive Notification(this, opRemove) when this component is destroyed.
  // The registration is dropped on both sides when either component dies.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

 protected:
  // Called on the holder of a free notification (and on the owner) when AComponent is being
  // destroyed (opRemove); override to drop plain references to it.
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  void SetStateFlag(TComponentStateFlag Flag, bool Value) {
    FComponentState = Value ? (FComponentState | Flag) : (FComponentState & ~Flag);
  }

 private:
  void InsertComponent(TComponent* C);
  void RemoveComponent(TComponent* C);
  TComponent* FOwner;
  std::string FName;
  TComponentState FComponentState = 0;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
};

}  // namespace kv
#pragma GCC visibility pop
