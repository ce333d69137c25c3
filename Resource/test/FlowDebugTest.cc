// Debug sites of the flow profiles and their networks: each marker writes
// its own lines and nothing else's, debug output leaves the levels alone;
// the checks a caller can reach, and how the networks resume their flow.

#include "Resource/component/MIRT_FlowProfile.hh"
#include "Resource/component/MIRT_IncrementalFlowProfile.hh"
#include "Resource/test/ProfileTestSupport.hh"
#include "Resource/test/ResourceTestSupport.hh"
#include "Resource/test/TestHelpers.hh"
#include "Utils/base/Debug.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

template <class Base>
class Inside : public Base {
public:
  Inside(Id<PlanDatabase> db, Id<FVDetector> detector, double lb, double ub) : Base(db, detector, lb, ub) {}
  using Base::initRecompute;
  using Base::handleTransactionTimeChanged;
  using Base::m_recalculateLowerLevel;
  using Base::m_recalculateUpperLevel;
  using Base::m_lowerLevelGraph;
  using Base::m_upperLevelGraph;
  const std::map<int, InstantId>& instants() const { return this->m_instants; }
};

// Sends the debug stream to a buffer and switches every marker off again.
class Capture {
public:
  Capture() { DebugMessage::setStream(m_out); }
  ~Capture() {
    DebugMessage::disableAll();
    DebugMessage::setStream(std::cerr);
  }
  std::vector<std::string> lines() const {
    std::vector<std::string> result;
    std::istringstream in(m_out.str());
    for (std::string line; std::getline(in, line);)
      result.push_back(line);
    return result;
  }

private:
  std::ostringstream m_out;
};

ConstraintId precedes(ProfileWorld& w, TransactionId a, TransactionId b) {
  return w.ce->createConstraint(LabelStr("precedes"), {a->time(), b->time()});
}

// A producer of 3 over [5,20] before a consumer of 2 over [10,20] (open in
// both networks until they end), an unordered consumer over [10,25], a
// producer fixed at 30 and a consumer over [30,40]; then the fixed one's
// quantity narrows, so that the next pass starts at 30. Returns every
// instant's levels after each of the two passes.
std::vector<double> run(bool incremental) {
  ProfileWorld w;
  RecordingDetector det;
  std::unique_ptr<Profile> owner;
  if (incremental)
    owner.reset(new Inside<IncrementalFlowProfile>(w.db->getId(), det.getId(), 10, 12));
  else
    owner.reset(new Inside<FlowProfile>(w.db->getId(), det.getId(), 10, 12));
  TransactionId p = w.make(5, 20, false, 3, 3), c = w.make(10, 20, true, 2, 2);
  TransactionId free = w.make(10, 25, true, 1, 1);
  TransactionId fixed = w.make(30, 30, false, 2, 5), late = w.make(30, 40, true, 2, 5);
  precedes(w, p, c);
  for (TransactionId t : {p, c, free, fixed, late})
    owner->addTransaction(t);
  EXPECT_TRUE(w.ce->propagate());
  std::vector<double> levels;
  auto record = [&]() {
    owner->recompute();
    for (int time : {5, 10, 20, 25, 30, 40}) {
      const InstantId i = ResourceWorld::instantAt(owner->getId(), time);
      levels.push_back(i->getLowerLevel());
      levels.push_back(i->getUpperLevel());
    }
  };
  record();
  NarrowConstraint narrow(LabelStr("TestProp"), w.ce->getId(), fixed->quantity(), 4, 4);
  EXPECT_TRUE(w.ce->propagate());
  record();
  return levels;
}

// The same marker with its colons the other way round.
std::string otherForm(const std::string& marker) {
  const std::string::size_type two = marker.find("::");
  if (two != std::string::npos)
    return marker.substr(0, two) + marker.substr(two + 1);
  const std::string::size_type one = marker.find(':');
  return marker.substr(0, one) + ":" + marker.substr(one);
}

