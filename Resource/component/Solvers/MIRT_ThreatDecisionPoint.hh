#ifndef KORVAN_MIRT_THREATDECISIONPOINT_HH
#define KORVAN_MIRT_THREATDECISIONPOINT_HH

#include "Resource/base/MIRT_Instant.hh"
#include "Resource/component/Solvers/MIRT_ChoiceFilters.hh"
#include "Resource/component/Solvers/MIRT_ChoiceOrder.hh"
#include "Solvers/base/DecisionPoint.hh"
#include "Utils/base/LabelStr.hh"

#include <set>
#include <string>
#include <vector>

namespace KORVAN {
namespace MIRT {

class Profile;

// A handler element's attributes, read once: the words "filter", "order", "constraint" and
// "iterate" and what they give. Reading refuses bad "constraint" and "iterate" words at once;
// "filter" and "order" words are refused by checkWords, or when a decision point uses them.
struct ThreatConfiguration {
  std::string filter;                        // the filter word
  std::string order;                         // the order, with the key tie-breaks appended
  std::vector<std::string> constraintNames;  // one or two, in the order they are tried
  std::string iterate;                       // "pairFirst" or "constraintFirst"

  static ThreatConfiguration read(const TiXmlElement& configData);
  void checkWords() const;
  static void checkFilter(const std::string& word);
  // Every attribute of the element that the decision points read.
  static const std::vector<std::string>& attributes();
};

// Resolves one flawed instant of a profile-based resource: takes the
// resource's ordering choices, keeps those the configured filters accept,
// sorts them by the configured order, and posts one "precedes" or
// "concurrent" constraint between the chosen pair's time variables per
// execution. Configuration attributes: "filter", "order", "constraint",
// "iterate".
class ThreatDecisionPoint : public SOLVERS::DecisionPoint {
public:
  ThreatDecisionPoint(const DbClientId& client, const InstantId& flawedInstant,
                      const TiXmlElement& configData, const LabelStr& explanation);
  ThreatDecisionPoint(const DbClientId& client, const InstantId& flawedInstant,
                      const ThreatConfiguration& config, const LabelStr& explanation);
  virtual ~ThreatDecisionPoint();

  // Only profile instants are resolved here.
  static bool test(const EntityId& entity);
  static std::string handledEntityType();
  /// Refuses a handler element whose "filter", "order", "constraint" or "iterate" word the
  /// decision points would refuse, so that a bad configuration fails when it is read.
  static void checkConfiguration(const TiXmlElement& configData);
  /// An "order" word read as another: one that holds more than a comparator and a side.
  static std::vector<std::string> configurationWarnings(const TiXmlElement& configData);
  static const std::vector<std::string>& configurationAttributes() { return ThreatConfiguration::attributes(); }

  std::string toString() const override;
  std::string toShortString() const override;
  std::string getChoiceSignature() const override;
  std::string toString(const OrderingChoice& choice) const;

  bool canUndo() const override;
  void handleInitialize() override;
  bool hasNext() const override;
  void handleExecute() override;
  void handleUndo() override;

  void createFilter(ChoiceFilters& filters, const std::string& filter, const Id<Profile>& profile);
  void createOrder(ChoiceOrder& order);
  static void parseOrder(const std::string& text, ChoiceOrder& order);
  // Whether any line of the look-up, the filters or the comparisons is on: then the choices are
  // also listed as those lines name them.
  static bool choiceLinesWanted();

  const std::vector<OrderingChoice>& getChoices() const { return m_choices; }
  unsigned int getChoiceCount() const { return m_choiceCount; }
  unsigned int getIndex() const { return m_index; }
  const ConstraintId& getConstraint() const { return m_constr; }
  const std::string& getOrder() const { return m_order; }
  const std::string& getFilter() const { return m_filter; }
  const std::string& getConstraintOrder() const { return m_constraintOrder; }
  const std::vector<std::string>& getConstraintNames() const { return m_constraintNames; }
  // The constraint name that the next execution posts ("" past the last one).
  std::string getCurrentConstraintName() const;

private:
  InstantId m_flawedInstant;
  std::vector<OrderingChoice> m_choices;
  unsigned int m_choiceCount;
  unsigned int m_index;
  ConstraintId m_constr;
  int m_instTime;
  LabelStr m_resName;
  std::string m_order;
  std::set<unsigned int> m_refuted; // choices whose "precedes" has been tried and undone
  std::string m_filter;
  std::string m_constraintOrder; // the "iterate" word: which of pair and constraint name moves first
  std::vector<std::string> m_constraintNames;
  std::vector<std::string>::const_iterator m_constraintIt;
};

}
}

#endif
