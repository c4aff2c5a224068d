// gensample: writes the order-entry sample database (customers, orders, order items, parts)
// that the demonstration program and the search tool run on, into table files, a SQLite file or
// a PostgreSQL database. The data is invented here and fully deterministic: a fixed-seed
// generator of our own, so two runs give identical files on every machine and library version.
// A scale option produces the large tables the benchmarks use.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "DateTime.h"
#include "PgConnection.h"
#include "PgDialect.h"
#include "SysUtils.h"
#include "TableFile.h"
#include "TableStore.h"

using namespace kv;

namespace {

// ---------------------------------------------------------------------------------------------
// Random numbers: splitmix64, so the sequence never depends on the standard library.

class TRandom {
 public:
  explicit TRandom(uint64_t Seed) : FState(Seed) {}
  uint64_t Next() {
    uint64_t Z = (FState += 0x9E3779B97F4A7C15ull);
    Z = (Z ^ (Z >> 30)) * 0xBF58476D1CE4E5B9ull;
    Z = (Z ^ (Z >> 27)) * 0x94D049BB133111EBull;
    return Z ^ (Z >> 31);
  }
  // A whole number in [Lo, Hi].
  int64_t Range(int64_t Lo, int64_t Hi) {
    return Lo + static_cast<int64_t>(Next() % static_cast<uint64_t>(Hi - Lo + 1));
  }
  // A number in [0, 1).
  double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  // True with the given chance in percent.
  bool Chance(int Percent) { return Range(0, 99) < Percent; }
  template <class T>
  const T& Pick(const std::vector<T>& Items) {
    return Items[static_cast<size_t>(Range(0, static_cast<int64_t>(Items.size()) - 1))];
  }