// The texts a marker wrote, without the marker, and with handle keys
// (which differ from run to run) left out.
std::set<std::string> textsOf(const std::string& marker, const std::vector<std::string>& lines) {
  static const std::regex key("id_[0-9]+");
  std::set<std::string> texts;
  const std::string head = "[" + marker + "]";
  for (const std::string& line : lines)
    if (line.compare(0, head.size(), head) == 0)
      texts.insert(std::regex_replace(line.substr(head.size()), key, "id_"));
  return texts;
}

struct Site {
  bool incremental;
  const char* marker;
  const char* text;  // a text the marker writes in this run
};

const Site SITES[] = {
  {false, "FlowProfile:recomputeLevels", "Computing instant ("},
  {false, "FlowProfile:recomputeLevels", "Determining ordering of pending transaction ("},
  {false, "FlowProfile::recomputeLevels", ") enters closed set."},
  {false, "FlowProfile::recomputeLevels", ") not constrained"},
  {false, "FlowProfile::recomputeLevels", "Computed levels for instance at time 30["},
  {false, "FlowProfile:initRecompute", "Instant ("},
  {false, "FlowProfile:handleTransactionAdded", "Set interval to [5,134217728]"},
  {false, "FlowProfile:handleOrderedAtOrBefore", ") at or before TransactionId ("},
  {false, "FlowProfile:enableTransaction", "Transaction ("},
  {true, "IncrementalFlowProfile::initRecompute", "For instant ("},
  {true, "IncrementalFlowProfile::initRecompute", ") getting initial levels from instant ("},
  {true, "IncrementalFlowProfile::recomputeLevels", "Previous instant ("},
  {true, "IncrementalFlowProfile::recomputeLevels", " start levels ["},
  {true, "IncrementalFlowProfile::recomputeLevels", "Expansion leads to delta upper level of "},
  {true, "IncrementalFlowProfile::recomputeLevels", "Contracting from lower graph transaction ("},
  {true, "IncrementalFlowProfile::recomputeLevels", "Contracting from upper graph transaction ("},
  {true, "IncrementalFlowProfile::recomputeLevels", ") decreases lower level by 2 (new level "},
  {true, "IncrementalFlowProfile::recomputeLevels", ") straight from open to closed set"},
  {true, "IncrementalFlowProfile::recomputeLevels", ") increases upper level by "},
  {true, "IncrementalFlowProfile::recomputeLevels", "Contraction leads to delta lower level of "},
  {true, "IncrementalFlowProfile:recomputeLevels", " lower level true"},
  {true, "IncrementalFlowProfile:recomputeLevels", " lower level false"},
  {true, "IncrementalFlowProfile::calculatedLevels", "Computed levels for instance at time 40["},
  {true, "IncrementalFlowProfile:enableOrderings", "Instant Id ("},
  {true, "IncrementalFlowProfile:enableOrderings", ") not constrained"},
  {true, "FlowProfileGraph::visitNeighbors", " starts contributing at 5 lower level 0"},
  {true, "FlowProfileGraph:visitNeighbors", "Disabling node with transaction ("},
  {true, "FlowProfileGraph:enableAtOrBefore", " lower level: "},
  {true, "FlowProfileGraph:disable", ") lower level: "},
  {true, "FlowProfileGraph:pushFlow", " skipping pushing flow back because a recalculation is required."},
  {true, "FlowProfileGraph:disableReachableResidualGraph", ", recalculate invoked."},
};

}

