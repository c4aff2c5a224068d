// Tokenizer of the dataset filter language.
#include "FilterLexer.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "DB.h"

namespace kv {

namespace {

bool IsDigit(unsigned char C) {
  return C >= '0' && C <= '9';
}

// Byte length of the name character (letter, digit, '_', a letter's combining mark) that
// starts at Offset, 0 when none starts there. Names may hold any Unicode letter ("Año").
size_t NameCharLen(std::string_view Text, size_t Offset, bool AllowDigit = true) {
  const unsigned char C = Text[Offset];
  if (C < 0x80)
    return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || C == '_' ||
                   (AllowDigit && IsDigit(C))
               ? 1
               : 0;
  int32_t I = static_cast<int32_t>(Offset);
  UChar32 Cp;
  U8_NEXT(Text.data(), I, static_cast<int32_t>(Text.size()), Cp);
  if (Cp < 0) return 0;
  const bool Ok =
      u_isalpha(Cp) || (AllowDigit && u_isdigit(Cp)) || (U_GET_GC_MASK(Cp) & U_GC_M_MASK) != 0;
  return Ok ? static_cast<size_t>(I) - Offset : 0;
}

bool IsBlank(unsigned char C) {
  return C == ' ' || C == '\t' || C == '\r' || C == '\n';
}

bool SameAscii(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t I = 0; I < A.size(); ++I) {
    unsigned char X = A[I], Y = B[I];
    if (X >= 'A' && X <= 'Z') X = X - 'A' + 'a';
    if (Y >= 'A' && Y <= 'Z') Y = Y - 'A' + 'a';
    if (X != Y) return false;
  }
  return true;
}

TFilterTokenKind KeywordKind(std::string_view Word) {
  if (SameAscii(Word, "and")) return TFilterTokenKind::And;
  if (SameAscii(Word, "or")) return TFilterTokenKind::Or;
  if (SameAscii(Word, "not")) return TFilterTokenKind::Not;
  if (SameAscii(Word, "null")) return TFilterTokenKind::Null;
  if (SameAscii(Word, "true")) return TFilterTokenKind::True;
  if (SameAscii(Word, "false")) return TFilterTokenKind::False;
  return TFilterTokenKind::Name;
}

class TFilterLexer {
 public:
  explicit TFilterLexer(std::string_view Text) : FText(Text) {}

  std::vector<TFilterToken> Run() {
    std::vector<TFilterToken> Tokens;
    for (;;) {
      while (FAt < FText.size() && IsBlank(FText[FAt])) ++FAt;
      if (FAt >= FText.size()) break;
      Tokens.push_back(Next());
    }
    TFilterToken End;
    End.Pos = PosOf(FText.size());
    Tokens.push_back(std::move(End));
    return Tokens;
  }

 private:
  std::string_view FText;
  size_t FAt = 0;
  // Cache for PosOf: characters counted up to a byte offset.
  size_t FCountedTo = 0;
  int FCountedChars = 0;

  // 1-based character position of byte offset Offset (offsets only grow while lexing).
  int PosOf(size_t Offset) {
    if (Offset < FCountedTo) {
      FCountedTo = 0;
      FCountedChars = 0;
    }
    for (; FCountedTo < Offset; ++FCountedTo)
      if ((static_cast<unsigned char>(FText[FCountedTo]) & 0xC0) != 0x80) ++FCountedChars;
    return FCountedChars + 1;
  }

  TFilterToken Make(TFilterTokenKind Kind, size_t Start, size_t End, std::string Value) {
    TFilterToken T;
    T.Kind = Kind;
    T.Value = std::move(Value);
    T.Source = std::string(FText.substr(Start, End - Start));
    T.Pos = PosOf(Start);
    FAt = End;
    return T;
  }

  [[noreturn]] void Fail(size_t Start, size_t End, std::string_view What) {
    TFilterToken T = Make(TFilterTokenKind::Name, Start, End, {});
    RaiseFilterError(T, What);
  }

  // Byte offset just after the run of name characters that starts at Start.
  size_t NameEnd(size_t Start) const {
    size_t End = Start;
    while (End < FText.size()) {
      const size_t N = NameCharLen(FText, End);
      if (N == 0) break;
      End += N;
    }
    return End;
  }

  // Length of the UTF-8 character starting at Offset (1 for a stray byte).
  size_t CharLen(size_t Offset) const {
    unsigned char C = FText[Offset];
    size_t N = C < 0x80             ? 1
               : (C & 0xE0) == 0xC0 ? 2
               : (C & 0xF0) == 0xE0 ? 3
               : (C & 0xF8) == 0xF0 ? 4
                                    : 1;
    return Offset + N <= FText.size() ? N : 1;
  }

