#ifndef KORVAN_CE_CONSTRAINTENGINE_HH
#define KORVAN_CE_CONSTRAINTENGINE_HH

// The constraint engine: variables over domains, constraints, and named propagators.
//
// Propagation contract
// --------------------
// * Notification. Every change of a variable's derived domain (whoever makes it: a constraint,
//   a propagator, specify/reset, or code outside propagation that narrows the domain) is
//   reported at once, with its DomainListener::ChangeType, in this order:
//     1. the engine's inconsistency bookkeeping (EMPTIED marks the network inconsistent);
//     2. for every constraint over the variable, in the order they were added:
//        canIgnore(variable, argIndex, changeType) is called synchronously, whatever the change
//        kind (EMPTIED, RESET and RELAXED included) and whether or not the constraint is active;
//        when it answers false, the constraint's propagator gets
//        handleNotification(variable, argIndex, constraint, changeType); a DefaultPropagator
//        puts the constraint on its agenda.
//   The domain already holds its new value when canIgnore runs. canIgnore may add or discard
//   constraints (including itself); constraints added during the walk are not asked about the
//   change that was being reported.
// * propagate(). Runs until no propagator reports updateRequired(): it polls the propagators in
//   priority order, runs the first one that has work (execute()), and polls again from the
//   start. updateRequired() is polled even when no variable changed, so a propagator can ask for
//   a pass on its own. It stops early once the network is proven inconsistent, and answers
//   whether the network is consistent. It is not re-entrant: a propagate() from inside
//   propagation is refused with an error; isPropagating() tells.
// * Inconsistency. The network is proven inconsistent while some variable's derived domain is
//   empty, however it got so. Propagation then stops; the propagators keep their pending work
//   (canContinuePropagation() is true) and resume once a relaxation has made every domain
//   non-empty again.
// * Relaxation. Removing a constraint (discard or delete) that narrowed some domain, deactivating
//   one, or resetting / relaxing a variable relaxes the derived domains of the variables
//   connected to it through constraints (its whole connected component) back to their base
//   domains (or specified values), each reporting RELAXED (or RESET for the variable reset).
//   While the network is inconsistent, every emptied variable is relaxed too. The next
//   propagate() narrows them again from the base domains; the solver's undo relies on this.
//   Removing a constraint that never narrowed anything (listeners that only watch) relaxes
//   nothing. A constraint counts as having narrowed when a domain changed while it executed, or
//   when a pass of its propagator changed one of its variables outside any constraint's
//   execution (propagators that narrow in bulk).
// * Violations. Constraints can be marked violated (Constraint::notifyViolated); the engine only
//   keeps the policy flag (getAllowViolations) and the set of violated constraints: it is up to
//   the code that finds a problem to mark a constraint or to empty a domain.
//
// Ownership: the engine owns its propagators and its schema. Variables and constraints belong to
// whoever made them; those still alive when the engine is deleted are discarded by it
// (constraints first), so delete the plan database before the engine.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngineDefs.hh"
#include "ConstraintEngine/base/DomainListener.hh"
#include "Utils/base/Engine.hh"
#include "Utils/base/LabelStr.hh"

namespace KORVAN {

class ConstraintEngine : public EngineComponent {
public:
  /// The engine component name under which hosts register the engine.
  static const std::string& COMPONENT_NAME();

  /// With its own schema, unless one is given (the engine then does not own it).
  ConstraintEngine();
  explicit ConstraintEngine(const CESchemaId& schema);
  virtual ~ConstraintEngine();

  const ConstraintEngineId& getId() const { return m_id; }
  const CESchemaId& getCESchema() const { return m_schema; }

  /// A constraint made by the factory registered under `name`; an unknown name is an error.
  ConstraintId createConstraint(const LabelStr& name, const std::vector<ConstrainedVariableId>& scope);
  /// Discards the constraint.
  void deleteConstraint(const ConstraintId& constraint);

