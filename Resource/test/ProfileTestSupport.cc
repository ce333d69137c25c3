#include "Resource/test/ProfileTestSupport.hh"

#include <algorithm>

namespace KORVAN {
namespace MIRT {

std::vector<double> valuesOf(const InstantId& i) {
  return {(double) i->getTime(), i->getLowerLevel(), i->getLowerLevelMax(), i->getUpperLevelMin(),
          i->getUpperLevel(), i->getMinInstantConsumption(), i->getMaxInstantConsumption(),
          i->getMinInstantProduction(), i->getMaxInstantProduction(), i->getMinCumulativeConsumption(),
          i->getMaxCumulativeConsumption(), i->getMinCumulativeProduction(), i->getMaxCumulativeProduction(),
          i->getMinPrevConsumption(), i->getMaxPrevConsumption(), i->getMinPrevProduction(),
          i->getMaxPrevProduction()};
}

void RecordingDetector::initialize() {
  if (log) log->push_back("initialize()");
  FVDetector::initialize();
}

void RecordingDetector::initialize(InstantId inst) {
  if (log) log->push_back("initialize(" + std::to_string(inst->getTime()) + ")");
  FVDetector::initialize(inst);
}

bool RecordingDetector::detect(InstantId inst) {
  if (log) log->push_back("detect(" + std::to_string(inst->getTime()) + ")");
  if (onDetect) onDetect(inst);
  return inst->getTime() == stopAt;
}

void RecordingDetector::notifyDeleted(InstantId inst) {
  Deletion d;
  d.valid = inst.isValid();
  d.key = d.valid ? inst->getKey() : -1;
  d.time = d.valid ? inst->getTime() : INT_MIN;
  d.stillMapped = false;
  if (d.valid && instants) {
    std::map<int, InstantId>::const_iterator it = instants->find(d.time);
    d.stillMapped = it != instants->end() && it->second == inst;
  }
  deletions.push_back(d);
  FVDetector::notifyDeleted(inst);
}

void RecordingProfile::record(const std::string& s) {
  if (log) log->push_back(s);
}

std::string RecordingProfile::name(const TransactionId& t) const {
  std::map<TransactionId, std::string>::const_iterator it = names.find(t);
  return it == names.end() ? "?" : it->second;
}

void RecordingProfile::recomputeLevels(InstantId prev, InstantId inst) {
  ++recomputeCount;
  record("levels(" + (prev.isNoId() ? std::string("-") : std::to_string(prev->getTime())) + "," +
         std::to_string(inst->getTime()) + ")");
  const double t = inst->getTime();
  inst->update(t, t, t + 100, t + 100, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
}

void RecordingProfile::handleTemporalConstraintAdded(TransactionId p, int pi, TransactionId s, int si) {
  temporalCalls.push_back("added(" + name(p) + "," + std::to_string(pi) + "," + name(s) + "," +
                          std::to_string(si) + ")");
  Profile::handleTemporalConstraintAdded(p, pi, s, si);
}

void RecordingProfile::handleTemporalConstraintRemoved(TransactionId p, int pi, TransactionId s, int si) {
  temporalCalls.push_back("removed(" + name(p) + "," + std::to_string(pi) + "," + name(s) + "," +
                          std::to_string(si) + ")");
  Profile::handleTemporalConstraintRemoved(p, pi, s, si);
}

void RecordingProfile::handleTransactionTimeChanged(TransactionId e, const DomainListener::ChangeType& change) {
  timeChanges.push_back(change);
  Profile::handleTransactionTimeChanged(e, change);
}

std::vector<int> RecordingProfile::times() const {
  std::vector<int> result;
  for (std::map<int, InstantId>::const_iterator it = m_instants.begin(); it != m_instants.end(); ++it)
    result.push_back(it->first);
  return result;
}

NarrowConstraint::NarrowConstraint(const LabelStr& propagator, const ConstraintEngineId& ce,
                                   const ConstrainedVariableId& var, double lb, double ub)
  : Constraint(LabelStr("Narrow"), propagator, ce, std::vector<ConstrainedVariableId>(1, var)),
    m_lb(lb), m_ub(ub), m_narrows(true) {}

NarrowConstraint::NarrowConstraint(const LabelStr& propagator, const ConstraintEngineId& ce,
                                   const std::vector<ConstrainedVariableId>& scope)
  : Constraint(LabelStr("Watch"), propagator, ce, scope), m_lb(0), m_ub(0), m_narrows(false) {}

void NarrowConstraint::handleExecute() {
  if (m_narrows)
    getCurrentDomain(getScope()[0]).intersect(m_lb, m_ub);
}

ProfileWorld::ProfileWorld() {
  ce = new ConstraintEngine();
  schema = new Schema();
  db = new PlanDatabase(ce->getId(), schema->getId());
  propagator = new ProfilePropagator(LabelStr("MIRT_Resource"), ce->getId());
  new DefaultPropagator(LabelStr("TestProp"), ce->getId());
  if (ce->getPropagatorByName(LabelStr("Temporal")).isNoId())
    new DefaultPropagator(LabelStr("Temporal"), ce->getId());
}

ProfileWorld::~ProfileWorld() {
  for (size_t i = 0; i < transactions.size(); ++i)
    delete transactions[i];
  for (size_t i = 0; i < variables.size(); ++i)
    delete variables[i];
  delete db;
  delete ce;
  delete schema;
}

Id<ConstrainedVariable> ProfileWorld::intVar(int lb, int ub) {
  ConstrainedVariable* v = new Variable<IntervalIntDomain>(ce->getId(), IntervalIntDomain(lb, ub));
  variables.push_back(v);
  return v->getId();
}

TransactionId ProfileWorld::make(int lb, int ub, bool consumer, double qlb, double qub) {
  ConstrainedVariable* time = new Variable<IntervalIntDomain>(ce->getId(), IntervalIntDomain(lb, ub));
  ConstrainedVariable* quantity = new Variable<IntervalDomain>(ce->getId(), IntervalDomain(qlb, qub));
  variables.push_back(time);
  variables.push_back(quantity);
  Transaction* t = new Transaction(time->getId(), quantity->getId(), consumer);
  transactions.push_back(t);
  return t->getId();
}

void ProfileWorld::destroy(TransactionId t, RecordingProfile* profile) {
  if (profile)
    profile->removeTransaction(t);
  ConstrainedVariable* time = (ConstrainedVariable*) t->time();
  ConstrainedVariable* quantity = (ConstrainedVariable*) t->quantity();
  Transaction* trans = (Transaction*) t;
  transactions.erase(std::find(transactions.begin(), transactions.end(), trans));
  delete trans;
  variables.erase(std::find(variables.begin(), variables.end(), time));
  variables.erase(std::find(variables.begin(), variables.end(), quantity));
  delete time;
  delete quantity;
}

std::string changeTime(NarrowedTransaction& k, int op, const std::function<int(int, int)>& uniform,
                       ProfileWorld& world, const LabelStr& propagator) {
  const AbstractDomain& dom = k.t->time()->lastDomain();
  const int lb = (int) dom.getLowerBound(), ub = (int) dom.getUpperBound();
  if (op <= 2) {
    const int nlb = uniform(lb, ub);
    k.narrowings.push_back(new NarrowConstraint(propagator, world.ce->getId(), k.t->time(), nlb, uniform(nlb, ub)));
    return "restrict";
  }
  if (op == 3 && !k.narrowings.empty()) {
    const int i = uniform(0, (int) k.narrowings.size() - 1);
    delete k.narrowings[i];
    k.narrowings.erase(k.narrowings.begin() + i);
    return "relax";
  }
  if (op == 4) {
    if (k.t->time()->isSpecified())
      k.t->time()->reset();
    else
      k.t->time()->specify(uniform(lb, ub));
    return "specify/reset";
  }
  return "";
}

}
}