TEST(FlowProfileDebug, EachMarkerWritesItsOwnLines) {
  for (const Site& site : SITES) {
    const std::string marker = site.marker, other = otherForm(marker);
    std::vector<std::string> mine, theirs;
    {
      Capture capture;
      DebugMessage::enable(marker);
      run(site.incremental);
      mine = capture.lines();
    }
    {
      Capture capture;
      DebugMessage::enable(other);
      run(site.incremental);
      theirs = capture.lines();
    }
    const std::set<std::string> texts = textsOf(marker, mine);
    bool found = false;
    for (const std::string& text : texts)
      found = found || text.find(site.text) != std::string::npos;
    EXPECT_TRUE(found) << marker << " wrote no line with \"" << site.text << "\"";
    // A pattern enables the markers it begins; the other form is never one.
    EXPECT_TRUE(textsOf(other, mine).empty()) << marker << " also enabled " << other;
    for (const std::string& text : textsOf(other, theirs))
      EXPECT_EQ(0u, texts.count(text)) << "both " << marker << " and " << other << " write " << text;
  }
}

TEST(FlowProfileDebug, LevelsAreTheSameWithEveryMarkerOn) {
  for (int incremental = 0; incremental < 2; ++incremental) {
    const std::vector<double> quiet = run(incremental);
    Capture capture;
    DebugMessage::enable("*");
    EXPECT_EQ(quiet, run(incremental)) << "incremental " << incremental;
    EXPECT_FALSE(capture.lines().empty());
  }
}

TEST(FlowProfile, ChecksOfPassSetUpAndTimeChanges) {
  ProfileWorld w;
  RecordingDetector det;
  Inside<FlowProfile> flow(w.db->getId(), det.getId(), 0, 0);
  Inside<IncrementalFlowProfile> incremental(w.db->getId(), det.getId(), 0, 0);
  TransactionId t = w.make(0, 10), stranger = w.make(0, 10);
  flow.addTransaction(t);
  incremental.addTransaction(t);
  flow.recompute();
  incremental.recompute();
  // A pass set up with no window left to walk.
  const std::string message = "Attempted to initialize recomputation without a valid starting point!";
  Error e = failure([&] { flow.initRecompute(); });
  EXPECT_EQ("m_recomputeInterval.isValid()", e.getCondition());
  EXPECT_EQ(message, e.getMsg());
  e = failure([&] { incremental.initRecompute(); });
  EXPECT_EQ("m_recomputeInterval.isValid()", e.getCondition());
  EXPECT_EQ(message, e.getMsg());

  // A restriction has bounds to start from only for a transaction the
  // profile holds; a relaxation needs none.
  flow.m_recalculateLowerLevel = flow.m_recalculateUpperLevel = false;
  EXPECT_EQ("ite != m_previousTimeBounds.end()",
            failure([&] { flow.handleTransactionTimeChanged(stranger, DomainListener::BOUNDS_RESTRICTED); })
              .getCondition());
  EXPECT_TRUE(flow.m_recalculateLowerLevel && flow.m_recalculateUpperLevel);
  flow.handleTransactionTimeChanged(stranger, DomainListener::RELAXED);
  flow.handleTransactionTimeChanged(stranger, DomainListener::BOUNDS_RESTRICTED);
  flow.handleTransactionTimeChanged(t, DomainListener::UPPER_BOUND_DECREASED);
}

TEST(FlowProfileGraph, RunsFromScratchAndResumesWhateverIsPending) {
  ProfileWorld w;
  RecordingDetector det;
  Inside<FlowProfile> prof(w.db->getId(), det.getId(), 0, 0);
  TransactionId src = w.make(0, 0), snk = w.make(0, 0);
  TransactionId c = w.make(0, 10, true, 2, 5), p = w.make(0, 10, false, 3, 4);
  prof.addTransaction(c);
  prof.recompute();
  const InstantId inst = prof.instants().begin()->second;
  FlowProfileGraph lower(src, snk, true);
  ContributionMap contributions;
  lower.enableTransaction(c, inst, contributions);
  lower.enableTransaction(p, inst, contributions);
  lower.enableAt(c, p);
  Capture capture;
  DebugMessage::enable("MaximumFlowAlgorithm:execute");
  // Restoring completes the flow even with a run from scratch due; every
  // read after a change starts over.
  lower.restoreFlow();
  EXPECT_EQ(2.0, lower.getResidualFromSource());
  lower.enableTransaction(p, inst, contributions);
  EXPECT_EQ(2.0, lower.getResidualFromSource());
  EXPECT_EQ((std::vector<std::string>{"[MaximumFlowAlgorithm:execute]Running from the present flow",
                                      "[MaximumFlowAlgorithm:execute]Running from scratch",
                                      "[MaximumFlowAlgorithm:execute]Running from scratch"}),
            capture.lines());
}

