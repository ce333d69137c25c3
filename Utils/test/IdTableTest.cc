#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "Utils/base/IdTable.hh"

using namespace KORVAN;

namespace {

// Addresses far from any heap so that they never meet the handles of other tests.
const unsigned long BASE_ADDRESS = 0x7e0000000000UL;

} // namespace

// The table against a std::map oracle over many random steps: registrations, look-ups
// (hits and misses), removals, re-registration at removed addresses, and growth to many
// times the initial capacity followed by shrinking back to nothing.
TEST(IdTable, RandomisedAgainstAMapOracle) {
  const std::size_t baseline = IdTable::size();
  const char* const typeA = "IdTableTest::A";
  const std::string typeBText = "IdTableTest::B"; // compared by contents, not by pointer
  const char* const typeB = "IdTableTest::B";
  std::map<unsigned long, std::pair<unsigned int, const char*>> oracle;
  std::set<unsigned int> keysSeen;
  std::mt19937_64 rng(20240611);
  // A small address space forces collisions, re-registrations and long clusters;
  // the widening phase makes the table grow well past its first capacity.
  auto step = [&](unsigned long span, int insertWeight) {
    const unsigned long address = BASE_ADDRESS + 16 * (rng() % span) + (rng() % 4 == 0 ? 8 : 0);
    const int op = static_cast<int>(rng() % 10);
    auto it = oracle.find(address);
    if (op < insertWeight) {
      const char* type = rng() % 3 == 0 ? typeB : typeA;
      const unsigned int key = IdTable::insert(address, type);
      if (it != oracle.end()) {
        ASSERT_EQ(0u, key) << "address registered twice";
      } else {
        ASSERT_NE(0u, key);
        ASSERT_TRUE(keysSeen.insert(key).second) << "key " << key << " handed out twice";
        oracle[address] = {key, type};
      }
    } else if (op < 8) {
      IdTable::remove(address);
      if (it != oracle.end())
        oracle.erase(it);
    }
    auto now = oracle.find(address);
    ASSERT_EQ(now == oracle.end() ? 0u : now->second.first, IdTable::getKey(address));
    ASSERT_EQ(baseline + oracle.size(), IdTable::size());
  };
  for (int i = 0; i < 20000; ++i)
    step(500, 5);
  for (int i = 0; i < 60000; ++i)
    step(200000, 7);
  // Every live entry keeps its key; per-type counts agree.
  std::size_t countB = 0;
  for (const auto& entry : oracle) {
    ASSERT_EQ(entry.second.first, IdTable::getKey(entry.first));
    countB += entry.second.second == typeB;
  }
  EXPECT_GT(oracle.size(), 5000u);
  EXPECT_EQ(countB, IdTable::size(typeBText.c_str()));
  EXPECT_EQ(oracle.size() - countB, IdTable::size(typeA));
  for (int i = 0; i < 50000; ++i)
    step(200000, 1);
  // Drain in random order, checking the survivors along the way.
  std::vector<unsigned long> live;
  for (const auto& entry : oracle)
    live.push_back(entry.first);
  std::shuffle(live.begin(), live.end(), rng);
  for (std::size_t i = 0; i < live.size(); ++i) {
    IdTable::remove(live[i]);
    IdTable::remove(live[i]); // a second removal is harmless
    ASSERT_EQ(0u, IdTable::getKey(live[i]));
    if (i % (live.size() / 16 + 1) == 0) {
      for (std::size_t j = i + 1; j < live.size(); ++j)
        ASSERT_EQ(oracle[live[j]].first, IdTable::getKey(live[j]));
    }
  }
  EXPECT_EQ(baseline, IdTable::size());
  EXPECT_EQ(0u, IdTable::size(typeA));
  EXPECT_EQ(0u, IdTable::size(typeB));
  // A removed address registers again under a fresh key.
  const unsigned int first = IdTable::insert(BASE_ADDRESS, typeA);
  IdTable::remove(BASE_ADDRESS);
  const unsigned int second = IdTable::insert(BASE_ADDRESS, typeA);
  EXPECT_NE(0u, first);
  EXPECT_NE(first, second);
  EXPECT_EQ(second, IdTable::getKey(BASE_ADDRESS));
  IdTable::remove(BASE_ADDRESS);
  EXPECT_EQ(baseline, IdTable::size());
}

// Handles check themselves by key (the direct-mapped array, else the address index): against a
// map oracle, every handle ever issued (live, stale, or stale at a re-registered address) is
// live exactly when the oracle holds its address under its key. Small address sets first
// (re-registration), then many live entries (growth, keys whose place is taken).
TEST(IdTable, KeyChecksAgreeWithTheAddressIndex) {
  struct Handle {
    unsigned long address;
    unsigned int key;
  };
  const std::size_t baseline = IdTable::size();
  const char* const type = "IdTableTest::S";
  std::map<unsigned long, unsigned int> oracle;
  std::vector<Handle> issued;
  std::mt19937_64 rng(20261207);
  auto isLive = [&](const Handle& h) {
    auto it = oracle.find(h.address);
    return it != oracle.end() && it->second == h.key;
  };
  for (int i = 0; i < 60000; ++i) {
    const unsigned long span = i < 20000 ? 300 : 50000;
    const unsigned long address = BASE_ADDRESS + 16 * (rng() % span);
    if (rng() % 10 < (i < 40000 ? 6u : 2u)) {
      const Handle h{address, IdTable::insert(address, type)};
      if (oracle.count(address) != 0) {
        ASSERT_EQ(0u, h.key);
        continue;
      }
      ASSERT_NE(0u, h.key);
      oracle[address] = h.key;
      issued.push_back(h);
    } else {
      IdTable::remove(address);
      oracle.erase(address);
    }
    for (int probe = 0; probe < 4 && !issued.empty(); ++probe) {
      const Handle& h = issued[rng() % issued.size()];
      ASSERT_EQ(isLive(h), IdTable::isLive(h.address, h.key)) << "step " << i << " handle " << h.key;
    }
  }
  for (const Handle& h : issued)
    ASSERT_EQ(isLive(h), IdTable::isLive(h.address, h.key));
  // A live key checked against another live address, and the reverse, is not live.
  std::vector<Handle> live;
  for (const auto& entry : oracle)
    live.push_back(Handle{entry.first, entry.second});
  for (std::size_t i = 1; i < live.size(); i += 97) {
    EXPECT_FALSE(IdTable::isLive(live[i].address, live[i - 1].key));
    EXPECT_FALSE(IdTable::isLive(live[i - 1].address, live[i].key));
  }
  for (const auto& entry : oracle)
    IdTable::remove(entry.first);
  for (const Handle& h : issued)
    ASSERT_FALSE(IdTable::isLive(h.address, h.key));
  EXPECT_EQ(baseline, IdTable::size());
}
