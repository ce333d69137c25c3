#include "Resource/base/MIRT_Profile.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {
namespace MIRT {

/*
 * Profile iterator
 */

ProfileIterator::ProfileIterator(Id<Profile> prof, int startTime, int endTime)
  : m_id(this), m_profile(prof), m_changeCount(prof->m_changeCount) {
  try {
    init(startTime, endTime);
  } catch (...) {
    // No destructor runs for it: its handle must not outlive it (a debug line that failed).
    m_id.remove();
    throw;
  }
}

void ProfileIterator::init(int startTime, int endTime) {
  const Id<Profile>& prof = m_profile;
  debugMsg("ProfileIterator:ProfileIterator", "Creating iterator over interval [" << startTime << " "
           << endTime << "] with change count " << m_changeCount);
  m_start = prof->getLeastInstant(startTime);
  m_realEnd = prof->m_instants.end();
  // With no instants there is no first time: keep the one asked for.
  m_startTime = m_start == m_realEnd ? startTime : m_start->first;
  m_end = prof->getGreatestInstant(endTime);
  if (m_end == m_realEnd) {
    m_endTime = g_infiniteTime();
    // Every instant lies after the window: cover none of them.
    m_end = m_start;
  }
  else {
    m_endTime = m_end->first;
    ++m_end;
  }
  debugMsg("ProfileIterator:ProfileIterator", "Actual interval [" << timeAt(m_start, -2 * g_infiniteTime())
           << " " << timeAt(m_end, 2 * g_infiniteTime()) << ")");
}

ProfileIterator::~ProfileIterator() {
  m_id.remove();
}

int ProfileIterator::timeAt(std::map<int, InstantId>::const_iterator pos, int atEnd) const {
  return pos == m_realEnd ? atEnd : pos->first;
}

bool ProfileIterator::isStale() const {
  // A profile that is gone leaves nothing to walk.
  if (!m_profile.isValid())
    return true;
  debugMsg("ProfileIterator:isStale", "Checking " << m_changeCount << " ?= " << m_profile->m_changeCount);
  return m_changeCount != m_profile->m_changeCount;
}

bool ProfileIterator::done() const {
  debugMsg("ProfileIterator:done", "Checking to see if " << timeAt(m_start, -2 * g_infiniteTime())
           << " is less than " << timeAt(m_end, 2 * g_infiniteTime()));
  return m_start == m_end;
}

int ProfileIterator::getTime() const {
  checkError(!isStale(), "Stale profile iterator.");
  checkError(!done(), "Attempted to get time of a done iterator.");
  return m_start->second->getTime();
}

InstantId ProfileIterator::getInstant() const {
  checkError(!isStale(), "Stale profile iterator.");
  checkError(!done(), "Attempted to get Instant of a done iterator.");
  return m_start->second;
}

bool ProfileIterator::next() {
  checkError(!isStale(), "Stale profile iterator.");
  checkError(!done(), "Attempted to iterate off the end.");
  debugMsg("ProfileIterator:next", "Iterating from " << m_start->first << " ...");
  ++m_start;
  debugMsg("ProfileIterator:next", "... to " << timeAt(m_start, 2 * g_infiniteTime()));
  return !done();
}

double ProfileIterator::getLowerBound() const {
  checkError(!isStale(), "Stale profile iterator.");
  checkError(!done(), "Attempted to get bound of a done iterator.");
  m_profile->recompute();
  return m_start->second->getLowerLevel();
}

double ProfileIterator::getUpperBound() const {
  checkError(!isStale(), "Stale profile iterator.");
  checkError(!done(), "Attempted to get bound of a done iterator.");
  m_profile->recompute();
  return m_start->second->getUpperLevel();
}

}
}
