#include "Resource/base/MIRT_ProfilePropagator.hh"
#include "Resource/base/MIRT_Profile.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "TemporalNetwork/TemporalPropagator.hh"

namespace KORVAN {
namespace MIRT {

ProfilePropagator::ProfilePropagator(const LabelStr& name, const ConstraintEngineId& constraintEngine)
  : DefaultPropagator(name, constraintEngine), m_updateRequired(false), m_networkVersion(0) {}

bool ProfilePropagator::readNetworkVersion(std::uint64_t& version) const {
  const PropagatorId& prop = getConstraintEngine()->getPropagatorByName(TemporalPropagator::PROPAGATOR_NAME());
  const TemporalPropagator* temporal = prop.isNoId() ? 0 : dynamic_cast<const TemporalPropagator*>((Propagator*) prop);
  if (temporal == 0)
    return false;
  version = temporal->getNetwork().getVersion();
  return true;
}

ProfilePropagator::~ProfilePropagator() {}

bool ProfilePropagator::updateRequired() const {
  if (DefaultPropagator::updateRequired() || m_updateRequired)
    return true;
  // Orderings implied through time points outside every profile change no
  // variable a profile listens to.
  std::uint64_t version = 0;
  return !m_profiles.empty() && readNetworkVersion(version) && version != m_networkVersion;
}

void ProfilePropagator::handleConstraintAdded(const ConstraintId& constraint) {
  check_error(constraint.isValid());
  if (constraint->getName() == Profile::VariableListener::CONSTRAINT_NAME()) {
    m_newConstraints.insert(constraint);
    m_updateRequired = true;
  }
  DefaultPropagator::handleConstraintAdded(constraint);
}

void ProfilePropagator::handleConstraintRemoved(const ConstraintId& constraint) {
  check_error(constraint.isValid());
  if (m_newConstraints.erase(constraint) > 0 ||
      constraint->getName() == Profile::VariableListener::CONSTRAINT_NAME())
    m_updateRequired = true;
  DefaultPropagator::handleConstraintRemoved(constraint);
}

void ProfilePropagator::execute(const ConstraintId& constraint) {
  Propagator::execute(constraint);
  if (constraint->getName() == Profile::VariableListener::CONSTRAINT_NAME()) {
    Profile::VariableListener* listener = dynamic_cast<Profile::VariableListener*>((Constraint*) constraint);
    if (listener != NULL && listener->getProfile().isValid() && listener->getProfile()->needsRecompute())
      m_updateRequired = true;
  }
}

void ProfilePropagator::execute() {
  debugMsg("ProfilePropagator:execute", "Executing propagator.");
  const ConstraintEngineId& ce = getConstraintEngine();
  check_error(!getConstraintEngine()->provenInconsistent());
  check_error(m_activeConstraint == 0);

  while (!m_agenda.empty() && !ce->provenInconsistent()) {
    ConstraintId constraint = *m_agenda.begin();
    m_agenda.erase(m_agenda.begin());
    if (constraint->isActive()) {
      m_activeConstraint = constraint->getKey();
      execute(constraint);
    }
  }
  if (ce->provenInconsistent()) {
    if (!ce->canContinuePropagation()) {
      m_agenda.clear();
      debugMsg("ProfilePropagator:agenda", "Cleared agenda because CE was proven inconsistent");
    }
    else
      debugMsg("ProfilePropagator:agenda",
               "CE was proven inconsistent, keeping agenda because propagation can continue later");
  }
  m_activeConstraint = 0;

  // Record the profiles of the listeners that joined since the last pass.
  // m_profiles only grows from here; a listener's profile is recorded once.
  for (std::set<ConstraintId>::const_iterator it = m_newConstraints.begin(); it != m_newConstraints.end(); ++it) {
    const ConstraintId& constraint = *it;
    check_error(constraint.isValid());
    check_error(Id<Profile::VariableListener>::convertable(constraint));
    debugMsg("ProfilePropagator:execute", "Handling addition of constraint " << constraint->toString());
    Profile::VariableListener* listener = dynamic_cast<Profile::VariableListener*>((Constraint*) constraint);
    check_error(listener != NULL);
    check_error(listener->getProfile().isValid());
    debugMsg("ProfilePropagator:execute", "Adding profile " << listener->getProfile());
    const Id<Profile>& profile = listener->getProfile();
    // A handle left by a deleted profile at the same address makes way.
    std::set<Id<Profile>>::iterator found = m_profiles.find(profile);
    if (found != m_profiles.end() && !(*found == profile))
      m_profiles.erase(found);
    m_profiles.insert(profile);
  }
  m_newConstraints.clear();

  for (std::set<Id<Profile>>::iterator it = m_profiles.begin(); it != m_profiles.end();) {
    Id<Profile> profile = *it;
    if (!profile.isValid()) {
      m_profiles.erase(it++);
      continue;
    }
    ++it;
    if (!ce->provenInconsistent())
      profile->noteOutsideChanges();
    if (!ce->provenInconsistent() && profile->needsRecompute()) {
      checkError(profile->isValid(), "Profile " << profile << " is not in a state to recompute.");
      debugMsg("ProfilePropagator:execute", "Recomputing profile " << profile);
      profile->recompute();
    }
  }
  m_updateRequired = false;
  if (!ce->provenInconsistent())
    readNetworkVersion(m_networkVersion);
}

}
}
