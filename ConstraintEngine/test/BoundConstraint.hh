#ifndef KORVAN_CE_TEST_BOUNDCONSTRAINT_HH
#define KORVAN_CE_TEST_BOUNDCONSTRAINT_HH

#include <vector>

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/Constraint.hh"

/// Narrows its only variable to [lb, ub] each time it runs.
class Bound : public KORVAN::Constraint {
public:
  Bound(const KORVAN::ConstraintEngineId& ce, const KORVAN::ConstrainedVariableId& var, double lb, double ub)
      : KORVAN::Constraint("bound", "Default", ce, std::vector<KORVAN::ConstrainedVariableId>{var}), m_lb(lb),
        m_ub(ub) {}
  void handleExecute() override { getCurrentDomain(getScope()[0]).intersect(m_lb, m_ub); }

private:
  double m_lb, m_ub;
};

#endif