 private:
  uint64_t FState;
};

// Rounds money to cents.
double Cents(double V) {
  return std::round(V * 100.0) / 100.0;
}

// Cuts a UTF-8 text to at most Chars characters (the field sizes count characters), without
// trailing blanks: a prefix of S.
std::string_view Fit(std::string_view S, int Chars) {
  size_t I = 0;
  int N = 0;
  while (I < S.size()) {
    unsigned char C = static_cast<unsigned char>(S[I]);
    size_t Len = C < 0x80 ? 1 : (C >> 5) == 6 ? 2 : (C >> 4) == 14 ? 3 : 4;
    if (N == Chars) break;
    I += Len;
    ++N;
  }
  std::string_view R = S.substr(0, std::min(I, S.size()));
  while (!R.empty() && R.back() == ' ') R.remove_suffix(1);
  return R;
}

std::string Digits(TRandom& R, int Count) {
  std::string S;
  for (int I = 0; I < Count; ++I) S += static_cast<char>('0' + R.Range(0, 9));
  return S;
}

// Replaces every '#' of a pattern by a random digit: "952 ## ## ##".
std::string FromPattern(TRandom& R, std::string_view Pattern) {
  std::string S;
  for (char C : Pattern) S += C == '#' ? static_cast<char>('0' + R.Range(0, 9)) : C;
  return S;
}

// ---------------------------------------------------------------------------------------------
// Invented reference data. Texts keep to characters every table-file code page holds.

enum TLanguage { laSpanish, laPortuguese, laEnglish, laGerman, laFrench };

struct TCity {
  const char* Name;   // up to 15 characters
  const char* State;  // up to 20 characters, may be empty
  const char* Zip;    // pattern: '#' is a random digit
  const char* Phone;  // pattern, up to 15 characters
};

struct TCountry {
  const char* Name;
  TLanguage Language;
  double TaxRate;  // percent
  std::vector<TCity> Cities;
  std::vector<std::string> Carriers;  // up to 7 characters
  int Weight;                         // share of customers
};

const std::vector<TCountry>& Countries() {
  static const std::vector<TCountry> List = {
      {"España",
       laSpanish,
       21,
       {{"Madrid", "Madrid", "280##", "91 ### ## ##"},
        {"Málaga", "Málaga", "290##", "952 ## ## ##"},
        {"Sevilla", "Sevilla", "410##", "954 ## ## ##"},
        {"A Coruña", "A Coruña", "150##", "981 ## ## ##"},
        {"Cádiz", "Cádiz", "110##", "956 ## ## ##"},
        {"Córdoba", "Córdoba", "140##", "957 ## ## ##"},
        {"Logroño", "La Rioja", "260##", "941 ## ## ##"},
        {"Ávila", "Ávila", "050##", "920 ## ## ##"},
        {"León", "León", "240##", "987 ## ## ##"},
        {"Palma", "Illes Balears", "070##", "971 ## ## ##"},
        {"Donostia", "Gipuzkoa", "200##", "943 ## ## ##"},
        {"Cáceres", "Cáceres", "100##", "927 ## ## ##"},
        {"Almuñécar", "Granada", "186##", "958 ## ## ##"}},
       {"Correos", "SEUR", "MRW", "Camión"},
       30},
      {"US",
       laEnglish,
       7.5,
       {{"Miami", "FL", "331##", "305-555-01##"},
        {"San Diego", "CA", "921##", "619-555-01##"},
        {"Honolulu", "HI", "968##", "808-555-01##"},
        {"Boston", "MA", "021##", "617-555-01##"},
        {"Santa Fe", "NM", "875##", "505-555-01##"},
        {"Key West", "FL", "33040", "305-555-01##"},
        {"Seattle", "WA", "981##", "206-555-01##"}},
       {"UPS", "FedEx", "DHL", "USPS"},
       16},
      {"México",
       laSpanish,
       16,
       {{"Guadalajara", "Jalisco", "441##", "33 #### ####"},
        {"Mérida", "Yucatán", "970##", "999 ### ####"},
        {"Cancún", "Quintana Roo", "775##", "998 ### ####"},
        {"Querétaro", "Querétaro", "760##", "442 ### ####"}},
       {"DHL", "Estafet", "FedEx"},
       8},
      {"Argentina",
       laSpanish,
       0,
       {{"Buenos Aires", "CABA", "C1###AAA", "11 ####-####"},
        {"Córdoba", "Córdoba", "X5000", "351 ###-####"},
        {"Ushuaia", "Tierra del Fuego", "V9410", "2901 ##-####"},
        {"Rosario", "Santa Fe", "S2000", "341 ###-####"}},
       {"Correo", "OCA", "DHL"},
       6},
      {"Chile",
       laSpanish,
       0,
       {{"Viña del Mar", "Valparaíso", "2520000", "32 2## ####"},
        {"Valdivia", "Los Ríos", "5090000", "63 2## ####"},
        {"Punta Arenas", "Magallanes", "6200000", "61 2## ####"}},
       {"DHL", "Chilexp"},
       4},
      {"Colombia",
       laSpanish,
       0,
       {{"Medellín", "Antioquia", "0500##", "604 ### ####"},
        {"Bogotá", "Cundinamarca", "1100##", "601 ### ####"},
        {"Cartagena", "Bolívar", "1300##", "605 ### ####"}},
       {"DHL", "Servien"},
       4},
      {"Perú", laSpanish, 0, {{"Cusco", "Cusco", "08000", "84 ## ####"}}, {"DHL", "Olva"}, 2},
      {"Uruguay",
       laSpanish,
       0,
       {{"Montevideo", "Montevideo", "11###", "2 ### ####"},
        {"Punta del Este", "Maldonado", "20100", "42 ## ####"}},
       {"DHL", "UES"},
       2},
      {"Brasil",
       laPortuguese,
       0,
       {{"São Paulo", "SP", "01310-###", "11 ####-####"},
        {"Florianópolis", "SC", "88010-###", "48 ####-####"},
        {"Belém", "PA", "66010-###", "91 ####-####"},
        {"Niterói", "RJ", "24020-###", "21 ####-####"}},
       {"Correio", "DHL", "FedEx"},
       7},
      {"Portugal",
       laPortuguese,
       0,
       {{"Lisboa", "", "1100-###", "21 ### ####"},
        {"Porto", "", "4000-###", "22 ### ####"},
        {"Funchal", "Madeira", "9000-###", "291 ### ###"}},
       {"CTT", "DHL"},
       4},
      {"Suiza",
       laGerman,
       0,
       {{"Zürich", "ZH", "80##", "044 ### ## ##"},
        {"Luzern", "LU", "60##", "041 ### ## ##"},
        {"Genève", "GE", "12##", "022 ### ## ##"}},
       {"DHL", "Post"},
       4},
      {"Alemania",
       laGerman,
       0,
       {{"München", "Bayern", "803##", "089 ########"},
        {"Köln", "Nordrhein-Westfalen", "506##", "0221 #######"},
        {"Lübeck", "Schleswig-Holstein", "235##", "0451 #######"}},
       {"DHL", "DPD"},
       4},
      {"Francia",
       laFrench,
       0,
       {{"Nîmes", "Gard", "300##", "04 ## ## ## ##"},
        {"Orléans", "Loiret", "450##", "02 ## ## ## ##"},
        {"Besançon", "Doubs", "250##", "03 ## ## ## ##"}},
       {"Chrono", "DHL"},
       4},
      {"Canadá",
       laFrench,
       5,
       {{"Québec", "QC", "G1R #A#", "418-555-01##"}, {"Montréal", "QC", "H2X #Y#", "514-555-01##"}},
       {"Purolat", "UPS"},
       3},
      {"Islandia", laEnglish, 0, {{"Reykjavík", "", "101", "599 ####"}}, {"DHL"}, 2},
  };
  return List;
}

struct TNames {
  std::vector<std::string> First, Last, Streets, StreetForms, CompanyForms, Addr2;
};

// Name pools per language. In StreetForms "{s}" is the street, "{n}" the number; in
// CompanyForms "{c}" a core word, "{l}" a surname, "{t}" the city.
const TNames& NamesOf(TLanguage L) {
  static const TNames Spanish = {
      {"Ángel",  "María", "José",  "Inés",   "Begoña", "Íñigo", "Nuria",
       "Álvaro", "Lucía", "Raúl",  "Mónica", "Julián", "Sofía", "Andrés",
       "Ramón",  "Pilar", "Jesús", "Aitana", "Óscar",  "Elena"},
      {"Núñez", "Peña", "García", "Muñoz", "Ibáñez", "Martín", "Sánchez", "Gómez", "Díaz", "Ruiz",
       "Olmedo", "Castaño", "Ortúzar", "López", "Bermúdez", "Álvarez", "Quiñones", "Serrano"},
      {"Mayor", "de Alcalá", "Larios", "del Carmen", "de la Constitución", "San Andrés",
       "Núñez de Balboa", "de la Alameda", "del Perú", "de los Álamos", "Real", "del Puerto",
       "Colón", "de América"},
      {"Calle {s}, {n}", "Avda. {s}, {n}", "Paseo {s}, {n}", "Plaza {s}, {n}", "C/ {s} {n}"},
      {"{c} S.L.", "{c} S.A.", "Compañía {c}", "Hermanos {l}", "{l} e Hijos", "Deportes {c}",
       "Náutica {t}", "Aventura {c}", "Almacenes {l}", "Club {c}"},
      {"2º B", "Local 3", "Apartado 154", "Polígono Sur", "Bajo izda.", "Nave 7"}};
  static const TNames Portuguese = {
      {"João", "Conceição", "Antônio", "Luís", "Graça", "Sebastião", "Inês", "Tomás", "Lúcia"},
      {"Gonçalves", "Magalhães", "Araújo", "Simões", "Conceição", "Falcão", "Brandão", "Lima"},
      {"Augusta", "do Ouro", "da Liberdade", "das Flores", "Paulista", "da Glória", "Atlântica"},
      {"Rua {s}, {n}", "Av. {s}, {n}", "Travessa {s}, {n}"},
      {"{c} Ltda.", "Aventura {t} Ltda.", "Casa {l}", "{l} & Filhos", "Mergulho {c}"},
      {"Sala 402", "Loja 2", "3º andar"}};
  static const TNames English = {
      {"Ann", "Bob", "Chloe", "Dennis", "Erin", "Frank", "Grace", "Hal", "Iris", "Jake", "Zoë"},
      {"Baker", "Carter", "Dawson", "Ellis", "Fisher", "Gordon", "Harper", "Irving", "Keller"},
      {"Ocean Drive", "Harbor Blvd.", "Bay Street", "Coral Way", "Pier Road", "Main Street"},
      {"{n} {s}", "P.O. Box {n}"},
      {"{c} Outfitters", "{c} Supply Co.", "{l} & Sons", "{t} Dive Center", "{c} Traders"},
      {"Suite 200", "Unit 4B", "Building C", "Dock 12"}};
  static const TNames German = {
      {"Jürgen", "Björn", "Käthe", "Søren", "Ursula", "Günther", "Margarete", "Lukas", "Anja"},
      {"Müller", "Schäfer", "Böhm", "Weiß", "Krüger", "Größer", "Hofmann", "Zöllner", "Brügger"},
      {"Bahnhofstrasse", "Löwenstrasse", "Königsallee", "Seestrasse", "Marktplatz", "Mühlweg"},
      {"{s} {n}"},
      {"{c} AG", "{l} GmbH", "{c} Sport GmbH", "{l} & Söhne", "Bergsport {t}"},
      {"Postfach 12", "3. Stock", "Hinterhaus"}};
  static const TNames French = {
      {"Amélie", "François", "Hélène", "Jérôme", "Céline", "Noël", "Gaëlle", "Loïc", "Renée"},
      {"Lefèvre", "Girard", "Mercier", "Fontaine", "Bérard", "Chevalier", "Lemaître", "Dupré"},
      {"rue de la République", "place Bellecour", "quai des Pêcheurs", "boulevard Hérault",
       "rue Saint-Éloi"},
      {"{n} {s}"},
      {"{c} SARL", "Établissements {l}", "Plongée {t}", "{l} et Fils", "Librairie {c}"},
      {"Bâtiment B", "2e étage", "BP 48"}};
  switch (L) {
    case laPortuguese:
      return Portuguese;
    case laEnglish:
      return English;
    case laGerman:
      return German;
    case laFrench:
      return French;
    default:
      return Spanish;
  }
}

// Core words of company names; any language.
const std::vector<std::string>& CompanyCores() {
  static const std::vector<std::string> List = {
      "Ñandú",    "Cóndor",    "Alcázar",  "Albatros", "Delfín",  "Tiburón", "Marejada", "Coral",
      "Brújula",  "Atlántida", "Pingüino", "Océano",   "Galeón",  "Neptuno", "Estrella", "Caracola",
      "Mistral",  "Poseidón",  "Ámbar",    "Corsario", "Ballena", "Tortuga", "Gaviota",  "Faro",
      "Arrecife", "Horizonte", "Medusa",   "Sirena",   "Ancla",   "Bahía",   "Levante",  "Cumbre",
      "Glaciar",  "Volcán",    "Aurora",   "Zafiro",   "Lince",   "Halcón",  "Nómada",   "Águila"};
  return List;
}

struct TProduct {
  const char* Name;
  const char* Ending;  // the adjective ending that agrees with the noun
  double BaseCost;
};

// Parts: a product and a variant make the description.
const std::vector<TProduct>& Products() {
  static const std::vector<TProduct> List = {
      {"Brújula", "a", 12},     {"Linterna", "a", 18},       {"Lámpara", "a", 25},
      {"Cámara", "a", 240},     {"Prismáticos", "os", 95},   {"Cantimplora", "a", 9},
      {"Bastón", "o", 22},      {"Silbato", "o", 2},         {"Botiquín", "o", 28},
      {"Navaja", "a", 15},      {"Esterilla", "a", 14},      {"Chubasquero", "o", 31},
      {"Mosquetón", "o", 6},    {"Hornillo", "o", 38},       {"Altímetro", "o", 120},
      {"Mochila", "a", 64},     {"Saco de dormir", "o", 79}, {"Tienda", "a", 210},
      {"Cuerda", "a", 26},      {"Aletas", "as", 44},        {"Máscara", "a", 36},
      {"Regulador", "o", 380},  {"Traje", "o", 230},         {"Tubo", "o", 8},
      {"Cuchillo", "o", 19},    {"Reloj", "o", 150},         {"Piolet", "o", 88},
      {"Crampones", "os", 110}, {"Kayak", "o", 420},         {"Remo", "o", 46},
      {"Chaleco", "o", 72},     {"Gafas de sol", "as", 33}};
  return List;
}

const std::vector<std::string>& ProductVariants() {
  static const std::vector<std::string> List = {
      "de acero", "de latón",  "de aluminio", "de titanio", "de bambú", "profesional",
      "de viaje", "modelo Ñ",  "para niños",  "de montaña", "XL",       "Mini",
      "Pro",      "náutico/a", "básico/a",    "de lujo"};
  return List;
}

// ---------------------------------------------------------------------------------------------
// The tables: columns, primary keys, and the indexes a user of a database keeps on the foreign
// keys (orders.CustNo, items.PartNo; items.OrderNo leads the primary key).

struct TSampleTable {
  const char* File;  // file name without extension
  const char* Name;  // table name in a database
  std::vector<TColumnDef> Columns;
  std::vector<std::string> PrimaryKey;
  std::vector<std::string> Indexes;  // one column each
};

enum TTableId { tbCustomer, tbParts, tbOrders, tbItems };

const std::vector<TSampleTable>& SampleTables() {
  auto Str = [](const char* Name, int Size) { return TColumnDef{Name, ftString, Size, false}; };
  auto Of = [](const char* Name, TFieldType T) { return TColumnDef{Name, T, 0, false}; };
  static const std::vector<TSampleTable> Tables = {
      {"CUSTOMER",
       "customer",
       {Of("CustNo", ftFloat), Str("Company", 30), Str("Addr1", 30), Str("Addr2", 30),
        Str("City", 15), Str("State", 20), Str("Zip", 10), Str("Country", 20), Str("Phone", 15),
        Str("FAX", 15), Of("TaxRate", ftFloat), Str("Contact", 20),
        Of("LastInvoiceDate", ftDateTime)},
       {"CustNo"},
       {}},
      {"PARTS",
       "parts",
       {Of("PartNo", ftFloat), Of("VendorNo", ftFloat), Str("Description", 30),
        Of("OnHand", ftFloat), Of("OnOrder", ftFloat), Of("Cost", ftCurrency),
        Of("ListPrice", ftCurrency)},
       {"PartNo"},
       {}},
      {"ORDERS",
       "orders",
       {Of("OrderNo", ftFloat),
        Of("CustNo", ftFloat),
        Of("SaleDate", ftDateTime),
        Of("ShipDate", ftDateTime),
        Of("EmpNo", ftInteger),
        Str("ShipToContact", 20),
        Str("ShipToAddr1", 30),
        Str("ShipToAddr2", 30),
        Str("ShipToCity", 15),
        Str("ShipToState", 20),
        Str("ShipToZip", 10),
        Str("ShipToCountry", 20),
        Str("ShipToPhone", 15),
        Str("ShipVIA", 7),
        Str("PO", 15),
        Str("Terms", 6),
        Str("PaymentMethod", 7),
        Of("ItemsTotal", ftCurrency),
        Of("TaxRate", ftFloat),
        Of("Freight", ftCurrency),
        Of("AmountPaid", ftCurrency)},
       {"OrderNo"},
       {"CustNo"}},
      {"ITEMS",
       "items",
       {Of("OrderNo", ftFloat), Of("ItemNo", ftFloat), Of("PartNo", ftFloat), Of("Qty", ftInteger),
        Of("Discount", ftFloat)},
       {"OrderNo", "ItemNo"},
       {"PartNo"}},
  };
  return Tables;
}

// The rows of one table, value by value in column order. Texts are cut to their column's size;
// an empty text and a date of 0 are Null, as the table files store them.
class TRowWriter {
 public:
  explicit TRowWriter(const TSampleTable& T) : FTable(T) {}
  virtual ~TRowWriter() = default;
  void Number(double V) {
    PutNumber(V);
    ++FCol;
  }
  void Int(int64_t V) {
    PutInt(V);
    ++FCol;
  }
  void Text(std::string_view V) {
    if (V.empty())
      PutNull();
    else
      PutText(Fit(V, FTable.Columns[FCol].Size));
    ++FCol;
  }
  void Moment(double V) {
    if (V == 0)
      PutNull();
    else
      PutMoment(V);
    ++FCol;
  }
  void Null() {
    PutNull();
    ++FCol;
  }
  void EndRow() {
    PutEndRow();
    FCol = 0;
    ++FRows;
  }
  int64_t Rows() const { return FRows; }
  // The table is complete.
  virtual void Finish() {}

