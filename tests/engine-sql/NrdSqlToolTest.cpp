// nrd-sql driven end to end as a separate process: statements as arguments and a script on
// standard input, the output lines, the exit codes, --create, and a script that stops at its first
// error with the earlier statements kept.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Outcome {
  int exitCode = -1;
  std::string out, err;
};

std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Quote(const std::string& s) {
  std::string r = "'";
  for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return r + "'";
}

class NrdSqlTool : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    dir_ = std::filesystem::temp_directory_path() /
           ("trevolan-nrdsql-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    std::filesystem::create_directories(dir_);
    file_ = (dir_ / "family.at4").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Runs nrd-sql with the arguments, `script` on its standard input.
  Outcome Run(const std::vector<std::string>& args, const std::string& script = "") {
    const auto in = dir_ / "in.sql", out = dir_ / "out.txt", err = dir_ / "err.txt";
    std::ofstream(in, std::ios::binary) << script;
    std::string cmd = Quote(NRD_SQL_PATH);
    for (const std::string& a : args) cmd += " " + Quote(a);
    cmd += " <" + Quote(in.string()) + " >" + Quote(out.string()) + " 2>" + Quote(err.string());
    const int status = std::system(cmd.c_str());
    Outcome o;
    o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.out = Slurp(out);
    o.err = Slurp(err);
    return o;
  }

  std::filesystem::path dir_;
  std::string file_;
};

TEST_F(NrdSqlTool, StatementsAsArguments) {
  Outcome o = Run({file_, "--create", "CREATE TABLE t (id INTEGER, name VARCHAR(20), PRIMARY KEY (id))",
                   "INSERT INTO t VALUES (1, 'a'), (2, 'b')"});
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(o.out, "rows 0\nrows 2\n");
  EXPECT_EQ(o.err, "");
  // The file stays: a second run works on the same table.
  o = Run({file_, "INSERT INTO t (id) VALUES (3); INSERT INTO t (id) VALUES (4)"});
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(o.out, "rows 1\nrows 1\n");
}

TEST_F(NrdSqlTool, ScriptStopsAtItsFirstError) {
  Outcome o = Run({file_, "--create"},
                  "CREATE TABLE t (id INTEGER NOT NULL, PRIMARY KEY (id));\n"
                  "-- a comment between statements\n"
                  "INSERT INTO t VALUES (1);\n"
                  "START TRANSACTION; INSERT INTO t VALUES (2); COMMIT;\n"
                  "INSERT INTO t VALUES (1);\n"
                  "INSERT INTO t VALUES (5);\n");
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_EQ(o.out, "rows 0\nrows 1\nrows 0\nrows 1\nrows 0\n");
  EXPECT_NE(o.err.find("30319"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("Duplicate"), std::string::npos) << o.err;
  // What ran before the error is in the file; what came after it is not.
  o = Run({file_, "INSERT INTO t VALUES (2)", "INSERT INTO t VALUES (5)"});
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_EQ(o.out, "");
  o = Run({file_, "INSERT INTO t VALUES (5)"});
  EXPECT_EQ(o.exitCode, 0) << o.err;
}

TEST_F(NrdSqlTool, AnOpenTransactionDiesWithTheProcess) {
  Outcome o = Run({file_, "--create"}, "CREATE TABLE t (id INTEGER NOT NULL, PRIMARY KEY (id)); START TRANSACTION; "
                                        "INSERT INTO t VALUES (7); INSERT INTO t VALUES (7)");
  EXPECT_EQ(o.exitCode, 1);
  // The row of the unfinished transaction was not kept.
  o = Run({file_, "INSERT INTO t VALUES (7)"});
  EXPECT_EQ(o.exitCode, 0) << o.err;
}

TEST_F(NrdSqlTool, FilesUsageAndMemory) {
  Outcome o = Run({file_, "CREATE TABLE t (a INTEGER)"});
  EXPECT_EQ(o.exitCode, 1);  // no such file without --create
  EXPECT_FALSE(std::filesystem::exists(file_));
  EXPECT_NE(o.err.find("does not exist"), std::string::npos) << o.err;
  o = Run({});
  EXPECT_EQ(o.exitCode, 2);
  o = Run({file_, "--password"});
  EXPECT_EQ(o.exitCode, 2);
  o = Run({"MEMORY", "CREATE TABLE m (a INTEGER)", "INSERT INTO m VALUES (1), (2), (3)"});
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(o.out, "rows 0\nrows 3\n");
  // A script of nothing but comments runs nothing.
  o = Run({file_, "--create"}, "  -- nothing\n");
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(o.out, "");
  o = Run({file_, "CREATE TABLE"});
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_NE(o.err.find("30249"), std::string::npos) << o.err;
  // A password protects a new file; the wrong one is refused.
  const std::string locked = (dir_ / "locked.at4").string();
  o = Run({locked, "--create", "--password", "secret", "CREATE TABLE t (a INTEGER)"});
  EXPECT_EQ(o.exitCode, 0) << o.err;
  o = Run({locked, "--password", "wrong", "INSERT INTO t VALUES (1)"});
  EXPECT_EQ(o.exitCode, 1);
  o = Run({locked, "--password", "secret", "INSERT INTO t VALUES (1)"});
  EXPECT_EQ(o.exitCode, 0) << o.err;
}

}  // namespace
