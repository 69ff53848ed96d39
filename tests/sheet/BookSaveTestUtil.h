// Helpers of the save-layer tests: scratch folders, whole-file reads, and running the independent
// checkers (python3, unzip, xmllint, soffice) as child processes. Header only.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

inline std::filesystem::path MakeTestDir(const std::string& tag) {
  static int counter = 0;
  const auto base = std::filesystem::temp_directory_path() /
                    ("trevolan-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(base);
  std::filesystem::create_directories(base);
  return base;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::vector<std::string> ListDir(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Exit status of a shell command (-1 when it could not run).
inline int RunCommand(const std::string& command) {
  const int rc = std::system(command.c_str());
  if (rc == -1 || !WIFEXITED(rc)) return -1;
  return WEXITSTATUS(rc);
}

inline bool HaveProgram(const std::string& name) {
  return RunCommand("command -v " + name + " >/dev/null 2>&1") == 0;
}

inline const char* PythonPath() { return "/usr/bin/python3"; }

inline bool HavePython() { return ::access(PythonPath(), X_OK) == 0; }

inline bool HaveOpenpyxl() {
  return HavePython() && RunCommand(std::string(PythonPath()) + " -c 'import openpyxl' >/dev/null 2>&1") == 0;
}

inline std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

// Runs the command and returns what it printed on standard output.
inline std::string Capture(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    ::pclose(p);
  }
  return out;
}

// Runs a python3 script with arguments; returns its standard output (errors go to the test log).
inline std::string RunPython(const std::string& script, const std::vector<std::string>& args) {
  const auto dir = MakeTestDir("py");
  const std::string file = (dir / "check.py").string();
  WriteFile(file, script);
  std::string command = std::string(PythonPath()) + " " + ShellQuote(file);
  for (const auto& a : args) command += " " + ShellQuote(a);
  std::string out = Capture(command);
  std::filesystem::remove_all(dir);
  return out;
}
