#include "Utils/base/Entity.hh"

#include <sstream>

namespace KORVAN {

namespace {
int s_nextKey = 0;
unsigned int s_liveCount = 0;
} // namespace

Entity::Entity() : m_key(++s_nextKey), m_discarded(false) { ++s_liveCount; }

Entity::~Entity() { --s_liveCount; }

const LabelStr& Entity::entityTypeName() {
  static const LabelStr sl_type("Entity");
  return sl_type;
}

const std::string& Entity::getEntityName() const { return entityType().toString(); }

std::string Entity::toString() const {
  std::ostringstream os;
  os << entityType().toString() << '_' << m_key;
  return os.str();
}

void Entity::discard(bool) {
  if (m_discarded)
    return;
  m_discarded = true;
  handleDiscard();
  delete this;
}

unsigned int Entity::liveCount() { return s_liveCount; }

} // namespace KORVAN
