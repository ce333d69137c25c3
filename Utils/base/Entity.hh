#ifndef KORVAN_UTILS_ENTITY_HH
#define KORVAN_UTILS_ENTITY_HH

#include <string>

#include "Utils/base/ApEntity.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Id.hh"
#include "Utils/base/LabelStr.hh"

namespace KORVAN {

/// Base of the framework's keyed objects. Keys are unique for the life of the process and
/// increase with creation, so ordering by key is ordering by age.
class Entity : public virtual ApEntity {
public:
  Entity();
  virtual ~Entity();

  ApEntityKey getKey() const override { return m_key; }
  static const LabelStr& entityTypeName();
  virtual const LabelStr& entityType() const { return entityTypeName(); }

  const std::string& getEntityName() const override;
  const std::string& getEntityType() const override { return entityType().toString(); }
  std::string toString() const override;
  std::string toLongString() const override { return toString(); }

  /// Ends the entity's life: handleDiscard() runs once, then the object is deleted.
  virtual void discard(bool pool = true);
  bool isDiscarded() const { return m_discarded; }

  /// Live entities, for leak checks in tests.
  static unsigned int liveCount();

protected:
  /// Detach from everything else before deletion; called once by discard().
  virtual void handleDiscard() {}
  /// Told that an entity this one depends on is being discarded; nothing by default.
  virtual void notifyDiscarded(const Entity* /* entity */) {}

private:
  Entity(const Entity&) = delete;
  Entity& operator=(const Entity&) = delete;

  int m_key;
  bool m_discarded;
};

/// Orders valid handles of entities by entity key.
template <class T>
class EntityComparator {
public:
  bool operator()(const T& t1, const T& t2) const {
    checkError(t1.isValid(), t1);
    checkError(t2.isValid(), t2);
    return t1->getKey() < t2->getKey();
  }
};

} // namespace KORVAN

#endif
