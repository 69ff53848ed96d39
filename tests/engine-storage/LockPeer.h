// A second process for the lock tests: a forked child that opens the same database file multi-user
// with its own handle and answers one-line commands over pipes:
//   "L <table page> <type>"          LockTable with one try -> "1"/"0"
//   "U <table page> <type>"          UnlockTable -> "1"/"0"
//   "R <table page> <page> <item>"   LockRecord with one try -> "1"/"0"
//   "r <table page> <page> <item>"   UnlockRecord -> "1"/"0"
//   "C <table>"                      record count of a disk table, read in the child's session
//   "S"                              its session slot
// The child ends with _exit, so no test code of the parent runs twice; Kill() ends it with SIGKILL.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "engine/storage/NRDDiskDatabase.h"
#include "engine/storage/NRDLockManager.h"
#include "engine/storage/NRDSystemFiles.h"
#include "tests/engine-storage/EngineTestTables.h"

namespace enginetest_tables {

class LockPeer {
 public:
  // extra: more commands, given the command word and the rest of the line.
  using Extra = std::function<std::string(const std::string&, std::istringstream&, nrd::TNRDDiskDatabaseData&,
                                          TestSession&)>;
  explicit LockPeer(const std::string& fileName, Extra extra = {}) {
    int toChild[2], toParent[2];
    if (pipe(toChild) != 0 || pipe(toParent) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(toChild[1]);
      close(toParent[0]);
      Serve(fileName, toChild[0], toParent[1], extra);
      _exit(0);
    }
    close(toChild[0]);
    close(toParent[1]);
    out_ = fdopen(toChild[1], "w");
    in_ = fdopen(toParent[0], "r");
  }
  ~LockPeer() {
    if (pid_ > 0 && !killed_) Ask("Q");
    if (out_ != nullptr) fclose(out_);
    if (in_ != nullptr) fclose(in_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  std::string Ask(const std::string& line) {
    fprintf(out_, "%s\n", line.c_str());
    fflush(out_);
    char buf[256] = {0};
    if (fgets(buf, sizeof buf, in_) == nullptr) return "<gone>";
    std::string s(buf);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
  }
  bool Yes(const std::string& line) { return Ask(line) == "1"; }
  void Kill() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    killed_ = true;
  }

 private:
  static void Serve(const std::string& fileName, int inFd, int outFd, const Extra& extra) {
    FILE* in = fdopen(inFd, "r");
    FILE* out = fdopen(outFd, "w");
    try {
      nrd::TNRDDiskDatabaseData db;
      db.FDatabaseName = fileName;
      TestSession session;
      session.FMultiUser = true;
      db.ConnectSession(&session);
      std::map<int, std::unique_ptr<nrd::TNRDTableLocksFile>> files;
      auto file = [&](int page) -> nrd::TNRDTableLocksFile& {
        auto& f = files[page];
        if (!f) {
          f = std::make_unique<nrd::TNRDTableLocksFile>(db.DiskPageManager());
          f->OpenFile(page);
        }
        return *f;
      };
      nrd::TNRDDatabaseTableLockManager& lm = *db.TableLockManager();
      char buf[256];
      while (fgets(buf, sizeof buf, in) != nullptr) {
        std::istringstream line(buf);
        std::string cmd;
        line >> cmd;
        std::string reply;
        try {
          if (cmd == "Q") {
            fprintf(out, "bye\n");
            fflush(out);
            break;
          } else if (cmd == "L" || cmd == "U") {
            int page = 0, type = 0;
            line >> page >> type;
            const auto t = static_cast<nrd::TNRDLockType>(type);
            const bool ok = cmd == "L" ? lm.LockTable(session.FSessionID, t, file(page), 1, 0, false, false)
                                       : lm.UnlockTable(session.FSessionID, t, file(page), false, false);
            reply = ok ? "1" : "0";
          } else if (cmd == "R" || cmd == "r") {
            int page = 0, p = 0, i = 0;
            line >> page >> p >> i;
            nrd::TNRDPageItemID id{p, static_cast<std::uint16_t>(i)};
            const bool ok = cmd == "R" ? lm.LockRecord(session.FSessionID, file(page), id, 1, 0)
                                       : lm.UnlockRecord(session.FSessionID, file(page), id);
            reply = ok ? "1" : "0";
          } else if (cmd == "S") {
            reply = std::to_string(session.FSessionID);
          } else if (extra) {
            reply = extra(cmd, line, db, session);
          }
        } catch (const std::exception& e) {
          reply = std::string("E ") + e.what();
        }
        fprintf(out, "%s\n", reply.c_str());
        fflush(out);
      }
      for (auto& f : files) lm.SessionLocks(session.FSessionID).Clear(), (void)f;
      db.DisconnectSession(&session);
    } catch (const std::exception& e) {
      fprintf(out, "E %s\n", e.what());
      fflush(out);
    }
  }
  pid_t pid_ = -1;
  bool killed_ = false;
  FILE* out_ = nullptr;
  FILE* in_ = nullptr;
};

}  // namespace enginetest_tables
