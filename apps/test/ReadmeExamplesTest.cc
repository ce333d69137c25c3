// The README's examples are what the program prints. A fenced block after a marker comment is
// checked:
//   <!-- example-file: NAME -->   the block is saved as the file NAME, for the runs below it;
//   <!-- example-run: ARGS -->    korvan-run (the program, as a user runs it: token keys are
//                                 those of a fresh process) runs with ARGS (paths from the repository root, or
//                                 the name of a saved file) and every line of the block must
//                                 appear in its output (standard output, then standard error),
//                                 in the block's order; directories are taken out of the output,
//                                 and a line ending in "..." stands for any line that starts
//                                 with the text before it (times).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Example {
  std::string kind, argument;
  int line;
  std::vector<std::string> block;
};

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos)
    return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r") + 1 - first);
}

std::vector<Example> readExamples(const std::string& path) {
  std::ifstream in(path.c_str());
  std::vector<Example> examples;
  std::string text;
  int number = 0;
  const std::string open = "<!-- example-";
  while (std::getline(in, text)) {
    number++;
    const std::string line = trimmed(text);
    if (line.compare(0, open.size(), open) != 0)
      continue;
    const size_t colon = line.find(':'), end = line.rfind("-->");
    EXPECT_TRUE(colon != std::string::npos && end != std::string::npos && colon < end) << path << ":" << number;
    if (colon == std::string::npos || end == std::string::npos || colon > end)
      continue;
    Example example{line.substr(open.size(), colon - open.size()), trimmed(line.substr(colon + 1, end - colon - 1)),
                    number, {}};
    // The block starts on the next line that opens a fence.
    while (std::getline(in, text) && (number++, trimmed(text).compare(0, 3, "```") != 0))
      EXPECT_TRUE(trimmed(text).empty()) << path << ":" << number << ": text between a marker and its block";
    while (std::getline(in, text) && (number++, trimmed(text).compare(0, 3, "```") != 0))
      example.block.push_back(text);
    examples.push_back(example);
  }
  return examples;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    result.push_back(line);
  return result;
}

std::string readAll(const std::string& path) {
  std::ifstream in(path.c_str());
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; !from.empty() && (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

} // namespace

TEST(Readme, ExamplesPrintWhatTheReadmeShows) {
  const std::string source = KORVAN_SOURCE_DIR;
  const std::vector<Example> examples = readExamples(source + "/README.md");
  const std::string dir = "/tmp/korvan-readme-" + std::to_string(getpid()) + "/";
  ASSERT_EQ(0, system(("mkdir -p " + dir).c_str()));
  std::vector<std::string> saved;
  int runs = 0;
  for (const Example& example : examples) {
    if (example.kind == "file") {
      std::ofstream(dir + example.argument) << [&]() {
        std::string text;
        for (const std::string& line : example.block)
          text += line + "\n";
        return text;
      }();
      saved.push_back(example.argument);
      continue;
    }
    ASSERT_EQ("run", example.kind) << "README.md:" << example.line;
    std::vector<std::string> args;
    std::istringstream words(example.argument);
    for (std::string word; words >> word;) {
      if (word[0] != '-' && std::find(saved.begin(), saved.end(), word) != saved.end())
        word = dir + word;
      else if (word[0] != '-' && (word.find('/') != std::string::npos || word.find(".xml") != std::string::npos))
        word = source + "/" + word;
      args.push_back(word);
    }
    std::string command = KORVAN_RUN;
    for (const std::string& arg : args)
      command += " '" + arg + "'";
    const int status = system((command + " >" + dir + "out 2>" + dir + "err").c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 2) << command;
    runs++;
    // Files are named as the README's command names them: only the directories the test put
    // before them go (a message printing a shortened path would not match).
    std::string printed = readAll(dir + "out") + readAll(dir + "err");
    printed = replaceAll(printed, dir, "");
    printed = replaceAll(printed, source + "/", "");
    const std::vector<std::string> got = lines(printed);
    size_t at = 0;
    for (const std::string& expected : example.block) {
      const bool prefix = expected.size() >= 3 && expected.compare(expected.size() - 3, 3, "...") == 0;
      const std::string start = prefix ? expected.substr(0, expected.size() - 3) : expected;
      while (at < got.size() && (prefix ? got[at].compare(0, start.size(), start) != 0 : got[at] != expected))
        at++;
      EXPECT_LT(at, got.size()) << "README.md:" << example.line << ": korvan-run " << example.argument
                                << "\ndoes not print, in this order, the line\n"
                                << expected << "\nIt prints:\n"
                                << printed;
      if (at == got.size())
        break;
      at++;
    }
  }
  for (const std::string& name : saved)
    std::remove((dir + name).c_str());
  std::remove((dir + "out").c_str());
  std::remove((dir + "err").c_str());
  rmdir(dir.c_str());
  // The markers themselves must not go missing unnoticed.
  EXPECT_GE(runs, 6);
}