 protected:
  virtual void PutNumber(double) {}
  virtual void PutInt(int64_t) {}
  virtual void PutText(std::string_view) {}
  virtual void PutMoment(double) {}
  virtual void PutNull() {}
  virtual void PutEndRow() {}
  const TSampleTable& FTable;
  size_t FCol = 0;
  int64_t FRows = 0;
};

// ---------------------------------------------------------------------------------------------
// Generation: each table's rows go to a writer as they are made. Orders and their items come
// from one sequence; a target that takes one table at a time runs it twice, keeping the rows of
// one table each time (the same numbers come out: the sequence depends on the seed alone).

struct TCounts {
  int64_t Customers, Orders, Parts;
};

// Customers and parts grow with the orders: three customers per ten orders, one part per
// twenty orders, never fewer than 60 of each.
TCounts CountsFor(int64_t Orders) {
  return {std::max<int64_t>(60, Orders * 3 / 10), Orders, std::max<int64_t>(60, Orders / 20)};
}

// Progress on standard error for long runs, only when a person watches it.
class TProgress {
 public:
  TProgress() : FShow(isatty(STDERR_FILENO) != 0) {}
  void Step(const char* What, int64_t Done, int64_t Total) {
    if (!FShow || Total < 100000) return;
    int Pct = static_cast<int>(Done * 100 / Total);
    if (Pct == FLast && Done != Total) return;
    FLast = Pct;
    std::fprintf(stderr, "\rgensample: %s %3d%%", What, Pct);
    if (Done == Total) std::fprintf(stderr, "\n");
    std::fflush(stderr);
  }
  void Say(const std::string& Text) {
    if (!FShow) return;
    std::fprintf(stderr, "gensample: %s\n", Text.c_str());
  }

