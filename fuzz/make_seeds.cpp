// Writes the seed tables of the reader fuzz targets (small files made by our own writers):
//   make_seeds DIR   ->  DIR/paradox/*, DIR/dbase/*, DIR/ascii/* (schema, NUL, data)
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "DateTime.h"
#include "TableFile.h"

using namespace kv;

namespace {

TTableStore Mixed() {
  TTableStore T;
  T.AddColumn({"Name", ftString, 12, false});
  T.AddColumn({"Short", ftSmallint, 0, false});
  T.AddColumn({"Long", ftInteger, 0, false});
  T.AddColumn({"Num", ftFloat, 0, false});
  T.AddColumn({"Money", ftCurrency, 0, false});
  T.AddColumn({"Flag", ftBoolean, 0, false});
  T.AddColumn({"Day", ftDate, 0, false});
  T.AddColumn({"Clock", ftTime, 0, false});
  T.AddColumn({"Stamp", ftDateTime, 0, false});
  T.AddColumn({"Seq", ftAutoInc, 0, false});
  T.AddColumn({"Notes", ftMemo, 0, false});
  T.AppendRow({"Ñandú", -3, 123456, -2.5, Variant::Currency(10.25), true, TDateTime(36526),
               TDateTime(0.5), TDateTime(36526.25), 1, "línea"});
  T.AppendRow(
      {Null(), Null(), Null(), Null(), Null(), Null(), Null(), Null(), Null(), Null(), Null()});
  T.AppendRow({"O'Brien \"x\"", 32767, -2147483647, 1e-5, Variant::Currency(-0.5), false,
               TDateTime(-693593), TDateTime(0.99999), TDateTime(2958465.5), 3, "a,b"});
  T.PrimaryKey = {"Name"};
  return T;
}

TTableStore Narrow() {
  TTableStore T;
  T.AddColumn({"Id", ftInteger, 0, true});
  T.AddColumn({"City", ftString, 8, false});
  T.AppendRow({1, "Madrid"});
  T.AppendRow({2, Null()});
  return T;
}

std::string Bytes(const std::string& Path) {
  std::ifstream F(Path, std::ios::binary);
  std::ostringstream S;
  S << F.rdbuf();
  return S.str();
}

void Put(const std::string& Path, const std::string& Data) {
  std::ofstream(Path, std::ios::binary | std::ios::trunc) << Data;
}

}  // namespace

int main(int Argc, char** Argv) {
  if (Argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIR\n");
    return 2;
  }
  namespace fs = std::filesystem;
  const std::string Out = Argv[1];
  const std::string Tmp = Out + "/.tmp";
  fs::create_directories(Tmp);
  for (const char* Sub : {"paradox", "dbase", "ascii"}) fs::create_directories(Out + "/" + Sub);
  std::vector<uint32_t> None;
  struct {
    const char* Name;
    TTableStore T;
    const std::vector<uint32_t>* Rows;
  } Tables[] = {
      {"mixed", Mixed(), nullptr}, {"narrow", Narrow(), nullptr}, {"empty", Narrow(), &None}};
  for (auto& T : Tables) {
    SaveTableFile(Tmp + "/" + T.Name + ".db", T.T, T.Rows);
    fs::copy_file(Tmp + "/" + T.Name + ".db", Out + "/paradox/" + T.Name + ".db",
                  fs::copy_options::overwrite_existing);
    SaveTableFile(Tmp + "/" + T.Name + ".dbf", T.T, T.Rows);
    fs::copy_file(Tmp + "/" + T.Name + ".dbf", Out + "/dbase/" + T.Name + ".dbf",
                  fs::copy_options::overwrite_existing);
    SaveTableFile(Tmp + "/" + T.Name + ".txt", T.T, T.Rows);
    Put(Out + "/ascii/" + T.Name, Bytes(Tmp + "/" + T.Name + ".sch") + std::string(1, '\0') +
                                      Bytes(Tmp + "/" + T.Name + ".txt"));
  }
  fs::remove_all(Tmp);
  return 0;
}
