#include "Resource/base/Resource.hh"
#include "Resource/base/Limits.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Token.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <sstream>

namespace KORVAN {

namespace {

// The larger finite magnitude of a change's quantity: what it adds to a sum it is in.
double magnitudeOf(const TransactionId& tx) {
  double magnitude = 0.0;
  for (double q : {tx->getMin(), tx->getMax()})
    if (std::fabs(q) < g_infiniteTimeAsDouble())
      magnitude = std::max(magnitude, std::fabs(q));
  return magnitude;
}

}

Resource::Resource(const ObjectId& parent, const LabelStr& type, const LabelStr& localName, bool open)
  : Object(parent, type, localName, open) {
  commonInit();
}

Resource::Resource(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name, bool open)
  : Object(planDatabase, type, name, open) {
  commonInit();
}

Resource::Resource(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name,
                   double initialCapacity, double limitMin, double limitMax, double productionRateMax,
                   double productionMax, double consumptionRateMax, double consumptionMax)
  : Object(planDatabase, type, name, false) {
  commonInit();
  init(initialCapacity, limitMin, limitMax, productionRateMax, productionMax, consumptionRateMax, consumptionMax);
}

void Resource::commonInit() {
  // Not a number until init(): any check or query that runs before it fails.
  const double unset = std::numeric_limits<double>::quiet_NaN();
  m_initialCapacity = m_limitMin = m_limitMax = unset;
  m_productionRateMax = m_productionMax = m_consumptionRateMax = m_consumptionMax = unset;
  m_totalUsedConsumption = m_totalUsedProduction = 0.0;
  m_dirty = false;
}

Resource::~Resource() {
  DebugMessage::Teardown quiet;
  // Discarding deletes the profile first; plain deletion must too.
  resetProfile();
}

void Resource::handleDiscard() {
  resetProfile();
  Object::handleDiscard();
}

void Resource::init(double initialCapacity, double limitMin, double limitMax, double productionRateMax,
                    double productionMax, double consumptionRateMax, double consumptionMax) {
  // Limits that fail validation must not stay behind: every later query would fail on them.
  const double previous[] = {m_initialCapacity, m_limitMin, m_limitMax, m_productionRateMax,
                             m_productionMax, m_consumptionRateMax, m_consumptionMax};
  m_initialCapacity = initialCapacity;
  m_limitMin = limitMin;
  m_limitMax = limitMax;
  m_productionRateMax = productionRateMax == g_infiniteTimeAsDouble() ? productionMax : productionRateMax;
  m_productionMax = productionMax;
  m_consumptionRateMax = consumptionRateMax == -g_infiniteTimeAsDouble() ? consumptionMax : consumptionRateMax;
  m_consumptionMax = consumptionMax;
  try {
    check_error(isValid());
  } catch (const Error&) {
    m_initialCapacity = previous[0];
    m_limitMin = previous[1];
    m_limitMax = previous[2];
    m_productionRateMax = previous[3];
    m_productionMax = previous[4];
    m_consumptionRateMax = previous[5];
    m_consumptionMax = previous[6];
    throw;
  }
  markDirty();
}

void Resource::updateInitialState(const IntervalDomain& value) {
  check_error(value.isSingleton(), "In the current implementation the initial value of Resource should be a singleton");
  m_initialCapacity = value.getSingletonValue();
}

void Resource::markDirty() {
  debugMsg("Resource:markDirty", getName().toString() << " marked Dirty");
  m_dirty = true;
}

void Resource::add(const TokenId& token) {
  Object::add(token);
  debugMsg("Resource:add", getName().toString() << " added " << token->toString());
  markDirty();
}

void Resource::remove(const TokenId& token) {
  Object::remove(token);
  debugMsg("Resource:remove", getName().toString() << " removed " << token->toString());
  markDirty();
}

double Resource::getProductionRateMax(int) const {
  return m_productionRateMax;
}

double Resource::getConsumptionRateMax(int) const {
  return m_consumptionRateMax;
}

void Resource::getInstants(std::list<InstantId>& resultSet, int lowerBound, int upperBound) {
  check_error(resultSet.empty());
  check_error(lowerBound <= upperBound);
  getPlanDatabase()->getConstraintEngine()->propagate();
  for (std::map<int, InstantId>::const_iterator it = m_instants.upper_bound(lowerBound);
       it != m_instants.end() && it->first <= upperBound; ++it) {
    InstantId instant = it->second;
    check_error(instant.isValid());
    check_error(lowerBound <= instant->getTime());
    resultSet.push_back(instant);
  }
}

void Resource::getTransactions(std::set<TransactionId>& resultSet, int lowerBound, int upperBound, bool propagate) {
  check_error(resultSet.empty());
  check_error(lowerBound <= upperBound);
  if (propagate)
    getPlanDatabase()->getConstraintEngine()->propagate();
  for (TokenSet::const_iterator it = tokens().begin(); it != tokens().end(); ++it) {
    TransactionId tx = assignedTransaction(*it);
    if (tx.isNoId())
      continue;
    IntervalIntDomain window(lowerBound, upperBound);
    window.intersect(tx->getTime()->lastDomain());
    if (!window.isEmpty())
      resultSet.insert(tx);
  }
}

void Resource::getResourceFlaws(std::list<ResourceFlawId>& results, int, int) {
  check_error(isValid());
  updateTransactionProfile();
  results.clear();
  for (std::map<int, InstantId>::const_iterator it = m_instants.begin(); it != m_instants.end(); ++it) {
    const std::list<ResourceFlawId>& flaws = it->second->getResourceFlaws();
    results.insert(results.end(), flaws.begin(), flaws.end());
  }
}

bool Resource::isFlawed() {
  std::list<ResourceFlawId> flaws;
  getResourceFlaws(flaws, -g_infiniteTime(), g_infiniteTime());
  return !flaws.empty();
}

bool Resource::hasFlaws() {
  return isFlawed();
}

void Resource::getResourceViolations(std::list<ResourceViolationId>& results, int, int) {
  check_error(isValid());
  updateTransactionProfile();
  results.clear();
  results.insert(results.end(), m_globalViolations.begin(), m_globalViolations.end());
  for (std::map<int, InstantId>::const_iterator it = m_instants.begin(); it != m_instants.end(); ++it) {
    const std::list<ResourceViolationId>& violations = it->second->getResourceViolations();
    results.insert(results.end(), violations.begin(), violations.end());
  }
  debugMsg("Resource:getResourceViolations", toString());
}

bool Resource::isViolated() {
  std::list<ResourceViolationId> violations;
  getResourceViolations(violations, -g_infiniteTime(), g_infiniteTime());
  return !violations.empty();
}

void Resource::print(std::ostream& os) {
  updateTransactionProfile();
  os << "Time:[lowerMin, lowerMax, upperMin, upperMax] ";
  for (std::map<int, InstantId>::const_iterator it = m_instants.begin(); it != m_instants.end(); ++it) {
    InstantId current = it->second;
    check_error(current.isValid());
    current->print(os);
    os << " ";
  }
  os << std::endl;
}

std::string Resource::toString() {
  std::ostringstream os;
  print(os);
  return os.str();
}

std::string toString(const ResourceId& resource) {
  return resource->toString();
}

bool Resource::isValid() const {
  return isValidBetween(m_instants.begin(), m_instants.end());
}

bool Resource::isValidAround(int startTime, int endTime) const {
  // The instant before the start too: a new instant at the start copies its tokens.
  std::map<int, InstantId>::const_iterator from = m_instants.lower_bound(startTime);
  if (from != m_instants.begin())
    --from;
  return isValidBetween(from, m_instants.upper_bound(endTime));
}

bool Resource::isValidBetween(std::map<int, InstantId>::const_iterator from,
                              std::map<int, InstantId>::const_iterator to) const {
  if (!getId().isValid()) {
    std::ostringstream msg;
    msg << getId();
    Error("m_id.isValid()", msg.str(), KORVAN_ERROR_FILE(), __LINE__).handleAssert();
  }
  checkError(m_limitMin <= m_limitMax, m_limitMin << " > " << m_limitMax);
  checkError(m_initialCapacity >= m_limitMin, "the initial level " << m_initialCapacity
             << " is below the lower level limit " << m_limitMin);
  checkError(m_initialCapacity <= m_limitMax, m_initialCapacity << " > " << m_limitMax);
  checkError(m_productionRateMax <= m_productionMax, m_productionRateMax << " > " << m_productionMax);
  checkError(m_productionRateMax >= 0, "the production rate limit " << m_productionRateMax << " is negative");
  checkError(m_consumptionRateMax >= m_consumptionMax, "the consumption rate limit " << m_consumptionRateMax
             << " is below the consumption maximum " << m_consumptionMax);
  checkError(m_consumptionRateMax <= 0, "Consumption rate is " << m_consumptionRateMax << " but must be negative.");
  for (std::map<int, InstantId>::const_iterator it = from; it != to; ++it) {
    ++instantsChecked();
    check_error(it->second.isValid());
  }
  return true;
}

unsigned long long& Resource::instantsChecked() {
  static unsigned long long sl_checked = 0;
  return sl_checked;
}

// ---- the profile ----

TransactionId Resource::assignedTransaction(const TokenId& token) const {
  TransactionId tx = token;
  if (!tx->getObject()->lastDomain().isSingleton())
    return TransactionId::noId();
  check_error(tx->getObject()->lastDomain().getSingletonValue() == getId(),
              "If a singleton, and we have synched correctly, then it must be assigned to this resource.");
  return tx;
}

void Resource::updateTransactionProfile() {
  if (!m_dirty)
    return;
  resetProfile();
  recomputeTotals();
  m_dirty = false;
  if (!m_globalViolations.empty())
    return;
  rebuildProfile();
  if (m_instants.empty())
    return;
  check_error(isValid());
  computeTransactionProfile();
  debugMsg("Resource:updateTransactionProfile", toString());
  check_error(isValid());
}

void Resource::resetProfile() {
  for (std::map<int, InstantId>::iterator it = m_instants.begin(); it != m_instants.end(); ++it) {
    InstantId item = it->second;
    check_error(item.isValid());
    delete (Instant*) item;
  }
  m_instants.clear();
  KORVAN::cleanup(m_globalViolations);
}

void Resource::recomputeTotals() {
  m_totalUsedConsumption = 0.0;
  m_totalUsedProduction = 0.0;
  // The totals are summed from the quantities alone: the initial level is no term of them.
  m_rounding = Rounding::none();
  for (double total : {m_productionMax, m_consumptionMax})
    if (std::fabs(total) < g_infiniteTimeAsDouble())
      m_rounding.add(total);
  for (TokenSet::const_iterator it = tokens().begin(); it != tokens().end(); ++it) {
    TransactionId tx = assignedTransaction(*it);
    if (tx.isNoId())
      continue;
    m_rounding.add(magnitudeOf(tx));
    if (tx->getMax() < 0)
      m_totalUsedConsumption += tx->getMax();
    if (tx->getMin() > 0)
      m_totalUsedProduction += tx->getMin();
  }
  if (belowLimit(m_totalUsedConsumption, m_consumptionMax, m_rounding))
    addGlobalResourceViolation(ResourceProblem::ConsumptionSumExceeded);
  if (aboveLimit(m_totalUsedProduction, m_productionMax, m_rounding))
    addGlobalResourceViolation(ResourceProblem::ProductionSumExceeded);
}

void Resource::addGlobalResourceViolation(ResourceProblem::Type type) {
  m_globalViolations.insert(ResourceViolationId((new ResourceViolation(type))->getId()));
}

void Resource::rebuildProfile() {
  for (TokenSet::const_iterator it = tokens().begin(); it != tokens().end(); ++it) {
    TransactionId tx = assignedTransaction(*it);
    if (tx.isNoId())
      continue;
    check_error(tx.isValid());
    insert(tx);
  }
}

bool Resource::insert(const TransactionId& tx) {
  // The limits, then only the instants the token reaches and the one before: a check of the
  // whole profile per token made every rebuild quadratic. The rebuild checks the whole profile
  // once it is filled. A handle no longer valid has no times to bound the window by: the whole
  // profile is checked, then the handle, which fails; a valid one is looked up once.
  if (tx.isValid())
    check_error(isValidAround(tx->getEarliest(), tx->getLatest()));
  else {
    check_error(isValid());
    check_error(tx.isValid());
  }
  int startTime = tx->getEarliest();
  std::map<int, InstantId>::iterator it = m_instants.lower_bound(startTime);
  if (it == m_instants.end())
    it = createInstant(startTime, m_instants.end());
  else if (it->first != startTime)
    it = createInstant(startTime, it);
  it->second->insert(tx);

  int endTime = tx->getLatest();
  bool endReached = it->first == endTime;
  ++it;
  while (it != m_instants.end() && !endReached) {
    InstantId instant = it->second;
    check_error(instant.isValid());
    if (instant->getTime() > endTime)
      break;
    instant->insert(tx);
    endReached = instant->getTime() == endTime;
    ++it;
  }
  if (!endReached) {
    it = createInstant(endTime, it);
    it->second->insert(tx);
  }
  check_error(isValidAround(startTime, endTime));
  return true;
}

std::map<int, InstantId>::iterator Resource::createInstant(int time, std::map<int, InstantId>::iterator hint) {
  check_error(m_instants.find(time) == m_instants.end());
  Instant* instant = new Instant(time);
  std::map<int, InstantId>::iterator pos = m_instants.emplace_hint(hint, time, instant->getId());
  if (pos != m_instants.begin()) {
    InstantId previous = std::prev(pos)->second;
    check_error(previous.isValid());
    check_error(previous->getTime() < time);
    // Tokens of the previous instant that last beyond this time are in effect here too.
    const TransactionSet& txs = previous->getTransactions();
    for (TransactionSet::const_iterator tx = txs.begin(); tx != txs.end(); ++tx)
      if ((*tx)->getLatest() > time)
        instant->insert(*tx);
  }
  return pos;
}

bool Resource::hasStartOrEndTransaction(const InstantId& instant) const {
  check_error(instant.isValid());
  const TransactionSet& txs = instant->getTransactions();
  for (TransactionSet::const_iterator it = txs.begin(); it != txs.end(); ++it)
    if ((*it)->getEarliest() == instant->getTime() || (*it)->getLatest() == instant->getTime())
      return true;
  return false;
}

void Resource::cleanup(const TransactionId& tx) {
  check_error(tx.isValid());
  check_error(ALWAYS_FAILS);
}

void Resource::computeTransactionProfile() {
  // An initial level the model did not bound stays without one, whatever is taken from it.
  const double initial = unboundedAtHorizon(m_initialCapacity);
  double runningLowerMin = initial;
  double runningLowerMax = initial;
  double runningUpperMin = initial;
  double runningUpperMax = initial;
  // A level is judged by what was summed into it: changes that can only come later add nothing
  // to what rounding may have moved it, and a total limit only where what it still allows is.
  Rounding running = Rounding::none();
  running.add(initial);
  for (std::map<int, InstantId>::iterator it = m_instants.begin(); it != m_instants.end(); ++it) {
    InstantId instant = it->second;
    const TransactionSet& txs = instant->getTransactions();
    for (TransactionSet::const_iterator tx = txs.begin(); tx != txs.end(); ++tx) {
      computeRunningTotals(instant, *tx, runningLowerMin, runningLowerMax, runningUpperMin, runningUpperMax);
      if ((*tx)->getEarliest() == instant->getTime())
        running.add(magnitudeOf(*tx));
    }
    instant->updateBounds(runningLowerMin, runningLowerMax, runningUpperMin, runningUpperMax);
    instant->setRounding(running);
    applyConstraints(instant);
  }
}

void Resource::computeRunningTotals(const InstantId& instant, const TransactionId& tx, double& runningLowerMin,
                                    double& runningLowerMax, double& runningUpperMin, double& runningUpperMax) {
  const double min = tx->getMin();
  const double max = tx->getMax();
  const int t = instant->getTime();
  // Production counts as early and consumption as late as possible for the
  // upper bounds, the other way round for the lower ones.
  if (tx->getEarliest() == t) {
    if (max > 0)
      runningUpperMax += max;
    if (min > 0)
      runningUpperMin += min;
    if (max < 0)
      runningLowerMax += max;
    if (min < 0)
      runningLowerMin += min;
  }
  if (tx->getLatest() == t) {
    if (max < 0)
      runningUpperMax += max;
    if (min < 0)
      runningUpperMin += min;
    if (max > 0)
      runningLowerMax += max;
    if (min > 0)
      runningLowerMin += min;
  }
}

void Resource::updateInstantBounds(const InstantId& instant, double lowerMin, double lowerMax, double upperMin,
                                   double upperMax) {
  instant->updateBounds(lowerMin, lowerMax, upperMin, upperMax);
}

bool Resource::applyConstraints(const InstantId& instant) {
  instant->reset();
  bool found = false;
  // Not even all the production (consumption) still allowed can bring the
  // level back within the limits.
  const Rounding& rounding = instant->getRounding();
  // What a total still allows is summed from its limit and every change of the resource.
  Rounding withTotals = m_rounding;
  withTotals.merge(rounding);
  if (belowLimit(instant->getUpperMax() + remainingOf(m_productionMax, m_totalUsedProduction), m_limitMin, withTotals)) {
    instant->addResourceViolation(ResourceProblem::LevelTooLow);
    found = true;
  }
  if (aboveLimit(instant->getLowerMin() + remainingOf(m_consumptionMax, m_totalUsedConsumption), m_limitMax, withTotals)) {
    instant->addResourceViolation(ResourceProblem::LevelTooHigh);
    found = true;
  }
  if (belowLimit(instant->getLowerMax(), m_limitMin, rounding)) {
    instant->addResourceFlaw(ResourceProblem::LevelTooLow);
    found = true;
  }
  if (aboveLimit(instant->getUpperMin(), m_limitMax, rounding)) {
    instant->addResourceFlaw(ResourceProblem::LevelTooHigh);
    found = true;
  }
  return found;
}

void Resource::getLevelAt(int time, IntervalDomain& result) {
  updateTransactionProfile();
  if (m_instants.empty() || m_instants.begin()->first > time) {
    result = IntervalDomain(m_initialCapacity);
    return;
  }
  std::map<int, InstantId>::const_iterator current = std::prev(m_instants.upper_bound(time));
  check_error(current->second.isValid(), "Invalid instant retrieved. Indicates a synchronization bug.");
  result = IntervalDomain(current->second->getLowerMin(), current->second->getUpperMax());
  debugMsg("Resource:getLevelAt", "Returning " << result.toString() << " for timepoint " << time << " at instant "
                                               << current->second->getTime());
}

}
