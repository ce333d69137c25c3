// A failed transaction is undone: on random sequences of good and failing
// transactions, the database and the token names after each failure are those
// of a fresh interpreter that read only the transactions that succeeded so
// far. A failing seed prints its transactions.

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/test/World.hh"
#include "Vexl/VexlXmlInterpreter.hh"

using namespace KORVAN;

namespace {

struct Reader : public World {
  Reader() : interpreter(new VexlXmlInterpreter(db->getId())) {}
  ~Reader() { delete interpreter; }
  bool read(const std::string& transactions) {
    std::istringstream in("<vexl>" + transactions + "</vexl>");
    try {
      interpreter->interpret(in, "model.xml");
      return true;
    } catch (const Error&) {
      return false;
    }
  }
  // Objects, tokens (by name and predicate) and constraints, independent of keys.
  std::string state() const {
    std::ostringstream os;
    for (const auto& entry : db->getObjects())
      os << "object " << entry.second->getName().toString() << "\n";
    for (const auto& entry : interpreter->getNamedTokens())
      os << "name " << entry.first << (entry.second.isValid() ? " " + entry.second->getPredicateName().toString() : " gone")
         << "\n";
    os << db->getTokens().size() << " tokens, " << ce->getConstraints().size() << " constraints\n";
    return os.str();
  }
  VexlXmlInterpreter* interpreter;
};

const char* const CLASSES =
    "<class name='Rover'><predicate name='drive'/><predicate name='ping' kind='event'/></class>";

// A transaction that may or may not succeed where it lands.
std::string randomTransaction(std::mt19937& rng, int n) {
  auto pick = [&](int k) { return (int) (rng() % (unsigned) k); };
  const std::string r = "r" + std::to_string(pick(4));
  const std::string t = "t" + std::to_string(pick(n + 1));
  const std::string u = "t" + std::to_string(pick(n + 1));
  switch (pick(6)) {
  case 0:
    return "<new type='Rover' name='" + r + "'/>";
  case 1:
    return "<goal predicate='Rover.drive' name='" + t + "' object='" + r + "' start='" + std::to_string(pick(20)) +
           " 40' duration='" + std::to_string(pick(8)) + "'/>";
  case 2:
    return "<fact predicate='Rover.ping' name='" + t + "' object='" + r + "' time='" + std::to_string(pick(30)) +
           " " + std::to_string(pick(60)) + "'/>";
  case 3:
    return "<constraint name='precedes' scope='" + t + ".end " + u + ".start'/>";
  case 4:
    // Fails in the middle: the token is made, then its bounds are refused.
    return "<goal predicate='Rover.drive' name='" + t + "' object='" + r + "' duration='-5'/>";
  default:
    return "<goal predicate='Rover.fly' name='" + t + "'/>";
  }
}

int rounds() {
  const char* text = std::getenv("KORVAN_VEXL_ROLLBACK_ROUNDS");
  return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 40;
}

}

TEST(VexlXmlInterpreter, FailedTransactionsLeaveWhatTheGoodOnesMade) {
  for (int seed = 1; seed <= rounds(); ++seed) {
    std::mt19937 rng(seed);
    Reader reader;
    ASSERT_TRUE(reader.read(CLASSES));
    std::string accepted = CLASSES;
    std::string tried;
    for (int step = 0; step < 30; ++step) {
      const std::string transaction = randomTransaction(rng, step);
      tried += transaction + "\n";
      if (reader.read(transaction)) {
        accepted += transaction;
        continue;
      }
      Reader fresh;
      ASSERT_TRUE(fresh.read(accepted)) << "seed " << seed << ", transactions:\n" << tried;
      ASSERT_EQ(fresh.state(), reader.state()) << "seed " << seed << ", transactions:\n" << tried;
    }
  }
}