  TFilterToken Next() {
    const size_t Start = FAt;
    const unsigned char C = FText[Start];
    const unsigned char C2 = Start + 1 < FText.size() ? FText[Start + 1] : 0;
    switch (C) {
      case '(':
        return Make(TFilterTokenKind::LParen, Start, Start + 1, "(");
      case ')':
        return Make(TFilterTokenKind::RParen, Start, Start + 1, ")");
      case '=':
        if (C2 == '=') Fail(Start, Start + 2, "operador no válido");
        return Make(TFilterTokenKind::Eq, Start, Start + 1, "=");
      case '<':
        if (C2 == '>') return Make(TFilterTokenKind::Ne, Start, Start + 2, "<>");
        if (C2 == '=') return Make(TFilterTokenKind::Le, Start, Start + 2, "<=");
        return Make(TFilterTokenKind::Lt, Start, Start + 1, "<");
      case '>':
        if (C2 == '<') Fail(Start, Start + 2, "operador no válido");
        if (C2 == '=') return Make(TFilterTokenKind::Ge, Start, Start + 2, ">=");
        return Make(TFilterTokenKind::Gt, Start, Start + 1, ">");
      case '!':
        if (C2 == '=') Fail(Start, Start + 2, "operador no válido");
        break;
      case '\'':
        return QuotedText(Start);
      case '[':
        return BracketName(Start);
      default:
        break;
    }
    if (IsDigit(C) || ((C == '-' || C == '+') && IsDigit(C2))) return NumberOrName(Start);
    if (NameCharLen(FText, Start, false) > 0) {
      const size_t End = NameEnd(Start);
      std::string_view Word = FText.substr(Start, End - Start);
      return Make(KeywordKind(Word), Start, End, std::string(Word));
    }
    Fail(Start, Start + CharLen(Start), "carácter no válido");
  }

  TFilterToken QuotedText(size_t Start) {
    std::string Value;
    size_t I = Start + 1;
    for (;;) {
      if (I >= FText.size()) Fail(Start, FText.size(), "falta la comilla de cierre");
      if (FText[I] == '\'') {
        if (I + 1 < FText.size() && FText[I + 1] == '\'') {
          Value += '\'';
          I += 2;
          continue;
        }
        return Make(TFilterTokenKind::String, Start, I + 1, std::move(Value));
      }
      Value += FText[I++];
    }
  }

  TFilterToken BracketName(size_t Start) {
    size_t Close = FText.find(']', Start + 1);
    if (Close == std::string_view::npos) Fail(Start, FText.size(), "falta el corchete de cierre");
    if (Close == Start + 1) Fail(Start, Close + 1, "falta el nombre del campo");
    return Make(TFilterTokenKind::Name, Start, Close + 1,
                std::string(FText.substr(Start + 1, Close - Start - 1)));
  }

  // 12, 12.5, -3, 1e3; a run that goes on with letters (2003Sales) is a name.
  TFilterToken NumberOrName(size_t Start) {
    const bool Signed = FText[Start] == '-' || FText[Start] == '+';
    size_t I = Signed ? Start + 1 : Start;
    while (I < FText.size() && IsDigit(FText[I])) ++I;
    if (I + 1 < FText.size() && FText[I] == '.' && IsDigit(FText[I + 1])) {
      ++I;
      while (I < FText.size() && IsDigit(FText[I])) ++I;
    }
    if (I < FText.size() && (FText[I] == 'e' || FText[I] == 'E')) {
      size_t J = I + 1;
      if (J < FText.size() && (FText[J] == '-' || FText[J] == '+')) ++J;
      if (J < FText.size() && IsDigit(FText[J])) {
        while (J < FText.size() && IsDigit(FText[J])) ++J;
        I = J;
      }
    }
    if (I < FText.size() && (NameCharLen(FText, I) > 0 || FText[I] == '.')) {
      // Not a number: a name that begins with digits, or something malformed.
      size_t End = NameEnd(Signed ? Start + 1 : Start);
      if (End < FText.size() && FText[End] == '.') {
        while (End < FText.size() && (FText[End] == '.' || NameCharLen(FText, End) > 0))
          End = FText[End] == '.' ? End + 1 : NameEnd(End);
        Fail(Start, End, "número no válido");
      }
      if (Signed) Fail(Start, End, "número no válido");
      return Make(TFilterTokenKind::Name, Start, End,
                  std::string(FText.substr(Start, End - Start)));
    }
    return Make(TFilterTokenKind::Number, Start, I, std::string(FText.substr(Start, I - Start)));
  }
};

}  // namespace

std::vector<TFilterToken> TokenizeFilter(std::string_view Text) {
  return TFilterLexer(Text).Run();
}

std::string DescribeFilterToken(const TFilterToken& Tok) {
  if (Tok.Kind == TFilterTokenKind::End) return "(fin del texto)";
  // A constant shows its own quotes, also when it lacks the closing one.
  if (!Tok.Source.empty() && Tok.Source[0] == '\'') return "(" + Tok.Source + ")";
  return "('" + Tok.Source + "')";
}

void RaiseFilterError(const TFilterToken& Tok, std::string_view What) {
  throw EDatabaseError("Filtro no válido en la posición " + std::to_string(Tok.Pos) + " " +
                       DescribeFilterToken(Tok) + ": " + std::string(What));
}

}  // namespace kv
