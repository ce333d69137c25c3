#include "Resource/base/MIRT_Profile.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {
namespace MIRT {

/*
 * Variable listener
 */

const LabelStr& Profile::VariableListener::CONSTRAINT_NAME() {
  static const LabelStr sl_name("ProfileVariableListener");
  return sl_name;
}

const LabelStr& Profile::VariableListener::PROPAGATOR_NAME() {
  static const LabelStr sl_name("MIRT_Resource");
  return sl_name;
}

Profile::VariableListener::VariableListener(const Id<ConstraintEngine>& constraintEngine, Id<Profile> profile,
                                            TransactionId trans,
                                            const std::vector<Id<ConstrainedVariable>>& scope, bool isQuantity)
  : Constraint(CONSTRAINT_NAME(), PROPAGATOR_NAME(), constraintEngine, scope),
    m_profile(profile), m_trans(trans), m_isQuantity(isQuantity) {
  check_error(profile.isValid());
  check_error(profile->isValid());
  check_error(trans.isValid());
  debugMsg("Profile:VariableListener", "Created listener for profile " << m_profile << " and transaction "
           << m_trans << std::endl << toString() << std::endl);
}

Profile::VariableListener::~VariableListener() {}

void Profile::VariableListener::handleExecute() {}

void Profile::VariableListener::detach() {
  m_profile = Id<Profile>::noId();
  m_trans = TransactionId::noId();
}

bool Profile::VariableListener::canIgnore(const Id<ConstrainedVariable>& variable, int,
                                          const DomainListener::ChangeType& changeType) {
  if (m_profile.isNoId())
    return false;
  checkError(variable.isValid(), toString());
  checkError(m_profile.isValid(), toString());
  checkError(m_trans.isValid(), toString());
  if (m_isQuantity) {
    debugMsg("Profile:VariableListener", "Notifying profile " << m_profile
             << " of change to quantity variable " << variable->toString());
    m_profile->transactionQuantityChanged(m_trans, changeType);
  }
  else {
    debugMsg("Profile:VariableListener", "Notifying profile " << m_profile
             << " of change to time variable " << variable->toString());
    m_profile->transactionTimeChanged(m_trans, changeType);
  }
  return false;
}

/*
 * Constraint addition listener
 */

Profile::ConstraintAdditionListener::ConstraintAdditionListener(const Id<ConstrainedVariable>& var,
                                                                TransactionId tid, Id<Profile> profile)
  : ConstrainedVariableListener(var), m_profile(profile), m_tid(tid), m_var(var) {}

Profile::ConstraintAdditionListener::~ConstraintAdditionListener() {}

void Profile::ConstraintAdditionListener::notifyDiscard() {
  if (m_profile.isNoId())
    return;
  // The profile deletes this listener here; nothing of it is touched after.
  m_profile->handleTransactionVariableDeletion(m_tid);
}

namespace {
bool isTemporal(const Id<Constraint>& constr) {
  static const LabelStr sl_temporal("Temporal");
  const Id<Propagator>& prop = constr->getPropagator();
  return !prop.isNoId() && prop->getName() == sl_temporal;
}
}

void Profile::ConstraintAdditionListener::notifyConstraintAdded(const Id<Constraint>& constr, int argIndex) {
  if (m_profile.isNoId() || !isTemporal(constr))
    return;
  debugMsg("Profile:ConstraintAdditionListener", "Notifying profile " << m_profile << " of addition of constraint "
           << constr->toString() << " to variable " << m_var->toString() << " at index " << argIndex);
  m_profile->temporalConstraintAdded(constr, m_var, argIndex);
}

void Profile::ConstraintAdditionListener::notifyConstraintRemoved(const Id<Constraint>& constr, int argIndex) {
  if (m_profile.isNoId() || !isTemporal(constr))
    return;
  debugMsg("Profile:ConstraintAdditionListener", "Notifying profile " << m_profile << " of removal of constraint "
           << constr->toString() << " from variable " << m_var->toString() << " at index " << argIndex);
  m_profile->temporalConstraintRemoved(constr, m_var, argIndex);
}

}
}
