// Component ownership and free notification: owned components die with their owner exactly once,
// and a holder of a plain reference hears of the referenced component's destruction.
#include <gtest/gtest.h>

#include <memory>

#include "Classes.h"

using namespace kv;

namespace {

class TProbe : public TComponent {
 public:
  TProbe(TComponent* AOwner, int* Deaths) : TComponent(AOwner), FDeaths(Deaths) {}
  ~TProbe() override { ++*FDeaths; }
  TComponent* Ref = nullptr;
  int Told = 0;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override {
    if (Operation == opRemove && AComponent == Ref) Ref = nullptr, ++Told;
  }

 private:
  int* FDeaths;
};

// An owner that also keeps one of its components in a unique_ptr member, as the engine does.
class THolder : public TComponent {
 public:
  explicit THolder(int* Deaths) : Member(std::make_unique<TProbe>(this, Deaths)) {}
  std::unique_ptr<TProbe> Member;
};

TEST(Components, OwnedComponentsDieWithTheOwnerOnce) {
  int Deaths = 0;
  {
    THolder Owner(&Deaths);
    new TProbe(&Owner, &Deaths);
    auto* Early = new TProbe(&Owner, &Deaths);
    EXPECT_EQ(Owner.ComponentCount(), 3);
    delete Early;  // leaves its owner
    EXPECT_EQ(Owner.ComponentCount(), 2);
    EXPECT_EQ(Deaths, 1);
  }
  EXPECT_EQ(Deaths, 3) << "the member and the heap component, each once";
}

TEST(Components, FreeNotificationDropsThePlainReference) {
  int Deaths = 0;
  TProbe Holder(nullptr, &Deaths);
  {
    auto Target = std::make_unique<TProbe>(nullptr, &Deaths);
    Holder.Ref = Target.get();
    Target->FreeNotification(&Holder);
  }
  EXPECT_EQ(Holder.Ref, nullptr);
  EXPECT_EQ(Holder.Told, 1);

  // A holder that dies first is forgotten: the target's later death tells nobody.
  auto Target = std::make_unique<TProbe>(nullptr, &Deaths);
  {
    TProbe Short(nullptr, &Deaths);
    Short.Ref = Target.get();
    Target->FreeNotification(&Short);
  }
  Target.reset();  // must not touch the dead holder (AddressSanitizer would say so)
}

TEST(Components, DesigningPassesToOwnedComponents) {
  int Deaths = 0;
  TProbe Owner(nullptr, &Deaths);
  Owner.SetDesigning(true);
  auto* Child = new TProbe(&Owner, &Deaths);
  EXPECT_TRUE(Child->ComponentState() & csDesigning);
  EXPECT_FALSE(Child->ComponentState() & csLoading);
}

}  // namespace
