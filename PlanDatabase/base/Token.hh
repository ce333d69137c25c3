#ifndef KORVAN_PLANDATABASE_TOKEN_HH
#define KORVAN_PLANDATABASE_TOKEN_HH

#include <string>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngineDefs.hh"
#include "PlanDatabase/base/PlanDatabaseDefs.hh"
#include "Utils/base/ApEntity.hh"
#include "Utils/base/Entity.hh"

namespace KORVAN {

/// A token of the plan database: a predicate instance with a state variable ("state", over the
/// StateDomain "States"), an object variable ("object", over an ObjectDomain of the predicate's
/// object type), time variables (start, end, duration) and any further parameters that
/// subclasses append (such as "quantity"). Its variables are listed in index order by
/// getVariables(): state 0, object 1, then the time variables of the subclass, then parameters.
///
/// States: inactive (state not decided), active (state ACTIVE), merged onto an active token
/// (state MERGED), rejected (state REJECTED, rejectable tokens only).
///
/// While the token is active and its object variable names one object, the token is on that
/// object (Object::add); when either stops holding, it leaves it (Object::remove).
///
/// Deletion (discard): the token is marked deleted, leaves its object, then its standard
/// constraints and its variables are discarded (taking any other constraint over them along).
/// Slaves are deleted with their master.
class Token : public Entity, public virtual ApToken {
public:
  static const LabelStr ACTIVE;
  static const LabelStr MERGED;
  static const LabelStr REJECTED;
  /// Not a value of the state domain: the name of the undecided state (getTokenState()).
  static const LabelStr INACTIVE;

  /// The object name meaning "no object named": the token may go on any object of its type.
  static const LabelStr& noObject();

  virtual ~Token();

  static const LabelStr& entityTypeName();
  const LabelStr& entityType() const override { return entityTypeName(); }

  const TokenId& getId() const { return m_id; }
  const PlanDatabaseId& getPlanDatabase() const { return m_planDatabase; }
  const LabelStr& getPredicateName() const { return m_predicateName; }
  /// The object type of the predicate ("Reservoir" for "Reservoir.produce").
  const LabelStr& getBaseObjectType() const { return m_objectType; }

  // ---- variables ----
  const StateVarId& getState() const { return m_state; }
  const ObjectVarId& getObject() const { return m_object; }
  const TempVarId& start() const { return m_start; }
  const TempVarId& end() const { return m_end; }
  const TempVarId& duration() const { return m_duration; }
  /// All variables in index order.
  const std::vector<ConstrainedVariableId>& getVariables() const { return m_allVariables; }
  /// The variable of that name ("quantity"), or the empty handle.
  ConstrainedVariableId getVariable(const LabelStr& name) const;
  /// Appends a variable that this token owns; its index must be the current number of variables.
  void appendVariable(const ConstrainedVariableId& var);

  /// Constraints that belong to the token (its own temporal relation, object assignment, and
  /// those subclasses add); discarded with it.
  const ConstraintSet& getStandardConstraints() const { return m_standardConstraints; }
  /// The token takes ownership of the constraint.
  void addStandardConstraint(const ConstraintId& constraint);

  // ---- flags ----
  bool isFact() const { return m_isFact; }
  bool isRejectable() const { return m_rejectable; }
  bool isClosed() const { return m_closed; }
  bool isDeleted() const { return m_deleted; }

  /// Ends construction. Closing twice is an error.
  virtual void close();

  // ---- state ----
  bool isActive() const;
  bool isInactive() const;
  bool isMerged() const { return m_activeToken.isValid(); }
  bool isRejected() const;
  /// Makes an inactive token active: its state variable is specified ACTIVE, which every
  /// constraint on it sees as a singleton change. An already active token stays as it is.
  void activateInternal();
  /// Returns an active token to the inactive state; it must have no merged tokens.
  void deactivate();
  /// Rejects an inactive, rejectable token.
  void reject();
  /// Undoes activate, merge or reject.
  void cancel() override;

