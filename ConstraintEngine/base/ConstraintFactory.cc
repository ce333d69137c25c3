#include "ConstraintEngine/base/ConstraintFactory.hh"

namespace KORVAN {

ConstraintFactory::ConstraintFactory(const LabelStr& name, const LabelStr& propagatorName,
                                     bool systemDefined)
    : m_id(this), m_name(name), m_propagatorName(propagatorName), m_systemDefined(systemDefined) {}

ConstraintFactory::~ConstraintFactory() {
  if (m_id.isValid())
    m_id.remove();
}

ConstraintId ConstraintFactory::createConstraint(ConstraintEngineId, const std::vector<ConstrainedVariableId>&) {
  check_error(ALWAYS_FAILS);
  return ConstraintId::noId();
}

} // namespace KORVAN