 private:
  bool FShow;
  int FLast = -1;
};

struct TPartInfo {
  double PartNo;
  double ListPrice;
};

// PARTS: PartNo, VendorNo, Description, OnHand, OnOrder, Cost, ListPrice.
std::vector<TPartInfo> MakeParts(int64_t Count, TRowWriter& W, TProgress& P) {
  TRandom R(0x5041525453ull);
  // A few dozen vendors with numbers in 1000..9999.
  int64_t VendorCount = std::clamp<int64_t>(Count / 5, 12, 4000);
  std::vector<double> Vendors;
  for (int64_t I = 0; I < VendorCount; ++I) {
    int64_t Slot = 8999 / VendorCount;
    Vendors.push_back(
        static_cast<double>(1000 + I * Slot + R.Range(0, std::max<int64_t>(0, Slot - 1))));
  }

  std::vector<TPartInfo> Parts;
  Parts.reserve(static_cast<size_t>(Count));
  const auto& Products = ::Products();
  const auto& Variants = ProductVariants();
  int64_t No = 900;
  bool Sparse = Count * 27 < 99000;  // spread out while five digits hold them
  for (int64_t I = 0; I < Count; ++I) {
    No += Sparse ? R.Range(1, 3) * 7 + R.Range(0, 6) : 1;
    const TProduct& Prod = R.Pick(Products);
    std::string Kind = R.Pick(Variants);
    // Gendered variants take the ending that suits the noun.
    if (auto Slash = Kind.find("o/a"); Slash != std::string::npos)
      Kind = Kind.substr(0, Slash) + Prod.Ending;
    else if (Kind == "profesional" && Prod.Ending[1] == 's')
      Kind = "profesionales";
    std::string Desc = std::string(Prod.Name) + " " + Kind;
    if (Count > 200) Desc += " " + std::to_string(R.Range(100, 999));
    double Cost = Cents(Prod.BaseCost * (0.6 + R.Unit() * 0.9));
    if (Cost < 0.5) Cost = 0.5;
    double List = Cents(Cost * (1.3 + R.Unit() * 0.9));
    double OnHand = static_cast<double>(R.Chance(8) ? 0 : R.Range(1, 600));
    double OnOrder = static_cast<double>(R.Chance(70) ? 0 : R.Range(1, 40) * 5);

    W.Number(static_cast<double>(No));
    W.Number(R.Pick(Vendors));
    W.Text(Desc);
    W.Number(OnHand);
    W.Number(OnOrder);
    W.Number(Cost);
    W.Number(List);
    W.EndRow();
    Parts.push_back({static_cast<double>(No), List});
    if ((I & 0xFFFF) == 0) P.Step("PARTS", I, Count);
  }
  P.Step("PARTS", Count, Count);
  return Parts;
}

struct TCustomerInfo {
  double CustNo;
  const TCountry* Country;
  const TCity* City;
  std::string Company, Addr1, Addr2, Zip, Phone, Fax, Contact;
  double TaxRate;
};

// What the orders need of a customer, kept for all of them (the texts are made again when the
// customers are written).
struct TCustomerKey {
  double CustNo;
  const TCountry* Country;
  double TaxRate;
  double LastInvoice = 0;
};

std::string StreetAddress(TRandom& R, const TNames& N) {
  std::string Form = R.Pick(N.StreetForms);
  std::string Street = R.Pick(N.Streets);
  std::string Num = std::to_string(R.Range(1, 250));
  if (Form.find("Box") != std::string::npos) Num = std::to_string(R.Range(100, 9999));
  std::string Out;
  for (size_t I = 0; I < Form.size(); ++I) {
    if (Form.compare(I, 3, "{s}") == 0) {
      Out += Street;
      I += 2;
    } else if (Form.compare(I, 3, "{n}") == 0) {
      Out += Num;
      I += 2;
    } else {
      Out += Form[I];
    }
  }
  return std::string(Fit(Out, 30));
}

std::string PersonName(TRandom& R, const TNames& N, int Size) {
  for (int Try = 0; Try < 8; ++Try) {
    std::string S = R.Pick(N.First) + " " + R.Pick(N.Last);
    if (static_cast<int>(Fit(S, Size).size()) == static_cast<int>(S.size())) return S;
  }
  return std::string(Fit(R.Pick(N.Last), Size));
}

std::string CompanyName(TRandom& R, const TNames& N, const TCity& City, int64_t Serial,
                        bool Numbered) {
  std::string Form = R.Pick(N.CompanyForms);
  std::string Out;
  for (size_t I = 0; I < Form.size(); ++I) {
    if (Form[I] == '{' && I + 2 < Form.size() && Form[I + 2] == '}') {
      char K = Form[I + 1];
      Out += K == 'c' ? R.Pick(CompanyCores()) : K == 'l' ? R.Pick(N.Last) : City.Name;
      I += 2;
    } else {
      Out += Form[I];
    }
  }
  // At large scale names repeat; a branch number keeps them telling apart.
  if (Numbered) Out += " " + std::to_string(Serial);
  return std::string(Fit(Out, 30));
}

// Makes the customers one by one, in key order, handing each to Take(Index, Customer).
template <class F>
void ForEachCustomer(int64_t Count, F&& Take) {
  TRandom R(0x435553544F4Dull);
  const auto& List = Countries();
  int TotalWeight = 0;
  for (const auto& C : List) TotalWeight += C.Weight;

  // Numbers spread over 1000..9999 while they fit, then consecutive beyond.
  int64_t Slot = (9999 - 1221) / Count;
  TCustomerInfo C;
  for (int64_t I = 0; I < Count; ++I) {
    C.CustNo = Slot >= 2 ? static_cast<double>(1221 + I * Slot + R.Range(0, Slot / 2))
                         : static_cast<double>(1001 + I);
    int W = static_cast<int>(R.Range(0, TotalWeight - 1));
    for (const auto& Ctry : List) {
      if (W < Ctry.Weight) {
        C.Country = &Ctry;
        break;
      }
      W -= Ctry.Weight;
    }
    C.City = &R.Pick(C.Country->Cities);
    const TNames& N = NamesOf(C.Country->Language);
    C.Company = CompanyName(R, N, *C.City, I + 1, Count > 400);
    C.Addr1 = StreetAddress(R, N);
    C.Addr2 = R.Chance(25) ? R.Pick(N.Addr2) : std::string();
    C.Zip = FromPattern(R, C.City->Zip);
    C.Phone = FromPattern(R, C.City->Phone);
    C.Fax = R.Chance(55) ? FromPattern(R, C.City->Phone) : std::string();
    C.Contact = R.Chance(6) ? std::string() : PersonName(R, N, 20);
    C.TaxRate = C.Country->TaxRate;
    if (C.Country->TaxRate > 0 && C.Country->Language == laEnglish)
      C.TaxRate = static_cast<double>(R.Range(0, 19)) * 0.5;  // US sales tax differs by place
    if (R.Chance(4)) C.TaxRate = 0;                           // exempt customers
    Take(static_cast<size_t>(I), C);
  }
}

std::vector<TCustomerKey> CustomerKeys(int64_t Count) {
  std::vector<TCustomerKey> Keys;
  Keys.reserve(static_cast<size_t>(Count));
  ForEachCustomer(Count, [&](size_t, const TCustomerInfo& C) {
    Keys.push_back({C.CustNo, C.Country, C.TaxRate});
  });
  return Keys;
}

// CUSTOMER: CustNo, Company, Addr1, Addr2, City, State, Zip, Country, Phone, FAX, TaxRate,
// Contact, LastInvoiceDate (the last of the customer's orders).
void WriteCustomers(const std::vector<TCustomerKey>& Keys, TRowWriter& W, TProgress& P) {
  const int64_t Count = static_cast<int64_t>(Keys.size());
  ForEachCustomer(Count, [&](size_t I, const TCustomerInfo& C) {
    W.Number(C.CustNo);
    W.Text(C.Company);
    W.Text(C.Addr1);
    W.Text(C.Addr2);
    W.Text(C.City->Name);
    W.Text(C.City->State);
    W.Text(C.Zip);
    W.Text(C.Country->Name);
    W.Text(C.Phone);
    W.Text(C.Fax);
    W.Number(C.TaxRate);
    W.Text(C.Contact);
    W.Moment(Keys[I].LastInvoice);
    W.EndRow();
    if ((I & 0xFFFF) == 0) P.Step("CUSTOMER", static_cast<int64_t>(I), Count);
  });
  P.Step("CUSTOMER", Count, Count);
}

// ORDERS and ITEMS together: an order's totals come from its items.
void MakeOrders(int64_t Count, std::vector<TCustomerKey>& Customers,
                const std::vector<TPartInfo>& Parts, TRowWriter& O, TRowWriter& It,
                const char* Shown, TProgress& P) {
  TRandom R(0x4F5244455253ull);
  // A sales team with scattered employee numbers in 1..9999.
  std::vector<int> Employees;
  for (int I = 0; I < 42; ++I) Employees.push_back(static_cast<int>(2 + I * 230 + R.Range(0, 220)));

  static const std::vector<std::string> Terms = {"Neto30", "Neto30", "Neto60", "FOB", "Cont."};
  static const std::vector<std::string> Payments = {"Crédito", "Crédito", "Visa",    "MC",
                                                    "AmEx",    "Cheque",  "Contado", "Giro"};
  static const std::vector<int> Discounts = {0, 0, 0, 0, 0, 0, 5, 5, 10, 10, 15, 20, 25, 50};

  const double Start = EncodeDate(2019, 1, 2).Val;
  const double Span = EncodeDate(2024, 12, 20).Val - Start;
  const int64_t CustCount = static_cast<int64_t>(Customers.size());
  std::vector<size_t> Chosen;
  for (int64_t I = 0; I < Count; ++I) {
    double OrderNo = static_cast<double>(1001 + I);
    // Some customers buy far more often than others; a few never do.
    int64_t CIdx =
        R.Chance(35) ? R.Range(0, std::max<int64_t>(0, CustCount / 8)) : R.Range(0, CustCount - 1);
    if (CustCount > 10 && CIdx % 17 == 16 && R.Chance(90)) CIdx = (CIdx + 1) % CustCount;
    TCustomerKey& Cust = Customers[static_cast<size_t>(CIdx)];

    // Sale dates advance with the order numbers, during office hours.
    double Day = std::floor(Start + Span * (static_cast<double>(I) + R.Unit()) / Count);
    double Sale = Day + (R.Chance(20) ? 0.0 : (R.Range(8 * 60, 19 * 60) / 1440.0));
    bool Recent = I >= Count - std::max<int64_t>(3, Count / 40);
    double Ship = (Recent && R.Chance(60)) ? 0.0 : Day + static_cast<double>(R.Range(1, 14));
    Cust.LastInvoice = std::max(Cust.LastInvoice, Sale);

    // The items.
    int NItems = static_cast<int>(R.Range(1, 9));
    Chosen.clear();
    double Total = 0;
    for (int K = 1; K <= NItems; ++K) {
      size_t PIdx;
      do {
        PIdx = static_cast<size_t>(R.Range(0, static_cast<int64_t>(Parts.size()) - 1));
      } while (std::find(Chosen.begin(), Chosen.end(), PIdx) != Chosen.end());
      Chosen.push_back(PIdx);
      // Mostly a few units, now and then a large lot.
      int Band = static_cast<int>(R.Range(0, 9));
      int Qty = static_cast<int>(Band < 6   ? R.Range(1, 10)
                                 : Band < 9 ? R.Range(11, 40)
                                            : R.Range(41, 100));
      int Disc = R.Pick(Discounts);
      Total += Parts[PIdx].ListPrice * Qty * (100 - Disc) / 100.0;
      It.Number(OrderNo);
      It.Number(K);
      It.Number(Parts[PIdx].PartNo);
      It.Int(Qty);
      It.Number(Disc);
      It.EndRow();
    }
    Total = Cents(Total);
    double Freight = R.Chance(15) ? 0.0 : Cents(5 + R.Unit() * 145);
    double Due = Cents(Total * (1 + Cust.TaxRate / 100.0) + Freight);
    double Paid = R.Chance(80) ? Due : R.Chance(50) ? 0.0 : Cents(Due * R.Range(1, 9) / 10.0);

    O.Number(OrderNo);
    O.Number(Cust.CustNo);
    O.Moment(Sale);
    O.Moment(Ship);
    O.Int(R.Pick(Employees));
    // Two orders in five go to another address of the customer's country.
    if (R.Chance(40)) {
      const TNames& N = NamesOf(Cust.Country->Language);
      const TCity& City = R.Pick(Cust.Country->Cities);
      O.Text(PersonName(R, N, 20));
      O.Text(StreetAddress(R, N));
      O.Text(R.Chance(20) ? R.Pick(N.Addr2) : std::string());
      O.Text(City.Name);
      O.Text(City.State);
      O.Text(FromPattern(R, City.Zip));
      O.Text(Cust.Country->Name);
      O.Text(FromPattern(R, City.Phone));
    } else {
      for (int C = 5; C <= 12; ++C) O.Null();
    }
    O.Text(R.Pick(Cust.Country->Carriers));
    O.Text(R.Chance(30) ? std::string() : "PO-" + Digits(R, 5));
    O.Text(R.Pick(Terms));
    O.Text(R.Pick(Payments));
    O.Number(Total);
    O.Number(Cust.TaxRate);
    O.Number(Freight);
    O.Number(Paid);
    O.EndRow();
    if ((I & 0xFFFF) == 0) P.Step(Shown, I, Count);
  }
  P.Step(Shown, Count, Count);
}

// ---------------------------------------------------------------------------------------------
// Targets: a folder of table files, a SQLite file, a PostgreSQL database.

class TTarget {
 public:
  virtual ~TTarget() = default;
  // Whether the rows of two tables can be written at once (orders with their items).
  virtual bool TwoAtOnce() const = 0;
  // A writer of the rows of a table; about Rows of them will come.
  virtual std::unique_ptr<TRowWriter> Table(const TSampleTable& T, int64_t Rows) = 0;
  // Every table is complete: keys, indexes, and the database in place.
  virtual void Finish() {}
};

// dBase field names hold ten characters: the longer names get fixed shorter forms.
void ShortenNames(TTableStore& S) {
  static const std::vector<std::pair<std::string, std::string>> Short = {
      {"LastInvoiceDate", "LastInvDat"}, {"Description", "Descrip"},
      {"ShipToContact", "ShipToCont"},   {"ShipToAddr1", "ShipToAdr1"},
      {"ShipToAddr2", "ShipToAdr2"},     {"ShipToState", "ShipToStat"},
      {"ShipToCountry", "ShipToCtry"},   {"ShipToPhone", "ShipToPhon"},
      {"PaymentMethod", "PaymentMth"}};
  for (auto& D : S.Defs)
    for (const auto& [Long, Brief] : Short)
      if (D.Name == Long) D.Name = Brief;
  for (auto& K : S.PrimaryKey)
    for (const auto& [Long, Brief] : Short)
      if (K == Long) K = Brief;
}

// Table files: a table's store fills in memory and is written when complete.
class TFolderTarget : public TTarget {
 public:
  TFolderTarget(std::string Dir, bool DBase, TProgress& P)
      : FDir(std::move(Dir)), FDBase(DBase), FProgress(P) {
    std::error_code Ec;
    std::filesystem::create_directories(FDir, Ec);
    if (!std::filesystem::is_directory(FDir))
      throw Exception("No se puede crear la carpeta '" + FDir + "'");
  }
  bool TwoAtOnce() const override { return true; }
  std::unique_ptr<TRowWriter> Table(const TSampleTable& T, int64_t Rows) override {
    return std::make_unique<TStoreWriter>(*this, T, Rows);
  }

