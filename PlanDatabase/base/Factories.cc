#include "PlanDatabase/base/ObjectFactory.hh"
#include "PlanDatabase/base/TokenFactory.hh"

namespace KORVAN {

ObjectFactory::ObjectFactory(const LabelStr& signature) : m_id(this), m_signature(signature) {}

ObjectFactory::~ObjectFactory() { m_id.remove(); }

TokenFactory::TokenFactory(const LabelStr& predicateName)
    : m_id(this), m_predicateName(predicateName) {}

TokenFactory::~TokenFactory() { m_id.remove(); }

TokenId TokenFactory::createPrepared(const PlanDatabaseId& planDb, const LabelStr& name, bool rejectable,
                                     bool isFact, const std::function<void(const TokenId&)>& prepare) const {
  TokenId token = createInstance(planDb, name, rejectable, isFact);
  if (token.isValid())
    prepare(token);
  return token;
}

} // namespace KORVAN
