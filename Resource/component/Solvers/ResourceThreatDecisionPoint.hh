#ifndef KORVAN_SOLVERS_RESOURCETHREATDECISIONPOINT_HH
#define KORVAN_SOLVERS_RESOURCETHREATDECISIONPOINT_HH

#include "Solvers/base/ThreatDecisionPoint.hh"

namespace KORVAN {
namespace SOLVERS {

// The decision point of the "ResourceThreat" handler: orders the current
// (predecessor, successor) pair of tokens on its object through the database
// client, and frees that ordering on undo before moving to the next pair.
class ResourceThreatDecisionPoint : public ThreatDecisionPoint {
public:
  ResourceThreatDecisionPoint(const DbClientId& client, const TokenId& tokenToOrder,
                              const TiXmlElement& configData, const LabelStr& explanation);
  ~ResourceThreatDecisionPoint() override;

  bool hasNext() const override { return ThreatDecisionPoint::hasNext(); }
  void handleExecute() override;
  void handleUndo() override;
};

}
}

#endif
