// The palette registry: pages and classes in order, pictures, factories, re-registration.
#include <gtest/gtest.h>

#include "Registry.h"
#include "SysUtils.h"

using namespace kv;

namespace {

class TFakeDialog : public TComponent {
 public:
  using TComponent::TComponent;
};

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearComponentRegistry(); }
  void TearDown() override { ClearComponentRegistry(); }
};

TEST_F(RegistryTest, ClassesByPageWithPictureAndFactory) {
  QImage Icon(32, 32, QImage::Format_ARGB32);
  Icon.fill(Qt::blue);
  RegisterComponents("KVPLUS", {ComponentClass<TFakeDialog>("TSearchDialog", Icon)});
  RegisterComponents("Otros", {ComponentClass<TFakeDialog>("TOtro")});
  EXPECT_EQ(PalettePages(), (std::vector<std::string>{"KVPLUS", "Otros"}));
  const auto Classes = PaletteClasses("KVPLUS");
  ASSERT_EQ(Classes.size(), 1u);
  EXPECT_EQ(Classes[0].ClassName, "TSearchDialog");
  EXPECT_EQ(Classes[0].Icon.size(), QSize(32, 32));
  EXPECT_EQ(PageOfClass("TSearchDialog"), "KVPLUS");
  EXPECT_TRUE(PaletteClasses("Nada").empty());
  EXPECT_EQ(FindComponentClass("TNada"), nullptr);
  TComponent Owner;
  TComponent* Made = FindComponentClass("TSearchDialog")->Create(&Owner);
  EXPECT_NE(dynamic_cast<TFakeDialog*>(Made), nullptr);
  EXPECT_EQ(Made->Owner(), &Owner);
}

TEST_F(RegistryTest, RegisteringAgainReplacesAndBadNamesAreRefused) {
  RegisterComponents("KVPLUS", {ComponentClass<TFakeDialog>("TSearchDialog")});
  RegisterComponents("KVPLUS", {ComponentClass<TFakeDialog>("TSearchDialog")});
  EXPECT_EQ(PaletteClasses("KVPLUS").size(), 1u);
  RegisterComponents("Otros", {ComponentClass<TFakeDialog>("TSearchDialog")});
  EXPECT_TRUE(PaletteClasses("KVPLUS").empty());
  EXPECT_EQ(PageOfClass("TSearchDialog"), "Otros");
  EXPECT_THROW(RegisterComponents("", {ComponentClass<TFakeDialog>("TX")}), Exception);
  EXPECT_THROW(RegisterComponents("KVPLUS", {ComponentClass<TFakeDialog>(" ")}), Exception);
}

}  // namespace