  /// The propagator registered under the name, or the empty handle.
  const PropagatorId& getPropagatorByName(const LabelStr& name) const;
  /// All propagators, in polling order.
  const std::vector<PropagatorId>& getPropagators() const { return m_propagators; }

  /// Propagates to a fixed point; answers !provenInconsistent().
  bool propagate();
  bool isPropagating() const { return m_propagating; }
  /// Some derived domain is empty.
  bool provenInconsistent() const { return !m_emptyVariables.empty(); }
  /// Propagated to a fixed point and not proven inconsistent.
  bool constraintConsistent() const { return !provenInconsistent() && !pending(); }
  /// Some propagator reports work.
  bool pending() const;
  /// Whether pending work survives an inconsistency (it does: it resumes after a relaxation).
  bool canContinuePropagation() const { return true; }
  /// Number of passes run by propagate() since the engine was built; a cheap version stamp.
  unsigned long getCycleCount() const { return m_cycleCount; }
  /// Number of domain changes reported since the engine was built; another version stamp.
  unsigned long getChangeCount() const { return m_changeCount; }

  /// Bounds the work of each propagate() call, in constraint executions and propagator passes
  /// (0: none). A cycle of constraints that admits no value may move a bound one unit per pass
  /// up to the horizon; a caller that must end within a budget sets one.
  void setPropagationLimit(unsigned long work) { m_workLimit = work; }
  unsigned long getPropagationLimit() const { return m_workLimit; }
  /// The last propagate() stopped at the limit with work pending: the domains are sound but
  /// not a fixed point.
  bool propagationCut() const { return m_cut; }
  /// The current propagate() has spent its limit; propagators stop their passes early.
  bool overPropagationLimit() const { return m_workLimit != 0 && m_work >= m_workLimit; }

  /// A propagation that runs long may be a bound creeping around a cycle of constraints that no
  /// values keep, a few units a pass, up to the horizon. Once one propagate() has done
  /// `perConstraint` units of work per constraint, and again each time that work doubles, it asks
  /// the prover for a variable that no values keep (a proof, not a guess; noId for none) and
  /// empties it, which ends the propagation inconsistent. The prover reads and changes nothing.
  typedef std::function<ConstrainedVariableId()> CreepProver;
  void setCreepProver(const CreepProver& prover, unsigned long perConstraint) {
    m_creepProver = prover;
    m_creepWork = perConstraint;
  }
  /// The current propagate() is due to ask its prover; propagators stop their passes early.
  bool creepProofDue() const { return m_creepProver && m_work >= m_nextCreepProof; }

  /// Variables whose derived domain is empty (by entity key).
  ConstrainedVariableSet getEmptyVariables() const;

  /// Who emptied a domain: the constraint executing at the time, else the propagator running a
  /// pass (a bulk narrowing, or a detector emptying a domain to report a problem), else neither
  /// (a change made outside propagation).
  struct Emptying {
    ConstrainedVariableId variable;
    ConstraintId constraint;
    PropagatorId propagator;
  };
  /// Called, while the handles are still valid, when a derived domain empties and the network
  /// was consistent until then: the cause, not the consequences. One listener; none clears it.
  typedef std::function<void(const Emptying&)> EmptyingListener;
  void setEmptyingListener(const EmptyingListener& listener) { m_emptyingListener = listener; }

  /// Told of every change of a derived domain, relaxations included, once the engine's own
  /// bookkeeping is done and before the constraints hear of it: a check that keeps what it found
  /// looks again only where something changed. One listener; it must change nothing.
  typedef std::function<void(const ConstrainedVariable&)> ChangeListener;
  void setChangeListener(const ChangeListener& listener) { m_changeListener = listener; }
  /// The variables whose constraints are being told of a change, outermost first: a listener
  /// called amid another's walk may find these changed before it hears of them.
  const std::vector<ConstrainedVariable*>& notifying() const { return m_notifying; }

  // ---- violations ----
  bool getAllowViolations() const { return m_allowViolations; }
  void setAllowViolations(bool value) { m_allowViolations = value; }
  /// Sum of the violations of the constraints marked violated.
  double getViolation() const;
  const ConstraintSet& getViolatedConstraints() const { return m_violated; }