// Lower network: consumers a and b from the source (1 each), a producer p
// towards the sink (1), both at p's time. Either consumer carries the one
// unit; the walk from the source takes the other first. A network whose flow
// was kept from a run before b came writes the lines of one run once over
// the same calls, whichever flow it walks.
TEST(FlowProfileGraph, WalkLinesFollowARunFromScratchWhateverFlowIsKept) {
  ProfileWorld w;
  RecordingDetector det;
  Inside<FlowProfile> prof(w.db->getId(), det.getId(), 0, 0);
  TransactionId src = w.make(0, 0), snk = w.make(0, 0);
  TransactionId a = w.make(0, 10, true, 1, 1), b = w.make(0, 10, true, 1, 1), p = w.make(0, 10, false, 1, 1);
  prof.addTransaction(a);
  prof.recompute();
  const InstantId inst = prof.instants().begin()->second;
  std::vector<std::string> lines[2];
  std::vector<TransactionId> walked[2], listed[2];
  for (TransactionId first : {a, b})
    for (int kept = 0; kept < 2; ++kept) {
      const TransactionId second = first == a ? b : a;
      FlowProfileGraph lower(src, snk, true);
      ContributionMap contributions;
      lower.enableTransaction(p, inst, contributions);
      lower.enableTransaction(first, inst, contributions);
      lower.enableAt(first, p);
      if (kept) {
        EXPECT_EQ(0.0, lower.getResidualFromSource());
      }
      lower.enableTransaction(second, inst, contributions);
      lower.enableAt(second, p);
      EXPECT_EQ(1.0, lower.getResidualFromSource());
      walked[kept].clear();
      listed[kept].clear();
      lower.getReachableResidualTransactions(walked[kept]);
      lower.listReachable(listed[kept]);
      // Due again, over the same network and flow.
      lower.enableAt(second, p);
      Capture capture;
      DebugMessage::enable("FlowProfileGraph:visitNeighbors");
      EXPECT_EQ(-1.0, lower.disableReachableResidualGraph(contributions, inst));
      lines[kept] = capture.lines();
      EXPECT_EQ(6u, lines[kept].size());
      EXPECT_EQ(listed[0], listed[kept]);
      // The run once lists as it walks; the lines follow it.
      EXPECT_EQ(walked[0], listed[kept]);
      EXPECT_EQ(lines[0], lines[kept]);
    }
  // With b first, the kept flow runs through a: its walk takes b first.
  EXPECT_NE(walked[0], walked[1]);
}

TEST(IncrementalFlowProfile, ClosedTransactionsLeaveTheNetwork) {
  ProfileWorld w;
  RecordingDetector det;
  Inside<IncrementalFlowProfile> prof(w.db->getId(), det.getId(), 10, 12);
  // The consumer's flow all goes to the producer before it: neither is
  // reached in the lower network, and both stay open until they end at 20.
  TransactionId p = w.make(5, 20, false, 3, 3), c = w.make(10, 20, true, 2, 2);
  TransactionId after = w.make(20, 30, false, 1, 1);
  precedes(w, p, c);
  for (TransactionId t : {p, c, after})
    prof.addTransaction(t);
  ASSERT_TRUE(w.ce->propagate());
  prof.recompute();
  // Closing them at their end takes them out of the network, not only off.
  for (TransactionId t : {p, c, after}) {
    EXPECT_FALSE(prof.m_lowerLevelGraph->hasNode(t));
    EXPECT_EQ("0 != node", failure([&] { prof.m_lowerLevelGraph->disable(t); }).getCondition());
  }
  EXPECT_EQ(2u, prof.m_lowerLevelGraph->getGraph().getNodes().size());
  EXPECT_EQ(10.0, ResourceWorld::instantAt(prof.getId(), 10)->getLowerLevel());
  EXPECT_EQ(11.0, ResourceWorld::instantAt(prof.getId(), 20)->getLowerLevel());
  EXPECT_EQ(12.0, ResourceWorld::instantAt(prof.getId(), 30)->getLowerLevel());
}

