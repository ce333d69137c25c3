#include "ConstraintEngine/base/CESchema.hh"

#include <algorithm>

#include "ConstraintEngine/base/ConstraintFactory.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {

CESchema::CESchema() : m_id(this) {}

CESchema::~CESchema() {
  purgeAll();
  m_id.remove();
}

void CESchema::registerConstraintFactory(ConstraintFactory* factory) {
  check_error(factory != 0, "Cannot register a null constraint factory");
  auto it = m_factories.find(factory->getName().getKey());
  if (it != m_factories.end()) {
    if (it->second == factory)
      return;
    debugMsg("CESchema:registerConstraintFactory",
             "Replacing the factory for " << factory->getName().toString());
    delete it->second;
    it->second = factory;
    return;
  }
  try {
    m_factories.insert(std::make_pair(factory->getName().getKey(), factory));
  } catch (...) {
    // Handed over is owned: one there was no memory to file goes with the failure.
    delete factory;
    throw;
  }
}

bool CESchema::isConstraintType(const LabelStr& name) const {
  return m_factories.find(name.getKey()) != m_factories.end();
}

ConstraintFactoryId CESchema::getConstraintFactory(const LabelStr& name) const {
  auto it = m_factories.find(name.getKey());
  if (it == m_factories.end())
    return ConstraintFactoryId::noId();
  return it->second->getId();
}

ConstraintId CESchema::createConstraint(const ConstraintEngineId& constraintEngine, const LabelStr& name,
                                        const std::vector<ConstrainedVariableId>& scope) {
  auto it = m_factories.find(name.getKey());
  checkError(it != m_factories.end(), "Unknown constraint type '" << name.toString() << "'");
  return it->second->createConstraint(constraintEngine, scope);
}

std::vector<LabelStr> CESchema::getConstraintTypes() const {
  std::vector<LabelStr> names;
  for (const auto& entry : m_factories)
    names.push_back(entry.second->getName());
  std::sort(names.begin(), names.end(),
            [](const LabelStr& a, const LabelStr& b) { return a.toString() < b.toString(); });
  return names;
}

void CESchema::purgeAll() {
  for (auto& entry : m_factories)
    delete entry.second;
  m_factories.clear();
}

} // namespace KORVAN
