#ifndef KORVAN_MIRT_THREATMANAGER_HH
#define KORVAN_MIRT_THREATMANAGER_HH

#include "Resource/base/MIRT_Instant.hh"
#include "Resource/component/Solvers/MIRT_ComparatorChain.hh"
#include "Solvers/base/FlawManager.hh"
#include "Utils/base/LabelStr.hh"

#include <list>
#include <map>
#include <string>
#include <vector>

namespace KORVAN {
namespace MIRT {

// One criterion for ranking two flawed instants: true when a is to be handled
// before b. Comparators are owned by the DecisionOrder that holds them.
class InstantComparator {
public:
  // Which level's flaw magnitude the "most" and "least" comparators measure.
  enum FlawDirection { ABSOLUTE = 0, UPPER = 1, LOWER = 2 };

  virtual ~InstantComparator() {}
  virtual bool operator()(const InstantId& a, const InstantId& b) const = 0;
  // The label that becomes the solver's explanation when this comparator decides.
  virtual std::string toString() const = 0;
  virtual InstantComparator* copy() const = 0;
  static const char* debugMarker() { return "ThreatManager:betterThan"; }
};

class EarliestInstantComparator : public InstantComparator {
public:
  bool operator()(const InstantId& a, const InstantId& b) const override;
  std::string toString() const override;
  InstantComparator* copy() const override;
};

class LatestInstantComparator : public InstantComparator {
public:
  bool operator()(const InstantId& a, const InstantId& b) const override;
  std::string toString() const override;
  InstantComparator* copy() const override;
};

class UpperInstantComparator : public InstantComparator {
public:
  bool operator()(const InstantId& a, const InstantId& b) const override;
  std::string toString() const override;
  InstantComparator* copy() const override;
};

class LowerInstantComparator : public InstantComparator {
public:
  bool operator()(const InstantId& a, const InstantId& b) const override;
  std::string toString() const override;
  InstantComparator* copy() const override;
};

class MostInstantComparator : public InstantComparator {
public:
  MostInstantComparator(const FlawDirection& dir) : m_dir(dir) {}
  bool operator()(const InstantId& a, const InstantId& b) const override;
  std::string toString() const override;
  InstantComparator* copy() const override;

private:
  FlawDirection m_dir;
};

class LeastInstantComparator : public InstantComparator {
public:
  LeastInstantComparator(const FlawDirection& dir) : m_dir(dir) {}
  bool operator()(const InstantId& a, const InstantId& b) const override;
  std::string toString() const override;
  InstantComparator* copy() const override;

private:
  FlawDirection m_dir;
};

// The ranking of flawed instants: the first comparator that separates two instants decides.
class DecisionOrder : public ComparatorChain<InstantComparator> {
public:
  // True when a goes first; then the explanation is the deciding comparator's label.
  bool operator()(const InstantId& a, const InstantId& b, LabelStr& explanation) const;
};

// The solver's flaw manager for resource threats: the instants that
// profile-based resources record as flawed, ranked by the comparators named in
// the "order" attribute (default "lower,most,earliest").
class ThreatManager : public SOLVERS::FlawManager {
public:
  ThreatManager(const TiXmlElement& configData);
  ~ThreatManager() override;

  IteratorId createIterator() override;
  std::string flawEntityType() const override;

  void notifyAdded(const ConstraintId&) override {}
  void notifyRemoved(const ConstraintId&) override {}
  void notifyRemoved(const ConstrainedVariableId&) override {}
  void notifyChanged(const ConstrainedVariableId&, const DomainListener::ChangeType&) override {}
  void notifyAdded(const TokenId&) override {}
  void notifyRemoved(const TokenId&) override {}

  // "THREAT: <time> on <resource>"
  std::string toString(const EntityId& entity) const override;
  std::string toString() const override { return SOLVERS::FlawManager::toString(); }

  // True for every entity that is not a profile instant (not ours).
  bool staticMatch(const EntityId& entity) override;
  bool dynamicMatch(const EntityId& entity) override;

  bool betterThan(const EntityId& a, const EntityId& b, LabelStr& explanation) override;
  // A lone flawed instant is first by the order's first comparator.
  LabelStr soleFlawExplanation(const EntityId& flaw) override;

  const DecisionOrder& getOrder() const { return m_order; }
  void getAttributes(std::vector<std::string>& names) const override {
    SOLVERS::FlawManager::getAttributes(names);
    names.push_back("order");
  }

protected:
  void handleInitialize() override {}

private:
  // Warns of the order entry just added when it can never decide after the earlier ones;
  // taken holds the labels added so far, each with its entry.
  void warnIfNeverDeciding(const std::string& entry, std::map<std::string, std::string>& taken);

  bool m_preferUpper;
  bool m_preferLower;
  DecisionOrder m_order;
};

// The flawed instants of every profile-based resource, gathered once at
// construction from the resources' records (nothing is recomputed):
// resources in increasing key, each resource's instants in increasing time.
class ThreatIterator : public SOLVERS::FlawIterator {
public:
  ThreatIterator(ThreatManager& manager);
  ~ThreatIterator() override;

private:
  const EntityId nextCandidate() override;

  std::vector<InstantId> m_flawedInstants;
  std::vector<InstantId>::const_iterator m_it;
};

}
}

#endif
