#ifndef KORVAN_APRESOURCE_HH
#define KORVAN_APRESOURCE_HH

#include "Utils/base/ApEntity.hh"
#include "Utils/base/Id.hh"

namespace KORVAN {

typedef int TimePoint;

namespace MIRT {
class Profile;
}

// A level envelope for clients: either constant (the same bounds at every
// time, as for a resource's limits) or read from a live profile. A live
// envelope lists the profile's instant times as they were when it was built
// and reads the bounds from the profile at each call; it does not keep the
// profile alive.
class ApResourceProfile {
public:
  ApResourceProfile(double lb, double ub);
  ApResourceProfile(const Id<MIRT::Profile>& profile);
  virtual ~ApResourceProfile();

  virtual const ApList<TimePoint>& getTimes();
  virtual double getLowerBound(TimePoint time);
  virtual double getUpperBound(TimePoint time);

private:
  void getLevel(TimePoint time, double& lb, double& ub);

  bool m_isConst;
  double m_lb;
  double m_ub;
  ApList<TimePoint> m_times;
  Id<MIRT::Profile> m_profile;
};

// Client view of a resource: its limits, its level envelope and, for a time,
// the keys of tokens that could be ordered there.
class ApResource : public virtual ApObject {
public:
  ApResource() {}
  virtual ~ApResource() {}

  // The caller owns the envelopes returned.
  virtual ApResourceProfile* getLimits() = 0;
  virtual ApResourceProfile* getLevels() = 0;
  // Predecessor and successor token keys, alternating.
  virtual ApList<ApEntityKey> getOrderingChoices(TimePoint t) = 0;

  static ApResource* asApResource(ApObject* obj) {
    return obj == nullptr ? nullptr : dynamic_cast<ApResource*>(obj);
  }
};

}

#endif
