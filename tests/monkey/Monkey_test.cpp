// The monkey in the suite: a few seeds of a few thousand actions each, every fault it found
// replayed from its short action list, and the monkey's own parts (action lines, replays that
// repeat a run, a planted fault caught and its replay shortened).
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "Monkey.h"
#include "SearchDialog.h"

using namespace kv;

using namespace monkey;

namespace {

TMonkey& Monkey() {
  static TMonkey M(KV_BINARY_DIR "/demo/gensample");
  return M;
}

// The failure, with the actions that replay it (shortened when Shrink is set).
std::string Explain(const TResult& R, bool Shrink) {
  std::ostringstream S;
  S << "check '" << R.Check << "' broken: " << R.Detail << "\nreplay:\n";
  const std::vector<std::string> Lines = Shrink ? Monkey().Shrink(R, 150) : R.Actions;
  for (const std::string& L : Lines) S << "  " << L << "\n";
  return S.str();
}

void ExpectReplayHolds(const std::vector<std::string>& Lines) {
  const TResult R = Monkey().Replay(Lines);
  EXPECT_TRUE(R.Ok) << Explain(R, false);
}

TEST(MonkeyActions, LinesReadBackExactly) {
  const TAction Cases[] = {
      {"click", {"BTFiltrarY"}},
      {"cell", {"3", "2", "ctrl"}},
      {"type", {"ETValor", "O'Brien dice \"hola\" and \\ or"}},
      {"type", {"ETValor", "ñ\t\n\x01\x7F\xFF\xC3 🐟 שלום e\xCC\x81"}},
      {"type", {"ETValor", ""}},
      {"paste", {"ETValor", std::string(10000, 'x')}},
      {"export", {"db", "found", "visible", "comilla\"doble y espacio", "accept"}},
  };
  for (const TAction& A : Cases) {
    const std::string Line = FormatAction(A);
    EXPECT_EQ(Line.find('\n'), std::string::npos) << Line;
    const TAction B = ParseAction(Line);
    EXPECT_EQ(B.Verb, A.Verb) << Line;
    EXPECT_EQ(B.Args, A.Args) << Line;
  }
  EXPECT_LT(FormatAction({"paste", {"ETValor", std::string(10000, 'x')}}).size(), 40u)
      << "a long repeated text is written as its piece and a count";
  for (const char* Bad : {"", "type ETValor \"abierta", "type ETValor \"x\"*", "type \"a\"b"})
    EXPECT_THROW(ParseAction(Bad), Exception) << Bad;
}

// A replay does what the run did: the same actions, the same searches, the same ending.
TEST(MonkeyReplay, AReplayRepeatsTheRun) {
  std::stringstream Journal;
  const TResult Run = Monkey().Run(7, 300, &Journal);
  ASSERT_TRUE(Run.Ok) << Explain(Run, false);
  std::vector<std::string> Lines;
  for (std::string L; std::getline(Journal, L);) Lines.push_back(L);
  EXPECT_EQ(Lines, Run.Actions) << "the journal holds every action";
  const TResult Again = Monkey().Replay(Lines);
  EXPECT_TRUE(Again.Ok) << Explain(Again, false);
  EXPECT_EQ(Again.Actions, Run.Actions);
  EXPECT_EQ(Again.Sessions, Run.Sessions);
  EXPECT_GT(Run.Sessions, 3);
}

// A fault planted in the form (a counter that stops counting once a filter is applied) is
// seen, and its replay shortens to the few actions that show it.
TEST(MonkeyChecks, APlantedFaultIsCaughtWithAShortReplay) {
  TMonkey& M = Monkey();
  M.AfterAction = [](TSearchDialogBox& F, int) {
    if (F.Engine()->Filtered()) F.STRegistros->SetCaption("Registros encontrados:?");
  };
  const TResult R = M.Run(11, 2000);
  ASSERT_FALSE(R.Ok);
  EXPECT_EQ(R.Check, "counter");
  const std::vector<std::string> Short = M.Shrink(R);
  M.AfterAction = nullptr;
  EXPECT_LE(Short.size(), 4u) << Explain(R, false);
  ASSERT_FALSE(Short.empty());
  EXPECT_EQ(Short[0].rfind("session ", 0), 0u);
  EXPECT_TRUE(M.Replay(Short).Ok) << "without the planted fault the replay passes";
}

// ---- faults the monkey found, each as the short list that showed it

// A detail searched within its master, accepted on a record other than its master's first:
// moving the masters sent the detail back to that first record before its place was read.
TEST(MonkeyFindings, AnAcceptedDetailRecordIsTheOneChosen) {
  ExpectReplayHolds({"session items-linked find 8179", "dblcell 5 0"});
  ExpectReplayHolds({"session items-linked find 40", "cell 3 1", "click BTAceptar"});
}

// A master with no record (a customer without orders): the detail's SQL compared the key with
// nothing and the search failed.
TEST(MonkeyFindings, ADetailOfAnEmptyMasterSearchesAsSQL) {
  ExpectReplayHolds({"session items-linked find 12 sql", "click BTOrdenar", "click BTAceptar"});
  ExpectReplayHolds({"session items-linked execute 12 sql", "type ETValor 1", "click BTFiltrarY",
                     "click BTCancelar"});
}

// An order, or an export, runs the search as SQL, where the application's own filter does not
// apply: the counter showed the count of the filtered dataset.
TEST(MonkeyFindings, TheCounterFollowsAnOrderAndAnExport) {
  ExpectReplayHolds({"session orders find 0 appfilter", "click BTOrdenar"});
  ExpectReplayHolds(
      {"session orders find 0 appfilter", "export db found visible Resultado accept"});
}

// A filter search widened with O by a condition that needs SQL: the dataset kept the first
// filter, so a chosen record outside it was not found there.
TEST(MonkeyFindings, ASearchAsSQLAfterAFilterFindsTheChosenRecord) {
  ExpectReplayHolds({"session customer find 3", "pick CCampo 2", "pick CCondicion 4",
                     "type ETValor M", "click BTFiltrarY", "pick CCondicion 0", "type ETValor a",
                     "click BTFiltrarO", "cell 1 0", "click BTAceptar"});
}

// Case sensitivity turned on over a filtered result: the dataset read its records again, the
// counter kept the old count.
TEST(MonkeyFindings, TheCounterFollowsACaseChange) {
  ExpectReplayHolds({"session varios execute 620 dec2", "pick CCampo 2", "click BTFiltrarY",
                     "type CCampo \"\\xD7\"", "pick CCondicion 6", "type ETValor \"NULL3,5\"",
                     "click BTFiltrarO", "click CBDistinguirMayusculas"});
}

// A search run as SQL over a dataset the application filters shows records that filter hides:
// accepting one made Find return true with the dataset on another record.
TEST(MonkeyFindings, AnAcceptedRecordTheApplicationHidesIsNoSuccess) {
  ExpectReplayHolds({"session customer find 6802 sql appfilter", "type CCampo \"👩‍🔧\"",
                     "click BTFiltrarY", "click BTAceptar"});
}

// A condition refused after an order ("Tipo de dato incorrecto…") puts the ordered result back
// as SQL, which the application's own filter does not narrow: the counter kept the count of the
// filtered dataset shown before.
TEST(MonkeyFindings, TheCounterFollowsAResultPutBackAfterARefusal) {
  ExpectReplayHolds({"session varios execute 7698 sql multi appfilter", "click BTOrdenar",
                     "pick CCampo 4", "click BTBorrarFiltro", "key DBGrid1 Left",
                     "click BTFiltrarY"});
}

// ---- seeds run in the suite: KV_MONKEY_ACTIONS actions each (2000 unless set)

class MonkeySeed : public ::testing::TestWithParam<uint64_t> {};

TEST_P(MonkeySeed, EveryCheckHolds) {
  const char* Env = std::getenv("KV_MONKEY_ACTIONS");
  const int Actions = Env ? std::atoi(Env) : 2000;
  const TResult R = Monkey().Run(GetParam(), Actions);
  EXPECT_TRUE(R.Ok) << "seed " << GetParam() << ": " << Explain(R, true);
  EXPECT_EQ(static_cast<int>(R.Actions.size()), Actions);
}

INSTANTIATE_TEST_SUITE_P(Seeds, MonkeySeed, ::testing::Values(1, 2, 3));

}  // namespace
