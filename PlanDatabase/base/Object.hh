#ifndef KORVAN_PLANDATABASE_OBJECT_HH
#define KORVAN_PLANDATABASE_OBJECT_HH

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngineDefs.hh"
#include "PlanDatabase/base/PlanDatabaseDefs.hh"
#include "Utils/base/ApEntity.hh"
#include "Utils/base/Entity.hh"

namespace KORVAN {

/// An object of the plan database: a typed, named entity with member variables, on which tokens
/// are placed. A token is on an object (tokens(), add, remove) while it is active and its object
/// variable names that object alone; the plan database calls add and remove as that changes, and
/// remove also when the token is deleted. Subclasses (resources) override the hooks.
///
/// Objects values in object domains are the object's address as a double (ObjectId's double
/// conversion). The plan database owns its objects and deletes them with itself.
///
/// Orderings: constrain(pred, succ) posts "precedes" from pred's end to succ's start and records
/// it; free(pred, succ) discards it.
class Object : public Entity, public virtual ApObject {
public:
  /// A top-level object. Built closed unless `open`; an open object is closed by close().
  Object(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name,
         bool open = false);
  /// A component of `parent`, named "parentName.localName".
  Object(const ObjectId& parent, const LabelStr& type, const LabelStr& localName,
         bool open = false);
  virtual ~Object();

  static const LabelStr& entityTypeName();
  const LabelStr& entityType() const override { return entityTypeName(); }

  const ObjectId& getId() const { return m_id; }
  const PlanDatabaseId& getPlanDatabase() const { return m_planDatabase; }
  const LabelStr& getType() const { return m_type; }
  const LabelStr& getName() const { return m_name; }
  /// The parent object of a component, else the empty handle.
  const ObjectId& getParent() const { return m_parent; }
  const std::vector<ObjectId>& getComponents() const { return m_components; }
  /// The object's name.
  std::string toString() const override;
  std::string toLongString() const override;

  /// Hook for constructor arguments; the default ignores them.
  virtual void constructor(const std::vector<const AbstractDomain*>& /*arguments*/) {}
  bool isClosed() const { return m_closed; }
  /// Ends construction: no member variable may be added afterwards. Closing twice is an error.
  virtual void close();
  /// Raises the error that close() would raise, without changing anything; classes whose
  /// close() can fail override it, so that closing several objects can be all or nothing.
  virtual void checkClose() const {}

  // ---- tokens ----
  /// The tokens on this object, by entity key.
  const TokenSet& tokens() const { return m_tokens; }
  bool hasToken(const TokenId& token) const;
  /// A token came onto this object. Adding a token that is already here is an error.
  virtual void add(const TokenId& token);
  /// A token left this object (or is being deleted): its orderings on this object are freed
  /// and it no longer needs ordering. Removing a token that is not here is an error.
  virtual void remove(const TokenId& token);
  /// The plan database is about to delete every token, then every object: an object may let go
  /// of its tokens here all at once rather than one at a time as they leave. Default: nothing.
  virtual void handlePurge() {}

  // ---- member variables ----
  /// A new member variable named "objectName.memberName" over a copy of the base domain; the
  /// object owns it. Only while the object is open.
  ConstrainedVariableId addVariable(const AbstractDomain& baseDomain, const LabelStr& memberName);
  /// The member variable of that full name ("objectName.memberName"), or the empty handle.
  ConstrainedVariableId getVariable(const LabelStr& fullName) const;
  /// Member variables in the order of their addition.
  const std::vector<ConstrainedVariableId>& getVariables() const { return m_variables; }

  // ---- ordering ----
  /// Posts "precedes" between predecessor's end and successor's start. Both tokens must be able
  /// to be on this object; a pair may be constrained once.
  void constrain(const TokenId& predecessor, const TokenId& successor);
  /// Discards the constraint that constrain() posted for the pair.
  void free(const TokenId& predecessor, const TokenId& successor);
  /// True when constrain() ordered predecessor before successor and it was not freed.
  bool isConstrainedToPrecede(const TokenId& predecessor, const TokenId& successor) const;
  /// The constraint posted for the pair, or the empty handle.
  ConstraintId getPrecedenceConstraint(const TokenId& predecessor, const TokenId& successor) const;
  /// The orderings in place, as (predecessor, successor), by the pair of entity keys.
  std::vector<std::pair<TokenId, TokenId>> getOrderings() const;

  /// The token must be ordered against others on this object (a flaw for the solver).
  virtual void notifyOrderingRequired(const TokenId& token);
  virtual void notifyOrderingNoLongerRequired(const TokenId& token);
  /// Pairs (predecessor, successor) that could be imposed to order `token` against the other
  /// tokens on this object: each pair not yet constrained that the temporal network allows, at
  /// most `limit`. `results` must be empty.
  virtual void getOrderingChoices(const TokenId& token,
                                  std::vector<std::pair<TokenId, TokenId>>& results,
                                  unsigned int limit = ~0u);
  /// The tokens that need ordering, by entity key. `results` must be empty.
  virtual void getTokensToOrder(std::vector<TokenId>& results);
  virtual bool hasTokensToOrder() const;

  // ---- client interface ----
  const std::string& getEntityType() const override { return entityType().toString(); }
  std::string getObjectType() const override { return m_type.toString(); }
  ApList<ApEntityKey> getMemberVariables() override;
  ApVariable* getMemberVariable(const std::string& name) override;
  ApList<ApEntityKey> getTokens() const override;
  void addPrecedence(ApToken* predecessor, ApToken* successor) override;
  void removePrecedence(ApToken* predecessor, ApToken* successor) override;
  double asApVarValue() const override { return (double)m_id; }

protected:
  void handleDiscard() override;

  /// Member variables, in the order of their addition.
  std::vector<ConstrainedVariableId> m_variables;

private:
  friend class PlanDatabase;

  struct Ordering {
    TokenId predecessor;
    TokenId successor;
    ConstraintId constraint;
  };
  typedef std::pair<int, int> KeyPair; // (predecessor key, successor key)

  void commonInit(bool open);
  /// Releases everything the object holds; runs once, from discard or the destructor.
  void cleanup();
  void freeOrdering(std::map<KeyPair, Ordering>::iterator it);
  /// Forgets a token that is being deleted: its orderings here are freed, its needs dropped.
  void purgeToken(const TokenId& token);

  ObjectId m_id;
  PlanDatabaseId m_planDatabase;
  LabelStr m_type;
  LabelStr m_name;
  ObjectId m_parent;
  std::vector<ObjectId> m_components;
  bool m_closed;
  bool m_cleanedUp;
  TokenSet m_tokens;
  TokenSet m_tokensToOrder;
  std::map<KeyPair, Ordering> m_orderings;
};

} // namespace KORVAN

#endif
