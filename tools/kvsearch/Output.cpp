// kvsearch's result writers. Records are read by stored-row id, so writing never moves the
// result's cursor.
#include "Output.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "DB.h"
#include "DateTime.h"

using namespace kv;

namespace {

// Rows whose texts decide the column widths; later rows longer than that overflow.
constexpr long long WidthSampleRows = 10000;
// No column grows wider than this; longer texts are cut with an ellipsis.
constexpr size_t MaxColumnWidth = 60;

std::vector<TField*> VisibleFields(TDataSet& DataSet) {
  std::vector<TField*> Out;
  for (int I = 0; I < DataSet.FieldCount(); ++I)
    if (DataSet.Fields(I)->Visible()) Out.push_back(DataSet.Fields(I));
  return Out;
}

long long RowsToWrite(const TDataSet& DataSet, long long Limit) {
  long long N = DataSet.RecordCount();
  return Limit < 0 ? N : std::min(N, Limit);
}

// A text for one table cell: control characters become blanks, long texts are cut.
std::string CellText(std::string S) {
  for (char& C : S)
    if (static_cast<unsigned char>(C) < 0x20) C = ' ';
  if (TextWidth(S) <= MaxColumnWidth) return S;
  size_t I = 0, N = 0;
  while (I < S.size() && N < MaxColumnWidth - 1) {
    unsigned char C = static_cast<unsigned char>(S[I]);
    I += C < 0x80 ? 1 : (C >> 5) == 6 ? 2 : (C >> 4) == 14 ? 3 : 4;
    ++N;
  }
  return S.substr(0, I) + "…";
}

void Pad(std::ostream& Out, const std::string& S, size_t Width, bool Right, bool Last) {
  size_t W = TextWidth(S);
  size_t Fill = Width > W ? Width - W : 0;
  if (Right)
    Out << std::string(Fill, ' ') << S;
  else {
    Out << S;
    if (!Last) Out << std::string(Fill, ' ');
  }
}

std::string CsvField(const std::string& S) {
  if (S.find_first_of(",\"\r\n") == std::string::npos) return S;
  std::string Out = "\"";
  for (char C : S) {
    if (C == '"') Out += '"';
    Out += C;
  }
  return Out + "\"";
}

std::string JsonNumber(double V) {
  if (!std::isfinite(V)) return "null";
  char Buf[64];
  auto R = std::to_chars(Buf, Buf + sizeof Buf, V);
  return std::string(Buf, R.ptr);
}

std::string JsonDate(double V, TFieldType T) {
  int Y, M, D, H, N, S, Ms;
  DecodeDate(TDateTime(V), Y, M, D);
  DecodeTime(TDateTime(V), H, N, S, Ms);
  char Buf[48];
  int Len = 0;
  if (T == ftDate)
    Len = std::snprintf(Buf, sizeof Buf, "%04d-%02d-%02d", Y, M, D);
  else if (T == ftTime)
    Len = std::snprintf(Buf, sizeof Buf, "%02d:%02d:%02d", H, N, S);
  else
    Len = std::snprintf(Buf, sizeof Buf, "%04d-%02d-%02dT%02d:%02d:%02d", Y, M, D, H, N, S);
  // The milliseconds the table keeps are part of the value.
  if (T != ftDate && Ms != 0) std::snprintf(Buf + Len, sizeof Buf - Len, ".%03d", Ms);
  return "\"" + std::string(Buf) + "\"";
}

std::string JsonValue(const TField& F, const Variant& V) {
  switch (V.VarType()) {
    case varEmpty:
    case varNull:
      return "null";
    case varBoolean:
      return V.AsBoolean() ? "true" : "false";
    case varSmallint:
    case varInteger:
    case varInt64:
      return std::to_string(V.AsInt64());
    case varDouble:
    case varCurrency:
      if (IsDateTimeType(F.DataType())) return JsonDate(V.AsDouble(), F.DataType());
      return JsonNumber(V.AsDouble());
    case varDate:
      return JsonDate(V.AsDouble(), F.DataType());
    default:
      return JsonString(V.AsString());
  }
}

}  // namespace

size_t TextWidth(std::string_view S) {
  size_t N = 0;
  for (unsigned char C : S)
    if ((C & 0xC0) != 0x80) ++N;
  return N;
}

std::string CounterLine(long long Count) {
  return "Registros encontrados:" + std::to_string(Count);
}

TResultCount TResultCount::Of(const TDataSet& DataSet, long long Limit, bool ReadWhole) {
  const long long N = DataSet.RecordCount();
  if (ReadWhole || Limit < 0 || N <= Limit) return {N};
  return {N, Limit};
}

std::string TResultCount::Line() const {
  if (MoreThan < 0) return CounterLine(Count);
  return "Registros encontrados:más de " + std::to_string(MoreThan);
}

std::string TResultCount::Json() const {
  if (MoreThan < 0) return "\"count\": " + std::to_string(Count);
  return "\"count\": null, \"more_than\": " + std::to_string(MoreThan);
}

