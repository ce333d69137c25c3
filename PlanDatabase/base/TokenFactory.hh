#ifndef KORVAN_PLANDATABASE_TOKENFACTORY_HH
#define KORVAN_PLANDATABASE_TOKENFACTORY_HH

#include "PlanDatabase/base/PlanDatabaseDefs.hh"

#include <functional>

namespace KORVAN {

/// Makes tokens of one predicate; registered with the schema under the predicate name.
class TokenFactory {
public:
  TokenFactory(const LabelStr& predicateName);
  virtual ~TokenFactory();

  const TokenFactoryId& getId() const { return m_id; }
  const LabelStr& getPredicateName() const { return m_predicateName; }

  /// A master token of the plan database.
  virtual TokenId createInstance(const PlanDatabaseId& planDb, const LabelStr& name,
                                 bool rejectable, bool isFact) const = 0;
  /// A slave token of the master under the named relation.
  virtual TokenId createInstance(const TokenId& master, const LabelStr& name,
                                 const LabelStr& relation) const = 0;
  /// A master token that `prepare` narrows before the token takes part in the
  /// plan: a token that activates itself on closing is closed only after it.
  virtual TokenId createPrepared(const PlanDatabaseId& planDb, const LabelStr& name, bool rejectable,
                                 bool isFact, const std::function<void(const TokenId&)>& prepare) const;

private:
  TokenFactory(const TokenFactory&) = delete;
  TokenFactory& operator=(const TokenFactory&) = delete;

  TokenFactoryId m_id;
  LabelStr m_predicateName;
};

/// Base of token factories whose tokens are implemented natively rather than interpreted.
class NativeTokenFactory : public TokenFactory {
public:
  NativeTokenFactory(const LabelStr& predicateName) : TokenFactory(predicateName) {}
  ~NativeTokenFactory() override {}
};

} // namespace KORVAN

#endif
