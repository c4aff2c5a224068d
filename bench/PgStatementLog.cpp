#include "PgStatementLog.h"

#include <cctype>
#include <cstdlib>

namespace {

// Splits "$1 = '5', $2 = NULL, $3 = 'a, b'" into the literals.
std::vector<std::string> ParseParameters(std::string_view D) {
  std::vector<std::string> Out;
  size_t I = 0;
  while (I < D.size()) {
    while (I < D.size() && (D[I] == ' ' || D[I] == ',')) ++I;
    if (I >= D.size() || D[I] != '$') break;
    ++I;
    size_t N = 0;
    while (I < D.size() && std::isdigit(static_cast<unsigned char>(D[I])))
      N = N * 10 + static_cast<size_t>(D[I++] - '0');
    if (D.substr(I, 3) != " = " || N == 0) break;
    I += 3;
    std::string Value;
    if (I < D.size() && D[I] == '\'') {
      Value += D[I++];
      while (I < D.size()) {
        if (D[I] == '\'') {
          if (I + 1 < D.size() && D[I + 1] == '\'') {
            Value += "''";
            I += 2;
            continue;
          }
          Value += D[I++];
          break;
        }
        Value += D[I++];
      }
    } else {
      while (I < D.size() && D[I] != ',') Value += D[I++];
    }
    if (Out.size() < N) Out.resize(N);
    Out[N - 1] = Value;
  }
  return Out;
}

// The message of a log line after its prefix ("2026-01-01 10:00:00.000 UTC [123] "), with its
// level: "LOG", "DETAIL", ...; false for a line without one.
bool SplitLine(std::string_view Line, std::string_view& Level, std::string_view& Message) {
  const size_t Close = Line.find("] ");
  if (Line.empty() || Close == std::string_view::npos) return false;
  std::string_view Rest = Line.substr(Close + 2);
  const size_t Colon = Rest.find(":  ");
  if (Colon == std::string_view::npos) return false;
  Level = Rest.substr(0, Colon);
  Message = Rest.substr(Colon + 3);
  return true;
}

}  // namespace

std::vector<TLoggedStatement> ParseStatementLog(std::string_view Log) {
  std::vector<TLoggedStatement> Out;
  bool Open = false;  // the last statement may still take continued lines
  size_t Pos = 0;
  while (Pos < Log.size()) {
    size_t End = Log.find('\n', Pos);
    if (End == std::string_view::npos) End = Log.size();
    const std::string_view Line = Log.substr(Pos, End - Pos);
    Pos = End + 1;
    if (!Line.empty() && Line[0] == '\t') {
      if (Open) Out.back().Sql += "\n" + std::string(Line.substr(1));
      continue;
    }
    std::string_view Level, Message;
    if (!SplitLine(Line, Level, Message)) {
      Open = false;
      continue;
    }
    if (Level == "DETAIL" && Open &&
        (Message.starts_with("Parameters: ") || Message.starts_with("parameters: "))) {
      Out.back().Parameters = ParseParameters(Message.substr(12));
      Open = false;
      continue;
    }
    Open = false;
    if (Level != "LOG" || !Message.starts_with("duration: ")) continue;
    const double Ms = std::strtod(std::string(Message.substr(10, 32)).c_str(), nullptr);
    const size_t MsEnd = Message.find(" ms  ");
    if (MsEnd == std::string_view::npos) continue;
    std::string_view What = Message.substr(MsEnd + 5);
    std::string_view Sql;
    if (What.starts_with("statement: ")) {
      Sql = What.substr(11);
    } else if (What.starts_with("execute ")) {
      const size_t C = What.find(": ");
      if (C == std::string_view::npos) continue;
      Sql = What.substr(C + 2);
    } else {
      continue;  // parse, bind
    }
    Out.push_back({std::string(Sql), {}, Ms});
    Open = true;
  }
  return Out;
}

std::string StatementWithParameters(const TLoggedStatement& S) {
  const std::string& Q = S.Sql;
  std::string Out;
  size_t I = 0;
  auto CopyQuoted = [&](char Quote) {
    Out += Q[I++];
    while (I < Q.size()) {
      Out += Q[I];
      if (Q[I++] == Quote) {
        if (I < Q.size() && Q[I] == Quote) {
          Out += Q[I++];
          continue;
        }
        return;
      }
    }
  };
  while (I < Q.size()) {
    const char C = Q[I];
    if (C == '\'' || C == '"') {
      CopyQuoted(C);
    } else if (C == '-' && I + 1 < Q.size() && Q[I + 1] == '-') {
      const size_t E = Q.find('\n', I);
      const size_t Stop = E == std::string::npos ? Q.size() : E;
      Out.append(Q, I, Stop - I);
      I = Stop;
    } else if (C == '$' && I + 1 < Q.size() && std::isdigit(static_cast<unsigned char>(Q[I + 1])) &&
               (I == 0 ||
                !(std::isalnum(static_cast<unsigned char>(Q[I - 1])) || Q[I - 1] == '_'))) {
      size_t J = I + 1, N = 0;
      while (J < Q.size() && std::isdigit(static_cast<unsigned char>(Q[J])))
        N = N * 10 + static_cast<size_t>(Q[J++] - '0');
      if (N >= 1 && N <= S.Parameters.size() && !S.Parameters[N - 1].empty())
        Out += S.Parameters[N - 1];
      else
        Out.append(Q, I, J - I);
      I = J;
    } else {
      Out += Q[I++];
    }
  }
  return Out;
}
