#include "Resource/base/MIRT_ResourceTokenRelation.hh"
#include "Resource/base/MIRT_Resource.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/Token.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

#include <sstream>

namespace KORVAN {
namespace MIRT {

const char* ResourceProblem::getString(Type type) {
  static const char* sl_labels[] = {"ProductionRateExceeded", "ConsumptionRateExceeded",
                                    "ProductionSumExceeded", "ConsumptionSumExceeded",
                                    "LevelTooHigh", "LevelTooLow"};
  if (type < ProductionRateExceeded || type > LevelTooLow)
    return "NoProblem";
  return sl_labels[type];
}

const LabelStr& ResourceTokenRelation::CONSTRAINT_NAME() {
  static const LabelStr sl_name("ResourceObjectRelation");
  return sl_name;
}

const LabelStr& ResourceTokenRelation::PROPAGATOR_NAME() {
  static const LabelStr sl_name("MIRT_Resource");
  return sl_name;
}

ResourceTokenRelation::ResourceTokenRelation(const ConstraintEngineId& constraintEngine,
                                             const std::vector<ConstrainedVariableId>& scope,
                                             const TokenId& tok)
  : Constraint(CONSTRAINT_NAME(), PROPAGATOR_NAME(), constraintEngine, checkScope(scope, tok)), m_token(tok),
    m_resource(), m_violationTime(0), m_violationProblem(ResourceProblem::NoProblem) {
  const ConstrainedVariableId& state = scope[STATE_VAR];
  const ConstrainedVariableId& object = scope[OBJECT_VAR];
  if (state->isSpecified() && state->getSpecifiedValue() == Token::ACTIVE.getKey() &&
      object->lastDomain().isSingleton())
    handOver(true);
}

// In the base initialiser, before the constraint registers anywhere.
const std::vector<ConstrainedVariableId>& ResourceTokenRelation::checkScope(const std::vector<ConstrainedVariableId>& scope,
                                                                          const TokenId& tok) {
  check_error(scope.size() == 2, "Require both state and object variables, in that order.");
  check_error(tok.isValid());
  check_error(scope[0] == tok->getState() && scope[1] == tok->getObject(),
              "Require both state and object variables, in that order.");
  return scope;
}

ResourceTokenRelation::~ResourceTokenRelation() {}

void ResourceTokenRelation::handOver(bool fromConstructor) {
  // Object domains hold objects' addresses; the cast checks that this one is a resource.
  ObjectId object(getScope()[OBJECT_VAR]->lastDomain().getSingletonValue());
  m_resource = object;
  check_error(m_resource.isValid());
  condDebugMsg(fromConstructor, "ResourceTokenRelation:ResourceTokenRelation",
               "Adding token " << m_token->toString() << " to resource-profile of resource " << m_resource->toString());
  condDebugMsg(!fromConstructor, "ResourceTokenRelation:canIgnore",
               "Adding " << m_token->toString() << " to profile for resource " << m_resource->toString());
  m_resource->addToProfile(m_token);
}

void ResourceTokenRelation::handleExecute() {}

bool ResourceTokenRelation::canIgnore(const ConstrainedVariableId& variable, int /* argIndex */,
                                      const DomainListener::ChangeType& changeType) {
  debugMsg("ResourceTokenRelation:canIgnore",
           "Received notification of change type " << changeType << " on variable " << variable->toString());
  if (m_token->isDeleted())
    return true;
  // An emptied object domain is reported after the engine has already relaxed it again: its
  // current value is no assignment, and handing the token over on it would feed the very
  // propagation that emptied it, for ever. Taking the token off its object is the token's own
  // business (its assignment follows the object domain).
  if (changeType == DomainListener::EMPTIED)
    return true;

  const ConstrainedVariableId& state = getScope()[STATE_VAR];
  const ConstrainedVariableId& object = getScope()[OBJECT_VAR];
  debugMsg("ResourceTokenRelation:canIgnore", "Current state: " << std::endl
           << "  " << object->toString() << std::endl << "  " << state->toString());

  if (changeType == DomainListener::RESTRICT_TO_SINGLETON || changeType == DomainListener::SET_TO_SINGLETON ||
      variable->lastDomain().isSingleton()) {
    if (object->lastDomain().isSingleton() && state->isSpecified() &&
        state->getSpecifiedValue() == Token::ACTIVE.getKey())
      handOver(false);
  }
  else if ((changeType == DomainListener::RESET || changeType == DomainListener::RELAXED) &&
           m_resource.isValid()) {
    if (!object->lastDomain().isSingleton() || !object->lastDomain().isMember((double) m_resource->getId()) ||
        !state->isSpecified() || state->getSpecifiedValue() != Token::ACTIVE.getKey()) {
      debugMsg("ResourceTokenRelation:canIgnore",
               "Removing " << m_token->toString() << " from profile for resource " << m_resource->toString());
      m_resource->removeFromProfile(m_token);
      m_resource = Id<Resource>::noId();
    }
  }
  return true;
}

void ResourceTokenRelation::notifyViolated(ResourceProblem::Type problem, InstantId inst) {
  m_violationProblem = problem;
  m_violationTime = inst->getTime();
  m_violationResourceName = m_resource.isValid() ? m_resource->getName().toString() : std::string();
  Constraint::notifyViolated();
}

std::string ResourceTokenRelation::getViolationExpl() const {
  std::ostringstream os;
  os << ResourceProblem::getString(m_violationProblem) << " for resource "
     << (m_resource.isValid() ? m_resource->getName().toString() : m_violationResourceName)
     << " at instant " << m_violationTime;
  return os.str();
}

}
}
