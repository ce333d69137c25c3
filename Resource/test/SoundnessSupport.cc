#include "Resource/test/SoundnessSupport.hh"
#include "Resource/component/MIRT_ClosedWorldFVDetector.hh"
#include "Resource/component/MIRT_FlowProfile.hh"
#include "Resource/component/MIRT_IncrementalFlowProfile.hh"
#include "Resource/component/MIRT_OpenWorldFVDetector.hh"
#include "Resource/component/MIRT_ReusableFVDetector.hh"
#include "Resource/component/MIRT_TimetableFVDetector.hh"
#include "Resource/component/MIRT_TimetableProfile.hh"

#include <algorithm>
#include <memory>
#include <set>
#include <sstream>

namespace KORVAN {
namespace MIRT {

std::map<int, InstantId> instantsOf(const Id<Profile>& p) {
  std::map<int, InstantId> result;
  for (ProfileIterator it(p, -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next())
    result[it.getTime()] = it.getInstant();
  return result;
}

std::vector<int> instantTimes(Resource* r) {
  std::vector<int> times;
  for (const auto& entry : instantsOf(r->getProfile()))
    times.push_back(entry.first);
  return times;
}

std::string checkFiling(const Id<Profile>& profile, const std::vector<TransactionId>& live) {
  std::ostringstream out;
  std::set<int> bounds;
  bool anyEmptied = false;
  for (const TransactionId& t : live) {
    const AbstractDomain& dom = t->time()->lastDomain();
    if (dom.isEmpty()) {
      anyEmptied = true;
      continue;
    }
    bounds.insert((int) dom.getLowerBound());
    bounds.insert((int) dom.getUpperBound());
  }
  const std::map<int, InstantId> instants = instantsOf(profile);
  for (int b : bounds)
    if (instants.count(b) == 0)
      return (out << "no instant at bound " << b, out.str());
  for (const auto& entry : instants) {
    const int time = entry.first;
    const InstantId& inst = entry.second;
    if (!inst.isValid() || inst->getTime() != time)
      return (out << "instant at " << time << " is not valid or misfiled", out.str());
    if (!anyEmptied && bounds.count(time) == 0)
      return (out << "instant at " << time << " marks no start or end", out.str());
    for (const TransactionId& t : live) {
      const AbstractDomain& dom = t->time()->lastDomain();
      if (dom.isEmpty())
        continue;
      const double lb = dom.getLowerBound(), ub = dom.getUpperBound();
      const bool within = lb <= time && time <= ub;
      const bool held = inst->getTransactions().count(t) > 0;
      if (within != held)
        return (out << "instant at " << time << (held ? " holds " : " lacks ") << t->toString(), out.str());
      if (!within)
        continue;
      if ((lb == time) != (inst->getStartingTransactions().count(t) > 0) ||
          (ub == time) != (inst->getEndingTransactions().count(t) > 0) ||
          (ub != time) != (inst->getOverlappingTransactions().count(t) > 0))
        return (out << "instant at " << time << " files " << t->toString() << " wrongly", out.str());
    }
    if (!anyEmptied && inst->getTransactions().size() !=
        (size_t) std::count_if(live.begin(), live.end(), [&](const TransactionId& t) {
          return t->time()->lastDomain().getLowerBound() <= time && time <= t->time()->lastDomain().getUpperBound();
        }))
      return (out << "instant at " << time << " holds a transaction that is gone", out.str());
  }
  return "";
}

namespace {

Profile* freshProfile(const Id<Profile>& live, Id<PlanDatabase> db, Id<FVDetector> detector, double lb, double ub) {
  Profile* p = (Profile*) live;
  if (dynamic_cast<IncrementalFlowProfile*>(p) != 0)
    return new IncrementalFlowProfile(db, detector, lb, ub);
  if (dynamic_cast<FlowProfile*>(p) != 0)
    return new FlowProfile(db, detector, lb, ub);
  checkError(dynamic_cast<TimetableProfile*>(p) != 0, "Unknown profile kind");
  return new TimetableProfile(db, detector, lb, ub);
}

FVDetector* freshDetector(Resource* r) {
  FVDetector* d = (FVDetector*) r->getDetector();
  if (dynamic_cast<ReusableFVDetector*>(d) != 0)
    return new ReusableFVDetector(r->getId());
  if (dynamic_cast<TimetableFVDetector*>(d) != 0)
    return new TimetableFVDetector(r->getId());
  if (dynamic_cast<ClosedWorldFVDetector*>(d) != 0)
    return new ClosedWorldFVDetector(r->getId());
  if (dynamic_cast<OpenWorldFVDetector*>(d) != 0)
    return new OpenWorldFVDetector(r->getId());
  checkError(dynamic_cast<QuietFVDetector*>(d) != 0, "Unknown detector kind");
  return new QuietFVDetector(r->getId());
}

}

std::string checkViolationRecord(const Id<Profile>& profile, const std::map<TransactionId, bool>& marked) {
  std::ostringstream out;
  std::set<TransactionId> atViolated;
  for (const auto& entry : instantsOf(profile)) {
    const InstantId& inst = entry.second;
    if (!inst->isViolated())
      continue;
    bool consumer = false, producer = false, anyMarked = false;
    for (const TransactionId& t : inst->getTransactions()) {
      (t->isConsumer() ? consumer : producer) = true;
      atViolated.insert(t);
      std::map<TransactionId, bool>::const_iterator it = marked.find(t);
      anyMarked = anyMarked || (it != marked.end() && it->second);
    }
    if (consumer && producer && !anyMarked)
      return (out << "the violation at " << entry.first << " marks no token", out.str());
  }
  for (const auto& entry : marked)
    if (entry.second && atViolated.count(entry.first) == 0) {
      // The token's other transaction may be the one at a violated instant.
      bool sibling = false;
      for (const auto& other : marked)
        sibling = sibling || (other.first != entry.first && atViolated.count(other.first) > 0 &&
                              other.first->time()->parent() == entry.first->time()->parent());
      if (!sibling)
        return (out << entry.first->toString() << " is marked violated at no violated instant", out.str());
    }
  return "";
}

std::string checkAgainstFreshWalk(Resource* r, const std::vector<TransactionId>& live, bool& muted) {
  std::ostringstream out;
  const Id<Profile>& liveProfile = r->getProfile();
  liveProfile->recompute();
  muted = true;
  std::unique_ptr<FVDetector> detector(freshDetector(r));
  std::unique_ptr<Profile> fresh(freshProfile(liveProfile, r->getPlanDatabase(), detector->getId(),
                                              r->getInitCapacityLb(), r->getInitCapacityUb()));
  for (const TransactionId& t : live)
    fresh->addTransaction(t);
  fresh->recompute();
  const std::map<int, InstantId> a = instantsOf(liveProfile);
  const std::map<int, InstantId> b = instantsOf(fresh->getId());
  if (a.size() != b.size())
    out << a.size() << " instants, a fresh profile has " << b.size();
  for (auto ia = a.begin(), ib = b.begin(); out.str().empty() && ia != a.end() && ib != b.end(); ++ia, ++ib) {
    const InstantId& x = ia->second;
    const InstantId& y = ib->second;
    const double vx[] = {x->getLowerLevel(), x->getUpperLevel(), x->getMinInstantConsumption(),
                         x->getMaxInstantConsumption(), x->getMinInstantProduction(), x->getMaxInstantProduction(),
                         x->getMinCumulativeConsumption(), x->getMaxCumulativeConsumption(),
                         x->getMinCumulativeProduction(), x->getMaxCumulativeProduction()};
    const double vy[] = {y->getLowerLevel(), y->getUpperLevel(), y->getMinInstantConsumption(),
                         y->getMaxInstantConsumption(), y->getMinInstantProduction(), y->getMaxInstantProduction(),
                         y->getMinCumulativeConsumption(), y->getMaxCumulativeConsumption(),
                         y->getMinCumulativeProduction(), y->getMaxCumulativeProduction()};
    if (ia->first != ib->first)
      out << "instant at " << ia->first << ", a fresh profile has one at " << ib->first;
    for (int k = 0; k < 10 && out.str().empty(); ++k)
      if (vx[k] != vy[k])
        out << "value " << k << " at " << ia->first << " is " << vx[k] << ", afresh " << vy[k];
    if (out.str().empty() && (x->isViolated() != y->isViolated() || x->isFlawed() != y->isFlawed() ||
                              x->hasLowerLevelFlaw() != y->hasLowerLevelFlaw() ||
                              x->hasUpperLevelFlaw() != y->hasUpperLevelFlaw()))
      out << "marks at " << ia->first << " are V" << x->isViolated() << " F" << x->isFlawed() << " L"
          << x->hasLowerLevelFlaw() << " U" << x->hasUpperLevelFlaw() << ", afresh V" << y->isViolated() << " F"
          << y->isFlawed() << " L" << y->hasLowerLevelFlaw() << " U" << y->hasUpperLevelFlaw();
    // A walk stopped by a violation leaves the later instants unjudged.
    if (y->isViolated() && !r->getPlanDatabase()->getConstraintEngine()->getAllowViolations())
      break;
  }
  fresh.reset();
  muted = false;
  return out.str();
}

}
}
