#include "Resource/component/Solvers/MIRT_ThreatManager.hh"
#include "Resource/base/Limits.hh"
#include "Resource/base/MIRT_FVDetector.hh"
#include "Resource/base/MIRT_Profile.hh"
#include "Resource/base/MIRT_Resource.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

#include <algorithm>
#include <map>
#include <sstream>
#include <tinyxml.h>

namespace KORVAN {
namespace MIRT {

namespace {

// Flaw sizes are sums of decimals: the two compare under the rule that judges them against limits.
bool larger(const InstantId& a, double ma, const InstantId& b, double mb) {
  if (!(ma > mb))
    return false;
  Rounding r = roundingAt(a);
  return beyondRounding(ma, mb, r.merge(roundingAt(b)));
}

// The size of inst's flaw above (upper) or below the limits; false when it has none there.
bool flawOn(const InstantId& inst, bool upper, double& m) {
  if (upper ? !inst->hasUpperLevelFlaw() : !inst->hasLowerLevelFlaw())
    return false;
  m = upper ? inst->getUpperFlawMagnitude() : inst->getLowerFlawMagnitude();
  return true;
}

// "<time> on <resource>" for debug lines.
std::string describe(const InstantId& inst) {
  std::ostringstream os;
  os << inst->getTime() << " on " << inst->getProfile()->getResource()->toString();
  return os.str();
}

}

/*
 * Instant comparators
 */

bool EarliestInstantComparator::operator()(const InstantId& a, const InstantId& b) const {
  return a->getTime() < b->getTime();
}
std::string EarliestInstantComparator::toString() const { return "earliest"; }
InstantComparator* EarliestInstantComparator::copy() const { return new EarliestInstantComparator(); }

bool LatestInstantComparator::operator()(const InstantId& a, const InstantId& b) const {
  return a->getTime() > b->getTime();
}
std::string LatestInstantComparator::toString() const { return "latest"; }
InstantComparator* LatestInstantComparator::copy() const { return new LatestInstantComparator(); }

bool UpperInstantComparator::operator()(const InstantId& a, const InstantId& b) const {
  return a->hasUpperLevelFlaw() && !b->hasUpperLevelFlaw();
}
std::string UpperInstantComparator::toString() const { return "upperLevelFlaw"; }
InstantComparator* UpperInstantComparator::copy() const { return new UpperInstantComparator(); }

bool LowerInstantComparator::operator()(const InstantId& a, const InstantId& b) const {
  return a->hasLowerLevelFlaw() && !b->hasLowerLevelFlaw();
}
std::string LowerInstantComparator::toString() const { return "lowerLevelFlaw"; }
InstantComparator* LowerInstantComparator::copy() const { return new LowerInstantComparator(); }

bool MostInstantComparator::operator()(const InstantId& a, const InstantId& b) const {
  if (m_dir != ABSOLUTE) {
    double ma, mb;
    if (!flawOn(a, m_dir == UPPER, ma))
      return false;
    if (!flawOn(b, m_dir == UPPER, mb))
      return true;
    return larger(a, ma, b, mb);
  }
  auto measure = [](const InstantId& inst) {
    double m = 0.0;
    if (inst->hasUpperLevelFlaw())
      m = inst->getUpperFlawMagnitude();
    if (inst->hasLowerLevelFlaw())
      m = std::max(m, inst->getLowerFlawMagnitude());
    return m;
  };
  return larger(a, measure(a), b, measure(b));
}
std::string MostInstantComparator::toString() const {
  if (m_dir == ABSOLUTE)
    return "mostFlawedAbsolute";
  if (m_dir == UPPER)
    return "mostFlawedUpper";
  return "mostFlawedLower";
}
InstantComparator* MostInstantComparator::copy() const { return new MostInstantComparator(m_dir); }

bool LeastInstantComparator::operator()(const InstantId& a, const InstantId& b) const {
  if (m_dir != ABSOLUTE) {
    double ma, mb;
    if (!flawOn(a, m_dir == UPPER, ma))
      return false;
    if (!flawOn(b, m_dir == UPPER, mb))
      return true;
    return larger(b, mb, a, ma);
  }
  // An instant with no level flaw measures infinity, so it goes last.
  auto measure = [](const InstantId& inst) {
    double m = (double) g_infiniteTime();
    if (inst->hasUpperLevelFlaw())
      m = inst->getUpperFlawMagnitude();
    if (inst->hasLowerLevelFlaw())
      m = std::min(m, inst->getLowerFlawMagnitude());
    return m;
  };
  return larger(b, measure(b), a, measure(a));
}
std::string LeastInstantComparator::toString() const {
  if (m_dir == ABSOLUTE)
    return "leastFlawedAbsolute";
  if (m_dir == UPPER)
    return "leastFlawedUpper";
  return "leastFlawedLower";
}
InstantComparator* LeastInstantComparator::copy() const { return new LeastInstantComparator(m_dir); }

/*
 * DecisionOrder
 */

bool DecisionOrder::operator()(const InstantId& a, const InstantId& b, LabelStr& explanation) const {
  check_error(!m_cmps.empty());
  check_error(a.isValid() && b.isValid());
  debugMsg("ThreatManager:betterThan", "Comparing instant " << describe(a) << " with instant " << describe(b));
  bool aFirst = false;
  const InstantComparator* decider = decide(a, b, aFirst);
  if (decider == NULL || !aFirst)
    return false;
  explanation = LabelStr(decider->toString());
  return true;
}

/*
 * ThreatManager
 */

ThreatManager::ThreatManager(const TiXmlElement& configData)
  : SOLVERS::FlawManager(configData), m_preferUpper(false), m_preferLower(false) {
  const char* attr = configData.Attribute("order");
  const std::string order = attr == NULL ? std::string("lower,most,earliest") : std::string(attr);
  InstantComparator::FlawDirection dir = InstantComparator::ABSOLUTE;
  std::string::size_type pos = 0;
  // The labels taken so far, each with the entry that gave it.
  std::map<std::string, std::string> taken;
  // A read position at the end still reads one (empty) entry: an empty text or a
  // trailing comma is an unknown order, not an empty one.
  while (pos <= order.size()) {
    std::string::size_type comma = order.find(',', pos);
    const std::string entry = order.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    if (entry == "earliest")
      m_order.addOrder(new EarliestInstantComparator());
    else if (entry == "latest")
      m_order.addOrder(new LatestInstantComparator());
    else if (entry == "lower") {
      m_order.addOrder(new LowerInstantComparator());
      dir = InstantComparator::LOWER;
      m_preferLower = true;
    }
    else if (entry == "upper") {
      m_order.addOrder(new UpperInstantComparator());
      dir = InstantComparator::UPPER;
      m_preferUpper = true;
    }
    else if (entry == "most")
      m_order.addOrder(new MostInstantComparator(dir));
    else if (entry == "least")
      m_order.addOrder(new LeastInstantComparator(dir));
    else
      checkError(ALWAYS_FAIL, "Unknown decision order '" << entry << "'");
    pos = comma == std::string::npos ? order.size() + 1 : comma + 1;
    check_error(!m_preferUpper || !m_preferLower, "Can't prefer both upper and lower level flaws.");
    warnIfNeverDeciding(entry, taken);
  }
}

void ThreatManager::warnIfNeverDeciding(const std::string& entry, std::map<std::string, std::string>& taken) {
  // Two instants tie on a comparator taken before exactly when they tie on its repeat, on
  // "latest" after "earliest" and on a directed "least" after "most" (or the other way): there
  // the later one never decides. In the absolute direction "most" weighs the larger of the two
  // flaws and "least" the smaller, so either can decide after the other.
  const std::string label = m_order.getComparators().back()->toString();
  const std::string::size_type flawed = label.find("Flawed");
  std::string opposite;
  if (label == "earliest" || label == "latest")
    opposite = label == "earliest" ? "latest" : "earliest";
  else if (flawed != std::string::npos && label.compare(flawed + 6, std::string::npos, "Absolute") != 0)
    opposite = (label[0] == 'm' ? "leastFlawed" : "mostFlawed") + label.substr(flawed + 6);
  std::map<std::string, std::string>::const_iterator before = taken.find(label);
  if (before != taken.end())
    warn("order '" + entry + "' never decides: it comes twice");
  else if (!opposite.empty() && (before = taken.find(opposite)) != taken.end())
    warn("order '" + entry + "' never decides: it comes after '" + before->second + "'" +
         (label == "earliest" || label == "latest" ? "" : " in the same direction"));
  taken.insert(std::make_pair(label, entry));
}

ThreatManager::~ThreatManager() {}

IteratorId ThreatManager::createIterator() {
  return (new ThreatIterator(*this))->getId();
}

std::string ThreatManager::flawEntityType() const { return Instant::entityTypeName().toString(); }

std::string ThreatManager::toString(const EntityId& entity) const {
  check_error(InstantId::convertable(entity));
  InstantId inst(entity);
  std::ostringstream os;
  os << "THREAT: " << inst->getTime() << " on " << inst->getProfile()->getResource()->toString();
  return os.str();
}

bool ThreatManager::staticMatch(const EntityId& entity) {
  return !InstantId::convertable(entity);
}

bool ThreatManager::dynamicMatch(const EntityId& entity) {
  return staticMatch(entity);
}

bool ThreatManager::betterThan(const EntityId& a, const EntityId& b, LabelStr& explanation) {
  check_error(InstantId::convertable(a) && InstantId::convertable(b));
  InstantId ia(a);
  InstantId ib(b);
  return m_order(ia, ib, explanation);
}

LabelStr ThreatManager::soleFlawExplanation(const EntityId&) {
  const std::list<InstantComparator*>& cmps = m_order.getComparators();
  return cmps.empty() || cmps.front() == NULL ? LabelStr("") : LabelStr(cmps.front()->toString());
}

/*
 * ThreatIterator
 */

ThreatIterator::ThreatIterator(ThreatManager& manager) : SOLVERS::FlawIterator(manager) {
  const std::map<int, ObjectId>& objects = manager.getPlanDatabase()->getObjects();
  for (std::map<int, ObjectId>::const_iterator it = objects.begin(); it != objects.end(); ++it) {
    const ObjectId& obj = it->second;
    check_error(obj.isValid());
    debugMsg("ThreatIterator:ThreatIterator", "Examining object " << obj->toString());
    if (!Id<Resource>::convertable(obj))
      continue;
    Id<Resource> res(obj);
    std::vector<InstantId> instants;
    res->getFlawedInstants(instants);
    debugMsg("ThreatIterator:ThreatIterator", "Taking " << instants.size() << " flawed instants from "
             << res->toString());
    m_flawedInstants.insert(m_flawedInstants.end(), instants.begin(), instants.end());
  }
  debugMsg("ThreatIterator:ThreatIterator", "Gathered " << m_flawedInstants.size() << " flawed instants.");
  m_it = m_flawedInstants.begin();
  advance();
  condDebugMsg(done(), "ThreatIterator:ThreatIterator", "Advanced to the end right away.");
  condDebugMsg(!done(), "ThreatIterator:ThreatIterator", "Standing on the first flawed instant.");
}

ThreatIterator::~ThreatIterator() {}

const EntityId ThreatIterator::nextCandidate() {
  EntityId result;
  if (m_it != m_flawedInstants.end()) {
    result = EntityId(*m_it);
    ++m_it;
  }
  return result;
}

}
}
