#include "Resource/base/Instant.hh"
#include "Resource/base/Resource.hh"
#include "Resource/base/Transaction.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

#include <sstream>

namespace KORVAN {

bool TxCompare::operator()(const TransactionId& a, const TransactionId& b) const {
  return a->getKey() < b->getKey();
}

Instant::Instant(int time)
  : m_id(this), m_time(time), m_lowerMin(0.0), m_lowerMax(0.0), m_upperMin(0.0), m_upperMax(0.0) {
  check_error(isValid());
}

Instant::~Instant() {
  reset();
  m_id.remove();
}

void Instant::insert(const TransactionId& tx) {
  m_transactions.insert(tx);
}

bool Instant::remove(const TransactionId& tx) {
  bool removed = m_transactions.erase(tx) > 0;
  reset();
  return removed;
}

void Instant::updateBounds(double lowerMin, double lowerMax, double upperMin, double upperMax) {
  m_lowerMin = lowerMin;
  m_lowerMax = lowerMax;
  m_upperMin = upperMin;
  m_upperMax = upperMax;
  debugMsg("Instant:updateBounds", toString());
}

void Instant::addResourceViolation(ResourceProblem::Type type) {
  m_violations.push_back(ResourceViolationId((new ResourceViolation(type, m_id))->getId()));
}

void Instant::addResourceFlaw(ResourceProblem::Type type) {
  m_flaws.push_back(ResourceFlawId((new ResourceFlaw(type, m_id))->getId()));
}

void Instant::reset() {
  cleanup(m_violations);
  cleanup(m_flaws);
}

bool Instant::isValid() const {
  for (TransactionSet::const_iterator it = m_transactions.begin(); it != m_transactions.end(); ++it) {
    TransactionId tx = *it;
    check_error(tx.isValid());
    check_error(tx->getTime()->lastDomain().isMember(m_time));
    check_error(tx->getResource().isNoId() || tx->getResource().isValid());
  }
  return true;
}

void Instant::print(std::ostream& os) const {
  if (!m_violations.empty())
    os << "XX ";
  if (!m_flaws.empty())
    os << "FF ";
  if (m_time == g_infiniteTime())
    os << "+inf";
  else if (m_time == -g_infiniteTime())
    os << "-inf";
  else
    os << m_time;
  os << ":[" << m_lowerMin << ", " << m_lowerMax << ", " << m_upperMin << ", " << m_upperMax << "] ";
  for (std::list<ResourceViolationId>::const_iterator it = m_violations.begin(); it != m_violations.end(); ++it)
    os << "v" << (*it)->getString() << " ";
  for (std::list<ResourceFlawId>::const_iterator it = m_flaws.begin(); it != m_flaws.end(); ++it)
    os << "f" << (*it)->getString() << " ";
}

std::string Instant::toString() const {
  std::ostringstream os;
  print(os);
  return os.str();
}

}
