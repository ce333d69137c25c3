#include "Resource/base/ResourceProblem.hh"
#include "Resource/base/Instant.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {

ResourceProblem::ResourceProblem(Type type) : m_type(type), m_instant(), m_id(this) {
  check_error(m_id.isValid());
}

ResourceProblem::ResourceProblem(Type type, const Id<Instant>& instant)
  : m_type(type), m_instant(instant), m_id(this) {
  check_error(m_id.isValid());
}

ResourceProblem::~ResourceProblem() {
  m_id.remove();
}

const char* ResourceProblem::getString() const {
  return getString(m_type);
}

const char* ResourceProblem::getString(Type type) {
  return MIRT::ResourceProblem::getString(type);
}

void ResourceProblem::print(std::ostream& os) const {
  os << getString();
  if (m_instant.isNoId())
    os << " global";
  else
    m_instant->print(os);
}

ResourceViolation::ResourceViolation(Type type) : ResourceProblem(type) {}

ResourceViolation::ResourceViolation(Type type, const Id<Instant>& instant) : ResourceProblem(type, instant) {}

ResourceViolation::~ResourceViolation() {}

ResourceFlaw::ResourceFlaw(Type type, const Id<Instant>& instant) : ResourceProblem(type, instant) {}

ResourceFlaw::~ResourceFlaw() {}

}
