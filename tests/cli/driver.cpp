// Runs the data-driven command tests: every *.test file under a directory.
//
// A file is a sequence of blocks separated by blank lines:
//
//   # a comment
//   run tabulix dist tcdf 2 10          (a shell command; tabulix is on PATH)
//   exit 2                              (optional: expected exit status, default 0)
//   tolerance 1e-12                     (optional: relative tolerance for numbers)
//   stderr-contains some text           (optional, repeatable)
//   ----
//   expected standard output, line by line, up to the next blank line
//
// $DATA is tests/data, $TMP a fresh directory per file, $SRC the source root.
// Without "----" the output is not compared.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Block {
  std::string file;
  int line = 0;
  std::string command;
  int exitCode = 0;
  double tolerance = -1;
  std::vector<std::string> stderrContains;
  bool compare = false;
  std::vector<std::string> expected;
};

std::vector<Block> parseFile(const fs::path& path) {
  std::ifstream in(path);
  std::vector<Block> blocks;
  std::string line;
  int lineNo = 0;
  Block* cur = nullptr;
  bool inExpected = false;
  while (std::getline(in, line)) {
    ++lineNo;
    if (line.empty()) {
      cur = nullptr;
      inExpected = false;
      continue;
    }
    if (inExpected) {
      cur->expected.push_back(line);
      continue;
    }
    if (line[0] == '#') continue;
    if (line.rfind("run ", 0) == 0) {
      blocks.push_back({});
      cur = &blocks.back();
      cur->file = path.filename().string();
      cur->line = lineNo;
      cur->command = line.substr(4);
    } else if (!cur) {
      std::cerr << path << ":" << lineNo << ": line outside a run block: " << line << "\n";
      std::exit(2);
    } else if (line.rfind("exit ", 0) == 0) {
      cur->exitCode = std::stoi(line.substr(5));
    } else if (line.rfind("tolerance ", 0) == 0) {
      cur->tolerance = std::stod(line.substr(10));
    } else if (line.rfind("stderr-contains ", 0) == 0) {
      cur->stderrContains.push_back(line.substr(16));
    } else if (line == "----") {
      cur->compare = true;
      inExpected = true;
    } else {
      std::cerr << path << ":" << lineNo << ": unknown directive: " << line << "\n";
      std::exit(2);
    }
  }
  return blocks;
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> splitLines(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

// Compares two lines token by token; tokens that both read fully as numbers
// compare within the relative tolerance.
bool linesMatch(const std::string& got, const std::string& want, double tol) {
  if (got == want) return true;
  if (tol < 0) return false;
  auto tokens = [](const std::string& s) {
    std::vector<std::string> t;
    std::string cur;
    for (char c : s) {
      bool sep = c == ' ' || c == ',' || c == ':' || c == '[' || c == ']' || c == '{' || c == '}' || c == '"';
      if (sep) {
        if (!cur.empty()) t.push_back(cur);
        cur.clear();
        t.push_back(std::string(1, c));
      } else {
        cur += c;
      }
    }
    if (!cur.empty()) t.push_back(cur);
    return t;
  };
  auto a = tokens(got), b = tokens(want);
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    char* ea = nullptr;
    char* eb = nullptr;
    double x = std::strtod(a[i].c_str(), &ea);
    double y = std::strtod(b[i].c_str(), &eb);
    if (*ea || *eb || a[i].empty() || b[i].empty()) return false;
    if (std::fabs(x - y) > tol * std::max(1.0, std::max(std::fabs(x), std::fabs(y)))) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: cli_driver TABULIX_BINARY TEST_DIR [FILTER]\n";
    return 2;
  }
  fs::path binary = fs::absolute(argv[1]);
  fs::path dir = fs::absolute(argv[2]);
  std::string filter = argc > 3 ? argv[3] : "";
  fs::path src = dir.parent_path().parent_path();
  std::vector<fs::path> files;
  for (auto& e : fs::recursive_directory_iterator(dir))
    if (e.path().extension() == ".test" && e.path().string().find(filter) != std::string::npos)
      files.push_back(e.path());
  std::sort(files.begin(), files.end());

  std::string path = binary.parent_path().string() + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "");
  setenv("PATH", path.c_str(), 1);
  setenv("DATA", (src / "tests" / "data").c_str(), 1);
  setenv("SRC", src.c_str(), 1);

  int passed = 0, failed = 0;
  for (auto& f : files) {
    char tmpl[] = "/tmp/tabulix-cli-XXXXXX";
    if (!mkdtemp(tmpl)) return 2;
    fs::path tmp = tmpl;
    setenv("TMP", tmp.c_str(), 1);
    for (auto& b : parseFile(f)) {
      fs::path out = tmp / ".stdout", err = tmp / ".stderr";
      std::string cmd = "cd \"$TMP\" && ( " + b.command + " ) >" + out.string() + " 2>" + err.string() + " </dev/null";
      int status = std::system(cmd.c_str());
      int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      std::string gotOut = slurp(out), gotErr = slurp(err);
      std::vector<std::string> problems;
      if (code != b.exitCode)
        problems.push_back("exit status " + std::to_string(code) + ", expected " + std::to_string(b.exitCode));
      for (auto& s : b.stderrContains)
        if (gotErr.find(s) == std::string::npos) problems.push_back("stderr lacks: " + s);
      if (b.compare) {
        auto got = splitLines(gotOut);
        bool same = got.size() == b.expected.size();
        for (size_t i = 0; same && i < got.size(); ++i) same = linesMatch(got[i], b.expected[i], b.tolerance);
        if (!same) {
          std::string msg = "output differs\n--- expected\n";
          for (auto& l : b.expected) msg += l + "\n";
          msg += "--- got\n" + gotOut;
          problems.push_back(msg);
        }
      }
      if (problems.empty()) {
        ++passed;
      } else {
        ++failed;
        std::cout << "FAIL " << b.file << ":" << b.line << ": " << b.command << "\n";
        for (auto& p : problems) std::cout << "  " << p << "\n";
        if (!gotErr.empty()) std::cout << "  stderr: " << gotErr.substr(0, 2000) << "\n";
      }
    }
    fs::remove_all(tmp);
  }
  std::cout << "cli: " << passed << " passed, " << failed << " failed\n";
  return failed == 0 ? 0 : 1;
}
