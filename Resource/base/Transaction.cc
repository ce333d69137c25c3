#include "Resource/base/Transaction.hh"
#include "Resource/base/Resource.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {

Transaction::Transaction(const TokenId& master, const LabelStr& relation, const LabelStr& predicateName,
                         const IntervalIntDomain& timeBaseDomain, const LabelStr& objectName, bool closed)
  : EventToken(master, relation, predicateName, timeBaseDomain, objectName, false), m_usage() {
  commonInit(closed);
}

Transaction::Transaction(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool /*rejectable*/,
                         bool isFact, const IntervalIntDomain& timeBaseDomain, const LabelStr& objectName,
                         bool closed)
  : EventToken(planDatabase, predicateName, false, isFact, timeBaseDomain, objectName, false), m_usage() {
  commonInit(closed);
}

Transaction::Transaction(const PlanDatabaseId& planDatabase, const LabelStr& predicateName,
                         const IntervalIntDomain& timeBaseDomain, double min, double max, bool closed)
  : EventToken(planDatabase, predicateName, false, false, timeBaseDomain, Token::noObject(), false), m_usage() {
  commonInit(closed);
  m_usage->restrictBaseDomain(IntervalDomain(min, max));
}

Transaction::~Transaction() {}

void Transaction::commonInit(bool closed) {
  const ConstraintEngineId& ce = getPlanDatabase()->getConstraintEngine();
  m_usage = (new TokenVariable<IntervalDomain>(getId(), (int) getVariables().size(), ce, IntervalDomain(), false,
                                               true, "quantity"))->getId();
  appendVariable(m_usage);
  std::vector<ConstrainedVariableId> scope;
  scope.push_back(getObject());
  scope.push_back(getTime());
  scope.push_back(m_usage);
  addStandardConstraint(ce->createConstraint("ResourceTransactionRelation", scope));
  if (closed)
    close();
}

void Transaction::close() {
  Token::close();
  activateInternal();
}

int Transaction::getEarliest() const {
  return (int) getTime()->lastDomain().getLowerBound();
}

int Transaction::getLatest() const {
  return (int) getTime()->lastDomain().getUpperBound();
}

double Transaction::getMin() const {
  return m_usage->lastDomain().getLowerBound();
}

double Transaction::getMax() const {
  return m_usage->lastDomain().getUpperBound();
}

void Transaction::setEarliest(int e) {
  getTime()->restrictBaseDomain(IntervalIntDomain(e, getLatest()));
}

void Transaction::setLatest(int l) {
  getTime()->restrictBaseDomain(IntervalIntDomain(getEarliest(), l));
}

void Transaction::setMin(double m) {
  m_usage->restrictBaseDomain(IntervalDomain(m, getMax()));
}

void Transaction::setMax(double m) {
  m_usage->restrictBaseDomain(IntervalDomain(getMin(), m));
}

ResourceId Transaction::getResource() const {
  const AbstractDomain& objects = getObject()->lastDomain();
  if (!objects.isSingleton())
    return ResourceId::noId();
  // Through the object's handle, so that an object of another class is refused
  // rather than taken for a resource.
  return ResourceId(ObjectId(objects.getSingletonValue()));
}

void Transaction::print(std::ostream& os) const {
  ResourceId resource = getResource();
  os << "RESOURCE: ";
  if (resource.isNoId())
    os << "UNASSIGNED";
  else
    os << resource->getName().toString();
  os << "[" << getMin() << ", " << getMax() << ", " << getEarliest() << ", " << getLatest() << "]";
}

bool Transaction::isValid() const {
  const double PLUS_INFINITY = g_infiniteTimeAsDouble();
  const double MINUS_INFINITY = -g_infiniteTimeAsDouble();
  if (!getId().isValid())
    Error("m_id.isValid()", KORVAN_ERROR_FILE(), __LINE__).handleAssert();
  check_error(getMin() >= MINUS_INFINITY);
  check_error(getMax() <= PLUS_INFINITY);
  check_error(getEarliest() >= MINUS_INFINITY);
  check_error(getLatest() <= PLUS_INFINITY);
  return true;
}

}
