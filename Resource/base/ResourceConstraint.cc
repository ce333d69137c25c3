#include "Resource/base/ResourceConstraint.hh"
#include "Resource/base/Limits.hh"
#include "Resource/base/Resource.hh"
#include "PlanDatabase/base/Object.hh"
#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintFactory.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

#include <list>

namespace KORVAN {

ResourceConstraint::ResourceConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                       const ConstraintEngineId& constraintEngine,
                                       const std::vector<ConstrainedVariableId>& variables)
  : Constraint(name, propagatorName, constraintEngine, checkScope(variables)) {}

// In the base initialiser: a refused scope is refused before the constraint registers anywhere.
const std::vector<ConstrainedVariableId>& ResourceConstraint::checkScope(
    const std::vector<ConstrainedVariableId>& variables) {
  check_error(variables.size() == (unsigned int) ARG_COUNT);
  check_error(variables[OBJECT]->getName() == LabelStr("object"), variables[OBJECT]->toString());
  check_error(variables[TIME]->baseDomain().isInterval() && variables[TIME]->getName() == LabelStr("time"),
              variables[TIME]->toString());
  check_error(variables[USAGE]->baseDomain().isInterval() && variables[USAGE]->getName() == LabelStr("quantity"),
              variables[USAGE]->toString());
  // A token of another resource class has an object, a time and a quantity too.
  const AbstractDomain& objects = variables[OBJECT]->baseDomain();
  if (!objects.isOpen() && objects.isEnumerated()) {
    std::list<double> values;
    objects.getValues(values);
    for (double value : values) {
      const ObjectId object(value);
      if (!Id<Resource>::convertable(object))
        checkError(ALWAYS_FAIL, "the object variable may hold '" << object->getName().toString() << "' of type '"
                 << object->getType().toString() << "': only an instant-based resource ('Resource') takes "
                 "this constraint");
    }
  }
  return variables;
}

ResourceConstraint::~ResourceConstraint() {}

const LabelStr& ResourceConstraint::CONSTRAINT_NAME() {
  static const LabelStr sl_name("ResourceTransactionRelation");
  return sl_name;
}

const LabelStr& ResourceConstraint::PROPAGATOR_NAME() {
  static const LabelStr sl_name("Resource");
  return sl_name;
}

void ResourceConstraint::handleExecute() {
  AbstractDomain& domTO = getCurrentDomain(getScope()[OBJECT]);
  AbstractDomain& domTQ = getCurrentDomain(getScope()[USAGE]);
  // More resources may still come: nothing can be ruled out yet.
  if (domTO.isOpen())
    return;

  std::list<double> objs;
  domTO.getValues(objs);
  double qMin = g_infiniteTimeAsDouble();
  double qMax = -g_infiniteTimeAsDouble();
  for (std::list<double>::const_iterator it = objs.begin(); it != objs.end(); ++it) {
    // An object of another class (one that joined an open domain) cannot take the change.
    const ObjectId object(*it);
    if (!Id<Resource>::convertable(object)) {
      domTO.remove(*it);
      if (domTO.isEmpty())
        return;
      continue;
    }
    ResourceId resource = object;
    check_error(resource.isValid());
    double oQtyMin = resource->getConsumptionRateMax(-g_infiniteTime());
    double oQtyMax = resource->getProductionRateMax(-g_infiniteTime());
    // Limits that are not numbers are those of a resource that was never initialised.
    checkError(oQtyMin <= 0, "resource " << resource->getName().toString()
               << (oQtyMin != oQtyMin ? " is not closed yet: it has no limits" : " has a consumption rate limit above 0"));
    checkError(oQtyMax >= 0, "resource " << resource->getName().toString()
               << (oQtyMax != oQtyMax ? " is not closed yet: it has no limits" : " has a negative production rate limit"));
    IntervalDomain oQty(oQtyMin, oQtyMax);
    debugMsg("ResourceConstraint:handleExecute",
             "Evaluating " << resource->getName().toString() << " as a candidate." << " Rate limits of "
                           << oQty.toString() << " must be adhered to  by " << domTQ.toString());
    // A quantity that is a sum of decimals may lie a rounding error beyond a limit it keeps.
    if (aboveLimit(domTQ.getLowerBound(), oQtyMax) || belowLimit(domTQ.getUpperBound(), oQtyMin)) {
      debugMsg("ResourceConstraint:handleExecute", "Removing " << resource->getName().toString() << " as a candidate.");
      domTO.remove(*it);
      if (domTO.isEmpty())
        return;
      continue;
    }
    // The hull takes each candidate's full limits.
    if (oQtyMin < qMin)
      qMin = oQtyMin;
    if (qMax < oQtyMax)
      qMax = oQtyMax;
  }
  domTQ.intersect(qMin, qMax);
  if (domTO.isSingleton()) {
    ResourceId resource = ObjectId(domTO.getSingletonValue());
    resource->markDirty();
  }
}

void registerResourceConstraintFactory(const ConstraintEngineId& constraintEngine) {
  check_error(constraintEngine.isValid());
  constraintEngine->getCESchema()->registerConstraintFactory(new ConcreteConstraintFactory<ResourceConstraint>(
      ResourceConstraint::CONSTRAINT_NAME(), ResourceConstraint::PROPAGATOR_NAME(), true));
}

}
