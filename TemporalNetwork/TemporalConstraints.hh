#ifndef KORVAN_TEMPORALNETWORK_TEMPORALCONSTRAINTS_HH
#define KORVAN_TEMPORALNETWORK_TEMPORALCONSTRAINTS_HH

#include <vector>

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngineDefs.hh"

namespace KORVAN {

/// A constraint that is one edge of the temporal network: lb <= y - x <= ub between two time
/// variables x and y (integer intervals), the bounds being either fixed or the domain of a
/// third, distance variable. Under the "Temporal" propagator the network does all the work;
/// under any other propagator handleExecute narrows the bounds locally.
class TemporalConstraint : public Constraint {
public:
  virtual ~TemporalConstraint();

  /// Scope positions of x and y.
  int getFromIndex() const { return m_fromIndex; }
  int getToIndex() const { return m_toIndex; }
  /// Scope position of the distance variable, or -1 when the bounds are fixed.
  int getDistanceIndex() const { return m_distanceIndex; }
  /// The fixed bounds (meaningless when a distance variable gives them).
  long long getFixedLb() const { return m_lb; }
  long long getFixedUb() const { return m_ub; }

protected:
  TemporalConstraint(const LabelStr& name, const LabelStr& propagatorName,
                     const ConstraintEngineId& constraintEngine,
                     const std::vector<ConstrainedVariableId>& variables, int fromIndex,
                     int toIndex, int distanceIndex, long long lb, long long ub);

  void handleExecute() override;

private:
  static const std::vector<ConstrainedVariableId>& checkScope(
      const LabelStr& name, const std::vector<ConstrainedVariableId>& variables, int distanceIndex);

  int m_fromIndex;
  int m_toIndex;
  int m_distanceIndex;
  long long m_lb;
  long long m_ub;
};

/// "precedes": x <= y, scope (x, y).
class PrecedesConstraint : public TemporalConstraint {
public:
  PrecedesConstraint(const LabelStr& name, const LabelStr& propagatorName,
                     const ConstraintEngineId& constraintEngine,
                     const std::vector<ConstrainedVariableId>& variables);
};

/// "concurrent": x = y, scope (x, y).
class ConcurrentConstraint : public TemporalConstraint {
public:
  ConcurrentConstraint(const LabelStr& name, const LabelStr& propagatorName,
                       const ConstraintEngineId& constraintEngine,
                       const std::vector<ConstrainedVariableId>& variables);
};

/// "temporalDistance": x + d = y, scope (x, d, y). Also the duration relation of an interval
/// token, "StartEndDurationRelation", scope (start, duration, end).
class TemporalDistanceConstraint : public TemporalConstraint {
public:
  TemporalDistanceConstraint(const LabelStr& name, const LabelStr& propagatorName,
                             const ConstraintEngineId& constraintEngine,
                             const std::vector<ConstrainedVariableId>& variables);
};

/// Creates the "Temporal" propagator in the engine (unless one exists) and registers the
/// factories "precedes", "concurrent", "temporalDistance" and "StartEndDurationRelation" with
/// it. Safe to call more than once.
void initTemporalConstraints(const ConstraintEngineId& constraintEngine);

} // namespace KORVAN

#endif
