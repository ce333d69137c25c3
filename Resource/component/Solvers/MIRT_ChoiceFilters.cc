#include "Resource/component/Solvers/MIRT_ChoiceFilters.hh"

#include <memory>
#include "Resource/base/Limits.hh"
#include "Resource/base/MIRT_FVDetector.hh"
#include "Resource/component/MIRT_FlowProfile.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

#include <cstddef>

namespace KORVAN {
namespace MIRT {

bool ChoiceFilter::sides(const TransactionId&, bool&, bool&) const { return false; }

/*
 * DefaultChoiceFilter
 */

DefaultChoiceFilter::DefaultChoiceFilter(FlowProfile* profile, const LabelStr& explanation, const InstantId& inst)
  : m_profile(profile), m_explanation(explanation), m_inst(inst), m_treatAsLowerFlaw(true) {
  check_error(m_inst.isValid());
  const bool lower = m_inst->hasLowerLevelFlaw();
  const bool upper = m_inst->hasUpperLevelFlaw();
  if (!(lower && upper)) {
    m_treatAsLowerFlaw = lower && !upper;
    debugMsg("ThreatDecisionPoint:filter", "Instant is only flawed on the "
             << (m_treatAsLowerFlaw ? "lower" : "upper") << " level.");
    return;
  }
  debugMsg("ThreatDecisionPoint:filter", "Instant is flawed on both levels.");
  const std::string text = m_explanation.toString();
  if (m_explanation == LabelStr("lowerLevelFlaw") || text.find("Lower") != std::string::npos)
    m_treatAsLowerFlaw = true;
  else if (m_explanation == LabelStr("upperLevelFlaw") || text.find("Upper") != std::string::npos)
    m_treatAsLowerFlaw = false;
  else {
    // Magnitudes of sums of decimals that tie in decimals tie here too.
    m_treatAsLowerFlaw =
      !beyondRounding(m_inst->getUpperFlawMagnitude(), m_inst->getLowerFlawMagnitude(), roundingAt(m_inst));
    debugMsg("ThreatDecisionPoint:filter", "Treating as " << (m_treatAsLowerFlaw ? "lower" : "upper")
             << " flaw because of magnitude.  Lower: " << m_inst->getLowerFlawMagnitude()
             << " Upper: " << m_inst->getUpperFlawMagnitude());
  }
}

bool DefaultChoiceFilter::recordedContribution(const TransactionId& t, InstantId& earliest) const {
  // Only the flow profiles record where a transaction starts to count; on any other profile
  // there is nothing to judge by, and a shipped configuration must not end the run there.
  if (m_profile == NULL) {
    debugMsg("ThreatDecisionPoint:filter", "No flow profile to read the contribution of " << t->toString()
             << " from; keeping the choice.");
    return false;
  }
  const bool contributing = m_treatAsLowerFlaw ? m_profile->getEarliestLowerLevelInstant(t, earliest)
                                               : m_profile->getEarliestUpperLevelInstant(t, earliest);
  // The pass that flagged the instant recorded every transaction it holds, where that one began
  // to count (no run of the tests, scheduling instances included, finds one without). The
  // tables say nothing of a transaction the instant does not hold, and pruning on no
  // information could lose solutions: such a choice is kept.
  if (!contributing || !earliest.isValid()) {
    debugMsg("ThreatDecisionPoint:filter", "Should always have an instant for transaction " << t->toString()
             << "; none is recorded, keeping the choice.");
    return false;
  }
  return true;
}

bool DefaultChoiceFilter::operator()(const OrderingChoice& choice) const {
  // Only a production placed before a consumption can raise the lowest level at the instant,
  // and only a consumption before a production can lower the highest. Any other ordering
  // leaves the flaw where it is, and the search would go on stacking such orderings in every
  // sequence before it could give up.
  const bool resolves = m_treatAsLowerFlaw ? !choice.first->isConsumer() && choice.second->isConsumer()
                                           : choice.first->isConsumer() && !choice.second->isConsumer();
  condDebugMsg(!resolves, "ThreatDecisionPoint:filter", "Rejecting choice that cannot move the "
               << (m_treatAsLowerFlaw ? "lower" : "upper") << " level.");
  return resolves;
}

bool DefaultChoiceFilter::sides(const TransactionId& t, bool& asPredecessor, bool& asSuccessor) const {
  asPredecessor = t->isConsumer() != m_treatAsLowerFlaw;
  asSuccessor = !asPredecessor;
  return true;
}

std::string DefaultChoiceFilter::toString() const { return "DefaultFilter"; }

/*
 * SuccessorContributingChoiceFilter
 */

SuccessorContributingChoiceFilter::SuccessorContributingChoiceFilter(FlowProfile* profile,
                                                                     const LabelStr& explanation,
                                                                     const InstantId& inst)
  : DefaultChoiceFilter(profile, explanation, inst) {}

bool SuccessorContributingChoiceFilter::operator()(const OrderingChoice& choice) const {
  bool asPredecessor = true, asSuccessor = true;
  sides(choice.second, asPredecessor, asSuccessor);
  return asSuccessor;
}

bool SuccessorContributingChoiceFilter::sides(const TransactionId& t, bool& asPredecessor, bool& asSuccessor) const {
  asPredecessor = true;
  asSuccessor = false;
  if (m_treatAsLowerFlaw && !t->isConsumer()) {
    debugMsg("ThreatDecisionPoint:filter:successor",
             "Rejecting choice because flaw is lower level and successor is a producer.");
    return true;
  }
  if (!m_treatAsLowerFlaw && t->isConsumer()) {
    debugMsg("ThreatDecisionPoint:filter:successor",
             "Rejecting choice because flaw is upper level and successor is a consumer.");
    return true;
  }
  InstantId earliest;
  asSuccessor = !recordedContribution(t, earliest) || earliest->getTime() <= m_inst->getTime();
  condDebugMsg(!asSuccessor, "ThreatDecisionPoint:filter:successor",
               "Rejecting choice because successor is not contributing at this instant.");
  return true;
}

std::string SuccessorContributingChoiceFilter::toString() const { return "SuccessorContributingFilter"; }

/*
 * PredecessorNotContributingChoiceFilter
 */

PredecessorNotContributingChoiceFilter::PredecessorNotContributingChoiceFilter(FlowProfile* profile,
                                                                               const LabelStr& explanation,
                                                                               const InstantId& inst)
  : DefaultChoiceFilter(profile, explanation, inst) {}

bool PredecessorNotContributingChoiceFilter::operator()(const OrderingChoice& choice) const {
  bool asPredecessor = true, asSuccessor = true;
  sides(choice.first, asPredecessor, asSuccessor);
  return asPredecessor;
}

bool PredecessorNotContributingChoiceFilter::sides(const TransactionId& t, bool& asPredecessor,
                                                   bool& asSuccessor) const {
  asPredecessor = false;
  asSuccessor = true;
  if (m_treatAsLowerFlaw && t->isConsumer()) {
    debugMsg("ThreatDecisionPoint:filter:predecessorNot",
             "Rejecting choice because flaw is lower level and  predecessor is a consumer.");
    return true;
  }
  if (!m_treatAsLowerFlaw && !t->isConsumer()) {
    debugMsg("ThreatDecisionPoint:filter:predecessorNot",
             "Rejecting choice because flaw is upper level and predecessor is a producer.");
    return true;
  }
  InstantId earliest;
  asPredecessor = !recordedContribution(t, earliest) || earliest->getTime() > m_inst->getTime();
  condDebugMsg(!asPredecessor, "ThreatDecisionPoint:filter:predecessorNot",
               "Rejecting choice because predecessor is contributing at this instant.");
  return true;
}

std::string PredecessorNotContributingChoiceFilter::toString() const { return "PredecessorNotContributingFilter"; }

/*
 * ChoiceFilters
 */

ChoiceFilters::~ChoiceFilters() {
  for (std::list<ChoiceFilter*>::iterator it = m_filters.begin(); it != m_filters.end(); ++it)
    delete *it;
  m_filters.clear();
}

void ChoiceFilters::addFilter(ChoiceFilter* filter) {
  checkError(filter != NULL, "");
  // Held before the line is written: a debug line that fails must not strand it.
  std::unique_ptr<ChoiceFilter> owned(filter);
  m_filters.push_back(filter);
  owned.release();
  debugMsg("ThreatDecisionPoint:filter", "Adding filter " << filter->toString());
}

bool ChoiceFilters::sides(const TransactionId& t, bool& asPredecessor, bool& asSuccessor) const {
  asPredecessor = asSuccessor = true;
  for (std::list<ChoiceFilter*>::const_iterator it = m_filters.begin(); it != m_filters.end(); ++it) {
    bool predecessor = true, successor = true;
    if (!(*it)->sides(t, predecessor, successor))
      return false;
    asPredecessor = asPredecessor && predecessor;
    asSuccessor = asSuccessor && successor;
  }
  return true;
}

bool ChoiceFilters::operator()(const OrderingChoice& choice) const {
  for (std::list<ChoiceFilter*>::const_iterator it = m_filters.begin(); it != m_filters.end(); ++it) {
    debugMsg("ThreatDecisionPoint:filter", "Testing <" << choice.first->toString() << ", "
             << choice.second->toString() << ">");
    if (!(**it)(choice)) {
      debugMsg("ThreatDecisionPoint:filter", "Filtering out <" << choice.first->toString() << ", "
               << choice.second->toString() << "> because of " << (*it)->toString());
      return false;
    }
  }
  debugMsg("ThreatDecisionPoint:filter", "<" << choice.first->toString() << ", " << choice.second->toString()
           << "> passed.");
  return true;
}

}
}
