#ifndef KORVAN_MIRT_PROFILEPROPAGATOR_HH
#define KORVAN_MIRT_PROFILEPROPAGATOR_HH

#include "ConstraintEngine/base/DefaultPropagator.hh"
#include "Utils/base/Id.hh"

#include <cstdint>
#include <set>

namespace KORVAN {
namespace MIRT {

class Profile;

// Runs the profiles' listener constraints (which do nothing when executed)
// and then recomputes every profile reached through them that needs it,
// while the engine is not proven inconsistent.
class ProfilePropagator : public DefaultPropagator {
public:
  ProfilePropagator(const LabelStr& name, const ConstraintEngineId& constraintEngine);
  virtual ~ProfilePropagator();

protected:
  friend class Profile;
  void setUpdateRequired(bool update) { m_updateRequired = update; }

private:
  void execute() override;
  bool updateRequired() const override;
  void handleConstraintAdded(const ConstraintId& constraint) override;
  void handleConstraintRemoved(const ConstraintId& constraint) override;
  void execute(const ConstraintId& constraint) override;
  // The temporal network's version; false without a temporal network.
  bool readNetworkVersion(std::uint64_t& version) const;

  // Profiles reached through a listener; one whose handle has gone stale
  // (its resource was deleted) is dropped at the next pass.
  std::set<Id<Profile>> m_profiles;
  // Listeners added since the last pass, whose profiles are not recorded yet.
  std::set<ConstraintId> m_newConstraints;
  bool m_updateRequired;
  std::uint64_t m_networkVersion;  // as the last pass left the network
};

}
}

#endif
