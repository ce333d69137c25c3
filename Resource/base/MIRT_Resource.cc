#include "Resource/base/MIRT_Resource.hh"
#include "Resource/base/MIRT_FVDetector.hh"
#include "Resource/base/MIRT_Profile.hh"
#include "Resource/base/MIRT_ResourceTokenRelation.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "TemporalNetwork/TemporalAdvisor.hh"
#include "TemporalNetwork/TemporalPropagator.hh"
#include "PlanDatabase/base/Token.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Engine.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Factory.hh"
#include "Utils/base/Utils.hh"

#include <algorithm>
#include <limits>

namespace KORVAN {
namespace MIRT {

bool isConsumptionProblem(ResourceProblem::Type problem) {
  return problem == ResourceProblem::ConsumptionRateExceeded ||
         problem == ResourceProblem::ConsumptionSumExceeded || problem == ResourceProblem::LevelTooLow;
}

bool isProductionProblem(ResourceProblem::Type problem) {
  return problem == ResourceProblem::ProductionRateExceeded ||
         problem == ResourceProblem::ProductionSumExceeded || problem == ResourceProblem::LevelTooHigh;
}

namespace {
// Limits of a resource that has not been initialised yet: nothing is allowed to be decided
// from them, so they read as "not a number".
const double sl_noLimit = std::numeric_limits<double>::quiet_NaN();
}

Resource::Resource(const ObjectId& parent, const LabelStr& type, const LabelStr& localName, bool open)
  : Object(parent, type, localName, open), m_released(false), m_unfiledCount(0), m_recordDrops(0), m_initCapacityLb(sl_noLimit), m_initCapacityUb(sl_noLimit),
    m_lowerLimit(sl_noLimit), m_upperLimit(sl_noLimit), m_maxInstProduction(sl_noLimit),
    m_maxInstConsumption(sl_noLimit), m_maxProduction(sl_noLimit), m_maxConsumption(sl_noLimit) {}

Resource::Resource(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name, bool open)
  : Object(planDatabase, type, name, open), m_released(false), m_unfiledCount(0), m_recordDrops(0), m_initCapacityLb(sl_noLimit), m_initCapacityUb(sl_noLimit),
    m_lowerLimit(sl_noLimit), m_upperLimit(sl_noLimit), m_maxInstProduction(sl_noLimit),
    m_maxInstConsumption(sl_noLimit), m_maxProduction(sl_noLimit), m_maxConsumption(sl_noLimit) {}

Resource::Resource(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name,
                   const LabelStr& detectorName, const LabelStr& profileName,
                   double initCapacityLb, double initCapacityUb, double lowerLimit, double upperLimit,
                   double maxInstProduction, double maxInstConsumption, double maxProduction,
                   double maxConsumption)
  : Object(planDatabase, type, name, false), m_released(false), m_unfiledCount(0), m_recordDrops(0), m_initCapacityLb(sl_noLimit), m_initCapacityUb(sl_noLimit),
    m_lowerLimit(sl_noLimit), m_upperLimit(sl_noLimit), m_maxInstProduction(sl_noLimit),
    m_maxInstConsumption(sl_noLimit), m_maxProduction(sl_noLimit), m_maxConsumption(sl_noLimit) {
  init(initCapacityLb, initCapacityUb, lowerLimit, upperLimit, maxInstProduction, maxInstConsumption,
       maxProduction, maxConsumption, detectorName, profileName);
}

Resource::~Resource() {
  DebugMessage::Teardown quiet;
  for (std::map<TransactionId, TokenId>::iterator it = m_transactionsToTokens.begin();
       it != m_transactionsToTokens.end(); ++it)
    delete (Transaction*) it->first;
  m_transactionsToTokens.clear();
  // The detector goes first: the profile reports to it while it dies.
  if (!m_detector.isNoId())
    delete (FVDetector*) m_detector;
  if (!m_profile.isNoId())
    delete (Profile*) m_profile;
}

void Resource::init(double initCapacityLb, double initCapacityUb, double lowerLimit, double upperLimit,
                    double maxInstProduction, double maxInstConsumption, double maxProduction,
                    double maxConsumption, const LabelStr& detectorName, const LabelStr& profileName) {
  debugMsg("Resource:init", "In base init function.");
  checkError(m_detector.isNoId() && m_profile.isNoId(), "Resource " << getName().toString()
             << " is already initialised.");

  m_initCapacityLb = initCapacityLb;
  m_initCapacityUb = initCapacityUb;
  m_lowerLimit = lowerLimit;
  m_upperLimit = upperLimit;
  const double inf = (double) g_infiniteTime();
  m_maxInstProduction = (maxInstProduction == inf ? maxProduction : maxInstProduction);
  m_maxProduction = maxProduction;
  m_maxInstConsumption = (maxInstConsumption == inf ? maxConsumption : maxInstConsumption);
  m_maxConsumption = maxConsumption;

  // A resource made outside a fully set-up engine would otherwise crash here.
  const EngineId& engine = getPlanDatabase()->getEngine();
  checkError(engine.isValid(), "Resource " << getName().toString()
             << " cannot be initialised: its plan database belongs to no engine.");
  FactoryMgr* detectorMgr = dynamic_cast<FactoryMgr*>(engine->getComponent("FVDetectorFactoryMgr"));
  checkError(detectorMgr != nullptr, "Resource " << getName().toString()
             << " cannot be initialised: the engine has no component \"FVDetectorFactoryMgr\".");
  FactoryMgr* profileMgr = dynamic_cast<FactoryMgr*>(engine->getComponent("ProfileFactoryMgr"));
  checkError(profileMgr != nullptr, "Resource " << getName().toString()
             << " cannot be initialised: the engine has no component \"ProfileFactoryMgr\".");

  Id<Resource> self(getId());
  m_detector = Id<FVDetector>(detectorMgr->createInstance(detectorName, FVDetectorArgs(self)));
  m_profile = Id<Profile>(profileMgr->createInstance(
      profileName, ProfileArgs(getPlanDatabase(), m_detector, m_initCapacityLb, m_initCapacityUb)));

  debugMsg("Resource:init", "Initialized Resource " << getName().toString() << "{"
           << "initCapacity=[" << m_initCapacityLb << "," << m_initCapacityUb << "],"
           << "usageLimits=[" << m_lowerLimit << "," << m_upperLimit << "],"
           << "productionLimits=[max=" << m_maxProduction << ",maxInst=" << m_maxInstProduction << "],"
           << "consumptionLimits=[max=" << m_maxConsumption << ",maxInst=" << m_maxInstConsumption << "],"
           << "}");
}

void Resource::checkInitialized() const {
  checkError(m_profile.isValid(), "Resource " << getName().toString()
             << " is not initialised: no token can be placed on it yet.");
}

void Resource::add(const TokenId& token) {
  if (!m_released)
    checkInitialized();
  Object::add(token);
}

void Resource::handlePurge() {
  // Every token is about to leave, each taking its transactions out of the profile instant by
  // instant and relaxing what its constraints narrowed: the profile goes whole instead, and the
  // transactions go with the resource.
  if (m_profile.isNoId())
    return;
  m_released = true;
  delete (Profile*) m_profile;
  m_profile = Id<Profile>::noId();
  m_flawedTokens.clear();
  m_unfiledBatches.clear();
  m_unfiledCount = 0;
  m_unfiledSlots.clear();
  m_flawedTokensAt.clear();
  m_flawedInstants.clear();
  m_filedAt.clear();
  ++m_recordDrops;
}

void Resource::remove(const TokenId& token) {
  Object::remove(token);
  removeFromProfile(token);
}

bool Resource::hasTokensToOrder() const {
  return !m_flawedTokens.empty();
}

ApResourceProfile* Resource::getLimits() {
  return new ApResourceProfile(getLowerLimit(), getUpperLimit());
}

ApResourceProfile* Resource::getLevels() {
  checkInitialized();
  return new ApResourceProfile(getProfile());
}

/*
 * Violations
 */

void Resource::resetViolations(int lastTime) {
  if (!getPlanDatabase()->getConstraintEngine()->getAllowViolations())
    return;
  for (ProfileIterator it(m_profile, -g_infiniteTime(), lastTime); !it.done(); it.next())
    notifyNoLongerViolated(it.getInstant());
}

void Resource::resetViolations(InstantId inst, int lastTime) {
  if (!getPlanDatabase()->getConstraintEngine()->getAllowViolations())
    return;
  // A walk that starts at inst judges inst and the later instants only; the
  // violations found before it still stand.
  check_error(inst.isValid());
  for (ProfileIterator it(m_profile, inst->getTime(), lastTime); !it.done(); it.next())
    notifyNoLongerViolated(it.getInstant());
}

TokenId Resource::getTokenForTransaction(TransactionId t) {
  std::map<TransactionId, TokenId>::iterator transIt = m_transactionsToTokens.find(t);
  check_error(transIt != m_transactionsToTokens.end());
  TokenId tok = transIt->second;
  check_error(tok.isValid());
  return tok;
}

Id<ResourceTokenRelation> Resource::getRTRConstraint(TokenId tok) {
  const ConstraintSet& constraints = tok->getStandardConstraints();
  for (ConstraintSet::const_iterator it = constraints.begin(); it != constraints.end(); ++it) {
    if ((*it)->getName() == ResourceTokenRelation::CONSTRAINT_NAME())
      return Id<ResourceTokenRelation>(*it);
  }
  check_error(ALWAYS_FAIL, "Could not find ResourceTokenRelation for Transaction");
  return Id<ResourceTokenRelation>::noId();
}

void Resource::notifyViolated(InstantId inst, ResourceProblem::Type problem) {
  // Called in the middle of a profile's update, which cannot be undone: a debug line lost here is
  // recorded and reported at the end of the run rather than raised, and the records stay whole.
  DebugMessage::Teardown quiet;
  check_error(inst.isValid());
  check_error(inst->isViolated());
  check_error(!inst->getTransactions().empty());

  TransactionId first = *(inst->getTransactions().begin());
  const ConstraintEngineId& ce = first->quantity()->getConstraintEngine();
  debugMsg("Resource:notifyViolated", "Received notification of violation at time " << inst->getTime());

  if (ce->getAllowViolations()) {
    const std::set<TransactionId>& transactions = inst->getTransactions();
    for (std::set<TransactionId>::const_iterator it = transactions.begin(); it != transactions.end(); ++it) {
      TransactionId trans = *it;
      TokenId tok = getTokenForTransaction(trans);
      Id<ResourceTokenRelation> constraint = getRTRConstraint(tok);
      if (isConsumptionProblem(problem) && trans->isConsumer()) {
        constraint->notifyViolated(problem, inst);
        m_violatedTokens[tok].insert(inst);
        debugMsg("Resource:notifyViolated", "Marked constraint as violated : Token(" << tok->getKey()
                 << ") Constraint " << constraint->toString());
      }
      else if (isProductionProblem(problem) && !trans->isConsumer()) {
        constraint->notifyViolated(problem, inst);
        m_violatedTokens[tok].insert(inst);
        debugMsg("Resource:notifyViolated", "Marked constraint as Violated : Token(" << tok->getKey()
                 << ") Constraint " << constraint->toString());
      }
    }
  }
  else {
    // Emptying a domain is how the engine learns that the network cannot be
    // made consistent; it holds no other handle on what a profile found.
    recordReported(inst, problem, first->quantity());
    AbstractDomain& quantity = const_cast<AbstractDomain&>(first->quantity()->lastDomain());
    m_emptiedQuantity = first->quantity();
    quantity.empty();
  }
}

/*
 * Flaws
 */

void Resource::notifyFlawed(InstantId inst) {
  // Called in the middle of a profile's update, which cannot be undone: a debug line lost here is
  // recorded and reported at the end of the run rather than raised, and the records stay whole.
  DebugMessage::Teardown quiet;
  check_error(inst.isValid());
  check_error(inst->isFlawed());
  // The count answers without building the instant's set, which only an empty instant reads.
  if (inst->heldCount() == 0)
    check_error(!inst->getTransactions().empty());
  debugMsg("Resource:notifyFlawed", "Received notification of flaw at time " << inst->getTime());

  static DebugMessage* sl_redundant = DebugMessage::addMsg(__FILE__, __LINE__, "Resource:notifyFlawed");
  // A detector reports every flawed instant at every recomputation: when the instant holds the
  // transactions it held when they were last filed here, every token is already recorded at it.
  // An unchanged stamp says so without reading them (the profile hands over an instant's
  // transactions in the order of its set); their redundant lines are written from the instant.
  const std::uint64_t stamp = inst->heldStamp();
  std::map<InstantId, FiledRecord>::iterator filed = m_filedAt.find(inst);
  if (filed != m_filedAt.end() && filed->second.stamp == stamp) {
    if (sl_redundant->isEnabled()) {
      std::vector<TransactionId> held;
      m_profile->getTransactionsToOrder(inst, held);
      for (std::vector<TransactionId>::const_iterator it = held.begin(); it != held.end(); ++it)
        writeRecordedFlaw(*it, inst);
    }
    if (m_flawedInstants.find(inst->getTime()) == m_flawedInstants.end())
      m_flawedInstants.insert(std::make_pair(inst->getTime(), inst));
    return;
  }
  std::vector<TransactionId> transactions;
  m_profile->getTransactionsToOrder(inst, transactions);
  const bool known = filed != m_filedAt.end() && filed->second.transactions == transactions;
  if (known)
    filed->second.stamp = stamp;
  // Filed here before with other transactions: the tokens of those it held then are recorded at
  // it already, as long as no record is dropped (an announcement can reach a listener that
  // drops one).
  std::vector<TransactionId> filedBefore;
  if (!known && filed != m_filedAt.end()) {
    filedBefore = filed->second.transactions;
    std::sort(filedBefore.begin(), filedBefore.end());
  }
  const std::uint64_t drops = m_recordDrops;
  // The instant's token record, looked up again only after a record is dropped (nothing else
  // erases one).
  std::set<TokenId>* tokensHere = nullptr;
  std::uint64_t tokensHereDrops = 0;
  // The profile hands an instant's transactions over in ascending order as often as not, and the
  // map of their tokens is kept in that order: each is looked for a few steps on from the one
  // before, not by a descent of the whole map, far apart in memory. The two transactions of a
  // use come one after the other: the token's record is looked up once for both.
  std::map<TransactionId, TokenId>::const_iterator transIt = m_transactionsToTokens.end();
  std::map<TokenId, std::set<InstantId>>::iterator lastTokIt = m_flawedTokens.end();
  std::uint64_t lastTokDrops = 0;
  std::size_t lastBatch = 0;
  for (std::vector<TransactionId>::const_iterator it = transactions.begin(); it != transactions.end(); ++it) {
    const TransactionId& trans = *it;
    std::map<TokenId, std::set<InstantId>>::iterator tokIt;
    if (!filedBefore.empty() && drops == m_recordDrops &&
        std::binary_search(filedBefore.begin(), filedBefore.end(), trans)) {
      if (sl_redundant->isEnabled())
        writeRecordedFlaw(trans, inst);
      continue;
    }
    if (!known) {
      check_error(trans.isValid());
      if (transIt != m_transactionsToTokens.end() && transIt->first < trans)
        for (int step = 0; step < 8 && transIt != m_transactionsToTokens.end() && transIt->first < trans; ++step)
          ++transIt;
      if (transIt == m_transactionsToTokens.end() || !(transIt->first == trans))
        transIt = m_transactionsToTokens.find(trans);
      check_error(transIt != m_transactionsToTokens.end());
      TokenId tok = transIt->second;
      check_error(tok.isValid());
      tokIt = lastTokIt != m_flawedTokens.end() && lastTokDrops == m_recordDrops && lastTokIt->first == tok
                  ? lastTokIt
                  : m_flawedTokens.find(tok);
      lastTokIt = tokIt;
      lastTokDrops = m_recordDrops;
      if (tokensHere == nullptr || tokensHereDrops != m_recordDrops) {
        tokensHere = &m_flawedTokensAt[inst];
        tokensHereDrops = m_recordDrops;
      }
      tokensHere->insert(tokensHere->end(), tok);
      if (tokIt == m_flawedTokens.end()) {
        m_flawedTokens[tok].insert(inst);
        notifyOrderingRequired(tok);
        // Its listeners may take tokens and records out.
        transIt = m_transactionsToTokens.end();
        lastTokIt = m_flawedTokens.end();
        continue;
      }
    }
    writeRedundantFlaw(trans, inst);
    if (!known) {
      // The two transactions of a use come one after the other: the batch is looked up once for
      // both, unless the batches were filed in between.
      std::set<InstantId>* const filing = &tokIt->second;
      if (lastBatch >= m_unfiledCount || m_unfiledBatches[lastBatch].filing != filing) {
        const std::pair<std::set<InstantId>*, std::size_t>* home =
            m_unfiledSlots.empty() ? nullptr : &m_unfiledSlots[homeSlot(filing)];
        lastBatch = home != nullptr && home->first == filing ? home->second : unfiledBatch(filing);
      }
      m_unfiledBatches[lastBatch].instants.push_back(inst);
    }
  }
  // Looked up again: the announcements above reach listeners outside this resource.
  if (!known) {
    FiledRecord& record = m_filedAt[inst];
    record.transactions.swap(transactions);
    record.stamp = stamp;
  }
  if (m_flawedInstants.find(inst->getTime()) == m_flawedInstants.end())
    m_flawedInstants.insert(std::make_pair(inst->getTime(), inst));
}

std::size_t Resource::unfiledBatch(std::set<InstantId>* filing) {
  if (4 * (m_unfiledCount + 1) > m_unfiledSlots.size()) {
    m_unfiledSlots.assign(std::max<std::size_t>(16, 2 * m_unfiledSlots.size()), std::make_pair(nullptr, 0));
    for (std::size_t k = 0; k < m_unfiledCount; ++k) {
      std::size_t at = homeSlot(m_unfiledBatches[k].filing);
      while (m_unfiledSlots[at].first != nullptr)
        at = (at + 1) & (m_unfiledSlots.size() - 1);
      m_unfiledSlots[at] = std::make_pair(m_unfiledBatches[k].filing, k);
      m_unfiledBatches[k].slot = at;
    }
  }
  std::size_t at = homeSlot(filing);
  for (; m_unfiledSlots[at].first != nullptr; at = (at + 1) & (m_unfiledSlots.size() - 1))
    if (m_unfiledSlots[at].first == filing)
      return m_unfiledSlots[at].second;
  if (m_unfiledCount == m_unfiledBatches.size())
    m_unfiledBatches.emplace_back();
  UnfiledBatch& batch = m_unfiledBatches[m_unfiledCount];
  batch.filing = filing;
  batch.slot = at;
  m_unfiledSlots[at] = std::make_pair(filing, m_unfiledCount);
  return m_unfiledCount++;
}

void Resource::fileFlawRecords() {
  if (m_unfiledCount == 0)
    return;
  for (std::size_t k = 0; k < m_unfiledCount; ++k) {
    UnfiledBatch& batch = m_unfiledBatches[k];
    std::set<InstantId>& filing = *batch.filing;
    std::vector<InstantId>& instants = batch.instants;
    std::sort(instants.begin(), instants.end());
    // In ascending order, each lands just before the successor of the one filed last.
    std::set<InstantId>::iterator next = filing.lower_bound(instants.front());
    for (const InstantId& inst : instants)
      next = std::next(filing.insert(next, inst));
    instants.clear();
    m_unfiledSlots[batch.slot] = std::make_pair(nullptr, 0);
  }
  flawSlotsCleared() += m_unfiledCount;
  m_unfiledCount = 0;
}

unsigned long long& Resource::flawSlotsCleared() {
  static unsigned long long sl_cleared = 0;
  return sl_cleared;
}

void Resource::writeRedundantFlaw(const TransactionId& trans, const InstantId& inst) {
  debugMsg("Resource:notifyFlawed", "Received a redundant notification of a flaw for token "
           << getTokenForTransaction(trans)->getPredicateName().toString() << "("
           << getTokenForTransaction(trans)->getKey() << ") at instant " << inst->getTime()
           << ".  Adding it to the set but not notifying.");
}

void Resource::notifyNoLongerFlawed(InstantId inst) {
  // Called in the middle of a profile's update, which cannot be undone: a debug line lost here is
  // recorded and reported at the end of the run rather than raised, and the records stay whole.
  DebugMessage::Teardown quiet;
  check_error(inst.isValid());
  debugMsg("Resource:notifyNoLongerFlawed", "Received notification that instant " << inst->getTime()
           << " is no longer flawed.");
  fileFlawRecords();
  m_filedAt.erase(inst);
  ++m_recordDrops;

  std::map<int, InstantId>::iterator instIt = m_flawedInstants.find(inst->getTime());
  if (instIt == m_flawedInstants.end()) {
    checkError(!inst->isFlawed(), "Instant at time " << inst->getTime()
               << " claims to be flawed, but resource didn't know it.");
    checkError(noFlawedTokensForInst(inst), "Error: Instant " << inst->getTime()
               << " not in the list of flawed instants, but there are tokens that have a recorded flaw at that time.");
    debugMsg("Resource:notifyNoLongerFlawed", "Instant wasn't flawed in the first place.  Returning.");
    return;
  }

  debugMsg("Resource:notifyNoLongerFlawed", "Removing instant " << inst->getTime()
           << " from the set of flawed instants.");
  m_flawedInstants.erase(instIt);

  std::set<TokenId> flawlessTokens;
  std::map<InstantId, std::set<TokenId>>::iterator at = m_flawedTokensAt.find(inst);
  if (at != m_flawedTokensAt.end()) {
    for (std::set<TokenId>::const_iterator it = at->second.begin(); it != at->second.end(); ++it) {
      const TokenId& tok = *it;
      check_error(tok.isValid());
      std::map<TokenId, std::set<InstantId>>::iterator tokIt = m_flawedTokens.find(tok);
      check_error(tokIt != m_flawedTokens.end());
      check_error(!tokIt->second.empty());
      tokIt->second.erase(inst);
      debugMsg("Resource:notifyNoLongerFlawed", "Removed the flaw at time " << inst->getTime() << " for token "
               << tok->getPredicateName().toString() << "(" << tok->getKey() << ")");
      if (tokIt->second.empty())
        flawlessTokens.insert(tok);
    }
    m_flawedTokensAt.erase(at);
  }

  for (std::set<TokenId>::const_iterator it = flawlessTokens.begin(); it != flawlessTokens.end(); ++it) {
    const TokenId& tok = *it;
    check_error(tok.isValid());
    debugMsg("Resource:notifyNoLongerFlawed", "Notifying that the token " << tok->getPredicateName().toString()
             << "(" << tok->getKey() << ") no longer requires an ordering.");
    notifyOrderingNoLongerRequired(tok);
    m_flawedTokens.erase(tok);
  }
}

/*
 * Ordering choices
 */

bool Resource::orderingChoicesWanted(const InstantId& inst,
                                     std::vector<std::pair<TransactionId, TransactionId>>& results,
                                     unsigned int limit) {
  check_error(results.empty());
  check_error(inst.isValid());
  check_error(limit > 0);
  check_error(m_flawedInstants.find(inst->getTime()) != m_flawedInstants.end());
  check_error(m_flawedInstants.find(inst->getTime())->second == inst);

  debugMsg("Resource:getOrderingChoices", "Getting " << limit << " ordering choices for " << inst->getTime()
           << "(" << inst->getKey() << ") on " << toString());

  const int time = inst->getTime();
  if (!getPlanDatabase()->getConstraintEngine()->propagate()) {
    debugMsg("Resource:getOrderingChoices", "No ordering choices: the constraint network is inconsistent.");
    return false;
  }
  // Propagation may have moved transactions between instants: the instant can
  // be gone, or no longer flawed. Then there is nothing to order here.
  if (!inst.isValid()) {
    debugMsg("Resource:getOrderingChoices", "No ordering choices: the instant was deleted by propagation.");
    return false;
  }
  std::map<int, InstantId>::const_iterator flawIt = m_flawedInstants.find(time);
  if (flawIt == m_flawedInstants.end() || flawIt->second != inst) {
    debugMsg("Resource:getOrderingChoices", "No ordering choices: the instant is no longer flawed.");
    return false;
  }
  return true;
}

void Resource::takeOrderingChoices(const InstantId& inst, unsigned int limit, ChoiceSides* sides,
                                   std::vector<std::pair<TransactionId, TransactionId>>& pairs) {
  unsigned int count = 0;
  ForgetKnownDistance forget{m_knownDistance};
  // Takes the pair when the network still allows first to precede second (the distance from
  // first to second may reach zero) and that order is not imposed yet. Each pair is met once (a
  // couple of two transactions of the instant from its earlier one only: the later one meets
  // nothing new), so a vector sorted at the end gives what a set would.
  auto attempt = [&](const TransactionId& first, const TransactionId& second, double ub) {
    if (ub >= 0.0 && !transConstrainedToPrecede(first, second)) {
      pairs.push_back(std::make_pair(first, second));
      ++count;
    }
  };
  orderingChoicesFromRows(inst->getTransactions(), limit, count, attempt, sides);
  std::sort(pairs.begin(), pairs.end());
}

bool Resource::getOrderingChoices(const InstantId& inst, std::vector<std::pair<TransactionId, TransactionId>>& results,
                                  ChoiceSides& sides) {
  if (!orderingChoicesWanted(inst, results, g_infiniteTime()))
    return false;
  takeOrderingChoices(inst, g_infiniteTime(), &sides, results);
  return true;
}

void Resource::getOrderingChoices(const InstantId& inst,
                                  std::vector<std::pair<TransactionId, TransactionId>>& results,
                                  unsigned int limit) {
  if (!orderingChoicesWanted(inst, results, limit))
    return;
  std::vector<std::pair<TransactionId, TransactionId>> uniquePairs;
  takeOrderingChoices(inst, limit, nullptr, uniquePairs);
  if (orderingChoiceLinesWanted()) {
    std::vector<std::pair<TransactionId, TransactionId>> listed;
    listOrderingChoices(inst, listed, limit);
    checkError(listed == uniquePairs, "The " << listed.size() << " ordering choices listed at " << inst->getTime()
               << " are not the " << uniquePairs.size() << " taken.");
  }
  results.insert(results.end(), uniquePairs.begin(), uniquePairs.end());
}

template <class Attempt>
void Resource::orderingChoicesFromRows(const std::set<TransactionId>& transactions, unsigned int limit,
                                       unsigned int& count, Attempt& attempt, ChoiceSides* sides) {
  const TemporalAdvisorId& advisor = getPlanDatabase()->getTemporalAdvisor();
  const PropagatorId& propagator =
      getPlanDatabase()->getConstraintEngine()->getPropagatorByName(TemporalPropagator::PROPAGATOR_NAME());
  TemporalPropagator* temporal = propagator.isNoId() ? 0 : dynamic_cast<TemporalPropagator*>((Propagator*) propagator);
  if (temporal != 0)
    temporal->sync();
  const bool rows = temporal != 0 && temporal->getNetwork().isConsistent();
  // The resource's transactions once, in handle order, each with its window and its point.
  std::vector<ChoiceCandidate> candidates;
  // For each transaction of the instant, its candidate, or -1.
  std::vector<int> atCandidate;
  readChoiceCandidates(transactions, temporal, rows, sides, candidates, atCandidate);
  std::vector<TemporalNetwork::Time> from, to;
  // With sides, the couples whose distances come from rows wait until every one is known, so
  // that the rows read are of the ends that cover them all in the fewest: a distance is the same
  // from the row of either end.
  std::vector<ChoiceCouple> waiting;
  std::size_t position = 0;
  for (std::set<TransactionId>::const_iterator predIt = transactions.begin();
       predIt != transactions.end() && count < limit; ++predIt, ++position) {
    const TransactionId& predecessor = *predIt;
    check_error(predecessor.isValid());
    bool precede = true, follow = true;
    if (sides != nullptr) {
      if (atCandidate[position] >= 0) {
        precede = candidates[atCandidate[position]].precede;
        follow = candidates[atCandidate[position]].follow;
      }
      else
        sides->sides(predecessor, precede, follow);
      if (!precede && !follow)
        continue;
    }
    const ConstrainedVariableId predecessorTime = predecessor->time();
    const AbstractDomain& predecessorDomain = predecessorTime->lastDomain();
    const bool predecessorInterval = predecessorDomain.isInterval() && !predecessorDomain.isEmpty();
    const double plb = predecessorDomain.getLowerBound(), pub = predecessorDomain.getUpperBound();
    const int predecessorNode = rows ? temporal->getTimepoint(predecessorTime) : -1;
    bool rowRead = false;
    for (std::size_t i = 0; i < candidates.size() && count < limit; ++i) {
      const ChoiceCandidate& c = candidates[i];
      const TransactionId& successor = c.t;
      if (c.domain == 0)
        check_error(successor.isValid());
      if (predecessor == successor || (c.atInstant && successor < predecessor))
        continue;
      const bool meet = predecessorInterval && c.interval ? std::max(plb, c.lb) <= std::min(pub, c.ub)
                                                          : predecessorDomain.intersects(*c.domain);
      if (!meet)
        continue;
      const bool forward = precede && c.follow, backward = c.precede && follow;
      if (!forward && !backward)
        continue;
      m_knownDistance.from = predecessor;
      m_knownDistance.to = successor;
      if (predecessorTime == c.time) {
        m_knownDistance.lb = 0.0;
        m_knownDistance.ub = 0.0;
      }
      else if (predecessorNode >= 0 && c.node >= 0) {
        if (sides != nullptr) {
          waiting.push_back(ChoiceCouple{predecessor, predecessorNode, i, forward, backward});
          continue;
        }
        if (!rowRead) {
          temporal->getTimepointDistances(predecessorNode, from, to);
          rowRead = true;
        }
        m_knownDistance.lb = (double) -to[c.node];
        m_knownDistance.ub = (double) from[c.node];
      }
      else {
        const IntervalIntDomain distance = advisor->getTemporalDistanceDomain(predecessorTime, c.time, true);
        m_knownDistance.lb = distance.getLowerBound();
        m_knownDistance.ub = distance.getUpperBound();
      }
      if (forward)
        attempt(predecessor, successor, m_knownDistance.ub);
      if (backward && count < limit)
        attempt(successor, predecessor, -m_knownDistance.lb);
    }
  }
  if (!waiting.empty())
    attemptWaiting(*temporal, candidates, waiting, limit, count, attempt);
}

template <class Attempt>
void Resource::attemptWaiting(TemporalPropagator& temporal, const std::vector<ChoiceCandidate>& candidates,
                              const std::vector<ChoiceCouple>& waiting, unsigned int limit, unsigned int& count,
                              Attempt& attempt) {
  std::vector<std::size_t> bySource;
  const int best = rowsByFewest(candidates, waiting, bySource);
  std::vector<TemporalNetwork::Time> from, to;
  int read = -1;
  for (std::size_t k = 0; k < bySource.size() && count < limit; ++k) {
    const ChoiceCouple& couple = waiting[bySource[k]];
    const ChoiceCandidate& c = candidates[couple.c];
    const int source = coverEnd(candidates, best, couple);
    if (source != read) {
      temporal.getTimepointDistances(source, from, to);
      read = source;
    }
    m_knownDistance.from = couple.p;
    m_knownDistance.to = c.t;
    // from[x] is d(source, x), to[x] is d(x, source).
    const bool atP = source == couple.pNode;
    m_knownDistance.ub = (double) (atP ? from[c.node] : to[couple.pNode]);
    m_knownDistance.lb = (double) -(atP ? to[c.node] : from[couple.pNode]);
    if (couple.forward)
      attempt(couple.p, c.t, m_knownDistance.ub);
    if (couple.backward && count < limit)
      attempt(c.t, couple.p, -m_knownDistance.lb);
  }
}

void Resource::getOrderingChoices(const TokenId& token, std::vector<std::pair<TokenId, TokenId>>& results,
                                  unsigned int limit) {
  check_error(results.empty());
  check_error(token.isValid());
  check_error(limit > 0);

  debugMsg("Resource:getOrderingChoices", "Getting " << limit << " ordering choices for "
           << token->getPredicateName().toString() << "(" << token->getKey() << ")");
  if (!getPlanDatabase()->getConstraintEngine()->propagate()) {
    debugMsg("Resource:getOrderingChoices", "No ordering choices: the constraint network is inconsistent.");
    return;
  }

  const double lb = token->start()->lastDomain().getLowerBound();
  const double ub = token->end()->lastDomain().getUpperBound();
  std::map<int, InstantId>::const_iterator first = m_flawedInstants.lower_bound((int) lb);
  std::map<int, InstantId>::const_iterator last = m_flawedInstants.lower_bound((int) ub);
  if (first == m_flawedInstants.end()) {
    debugMsg("Resource:getOrderingChoices", "No ordering choices:  no flawed instants after token start: " << lb);
    // Flaws before the window still give the fallback below its orderings; with none at all the
    // call ends here.
    if (m_flawedInstants.empty())
      return;
  }
  else {
    debugMsg("Resource:getOrderingChoices", "Looking at flawed instants in interval [" << first->first << " "
             << (last == m_flawedInstants.end() ? g_infiniteTime() : last->first) << "]");
    if (last != m_flawedInstants.end() && (double) last->first == ub)
      ++last;
  }

  TokenOrders found;
  found.count = 0;
  found.limit = limit;
  found.temporalAdvisor = getPlanDatabase()->getTemporalAdvisor();
  // One flaw at a time: the orderings of the earliest flawed instant that offers any. Every plan
  // that repairs that instant orders one of its pairs, so the search loses nothing, while pairs
  // gathered from every instant of the window would let it order the same tokens in every
  // sequence.
  for (; first != last && found.count == 0; ++first)
    tokenOrdersAt(first, found);
  // A token stays recorded at an instant that its transactions have left, so its window can
  // hold no flaw while it is still announced. Every flawed instant must be repaired by any plan:
  // the earliest one that offers an ordering serves instead of a dead end.
  condDebugMsg(found.count == 0 && !m_flawedInstants.empty(), "Resource:getOrderingChoices",
               "No ordering choices in the token's window: looking at every flawed instant.");
  for (std::map<int, InstantId>::const_iterator it = m_flawedInstants.begin();
       it != m_flawedInstants.end() && found.count == 0; ++it)
    tokenOrdersAt(it, found);

  for (std::multimap<TokenId, TokenId>::const_iterator it = found.pairs.begin(); it != found.pairs.end(); ++it)
    results.push_back(*it);
  debugMsg("Resource:getOrderingChoices", "Ultimately found " << results.size() << " orderings.");
}

// A flaw can stem from a transaction alone at its instant (a start that may fall inside
// another token's span): its token must also be offered an order against every token that
// may be under way there, or the flaw has no choice that resolves it.
void Resource::tokensUnderWay(int time, std::vector<TokenId>& partners) const {
  std::set<TokenId> seen;
  for (std::map<TransactionId, TokenId>::const_iterator it = m_transactionsToTokens.begin();
       it != m_transactionsToTokens.end(); ++it) {
    const TokenId& tok = it->second;
    check_error(tok.isValid());
    if (tok->start()->lastDomain().getLowerBound() <= time &&
        tok->end()->lastDomain().getUpperBound() >= time && seen.insert(tok).second)
      partners.push_back(tok);
  }
}

void Resource::tokenOrdersAt(const std::map<int, InstantId>::const_iterator& flawed, TokenOrders& found) {
  const int time = flawed->first;
  debugMsg("Resource:getOrderingChoices", "Generating orderings for time " << time);
  std::vector<TokenId> partners;
  tokensUnderWay(time, partners);
  const std::set<TransactionId>& transactions = flawed->second->getTransactions();
  for (std::set<TransactionId>::const_iterator predIt = transactions.begin();
       predIt != transactions.end() && !found.full(); ++predIt) {
    const TransactionId& predecessor = *predIt;
    check_error(predecessor.isValid());
    check_error(m_transactionsToTokens.find(predecessor) != m_transactionsToTokens.end());
    const TokenId predecessorToken = m_transactionsToTokens.find(predecessor)->second;
    check_error(predecessorToken.isValid());
    debugMsg("Resource:getOrderingChoices", "Looking at predecessor transaction <"
             << predecessor->time()->toString() << ", " << (predecessor->isConsumer() ? "(c)" : "(p)")
             << predecessor->quantity()->toString() << ">");
    for (std::set<TransactionId>::const_iterator succIt = transactions.begin();
         succIt != transactions.end() && !found.full(); ++succIt) {
      const TransactionId& successor = *succIt;
      if (successor == predecessor)
        continue;
      check_error(successor.isValid());
      check_error(m_transactionsToTokens.find(successor) != m_transactionsToTokens.end());
      const TokenId successorToken = m_transactionsToTokens.find(successor)->second;
      check_error(successorToken.isValid());
      debugMsg("Resource:getOrderingChoices", "Looking at successor transaction <"
               << successor->time()->toString() << ", " << (successor->isConsumer() ? "(c)" : "(p)")
               << successor->quantity()->toString() << ">");
      attemptTokenOrder(found, predecessorToken, successorToken);
    }
    for (std::vector<TokenId>::const_iterator it = partners.begin(); it != partners.end() && !found.full(); ++it) {
      attemptTokenOrder(found, predecessorToken, *it);
      if (!found.full())
        attemptTokenOrder(found, *it, predecessorToken);
    }
  }
}

void Resource::getTokensToOrder(std::vector<TokenId>& results) {
  check_error(results.empty());
  getPlanDatabase()->getConstraintEngine()->propagate();
  check_error(getPlanDatabase()->getConstraintEngine()->constraintConsistent(),
              "Should be consistent to continue here. Should have checked before you called the method in the first place.");
  for (std::map<TokenId, std::set<InstantId>>::const_iterator it = m_flawedTokens.begin();
       it != m_flawedTokens.end(); ++it)
    results.push_back(it->first);
}

}
}