// Two unordered uses that start together at 10, after a producer fixed at 0, and a producer fixed
// at 10 whose quantity then narrows, so that the second pass starts at 10. When the pair opens,
// each of the two writes it once for every network that takes it; a pass that starts at 10 puts
// both in the networks and writes the pair once for each network before the instant opens.
TEST(IncrementalFlowProfileDebug, UnorderedPairsAreWrittenOncePerNetwork) {
  ProfileWorld w;
  RecordingDetector det;
  Inside<IncrementalFlowProfile> prof(w.db->getId(), det.getId(), 0, 0);
  TransactionId first = w.make(0, 0, false, 5, 5), a = w.make(10, 20, true, 1, 1), b = w.make(10, 20, true, 2, 2);
  TransactionId trigger = w.make(10, 10, false, 1, 3);
  for (TransactionId t : {first, a, b, trigger})
    prof.addTransaction(t);
  // The lines of the passes that a propagation runs.
  auto propagate = [&]() {
    Capture capture;
    DebugMessage::enable("IncrementalFlowProfile:enableOrderings");
    DebugMessage::enable("IncrementalFlowProfile::initRecompute");
    EXPECT_TRUE(w.ce->propagate());
    return capture.lines();
  };
  std::ostringstream ab, ba, opens;
  ab << "[IncrementalFlowProfile:enableOrderings]Transaction (" << a << ") and Transaction (" << b
     << ") not constrained";
  ba << "[IncrementalFlowProfile:enableOrderings]Transaction (" << b << ") and Transaction (" << a
     << ") not constrained";
  opens << "[IncrementalFlowProfile:enableOrderings]Instant Id (" << ResourceWorld::instantAt(prof.getId(), 10)
        << ")";
  auto count = [](std::vector<std::string>::const_iterator from, std::vector<std::string>::const_iterator to,
                  const std::string& text) { return (std::size_t) std::count(from, to, text); };
  ASSERT_TRUE(prof.m_recalculateLowerLevel && prof.m_recalculateUpperLevel);
  const std::vector<std::string> firstLines = propagate();
  EXPECT_EQ(2u, count(firstLines.begin(), firstLines.end(), ab.str()));
  EXPECT_EQ(2u, count(firstLines.begin(), firstLines.end(), ba.str()));

  NarrowConstraint narrow(LabelStr("TestProp"), w.ce->getId(), trigger->quantity(), 2, 2);
  const std::vector<std::string> lines = propagate();
  std::ostringstream from;
  from << "[IncrementalFlowProfile::initRecompute]For instant (" << ResourceWorld::instantAt(prof.getId(), 10) << ")";
  std::vector<std::string>::const_iterator start = std::find(lines.begin(), lines.end(), from.str());
  ASSERT_TRUE(start != lines.end());
  std::vector<std::string>::const_iterator open = std::find(start, lines.end(), opens.str());
  ASSERT_TRUE(open != lines.end());
  EXPECT_EQ(2u, count(start, open, ab.str()) + count(start, open, ba.str()));
  EXPECT_GE(count(open, lines.end(), ab.str()), 1u);
  EXPECT_EQ(count(open, lines.end(), ab.str()), count(open, lines.end(), ba.str()));
}
