#ifndef KORVAN_MIRT_OPENWORLDFVDETECTOR_HH
#define KORVAN_MIRT_OPENWORLDFVDETECTOR_HH

#include "Resource/component/MIRT_GenericFVDetector.hh"

namespace KORVAN {
namespace MIRT {

// Level limits judged with room for what may still be produced or consumed:
// a violation only when the level stays beyond a limit even after all the
// production (consumption) still allowed, a flaw only when the inner bounds
// of the envelope lie beyond a limit.
class OpenWorldFVDetector : public GenericFVDetector {
public:
  OpenWorldFVDetector(Id<Resource> res);
  virtual ~OpenWorldFVDetector();

protected:
  ResourceProblem::Type getResourceLevelViolation(InstantId inst) const override;
  void handleResourceLevelFlaws(InstantId inst) override;
};

}
}

#endif
