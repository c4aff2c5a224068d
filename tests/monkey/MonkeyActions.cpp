// Action lines (written and read back exactly, odd bytes and long repeated texts included) and
// the monkey's random numbers.
#include <cctype>
#include <cstdio>

#include "Monkey.h"
#include "SysUtils.h"

using namespace kv;

namespace monkey {

namespace {

bool IsBare(const std::string& S) {
  if (S.empty()) return false;
  for (unsigned char C : S)
    if (!std::isalnum(C) && C != '_' && C != '.' && C != '-' && C != '=' && C != '/') return false;
  return true;
}

std::string Quoted(const std::string& S) {
  std::string R = "\"";
  for (unsigned char C : S) {
    switch (C) {
      case '"':
        R += "\\\"";
        break;
      case '\\':
        R += "\\\\";
        break;
      case '\n':
        R += "\\n";
        break;
      case '\t':
        R += "\\t";
        break;
      default:
        if (C < 0x20 || C == 0x7F) {
          char Buf[8];
          std::snprintf(Buf, sizeof Buf, "\\x%02X", C);
          R += Buf;
        } else {
          // UTF-8 and invalid bytes alike go through as they are: the line is read back bytewise.
          R += static_cast<char>(C);
        }
    }
  }
  return R + "\"";
}

// The shortest piece that S repeats, for long texts: its length, or 0 when S is no repetition.
size_t Period(const std::string& S) {
  if (S.size() < 256) return 0;
  for (size_t P = 1; P <= 64; ++P) {
    if (S.size() % P != 0) continue;
    bool Same = true;
    for (size_t I = P; I < S.size() && Same; ++I) Same = S[I] == S[I - P];
    if (Same) return P;
  }
  return 0;
}

int HexDigit(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  return -1;
}

}  // namespace

std::string FormatAction(const TAction& A) {
  std::string Line = A.Verb;
  for (const std::string& Arg : A.Args) {
    Line += ' ';
    if (const size_t P = Period(Arg)) {
      Line += Quoted(Arg.substr(0, P)) + "*" + std::to_string(Arg.size() / P);
    } else if (IsBare(Arg)) {
      Line += Arg;
    } else {
      Line += Quoted(Arg);
    }
  }
  return Line;
}

TAction ParseAction(const std::string& Line) {
  TAction A;
  size_t I = 0;
  auto Bad = [&](const std::string& Why) {
    throw Exception("Línea de acción no válida (" + Why + ", posición " + std::to_string(I + 1) +
                    "): " + Line);
  };
  auto SkipBlanks = [&] {
    while (I < Line.size() && (Line[I] == ' ' || Line[I] == '\r')) ++I;
  };
  SkipBlanks();
  while (I < Line.size() && Line[I] != ' ') A.Verb += Line[I++];
  if (A.Verb.empty()) Bad("sin verbo");
  for (SkipBlanks(); I < Line.size(); SkipBlanks()) {
    std::string Arg;
    if (Line[I] != '"') {
      while (I < Line.size() && Line[I] != ' ' && Line[I] != '\r') Arg += Line[I++];
      A.Args.push_back(Arg);
      continue;
    }
    for (++I;; ++I) {
      if (I >= Line.size()) Bad("comillas sin cerrar");
      const char C = Line[I];
      if (C == '"') break;
      if (C != '\\') {
        Arg += C;
        continue;
      }
      if (++I >= Line.size()) Bad("escape al final");
      switch (Line[I]) {
        case 'n':
          Arg += '\n';
          break;
        case 't':
          Arg += '\t';
          break;
        case 'x': {
          const int H = I + 2 < Line.size() ? HexDigit(Line[I + 1]) : -1;
          const int L = H >= 0 ? HexDigit(Line[I + 2]) : -1;
          if (L < 0) Bad("escape \\x incompleto");
          Arg += static_cast<char>(H * 16 + L);
          I += 2;
          break;
        }
        default:
          Arg += Line[I];
      }
    }
    ++I;
    if (I < Line.size() && Line[I] == '*') {
      size_t Count = 0, Digits = 0;
      for (++I; I < Line.size() && std::isdigit(static_cast<unsigned char>(Line[I])); ++I, ++Digits)
        Count = Count * 10 + static_cast<size_t>(Line[I] - '0');
      if (Digits == 0 || Digits > 7) Bad("repetición no válida");
      std::string Whole;
      Whole.reserve(Arg.size() * Count);
      for (size_t K = 0; K < Count; ++K) Whole += Arg;
      Arg = std::move(Whole);
    }
    if (I < Line.size() && Line[I] != ' ' && Line[I] != '\r') Bad("texto tras las comillas");
    A.Args.push_back(std::move(Arg));
  }
  return A;
}

uint64_t TRandom::Next() {
  uint64_t Z = (FState += 0x9E3779B97F4A7C15ull);
  Z = (Z ^ (Z >> 30)) * 0xBF58476D1CE4E5B9ull;
  Z = (Z ^ (Z >> 27)) * 0x94D049BB133111EBull;
  return Z ^ (Z >> 31);
}

int TRandom::Below(int N) {
  return N <= 0 ? 0 : static_cast<int>(Next() % static_cast<uint64_t>(N));
}

}  // namespace monkey