 private:
  class TStoreWriter : public TRowWriter {
   public:
    TStoreWriter(TFolderTarget& Owner, const TSampleTable& T, int64_t Rows)
        : TRowWriter(T), FOwner(Owner) {
      for (const TColumnDef& D : T.Columns) FStore.AddColumn(D);
      FStore.PrimaryKey = T.PrimaryKey;
      for (auto& C : FStore.Columns) C.Reserve(static_cast<size_t>(Rows));
    }
    void Finish() override {
      if (FOwner.FDBase) ShortenNames(FStore);
      const std::string Path = (std::filesystem::path(FOwner.FDir) /
                                (std::string(FTable.File) + (FOwner.FDBase ? ".DBF" : ".DB")))
                                   .string();
      FOwner.FProgress.Say("escribiendo " + Path);
      SaveTableFile(Path, FStore);
    }

   protected:
    void PutNumber(double V) override { FStore.Columns[FCol].AppendDouble(V); }
    void PutInt(int64_t V) override { FStore.Columns[FCol].AppendInt(static_cast<int32_t>(V)); }
    void PutText(std::string_view V) override { FStore.Columns[FCol].AppendString(V); }
    void PutMoment(double V) override { FStore.Columns[FCol].AppendDouble(V); }
    void PutNull() override { FStore.Columns[FCol].AppendNull(); }

