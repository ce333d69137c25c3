#include "Resource/base/ApResource.hh"
#include "Resource/base/MIRT_Profile.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {

ApResourceProfile::ApResourceProfile(double lb, double ub)
  : m_isConst(true), m_lb(lb), m_ub(ub), m_profile() {
  m_times.push_back(-g_infiniteTime());
}

ApResourceProfile::ApResourceProfile(const Id<MIRT::Profile>& profile)
  : m_isConst(false), m_lb(0.0), m_ub(0.0), m_profile(profile) {
  check_error(m_profile.isValid(), "A level envelope needs a live profile.");
  for (MIRT::ProfileIterator it(m_profile, -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next())
    m_times.push_back(it.getTime());
}

ApResourceProfile::~ApResourceProfile() {}

const ApList<TimePoint>& ApResourceProfile::getTimes() {
  return m_times;
}

void ApResourceProfile::getLevel(TimePoint time, double& lb, double& ub) {
  // The profile belongs to its resource: an envelope that outlived it has nothing to read.
  check_error(m_profile.isValid(), "The resource of this level envelope has been deleted.");
  IntervalDomain dom;
  m_profile->getLevel(time, dom);
  lb = dom.getLowerBound();
  ub = dom.getUpperBound();
}

double ApResourceProfile::getLowerBound(TimePoint time) {
  if (m_isConst)
    return m_lb;
  double lb, ub;
  getLevel(time, lb, ub);
  return lb;
}

double ApResourceProfile::getUpperBound(TimePoint time) {
  if (m_isConst)
    return m_ub;
  double lb, ub;
  getLevel(time, lb, ub);
  return ub;
}

}
