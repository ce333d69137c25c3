// The attribute word splitter against a stream's >> on random texts of words, every kind of
// space, punctuation, bytes above 127 and NUL.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Vexl/VexlXmlParsing.hh"

using namespace KORVAN;

namespace {

std::vector<std::string> streamWords(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream is(text);
  std::string word;
  while (is >> word)
    result.push_back(word);
  return result;
}

int envCount(const char* name, int fallback) {
  const char* text = std::getenv(name);
  const int value = text == nullptr ? 0 : std::atoi(text);
  return value > 0 ? value : fallback;
}

} // namespace

TEST(VexlParsing, WordsSplitAsAStreamDoes) {
  const std::string alphabet = std::string("ab7_-.:") + " \t\n\v\f\r" + std::string(1, '\0') + "\xa0\xff\x1f\x85";
  const int seeds = envCount("KORVAN_VEXL_WORD_SEEDS", 2000);
  const int first = envCount("KORVAN_FIRST_SEED", 1);
  for (int seed = first; seed < first + seeds; ++seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    std::string text;
    for (int k = static_cast<int>(rng() % 24); k > 0; --k)
      text += alphabet[rng() % alphabet.size()];
    ASSERT_EQ(streamWords(text), VexlParsing::words(text)) << "seed " << seed;
  }
}

TEST(VexlParsing, WordsOfAttributeTexts) {
  EXPECT_EQ((std::vector<std::string>{"10", "20"}), VexlParsing::words("  10\t20\n"));
  EXPECT_EQ((std::vector<std::string>{"a.start", "b.end"}), VexlParsing::words("a.start b.end"));
  EXPECT_TRUE(VexlParsing::words(" \r\n\v\f\t").empty());
  EXPECT_TRUE(VexlParsing::words("").empty());
  EXPECT_EQ((std::vector<std::string>{"true"}), VexlParsing::words("true"));
}