   private:
    TFolderTarget& FOwner;
    TTableStore FStore;
  };

  std::string FDir;
  bool FDBase;
  TProgress& FProgress;
};

std::string ColumnList(const std::vector<std::string>& Names) {
  std::string L;
  for (const auto& N : Names) L += (L.empty() ? "" : ", ") + PgQuoteIdentifier(N);
  return L;
}

std::string PrimaryKeySql(const TSampleTable& T) {
  return "PRIMARY KEY (" + ColumnList(T.PrimaryKey) + ")";
}

// The SQL of a table's creation; PrimaryKey inside it or not. Column types as the data layer
// reads them back (PgColumnType: varchar(n), double precision, numeric(18,2), timestamp(3), ...),
// the same on SQLite and PostgreSQL.
std::string CreateTableSql(const TSampleTable& T, bool WithPrimaryKey) {
  std::string Sql = "CREATE TABLE " + PgQuoteIdentifier(T.Name) + " (";
  for (size_t I = 0; I < T.Columns.size(); ++I)
    Sql += (I ? ", " : "") + PgQuoteIdentifier(T.Columns[I].Name) + " " +
           PgColumnType(T.Columns[I].DataType, T.Columns[I].Size);
  if (WithPrimaryKey) Sql += ", " + PrimaryKeySql(T);
  return Sql + ")";
}

// CREATE INDEX for each index of T ("orders_CustNo_idx"). On PostgreSQL a text column is indexed
// COLLATE "C": the data layer orders and compares texts by code points, and an index in the
// database's own collation would serve none of its windows.
std::vector<std::string> IndexSql(const TSampleTable& T, bool Postgres) {
  std::vector<std::string> Out;
  for (const auto& Col : T.Indexes) {
    bool Text = false;
    for (const TColumnDef& D : T.Columns)
      if (D.Name == Col) Text = D.DataType == ftString;
    Out.push_back("CREATE INDEX " + PgQuoteIdentifier(std::string(T.Name) + "_" + Col + "_idx") +
                  " ON " + PgQuoteIdentifier(T.Name) + " (" + PgQuoteIdentifier(Col) +
                  (Text && Postgres ? " COLLATE \"C\")" : ")"));
  }
  return Out;
}

struct TSqliteCloser {
  void operator()(sqlite3* Db) const { sqlite3_close(Db); }
};
struct TStatementCloser {
  void operator()(sqlite3_stmt* S) const { sqlite3_finalize(S); }
};

// A SQLite file, written under a temporary name in one transaction and renamed into place when
// complete. Dates are stored as ISO texts ("2024-12-31 13:05:00.000"), as SQLite's own date
// functions read them; an empty text as Null.
class TSqliteTarget : public TTarget {
 public:
  explicit TSqliteTarget(std::string Path)
      : FPath(std::move(Path)), FTemp(FPath + ".tmp-" + std::to_string(getpid())) {
    std::filesystem::remove(FTemp);
    sqlite3* Db = nullptr;
    const int Rc =
        sqlite3_open_v2(FTemp.c_str(), &Db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    FDb.reset(Db);
    Check(Rc);
    Exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; BEGIN");
    for (const TSampleTable& T : SampleTables()) Exec(CreateTableSql(T, true));
  }
  ~TSqliteTarget() override {
    if (!FDone) {
      FDb.reset();
      std::error_code Ec;
      std::filesystem::remove(FTemp, Ec);
    }
  }
  bool TwoAtOnce() const override { return true; }
  std::unique_ptr<TRowWriter> Table(const TSampleTable& T, int64_t) override {
    std::string Sql = "INSERT INTO " + PgQuoteIdentifier(T.Name) + " VALUES (";
    for (size_t I = 0; I < T.Columns.size(); ++I) Sql += I ? ", ?" : "?";
    sqlite3_stmt* St = nullptr;
    Check(sqlite3_prepare_v2(FDb.get(), (Sql + ")").c_str(), -1, &St, nullptr));
    return std::make_unique<TSqliteWriter>(*this, T, St);
  }
  void Finish() override {
    for (const TSampleTable& T : SampleTables())
      for (const auto& Sql : IndexSql(T, false)) Exec(Sql);
    Exec("COMMIT");
    Check(sqlite3_close(FDb.release()));
    std::filesystem::rename(FTemp, FPath);
    FDone = true;
  }

 private:
  class TSqliteWriter : public TRowWriter {
   public:
    TSqliteWriter(TSqliteTarget& Owner, const TSampleTable& T, sqlite3_stmt* St)
        : TRowWriter(T), FOwner(Owner), FSt(St) {}

   protected:
    int At() const { return static_cast<int>(FCol) + 1; }
    void PutNumber(double V) override { FOwner.Check(sqlite3_bind_double(FSt.get(), At(), V)); }
    void PutInt(int64_t V) override { FOwner.Check(sqlite3_bind_int64(FSt.get(), At(), V)); }
    void PutText(std::string_view V) override {
      FOwner.Check(sqlite3_bind_text(FSt.get(), At(), V.data(), static_cast<int>(V.size()),
                                     SQLITE_TRANSIENT));
    }
    void PutMoment(double V) override { PutText(PgDateTimeText(TDateTime(V), ftDateTime)); }
    void PutNull() override { FOwner.Check(sqlite3_bind_null(FSt.get(), At())); }
    void PutEndRow() override {
      const int Rc = sqlite3_step(FSt.get());
      if (Rc != SQLITE_DONE) FOwner.Check(Rc);
      sqlite3_reset(FSt.get());
    }

   private:
    TSqliteTarget& FOwner;
    std::unique_ptr<sqlite3_stmt, TStatementCloser> FSt;
  };

  void Check(int Rc) {
    if (Rc == SQLITE_OK) return;
    throw Exception("No se puede escribir la base de datos SQLite '" + FPath +
                    "': " + (FDb ? sqlite3_errmsg(FDb.get()) : sqlite3_errstr(Rc)));
  }
  void Exec(const std::string& Sql) {
    Check(sqlite3_exec(FDb.get(), Sql.c_str(), nullptr, nullptr, nullptr));
  }

  std::string FPath, FTemp;
  std::unique_ptr<sqlite3, TSqliteCloser> FDb;
  bool FDone = false;
};

// A PostgreSQL database: the four tables replaced in one transaction, loaded with COPY (rows
// stream to the server as they are made), keys and indexes added after the rows, statistics
// gathered. A failure leaves the database as it was.
class TPgTarget : public TTarget {
 public:
  explicit TPgTarget(const std::string& Uri) : FConn(Uri) {
    FConn.Exec("BEGIN");
    for (const TSampleTable& T : SampleTables()) {
      FConn.Exec("DROP TABLE IF EXISTS " + PgQuoteIdentifier(T.Name));
      FConn.Exec(CreateTableSql(T, false));
    }
  }
  bool TwoAtOnce() const override { return false; }  // one COPY at a time on a connection
  std::unique_ptr<TRowWriter> Table(const TSampleTable& T, int64_t) override {
    std::vector<std::string> Cols;
    for (const TColumnDef& D : T.Columns) Cols.push_back(PgQuoteIdentifier(D.Name));
    return std::make_unique<TCopyWriter>(T, FConn.CopyIn(PgQuoteIdentifier(T.Name), Cols));
  }
  void Finish() override {
    for (const TSampleTable& T : SampleTables()) {
      FConn.Exec("ALTER TABLE " + PgQuoteIdentifier(T.Name) + " ADD " + PrimaryKeySql(T));
      for (const auto& Sql : IndexSql(T, true)) FConn.Exec(Sql);
    }
    FConn.Exec("COMMIT");
    FConn.Exec("ANALYZE");
  }

