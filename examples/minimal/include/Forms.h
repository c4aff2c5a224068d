// The application's own Forms.h: a name the library's headers must not take from it.
#pragma once
#include <string>

struct TAppForm {
  std::string Caption = "minimal";
};
