#ifndef KORVAN_RESOURCE_RESOURCEPROBLEM_HH
#define KORVAN_RESOURCE_RESOURCEPROBLEM_HH

// Problems of the instant-based resource model: a violation (the limits are
// exceeded in every completion of the plan) or a flaw (they may be exceeded),
// at one instant or, for a total exceeded, over the whole horizon.

#include <ostream>

#include "Resource/base/MIRT_ResourceProblem.hh"
#include "Utils/base/Id.hh"

namespace KORVAN {

class Instant;
class Resource;
class ResourceProblem;
class ResourceViolation;
class ResourceFlaw;

typedef Id<ResourceProblem> ResourceProblemId;
typedef Id<ResourceViolation> ResourceViolationId;
typedef Id<ResourceFlaw> ResourceFlawId;

class ResourceProblem {
public:
  // Both resource models share one list of problem kinds.
  typedef MIRT::ResourceProblem::Type Type;
  static constexpr Type NoProblem = MIRT::ResourceProblem::NoProblem;
  static constexpr Type ProductionRateExceeded = MIRT::ResourceProblem::ProductionRateExceeded;
  static constexpr Type ConsumptionRateExceeded = MIRT::ResourceProblem::ConsumptionRateExceeded;
  static constexpr Type ProductionSumExceeded = MIRT::ResourceProblem::ProductionSumExceeded;
  static constexpr Type ConsumptionSumExceeded = MIRT::ResourceProblem::ConsumptionSumExceeded;
  static constexpr Type LevelTooHigh = MIRT::ResourceProblem::LevelTooHigh;
  static constexpr Type LevelTooLow = MIRT::ResourceProblem::LevelTooLow;

  virtual ~ResourceProblem();

  const ResourceProblemId& getId() const { return m_id; }
  // The empty handle for a problem of the whole horizon.
  const Id<Instant>& getInstant() const { return m_instant; }
  Type getType() const { return m_type; }

  // The kind's enumerator name.
  const char* getString() const;
  static const char* getString(Type type);

  // The label, then " global" or the instant's own text.
  virtual void print(std::ostream& os) const;

protected:
  friend class Instant;
  friend class Resource;

  explicit ResourceProblem(Type type);
  ResourceProblem(Type type, const Id<Instant>& instant);

private:
  ResourceProblem(const ResourceProblem&) = delete;
  ResourceProblem& operator=(const ResourceProblem&) = delete;

  Type m_type;
  Id<Instant> m_instant;
  ResourceProblemId m_id;
};

class ResourceViolation : public ResourceProblem {
public:
  virtual ~ResourceViolation();

private:
  friend class Instant;
  friend class Resource;

  explicit ResourceViolation(Type type);
  ResourceViolation(Type type, const Id<Instant>& instant);
};

class ResourceFlaw : public ResourceProblem {
public:
  virtual ~ResourceFlaw();

private:
  friend class Instant;
  friend class Resource;

  ResourceFlaw(Type type, const Id<Instant>& instant);
};

}

#endif
