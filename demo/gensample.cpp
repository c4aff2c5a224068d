// gensample: writes the order-entry sample database (customers, orders, order items, parts)
// that the demonstration program and the search tool run on. The data is invented here and
// fully deterministic: a fixed-seed generator of our own, so two runs give identical files on
// every machine and library version. A scale option produces the large tables the benchmarks
// use.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "DateTime.h"
#include "SysUtils.h"
#include "TableFile.h"
#include "TableStore.h"

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

// Cuts a UTF-8 text to at most Chars characters (the field sizes count characters).
std::string Fit(std::string_view S, int Chars) {
  size_t I = 0;
  int N = 0;
  while (I < S.size()) {
    unsigned char C = static_cast<unsigned char>(S[I]);
    size_t Len = C < 0x80 ? 1 : (C >> 5) == 6 ? 2 : (C >> 4) == 14 ? 3 : 4;
    if (N == Chars) break;
    I += Len;
    ++N;
  }
  std::string R(S.substr(0, std::min(I, S.size())));
  while (!R.empty() && R.back() == ' ') R.pop_back();
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
// Generation.

struct TOptions {
  std::string OutDir;
  int64_t Orders = 200;
  bool DBase = false;
};

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

void AddColumn(TTableStore& S, const char* Name, TFieldType T, int Size = 0) {
  S.AddColumn(TColumnDef{Name, T, Size, false});
}

void AppendText(TColumn& C, std::string_view V, int Size) {
  if (V.empty())
    C.AppendNull();
  else
    C.AppendString(Fit(V, Size));
}

void AppendDate(TColumn& C, double V) {
  if (V == 0)
    C.AppendNull();
  else
    C.AppendDouble(V);
}

struct TPartInfo {
  double PartNo;
  double ListPrice;
};

// PARTS: PartNo, VendorNo, Description, OnHand, OnOrder, Cost, ListPrice.
std::vector<TPartInfo> MakeParts(int64_t Count, TTableStore& S, TProgress& P) {
  TRandom R(0x5041525453ull);
  AddColumn(S, "PartNo", ftFloat);
  AddColumn(S, "VendorNo", ftFloat);
  AddColumn(S, "Description", ftString, 30);
  AddColumn(S, "OnHand", ftFloat);
  AddColumn(S, "OnOrder", ftFloat);
  AddColumn(S, "Cost", ftCurrency);
  AddColumn(S, "ListPrice", ftCurrency);
  S.PrimaryKey = {"PartNo"};
  for (auto& C : S.Columns) C.Reserve(static_cast<size_t>(Count));

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

    S.Columns[0].AppendDouble(static_cast<double>(No));
    S.Columns[1].AppendDouble(R.Pick(Vendors));
    AppendText(S.Columns[2], Desc, 30);
    S.Columns[3].AppendDouble(OnHand);
    S.Columns[4].AppendDouble(OnOrder);
    S.Columns[5].AppendDouble(Cost);
    S.Columns[6].AppendDouble(List);
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
  return Fit(Out, 30);
}

std::string PersonName(TRandom& R, const TNames& N, int Size) {
  for (int Try = 0; Try < 8; ++Try) {
    std::string S = R.Pick(N.First) + " " + R.Pick(N.Last);
    if (static_cast<int>(Fit(S, Size).size()) == static_cast<int>(S.size())) return S;
  }
  return Fit(R.Pick(N.Last), Size);
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
  return Fit(Out, 30);
}

std::vector<TCustomerInfo> MakeCustomers(int64_t Count) {
  TRandom R(0x435553544F4Dull);
  const auto& List = Countries();
  int TotalWeight = 0;
  for (const auto& C : List) TotalWeight += C.Weight;

  std::vector<TCustomerInfo> Out;
  Out.reserve(static_cast<size_t>(Count));
  // Numbers spread over 1000..9999 while they fit, then consecutive beyond.
  int64_t Slot = (9999 - 1221) / Count;
  for (int64_t I = 0; I < Count; ++I) {
    TCustomerInfo C;
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
    Out.push_back(std::move(C));
  }
  return Out;
}

// CUSTOMER: CustNo, Company, Addr1, Addr2, City, State, Zip, Country, Phone, FAX, TaxRate,
// Contact, LastInvoiceDate.
void FillCustomers(const std::vector<TCustomerInfo>& Customers, TTableStore& S, TProgress& P) {
  AddColumn(S, "CustNo", ftFloat);
  AddColumn(S, "Company", ftString, 30);
  AddColumn(S, "Addr1", ftString, 30);
  AddColumn(S, "Addr2", ftString, 30);
  AddColumn(S, "City", ftString, 15);
  AddColumn(S, "State", ftString, 20);
  AddColumn(S, "Zip", ftString, 10);
  AddColumn(S, "Country", ftString, 20);
  AddColumn(S, "Phone", ftString, 15);
  AddColumn(S, "FAX", ftString, 15);
  AddColumn(S, "TaxRate", ftFloat);
  AddColumn(S, "Contact", ftString, 20);
  AddColumn(S, "LastInvoiceDate", ftDateTime);
  S.PrimaryKey = {"CustNo"};
  int64_t Count = static_cast<int64_t>(Customers.size());
  for (auto& C : S.Columns) C.Reserve(Customers.size());
  for (int64_t I = 0; I < Count; ++I) {
    const TCustomerInfo& C = Customers[static_cast<size_t>(I)];
    S.Columns[0].AppendDouble(C.CustNo);
    AppendText(S.Columns[1], C.Company, 30);
    AppendText(S.Columns[2], C.Addr1, 30);
    AppendText(S.Columns[3], C.Addr2, 30);
    AppendText(S.Columns[4], C.City->Name, 15);
    AppendText(S.Columns[5], C.City->State, 20);
    AppendText(S.Columns[6], C.Zip, 10);
    AppendText(S.Columns[7], C.Country->Name, 20);
    AppendText(S.Columns[8], C.Phone, 15);
    AppendText(S.Columns[9], C.Fax, 15);
    S.Columns[10].AppendDouble(C.TaxRate);
    AppendText(S.Columns[11], C.Contact, 20);
    AppendDate(S.Columns[12], C.LastInvoice);
    if ((I & 0xFFFF) == 0) P.Step("CUSTOMER", I, Count);
  }
  P.Step("CUSTOMER", Count, Count);
}

// ORDERS and ITEMS together: an order's totals come from its items.
void MakeOrders(int64_t Count, std::vector<TCustomerInfo>& Customers,
                const std::vector<TPartInfo>& Parts, TTableStore& O, TTableStore& It,
                TProgress& P) {
  TRandom R(0x4F5244455253ull);
  AddColumn(O, "OrderNo", ftFloat);
  AddColumn(O, "CustNo", ftFloat);
  AddColumn(O, "SaleDate", ftDateTime);
  AddColumn(O, "ShipDate", ftDateTime);
  AddColumn(O, "EmpNo", ftInteger);
  AddColumn(O, "ShipToContact", ftString, 20);
  AddColumn(O, "ShipToAddr1", ftString, 30);
  AddColumn(O, "ShipToAddr2", ftString, 30);
  AddColumn(O, "ShipToCity", ftString, 15);
  AddColumn(O, "ShipToState", ftString, 20);
  AddColumn(O, "ShipToZip", ftString, 10);
  AddColumn(O, "ShipToCountry", ftString, 20);
  AddColumn(O, "ShipToPhone", ftString, 15);
  AddColumn(O, "ShipVIA", ftString, 7);
  AddColumn(O, "PO", ftString, 15);
  AddColumn(O, "Terms", ftString, 6);
  AddColumn(O, "PaymentMethod", ftString, 7);
  AddColumn(O, "ItemsTotal", ftCurrency);
  AddColumn(O, "TaxRate", ftFloat);
  AddColumn(O, "Freight", ftCurrency);
  AddColumn(O, "AmountPaid", ftCurrency);
  O.PrimaryKey = {"OrderNo"};

  AddColumn(It, "OrderNo", ftFloat);
  AddColumn(It, "ItemNo", ftFloat);
  AddColumn(It, "PartNo", ftFloat);
  AddColumn(It, "Qty", ftInteger);
  AddColumn(It, "Discount", ftFloat);
  It.PrimaryKey = {"OrderNo", "ItemNo"};

  for (auto& C : O.Columns) C.Reserve(static_cast<size_t>(Count));
  for (auto& C : It.Columns) C.Reserve(static_cast<size_t>(Count * 5));

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
    TCustomerInfo& Cust = Customers[static_cast<size_t>(CIdx)];

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
      It.Columns[0].AppendDouble(OrderNo);
      It.Columns[1].AppendDouble(K);
      It.Columns[2].AppendDouble(Parts[PIdx].PartNo);
      It.Columns[3].AppendInt(Qty);
      It.Columns[4].AppendDouble(Disc);
    }
    Total = Cents(Total);
    double Freight = R.Chance(15) ? 0.0 : Cents(5 + R.Unit() * 145);
    double Due = Cents(Total * (1 + Cust.TaxRate / 100.0) + Freight);
    double Paid = R.Chance(80) ? Due : R.Chance(50) ? 0.0 : Cents(Due * R.Range(1, 9) / 10.0);

    O.Columns[0].AppendDouble(OrderNo);
    O.Columns[1].AppendDouble(Cust.CustNo);
    O.Columns[2].AppendDouble(Sale);
    AppendDate(O.Columns[3], Ship);
    O.Columns[4].AppendInt(R.Pick(Employees));
    // Two orders in five go to another address of the customer's country.
    if (R.Chance(40)) {
      const TNames& N = NamesOf(Cust.Country->Language);
      const TCity& City = R.Pick(Cust.Country->Cities);
      AppendText(O.Columns[5], PersonName(R, N, 20), 20);
      AppendText(O.Columns[6], StreetAddress(R, N), 30);
      AppendText(O.Columns[7], R.Chance(20) ? R.Pick(N.Addr2) : std::string(), 30);
      AppendText(O.Columns[8], City.Name, 15);
      AppendText(O.Columns[9], City.State, 20);
      AppendText(O.Columns[10], FromPattern(R, City.Zip), 10);
      AppendText(O.Columns[11], Cust.Country->Name, 20);
      AppendText(O.Columns[12], FromPattern(R, City.Phone), 15);
    } else {
      for (int C = 5; C <= 12; ++C) O.Columns[static_cast<size_t>(C)].AppendNull();
    }
    AppendText(O.Columns[13], R.Pick(Cust.Country->Carriers), 7);
    AppendText(O.Columns[14], R.Chance(30) ? std::string() : "PO-" + Digits(R, 5), 15);
    AppendText(O.Columns[15], R.Pick(Terms), 6);
    AppendText(O.Columns[16], R.Pick(Payments), 7);
    O.Columns[17].AppendDouble(Total);
    O.Columns[18].AppendDouble(Cust.TaxRate);
    O.Columns[19].AppendDouble(Freight);
    O.Columns[20].AppendDouble(Paid);
    if ((I & 0xFFFF) == 0) P.Step("ORDERS", I, Count);
  }
  P.Step("ORDERS", Count, Count);
}

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

