#ifndef KORVAN_RESOURCE_INSTANT_HH
#define KORVAN_RESOURCE_INSTANT_HH

// One point of the profile of an instant-based resource: the change tokens in
// effect at its time, the level bounds the resource computed there, and the
// problems the resource found there. Instants are made, filled, judged and
// deleted only by their resource.

#include <list>
#include <ostream>
#include <set>
#include <string>

#include "Resource/base/Limits.hh"
#include "Resource/base/ResourceProblem.hh"
#include "Utils/base/Entity.hh"
#include "Utils/base/Id.hh"

namespace KORVAN {

class Instant;
class Transaction;
typedef Id<Instant> InstantId;
typedef Id<Transaction> TransactionId;

// Change tokens in increasing entity key.
class TxCompare {
public:
  bool operator()(const TransactionId& a, const TransactionId& b) const;
};

typedef std::set<TransactionId, TxCompare> TransactionSet;

class Instant : public Entity {
public:
  void print(std::ostream& os) const;
  std::string toString() const override;

  int getTime() const { return m_time; }
  double getLowerMin() const { return m_lowerMin; }
  double getLowerMax() const { return m_lowerMax; }
  double getUpperMin() const { return m_upperMin; }
  double getUpperMax() const { return m_upperMax; }
  const TransactionSet& getTransactions() const { return m_transactions; }
  // What the level here was summed from: the initial level, the total limits and every change
  // that may have happened by this time, not those that can only come later.
  const Rounding& getRounding() const { return m_rounding; }
  // The instant keeps owning the problems listed here.
  std::list<ResourceViolationId>& getResourceViolations() { return m_violations; }
  std::list<ResourceFlawId>& getResourceFlaws() { return m_flaws; }

protected:
  friend class Resource;

  explicit Instant(int time);
  virtual ~Instant();

  const InstantId& getId() const { return m_id; }
  // A token already here is not added twice.
  void insert(const TransactionId& tx);
  // Also drops every problem recorded here; true when the token was here.
  bool remove(const TransactionId& tx);
  void updateBounds(double lowerMin, double lowerMax, double upperMin, double upperMax);
  void setRounding(const Rounding& rounding) { m_rounding = rounding; }
  void addResourceViolation(ResourceProblem::Type type);
  void addResourceFlaw(ResourceProblem::Type type);
  // Deletes the problems; tokens and bounds stay.
  void reset();
  bool isValid() const;

private:
  InstantId m_id;
  int m_time;
  double m_lowerMin;
  double m_lowerMax;
  double m_upperMin;
  double m_upperMax;
  Rounding m_rounding;
  TransactionSet m_transactions;
  std::list<ResourceViolationId> m_violations;
  std::list<ResourceFlawId> m_flaws;
};

}

#endif
