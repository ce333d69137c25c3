#ifndef KORVAN_MIRT_CHOICEFILTERS_HH
#define KORVAN_MIRT_CHOICEFILTERS_HH

#include "Resource/base/MIRT_Instant.hh"
#include "Resource/component/Solvers/MIRT_ChoiceOrder.hh"
#include "Utils/base/LabelStr.hh"

#include <list>
#include <string>

namespace KORVAN {
namespace MIRT {

class FlowProfile;

// Decides whether an ordering choice may relieve a flawed instant.
class ChoiceFilter {
public:
  virtual bool operator()(const OrderingChoice& choice) const = 0;
  virtual std::string toString() const = 0;
  virtual ~ChoiceFilter() {}
  // For a filter that keeps a choice exactly when it keeps the predecessor as one and the
  // successor as the other: true, with what it says of t on each side. False otherwise.
  virtual bool sides(const TransactionId& t, bool& asPredecessor, bool& asSuccessor) const;
};

// Keeps every choice. Its constructor settles whether the flaw is handled as
// a lower-level or an upper-level one: by the instant's flags, and when both
// are set by the explanation ("Lower"/"Upper" in it), else by the larger
// magnitude (ties lower).
class DefaultChoiceFilter : public ChoiceFilter {
public:
  DefaultChoiceFilter(FlowProfile* profile, const LabelStr& explanation, const InstantId& inst);
  bool operator()(const OrderingChoice& choice) const override;
  std::string toString() const override;
  bool sides(const TransactionId& t, bool& asPredecessor, bool& asSuccessor) const override;

  bool treatAsLowerFlaw() const { return m_treatAsLowerFlaw; }

protected:
  // The instant from which the flow profile records t as counting towards
  // the flaw's level; fails when it holds no record of t.
  bool recordedContribution(const TransactionId& t, InstantId& earliest) const;

  FlowProfile* m_profile;
  LabelStr m_explanation;
  InstantId m_inst;
  bool m_treatAsLowerFlaw;
};

// Keeps a choice whose successor is on the side that causes the flaw and
// already counts towards that level at the flawed instant.
class SuccessorContributingChoiceFilter : public DefaultChoiceFilter {
public:
  SuccessorContributingChoiceFilter(FlowProfile* profile, const LabelStr& explanation, const InstantId& inst);
  bool operator()(const OrderingChoice& choice) const override;
  std::string toString() const override;
  bool sides(const TransactionId& t, bool& asPredecessor, bool& asSuccessor) const override;
};

// Keeps a choice whose predecessor is on the side that relieves the flaw and
// does not yet count towards that level at the flawed instant.
class PredecessorNotContributingChoiceFilter : public DefaultChoiceFilter {
public:
  PredecessorNotContributingChoiceFilter(FlowProfile* profile, const LabelStr& explanation, const InstantId& inst);
  bool operator()(const OrderingChoice& choice) const override;
  std::string toString() const override;
  bool sides(const TransactionId& t, bool& asPredecessor, bool& asSuccessor) const override;
};

// All filters must keep a choice; owns its filters.
class ChoiceFilters {
public:
  ChoiceFilters() {}
  ~ChoiceFilters();

  void addFilter(ChoiceFilter* filter);
  bool operator()(const OrderingChoice& choice) const;
  // As ChoiceFilter::sides, for all the filters together.
  bool sides(const TransactionId& t, bool& asPredecessor, bool& asSuccessor) const;

  const std::list<ChoiceFilter*>& getFilters() const { return m_filters; }

private:
  ChoiceFilters(const ChoiceFilters&) = delete;
  ChoiceFilters& operator=(const ChoiceFilters&) = delete;

  std::list<ChoiceFilter*> m_filters;
};

}
}

#endif
