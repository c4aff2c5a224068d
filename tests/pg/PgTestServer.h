// The test run's PostgreSQL server, for every test that needs one: its URI (from KV_TEST_PG, set
// by ./run test, else from the file the CTest fixture wrote), URIs for other users and databases
// on it, and scratch databases of a test's own. Without a server the tests fail: none is skipped.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "PgConnection.h"
#include "PgDialect.h"

using namespace kv;

namespace pgtest {

// The server's URI; fails the test when there is none.
inline std::string ServerUri() {
  if (const char* E = std::getenv("KV_TEST_PG"); E && *E) return E;
  std::ifstream In(KV_PG_URI_FILE);
  std::string Uri;
  std::getline(In, Uri);
  if (Uri.empty())
    ADD_FAILURE() << "no PostgreSQL test server: run ./run test, or ctest (its PgServer.Start "
                     "fixture writes "
                  << KV_PG_URI_FILE << ")";
  return Uri;
}

// The folder of the server's socket.
inline std::string SocketFolder() {
  const std::string Uri = ServerUri();
  const size_t H = Uri.find("host=");
  return H == std::string::npos ? std::string() : Uri.substr(H + 5);
}

// A URI for User on database Db of the test server.
inline std::string UriFor(const std::string& User, const std::string& Db = "postgres") {
  return "postgresql://" + User + "@/" + Db + "?host=" + SocketFolder();
}

// A name no other test process uses at the same time ("kvt_1234_3").
inline std::string UniqueName(const std::string& Prefix = "kvt") {
  static std::atomic<int> Serial{0};
  return Prefix + "_" + std::to_string(getpid()) + "_" + std::to_string(++Serial);
}

// A database of the test's own, dropped at the end.
class TScratchDatabase {
 public:
  TScratchDatabase() : FName(UniqueName("kvdb")), FAdmin(ServerUri()) {
    FAdmin.Exec("CREATE DATABASE " + PgQuoteIdentifier(FName) + " TEMPLATE template0");
  }
  ~TScratchDatabase() {
    try {
      FAdmin.Exec("DROP DATABASE IF EXISTS " + PgQuoteIdentifier(FName) + " WITH (FORCE)");
    } catch (const std::exception& E) {
      ADD_FAILURE() << "cannot drop " << FName << ": " << E.what();
    }
  }
  const std::string& Name() const { return FName; }
  std::string Uri() const { return UriFor("postgres", FName); }
  TPgConnection& Admin() { return FAdmin; }

 private:
  std::string FName;
  TPgConnection FAdmin;
};

// A server of the test's own (tools/pgcluster), for tests that stop it and start it again; it is
// stopped and its folder removed at the end.
class TPrivateServer {
 public:
  TPrivateServer() {
    if (FILE* P = popen((Tool() + " start").c_str(), "r")) {
      char Line[512] = {};
      if (std::fgets(Line, sizeof Line, P)) FUri = Line;
      pclose(P);
    }
    while (!FUri.empty() && FUri.back() == '\n') FUri.pop_back();
    if (FUri.empty()) ADD_FAILURE() << "tools/pgcluster start failed";
    const size_t H = FUri.find("host=");
    if (H != std::string::npos) FFolder = FUri.substr(H + 5);
  }
  ~TPrivateServer() {
    if (!FFolder.empty()) (void)std::system((Tool() + " stop " + FFolder).c_str());
  }
  TPrivateServer(const TPrivateServer&) = delete;
  TPrivateServer& operator=(const TPrivateServer&) = delete;

  const std::string& Uri() const { return FUri; }
  // Stops the server, keeping its data (a fast shutdown: sessions are ended).
  void Pause() { EXPECT_EQ(0, std::system((Tool() + " pause " + FFolder).c_str())); }
  void Resume() { EXPECT_EQ(0, std::system((Tool() + " resume " + FFolder).c_str())); }

 private:
  static std::string Tool() { return KV_SOURCE_DIR "/tools/pgcluster"; }
  std::string FUri, FFolder;
};

}  // namespace pgtest
