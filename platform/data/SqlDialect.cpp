// What the SQL dialects share (see SqlDialect.h).
#include "SqlDialect.h"

TSqlDialect::~TSqlDialect() = default;

std::string TSqlDialect::QuoteName(std::string_view Name) const {
  std::string R = "\"";
  for (char C : Name) {
    if (C == '"') R += '"';
    R += C;
  }
  return R + "\"";
}

std::string TSqlDialect::OrderTerm(const std::string& Expr, bool Desc) const {
  return Expr + (Desc ? " DESC NULLS LAST" : " ASC NULLS FIRST");
}

std::string TSqlDialect::NotTrue(const std::string& Condition) const {
  return "(" + Condition + ") IS NOT TRUE";
}

std::string TSqlDialect::Limit(int64_t N, int64_t Offset) const {
  std::string S = " LIMIT " + std::to_string(N);
  if (Offset > 0) S += " OFFSET " + std::to_string(Offset);
  return S;
}

std::string TSqlParams::Add(Variant Value, TFieldType Type) {
  Items.push_back({std::move(Value), Type});
  return FDialect.Parameter(static_cast<int>(Items.size()));
}
