#include "TemporalNetwork/TemporalAdvisor.hh"

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "TemporalNetwork/TemporalPropagator.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {

namespace {

// Difference of bounds in which an unbounded operand keeps the result unbounded.
IntervalIntDomain boundsDifference(const ConstrainedVariableId& first,
                                   const ConstrainedVariableId& second) {
  const double inf = g_infiniteTime();
  const AbstractDomain& a = first->lastDomain();
  const AbstractDomain& b = second->lastDomain();
  const double lb = (b.getLowerBound() <= -inf || a.getUpperBound() >= inf)
                        ? -inf
                        : b.getLowerBound() - a.getUpperBound();
  const double ub = (b.getUpperBound() >= inf || a.getLowerBound() <= -inf)
                        ? inf
                        : b.getUpperBound() - a.getLowerBound();
  return IntervalIntDomain(std::max(-inf, lb), std::min(inf, ub));
}

} // namespace

TemporalAdvisor::TemporalAdvisor(const ConstraintEngineId& constraintEngine)
    : m_id(this), m_constraintEngine(constraintEngine), m_temporalId(), m_temporal(0) {
  check_error(m_constraintEngine.isValid());
}

TemporalAdvisor::~TemporalAdvisor() { m_id.remove(); }

IntervalIntDomain TemporalAdvisor::getTemporalDistanceDomain(const ConstrainedVariableId& first,
                                                             const ConstrainedVariableId& second,
                                                             bool exact) {
  check_error(first.isValid(), "The first time variable is invalid.");
  check_error(second.isValid(), "The second time variable is invalid.");
  if (first == second)
    return IntervalIntDomain(0, 0);
  if (exact) {
    const PropagatorId& propagator =
        m_constraintEngine->getPropagatorByName(TemporalPropagator::PROPAGATOR_NAME());
    // Asked for pair after pair: the cast is made again only when the registration changed.
    if (!(propagator == m_temporalId)) {
      m_temporalId = propagator;
      m_temporal = propagator.isNoId() ? 0 : dynamic_cast<TemporalPropagator*>((Propagator*)propagator);
    }
    TemporalPropagator* temporal = m_temporal;
    if (temporal != 0) {
      TemporalPropagator::Time lb, ub;
      if (temporal->findDistance(first, second, lb, ub)) {
        debugMsg("TemporalAdvisor:getTemporalDistanceDomain",
                 " " << first->getKey() << " -> " << second->getKey() << " [" << lb << ", " << ub
                     << "]");
        return IntervalIntDomain((double)lb, (double)ub);
      }
    }
  }
  return boundsDifference(first, second);
}

bool TemporalAdvisor::canPrecede(const ConstrainedVariableId& first,
                                 const ConstrainedVariableId& second) {
  return getTemporalDistanceDomain(first, second, true).getUpperBound() >= 0.0;
}

} // namespace KORVAN
