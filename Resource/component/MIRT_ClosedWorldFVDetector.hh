#ifndef KORVAN_MIRT_CLOSEDWORLDFVDETECTOR_HH
#define KORVAN_MIRT_CLOSEDWORLDFVDETECTOR_HH

#include "Resource/component/MIRT_GenericFVDetector.hh"

namespace KORVAN {
namespace MIRT {

// Level limits judged on the computed envelope as final: a violation when
// even its most favourable bound lies beyond a limit, a flaw when its least
// favourable one does.
class ClosedWorldFVDetector : public GenericFVDetector {
public:
  ClosedWorldFVDetector(Id<Resource> res);
  virtual ~ClosedWorldFVDetector();

protected:
  ResourceProblem::Type getResourceLevelViolation(InstantId inst) const override;
  void handleResourceLevelFlaws(InstantId inst) override;
};

}
}

#endif