  // ---- merging ----
  /// Merges this inactive token onto an active token of the same predicate: the active token's
  /// variables take the intersection of base domains; this token's constraints become inactive.
  void merge(const TokenId& activeToken);
  /// Undoes merge().
  void split();
  /// The token this one is merged onto, or the empty handle.
  const TokenId& getActiveToken() const { return m_activeToken; }
  /// The tokens merged onto this one, by entity key.
  const TokenSet& getMergedTokens() const { return m_mergedTokens; }
  /// A constraint was added (inactive) to / removed from a variable of this merged token.
  void handleAdditionOfInactiveConstraint(const ConstraintId& constraint);
  void handleRemovalOfInactiveConstraint(const ConstraintId& constraint);
  /// A constraint over a variable of this merged token is about to lose a deactivation: refused
  /// when merges hold every deactivation it has left.
  void handleUndoDeactivation(const ConstraintId& constraint);
  /// A constraint over a variable of this merged token gained or lost a deactivation: its copy on
  /// the active token follows.
  void handleConstraintActivityChanged(const ConstraintId& constraint);
  /// Constraints over this merged token's variables, all inactive while it is merged (merge
  /// deactivates those already there), in the order reported.
  const std::vector<ConstraintId>& getInactiveConstraints() const { return m_inactiveConstraints; }

  // ---- master / slaves ----
  /// The master of a slave token, else the empty handle.
  const TokenId& getMasterToken() const { return m_master; }
  const LabelStr& getRelation() const { return m_relation; }
  /// Slaves by entity key.
  const TokenSet& getSlaveTokens() const { return m_slaves; }

  /// The object the token is on, or the empty handle.
  const ObjectId& getAssignedObject() const { return m_assignedObject; }

  /// "predicate(key)".
  std::string toString() const override;
  std::string toLongString() const override;

  // ---- client interface ----
  const std::string& getEntityType() const override { return entityType().toString(); }
  std::string getTokenType() const override { return m_predicateName.toString(); }
  /// "ACTIVE", "MERGED", "REJECTED" or "INACTIVE".
  std::string getTokenState() const override;
  ApVariable* getStart() const override;
  ApVariable* getEnd() const override;
  ApVariable* getDuration() const override;
  ApObject* getOwner() const override;
  ApToken* getMaster() const override;
  ApList<ApEntityKey> getSlaves() const override;
  ApToken* getActive() const override;
  ApList<ApEntityKey> getMerged() const override;
  double getViolation() const override;
  std::string getViolationExpl() const override;
  ApList<ApEntityKey> getParameters() const override;
  ApVariable* getParameter(const std::string& name) const override;
  void activate() override { activateInternal(); }
  void merge(ApToken* activeToken) override;
  ApList<ApEntityKey> getCompatibleTokens(unsigned int limit, bool useExactTest) override;

protected:
  /// A master token: state and object variables; the subclass adds the time variables and then
  /// calls finishConstruction.
  Token(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable,
        bool isFact, const LabelStr& objectName);
  /// A slave of `master` under the relation.
  Token(const TokenId& master, const LabelStr& relation, const LabelStr& predicateName,
        const LabelStr& objectName);

  /// Called by subclass constructors once start, end and duration exist: records the time
  /// variables, posts the object-assignment constraint, registers the token with the plan
  /// database, and closes it when asked.
  void finishConstruction(const TempVarId& start, const TempVarId& end, const TempVarId& duration,
                          bool closed);

  void handleDiscard() override;

  std::vector<ConstrainedVariableId> m_allVariables;
  ConstraintSet m_standardConstraints;

private:
  friend class ObjectTokenRelation;
  friend class PlanDatabase;
  friend class Object;

  void commonInit(const LabelStr& objectName);
  /// Places the token on the object its variables name, or takes it off (see class comment).
  void updateObjectAssignment();
  /// Everything deletion does; runs once, from discard or the destructor.
  void cleanup();

  TokenId m_id;
  PlanDatabaseId m_planDatabase;
  LabelStr m_predicateName;
  LabelStr m_objectType;
  bool m_rejectable;
  bool m_isFact;
  bool m_closed;
  bool m_deleted;
  bool m_cleanedUp;

  StateVarId m_state;
  ObjectVarId m_object;
  TempVarId m_start;
  TempVarId m_end;
  TempVarId m_duration;

  TokenId m_master;
  LabelStr m_relation;
  TokenSet m_slaves;

  TokenId m_activeToken;
  TokenSet m_mergedTokens;
  std::vector<ConstraintId> m_inactiveConstraints;
  /// Constraints that merge() deactivated; split() reactivates those still alive.
  std::vector<ConstraintId> m_deactivatedByMerge;

  ObjectId m_assignedObject;
  /// Number of variables the token itself creates (state, object, time); parameters follow.
  unsigned int m_builtInCount;
};

} // namespace KORVAN

// The token's variable classes, so that users of Token can work with its variables at once.
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "PlanDatabase/base/ObjectDomain.hh"
#include "PlanDatabase/base/StateDomain.hh"
#include "PlanDatabase/base/TokenVariable.hh"

#endif
