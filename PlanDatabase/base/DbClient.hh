#ifndef KORVAN_PLANDATABASE_DBCLIENT_HH
#define KORVAN_PLANDATABASE_DBCLIENT_HH

#include <vector>

#include "ConstraintEngine/base/ConstraintEngineDefs.hh"
#include "PlanDatabase/base/PlanDatabaseDefs.hh"

#include <functional>

namespace KORVAN {

/// The operations through which solvers and interpreters change a plan database. Owned by the
/// plan database (PlanDatabase::getClient()).
class DbClient {
public:
  DbClient(const PlanDatabaseId& planDatabase);
  virtual ~DbClient();

  const DbClientId& getId() const { return m_id; }
  const PlanDatabaseId& getPlanDatabase() const { return m_planDatabase; }

  // ---- objects ----
  /// An object made by the schema's factory for the type and the argument types (or the
  /// nearest ancestor type's); without arguments and without a factory, a plain open object.
  /// Unknown types and signatures are errors. The object is returned open unless the factory
  /// closes it.
  ObjectId createObject(const LabelStr& type, const LabelStr& name,
                        const std::vector<const AbstractDomain*>& arguments =
                            std::vector<const AbstractDomain*>());
  void close(const ObjectId& object);
  /// Closes the plan database.
  void close();

  // ---- tokens ----
  /// A master token of the predicate, made by the schema's token factory.
  TokenId createToken(const LabelStr& predicateName, bool rejectable = false, bool isFact = false);
  /// The same, with `prepare` narrowing the token before it takes part in the plan (a
  /// resource token joins its profile on activation, with whatever windows it has then).
  TokenId createToken(const LabelStr& predicateName, bool rejectable, bool isFact,
                      const std::function<void(const TokenId&)>& prepare);
  /// A slave of `master` under the relation, made by the predicate's token factory.
  TokenId createSlaveToken(const TokenId& master, const LabelStr& predicateName,
                           const LabelStr& relation);
  void deleteToken(const TokenId& token);
  void activate(const TokenId& token);
  void deactivate(const TokenId& token);
  void merge(const TokenId& token, const TokenId& activeToken);
  void split(const TokenId& token);
  void reject(const TokenId& token);
  void cancel(const TokenId& token);

  // ---- constraints ----
  /// A constraint of the type registered under the name; the caller owns it and retracts it
  /// with discard() (or deleteConstraint).
  ConstraintId createConstraint(const LabelStr& name, const std::vector<ConstrainedVariableId>& scope);
  void deleteConstraint(const ConstraintId& constraint);
  /// Orders predecessor before successor on the object (Object::constrain) / takes it back.
  void constrain(const ObjectId& object, const TokenId& predecessor, const TokenId& successor);
  void free(const ObjectId& object, const TokenId& predecessor, const TokenId& successor);

  // ---- variables ----
  void specify(const ConstrainedVariableId& variable, double value);
  void reset(const ConstrainedVariableId& variable);
  void restrict(const ConstrainedVariableId& variable, const AbstractDomain& domain);

  /// Propagates the constraint engine; true when consistent.
  bool propagate();

private:
  DbClient(const DbClient&) = delete;
  DbClient& operator=(const DbClient&) = delete;

  DbClientId m_id;
  PlanDatabaseId m_planDatabase;
};

} // namespace KORVAN

#endif