const char* const Usage =
    "uso: gensample --out DIR [--orders N] [--format db|dbf]\n"
    "  Escribe la base de datos de ejemplo (CUSTOMER, ORDERS, ITEMS, PARTS) en DIR.\n"
    "  --orders N   número de pedidos (200 por omisión); clientes, líneas y artículos\n"
    "               crecen en proporción\n"
    "  --format F   db (Paradox, por omisión) o dbf (dBase; los nombres de campo de más\n"
    "               de 10 letras se acortan: LastInvDat, Descrip, ShipToCont, ShipToAdr1,\n"
    "               ShipToAdr2, ShipToStat, ShipToCtry, ShipToPhon, PaymentMth)\n";

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
      if (!Value(O.OutDir) || O.OutDir.empty()) return false;
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
    } else {
      return false;
    }
  }
  return !O.OutDir.empty();
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
  try {
    std::error_code Ec;
    std::filesystem::create_directories(Opt.OutDir, Ec);
    if (!std::filesystem::is_directory(Opt.OutDir))
      throw Exception("No se puede crear la carpeta '" + Opt.OutDir + "'");

    TProgress Progress;
    TCounts N = CountsFor(Opt.Orders);
    TTableStore Parts, Customers, Orders, Items;
    std::vector<TPartInfo> PartInfo = MakeParts(N.Parts, Parts, Progress);
    std::vector<TCustomerInfo> CustInfo = MakeCustomers(N.Customers);
    MakeOrders(N.Orders, CustInfo, PartInfo, Orders, Items, Progress);
    FillCustomers(CustInfo, Customers, Progress);

    const std::string Ext = Opt.DBase ? ".DBF" : ".DB";
    if (Opt.DBase) {
      for (TTableStore* S : {&Customers, &Parts, &Orders, &Items}) ShortenNames(*S);
    }
    auto Save = [&](const char* Name, const TTableStore& S) {
      std::string Path = (std::filesystem::path(Opt.OutDir) / (std::string(Name) + Ext)).string();
      Progress.Say("escribiendo " + Path);
      SaveTableFile(Path, S);
    };
    Save("CUSTOMER", Customers);
    Save("PARTS", Parts);
    Save("ORDERS", Orders);
    Save("ITEMS", Items);
    std::fprintf(stderr, "gensample: %zu clientes, %zu pedidos, %zu líneas, %zu artículos en %s\n",
                 Customers.RowCount(), Orders.RowCount(), Items.RowCount(), Parts.RowCount(),
                 Opt.OutDir.c_str());
    return 0;
  } catch (const std::exception& E) {
    std::fprintf(stderr, "gensample: %s\n", E.what());
    return 1;
  }
}