 private:
  class TCopyWriter : public TRowWriter {
   public:
    TCopyWriter(const TSampleTable& T, TPgCopy Copy) : TRowWriter(T), FCopy(std::move(Copy)) {}
    void Finish() override { FCopy.Finish(); }

   protected:
    void PutNumber(double V) override { FCopy.Double(V); }
    void PutInt(int64_t V) override { FCopy.Int(V); }
    void PutText(std::string_view V) override { FCopy.Text(V); }
    void PutMoment(double V) override { FCopy.DateTime(TDateTime(V), ftDateTime); }
    void PutNull() override { FCopy.Null(); }
    void PutEndRow() override { FCopy.EndRow(); }

   private:
    TPgCopy FCopy;
  };

  TPgConnection FConn;
};

// Writes the whole sample database into Target; returns the number of order items.
int64_t Generate(int64_t Orders, TTarget& Target, TProgress& P) {
  const TCounts N = CountsFor(Orders);
  const auto& Tables = SampleTables();
  // Fills one table and returns its rows.
  auto Write = [&](TTableId Id, int64_t Expected, auto&& Fill) {
    std::unique_ptr<TRowWriter> W = Target.Table(Tables[Id], Expected);
    Fill(*W);
    W->Finish();
    return W->Rows();
  };
  std::vector<TPartInfo> Parts;
  Write(tbParts, N.Parts, [&](TRowWriter& W) { Parts = MakeParts(N.Parts, W, P); });
  std::vector<TCustomerKey> Customers = CustomerKeys(N.Customers);
  int64_t Items = 0;
  if (Target.TwoAtOnce()) {
    std::unique_ptr<TRowWriter> It = Target.Table(Tables[tbItems], N.Orders * 5);
    Write(tbOrders, N.Orders,
          [&](TRowWriter& O) { MakeOrders(N.Orders, Customers, Parts, O, *It, "ORDERS", P); });
    It->Finish();
    Items = It->Rows();
  } else {
    TRowWriter NoOrders(Tables[tbOrders]), NoItems(Tables[tbItems]);
    Write(tbOrders, N.Orders,
          [&](TRowWriter& W) { MakeOrders(N.Orders, Customers, Parts, W, NoItems, "ORDERS", P); });
    for (auto& C : Customers) C.LastInvoice = 0;  // the second run finds the same dates again
    Items = Write(tbItems, N.Orders * 5, [&](TRowWriter& W) {
      MakeOrders(N.Orders, Customers, Parts, NoOrders, W, "ITEMS", P);
    });
  }
  Write(tbCustomer, N.Customers, [&](TRowWriter& W) { WriteCustomers(Customers, W, P); });
  Target.Finish();
  return Items;
}

// ---------------------------------------------------------------------------------------------
// The command line.

struct TOptions {
  std::string Out;
  int64_t Orders = 200;
  bool DBase = false, FormatGiven = false;
};

enum class TTargetKind { Folder, Sqlite, Postgres };

// What --out names: a PostgreSQL URI, a SQLite file (sqlite:PATH, or a path ending in .sqlite,
// .sqlite3 or .db3), or a folder of table files. Path: the file or folder.
TTargetKind KindOf(const std::string& Out, std::string& Path) {
  Path = Out;
  if (IsPgDatabaseName(Out)) return TTargetKind::Postgres;
  if (Out.starts_with("sqlite:")) {
    Path = Out.substr(7);
    return TTargetKind::Sqlite;
  }
  const std::string Ext = LowerCase(std::filesystem::path(Out).extension().string());
  if (Ext == ".sqlite" || Ext == ".sqlite3" || Ext == ".db3") return TTargetKind::Sqlite;
  return TTargetKind::Folder;
}

const char* const Usage =
    "uso: gensample --out DESTINO [--orders N] [--format db|dbf]\n"
    "  Escribe la base de datos de ejemplo (CUSTOMER, ORDERS, ITEMS, PARTS) en DESTINO:\n"
    "    una carpeta de tablas (ficheros .db o .dbf);\n"
    "    un fichero SQLite: sqlite:RUTA, o una RUTA acabada en .sqlite, .sqlite3 o .db3;\n"
    "    una base de datos PostgreSQL: postgresql://[usuario@][servidor][:puerto]/base[?...]\n"
    "    (las tablas customer, orders, items y parts se sustituyen en una transacción).\n"
    "  --orders N   número de pedidos (200 por omisión); clientes, líneas y artículos\n"
    "               crecen en proporción\n"
    "  --format F   en una carpeta: db (Paradox, por omisión) o dbf (dBase; los nombres de\n"
    "               campo de más de 10 letras se acortan: LastInvDat, Descrip, ShipToCont,\n"
    "               ShipToAdr1, ShipToAdr2, ShipToStat, ShipToCtry, ShipToPhon, PaymentMth)\n";

// Parses the arguments; false on a usage error.
bool ParseArgs(int Argc, char** Argv, TOptions& O, bool& Help) {
  Help = false;
  for (int I = 1; I < Argc; ++I) {
    std::string A = Argv[I];
    auto Value = [&](std::string& Out) {
      if (I + 1 >= Argc) return false;
      Out = Argv[++I];
      return true;
    };
    std::string V;
    if (A == "--help" || A == "-h") {
      Help = true;
      return true;
    } else if (A == "--out") {
      if (!Value(O.Out) || O.Out.empty()) return false;
    } else if (A == "--orders") {
      if (!Value(V)) return false;
      char* End = nullptr;
      long long N = std::strtoll(V.c_str(), &End, 10);
      if (V.empty() || *End != '\0' || N < 1 || N > 50000000) return false;
      O.Orders = N;
    } else if (A == "--format") {
      if (!Value(V)) return false;
      if (V == "db")
        O.DBase = false;
      else if (V == "dbf")
        O.DBase = true;
      else
        return false;
      O.FormatGiven = true;
    } else {
      return false;
    }
  }
  std::string Path;
  // A database has no file format to choose.
  return !O.Out.empty() && !(O.FormatGiven && KindOf(O.Out, Path) != TTargetKind::Folder);
}

}  // namespace

int main(int Argc, char** Argv) {
  TOptions Opt;
  bool Help = false;
  if (!ParseArgs(Argc, Argv, Opt, Help)) {
    std::fputs(Usage, stderr);
    return 2;
  }
  if (Help) {
    std::fputs(Usage, stdout);
    return 0;
  }
  std::string Where;
  try {
    TProgress Progress;
    std::string Path;
    std::unique_ptr<TTarget> Target;
    switch (KindOf(Opt.Out, Path)) {
      case TTargetKind::Postgres:
        Where = PgDisplayName(Opt.Out);
        Progress.Say("cargando " + Where);
        Target = std::make_unique<TPgTarget>(Opt.Out);
        break;
      case TTargetKind::Sqlite:
        Where = Path;
        Target = std::make_unique<TSqliteTarget>(Path);
        break;
      case TTargetKind::Folder:
        Where = Path;
        Target = std::make_unique<TFolderTarget>(Path, Opt.DBase, Progress);
        break;
    }
    const TCounts N = CountsFor(Opt.Orders);
    const int64_t Items = Generate(Opt.Orders, *Target, Progress);
    Target.reset();
    std::fprintf(stderr,
                 "gensample: %lld clientes, %lld pedidos, %lld líneas, %lld artículos en %s\n",
                 static_cast<long long>(N.Customers), static_cast<long long>(N.Orders),
                 static_cast<long long>(Items), static_cast<long long>(N.Parts), Where.c_str());
    return 0;
  } catch (const std::exception& E) {
    std::fprintf(stderr, "gensample: %s\n", E.what());
    return 1;
  }
}
