#ifndef KORVAN_SOLVERS_THREATDECISIONPOINT_HH
#define KORVAN_SOLVERS_THREATDECISIONPOINT_HH

#include <string>
#include <utility>
#include <vector>

#include "Solvers/base/DecisionPoint.hh"

namespace KORVAN {
namespace SOLVERS {

/// Orders a token against the other tokens of its object(s). The choices come from each object
/// that the token's object variable still allows (in object key order), as the object's
/// getOrderingChoices gives them: (object, (predecessor, successor)). Execution orders the
/// current pair on its object through the client; undo frees it and moves to the next choice.
class ThreatDecisionPoint : public DecisionPoint {
public:
  typedef std::pair<ObjectId, std::pair<TokenId, TokenId>> Choice;

  ThreatDecisionPoint(const DbClientId& client, const TokenId& tokenToOrder,
                      const TiXmlElement& configData, const LabelStr& explanation);
  virtual ~ThreatDecisionPoint();

  /// Only tokens can be ordered.
  static bool test(const EntityId& entity);
  static std::string handledEntityType();

  bool hasNext() const override { return m_index < m_choiceCount; }
  std::string toString() const override;
  std::string toShortString() const override;
  std::string getChoiceSignature() const override;

  const TokenId& getToken() const { return m_tokenToOrder; }
  unsigned int getChoiceCount() const { return m_choiceCount; }
  unsigned int getIndex() const { return m_index; }
  const std::vector<Choice>& getChoices() const { return m_choices; }

  /// The parts of the choice at the index (which must be below the choice count).
  void extractParts(unsigned int index, ObjectId& object, TokenId& predecessor,
                    TokenId& successor) const;

  void handleInitialize() override;
  void handleExecute() override;
  void handleUndo() override;

protected:
  TokenId m_tokenToOrder;
  std::vector<Choice> m_choices;
  unsigned int m_choiceCount;
  unsigned int m_index;
};

} // namespace SOLVERS
} // namespace KORVAN

#endif
