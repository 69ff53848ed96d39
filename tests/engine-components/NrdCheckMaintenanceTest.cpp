// nrd-check's headless maintenance run as a separate process on a real file: what it says, the
// exit code of the check afterwards, and the file it leaves.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>

#include "ComponentsFixture.h"

using namespace nrd;

namespace {

struct ToolRun {
  int code;
  std::string out;
};

ToolRun NrdCheck(const std::string& args) {
  const std::string cmd = std::string(NRD_CHECK_PATH) + " " + args + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  const int status = ::pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

using NrdCheckTool = ComponentsTest;

}  // namespace

TEST_F(NrdCheckTool, MaintenanceThenTheCheck) {
  TNRDDatabase& db = Database("Family", file_);
  {
    TNRDTable t(nullptr);
    t.SetDatabaseName("Family");
    t.SetTableName("T");
    t.FieldDefs().Add("id", ftInteger);
    t.FieldDefs().Add("s", ftString, 20);
    t.CreateTable();
    t.Open();
    for (int i = 0; i < 20; ++i) t.AppendRecord({IntValue(i), TextValue("x")});
  }
  db.Close();
  const std::string f = "'" + file_ + "'";

  struct Case {
    std::string args;
    int code;
    std::string says;
  };
  const std::vector<Case> cases = {
      {f + " --compact", 0, "compacted: "},
      {f + " --repair", 0, "repaired: nothing skipped"},
      {f + " --set-password pw", 0, "password set"},
      {f, 2, "incorrect password"},
      {f + " --password wrong --compact", 2, "incorrect password"},
      {f + " --password pw", 0, "ok"},
      {f + " --password pw --set-password ''", 0, "password removed"},
      {f, 0, "ok"},
      {"'" + (dir_ / "missing.at4").string() + "' --compact", 2, "does not exist"},
  };
  for (const Case& c : cases) {
    const ToolRun r = NrdCheck(c.args);
    EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
  }
  EXPECT_FALSE(std::filesystem::exists(file_ + ".tmp"));
}