namespace {

// The length of the valid UTF-8 sequence at S[I], or 0 when none starts there (a stray or
// missing continuation byte, an overlong form, a surrogate, past U+10FFFF).
size_t Utf8SequenceAt(std::string_view S, size_t I) {
  const auto B = [&](size_t K) { return static_cast<unsigned char>(S[K]); };
  const unsigned char C = B(I);
  if (C < 0x80) return 1;
  size_t N = C >= 0xC2 && C <= 0xDF   ? 2
             : C >= 0xE0 && C <= 0xEF ? 3
             : C >= 0xF0 && C <= 0xF4 ? 4
                                      : 0;
  if (N == 0 || I + N > S.size()) return 0;
  for (size_t K = 1; K < N; ++K)
    if ((B(I + K) & 0xC0) != 0x80) return 0;
  const unsigned char D = B(I + 1);
  if ((C == 0xE0 && D < 0xA0) || (C == 0xED && D > 0x9F) || (C == 0xF0 && D < 0x90) ||
      (C == 0xF4 && D > 0x8F))
    return 0;
  return N;
}

}  // namespace

std::string ValidUtf8(std::string_view S) {
  std::string Out;
  Out.reserve(S.size());
  for (size_t I = 0; I < S.size();) {
    const size_t N = Utf8SequenceAt(S, I);
    if (N == 0) {
      Out += "\xEF\xBF\xBD";  // U+FFFD REPLACEMENT CHARACTER
      ++I;
    } else {
      Out.append(S.substr(I, N));
      I += N;
    }
  }
  return Out;
}

std::string JsonString(std::string_view Text) {
  // Every text becomes valid JSON: bytes that are no UTF-8 are replaced, never copied.
  const std::string S = ValidUtf8(Text);
  std::string Out = "\"";
  for (char Ch : S) {
    unsigned char C = static_cast<unsigned char>(Ch);
    switch (C) {
      case '"':
        Out += "\\\"";
        break;
      case '\\':
        Out += "\\\\";
        break;
      case '\n':
        Out += "\\n";
        break;
      case '\r':
        Out += "\\r";
        break;
      case '\t':
        Out += "\\t";
        break;
      default:
        if (C < 0x20) {
          char Buf[8];
          std::snprintf(Buf, sizeof Buf, "\\u%04x", C);
          Out += Buf;
        } else {
          Out += Ch;
        }
    }
  }
  return Out + "\"";
}

void WriteTable(std::ostream& Out, TDataSet& DataSet, long long Limit, bool ReadWhole) {
  std::vector<TField*> Fields = VisibleFields(DataSet);
  long long Rows = RowsToWrite(DataSet, Limit);
  std::vector<size_t> Widths;
  for (TField* F : Fields) Widths.push_back(std::min(TextWidth(F->DisplayLabel()), MaxColumnWidth));
  for (long long R = 0; R < std::min(Rows, WidthSampleRows); ++R) {
    TBookmark Row = DataSet.RowAt(static_cast<int>(R));
    for (size_t C = 0; C < Fields.size(); ++C)
      Widths[C] = std::max(Widths[C], TextWidth(CellText(Fields[C]->DisplayTextAt(Row))));
  }
  auto Line = [&](auto&& TextOf) {
    for (size_t C = 0; C < Fields.size(); ++C) {
      if (C) Out << "  ";
      Pad(Out, TextOf(C), Widths[C], Fields[C]->Alignment() == taRightJustify,
          C + 1 == Fields.size());
    }
    Out << '\n';
  };
  Line([&](size_t C) { return CellText(Fields[C]->DisplayLabel()); });
  Line([&](size_t C) { return std::string(Widths[C], '-'); });
  for (long long R = 0; R < Rows; ++R) {
    TBookmark Row = DataSet.RowAt(static_cast<int>(R));
    Line([&](size_t C) { return CellText(Fields[C]->DisplayTextAt(Row)); });
  }
  Out << '\n' << TResultCount::Of(DataSet, Limit, ReadWhole).Line() << '\n';
}

void WriteCsv(std::ostream& Out, TDataSet& DataSet, long long Limit) {
  std::vector<TField*> Fields = VisibleFields(DataSet);
  for (size_t C = 0; C < Fields.size(); ++C)
    Out << (C ? "," : "") << CsvField(Fields[C]->DisplayLabel());
  Out << "\r\n";
  long long Rows = RowsToWrite(DataSet, Limit);
  for (long long R = 0; R < Rows; ++R) {
    TBookmark Row = DataSet.RowAt(static_cast<int>(R));
    for (size_t C = 0; C < Fields.size(); ++C)
      Out << (C ? "," : "") << CsvField(Fields[C]->DisplayTextAt(Row));
    Out << "\r\n";
  }
}

void WriteJson(std::ostream& Out, TDataSet& DataSet, long long Limit, bool ReadWhole) {
  std::vector<TField*> Fields = VisibleFields(DataSet);
  long long Rows = RowsToWrite(DataSet, Limit);
  Out << "{" << TResultCount::Of(DataSet, Limit, ReadWhole).Json() << ", \"records\": [";
  for (long long R = 0; R < Rows; ++R) {
    TBookmark Row = DataSet.RowAt(static_cast<int>(R));
    Out << (R ? ",\n  {" : "\n  {");
    for (size_t C = 0; C < Fields.size(); ++C) {
      if (C) Out << ", ";
      Out << JsonString(Fields[C]->FieldName()) << ": "
          << JsonValue(*Fields[C], Fields[C]->ValueAt(Row));
    }
    Out << '}';
  }
  Out << (Rows ? "\n]}\n" : "]}\n");
}