  // ---- contents ----
  const ConstrainedVariableSet& getVariables() const { return m_variables; }
  const ConstraintSet& getConstraints() const { return m_constraints; }

  /// Something other than a relaxation changed a domain, what a variable relaxes to, or the
  /// constraints of a variable: a relaxation from any variable may do work again.
  void noteNotRelaxed() { ++m_relaxEpoch; }
  /// Relaxes even what an earlier run relaxed and nothing has undone since (see m_relaxEpoch),
  /// a walk that must change the same: the reference of differential tests. Off by default.
  void setRelaxingEverything(bool value) { m_relaxEverything = value; }

private:
  friend class ConstrainedVariable;
  friend class Constraint;
  friend class Propagator;

  ConstraintEngine(const ConstraintEngine&) = delete;
  ConstraintEngine& operator=(const ConstraintEngine&) = delete;

  void init();

  void add(const ConstrainedVariableId& var);
  void remove(const ConstrainedVariableId& var);
  void add(const ConstraintId& constraint);
  void remove(const ConstraintId& constraint);
  void add(const PropagatorId& propagator);
  void remove(const PropagatorId& propagator);

  /// Reports one change of a variable's derived domain (see the contract above).
  void notifyChange(ConstrainedVariable& var, const DomainListener::ChangeType& changeType);
  /// Relaxation of the variables connected to `var` (the variable has relaxed its own domain).
  void relaxFrom(ConstrainedVariable& var);
  /// Relaxation after a constraint left or was deactivated: of its scope's component when it
  /// narrowed something, and of the emptied variables when the network is inconsistent.
  void relaxAfter(Constraint& constraint, bool scopeToo);
  void enqueueForRelaxation(ConstrainedVariable& var);
  void runRelaxation();
  struct RelaxListing;
  /// While the per-variable relaxation line is on: writes the lines of the walk that relaxes
  /// everything, up to `reached`, the variable the run takes next, and for it when the run
  /// skips it; with no `reached`, the rest. Changes no variable and nothing the run reads.
  void listRelaxation(RelaxListing& listing, const ConstrainedVariableId& reached, bool skipped);
  void listRelaxationOf(RelaxListing& listing, const ConstrainedVariableId& var);

  void markViolated(const ConstraintId& constraint, bool violated);

  ConstraintEngineId m_id;
  CESchemaId m_schema;
  bool m_ownsSchema;
  bool m_propagating;
  bool m_allowViolations;
  bool m_deleting;
  unsigned long m_cycleCount;
  unsigned long m_changeCount;
  unsigned long m_workLimit = 0;
  unsigned long m_work = 0; // in the current propagate()
  bool m_cut = false;

  ConstrainedVariableSet m_variables;
  ConstraintSet m_constraints;
  ConstraintSet m_violated;
  std::vector<PropagatorId> m_propagators;
  std::vector<ConstrainedVariable*> m_emptyVariables;
  std::vector<ConstrainedVariable*> m_notifying;

  /// The constraint being executed and the propagator running a pass: the causes to which a
  /// narrowing is recorded.
  Constraint* m_activeConstraint;
  Propagator* m_activePropagator;

  EmptyingListener m_emptyingListener;
  ChangeListener m_changeListener;
  CreepProver m_creepProver;
  unsigned long m_creepWork = 0;       // per constraint, before the first question
  unsigned long m_nextCreepProof = 0;  // in the current propagate()
  void askCreepProver();

  bool m_relaxing;
  unsigned int m_relaxMark;
  std::vector<ConstrainedVariableId> m_relaxQueue;
  /// Raised by every change but a relaxation. A variable stamped with the current value was
  /// relaxed, with the rest of its component, by a run that nothing has undone since: relaxing
  /// it again changes nothing, and neither does relaxing anything it reaches.
  std::uint64_t m_relaxEpoch;
  bool m_relaxEverything = false;
};

} // namespace KORVAN

#endif
