#ifndef KORVAN_MIRT_GENERICFVDETECTOR_HH
#define KORVAN_MIRT_GENERICFVDETECTOR_HH

#include "Resource/base/MIRT_FVDetector.hh"

namespace KORVAN {
namespace MIRT {

// Judges the rate and sum limits of a resource at each instant, violations on
// the instant's minimum totals and flaws on its maximum totals, and leaves the
// level limits to its subclasses. Every comparison is strict.
class GenericFVDetector : public FVDetector {
public:
  GenericFVDetector(Id<Resource> res);
  virtual ~GenericFVDetector();

  bool detect(InstantId inst) override;

protected:
  virtual ResourceProblem::Type getResourceLevelViolation(InstantId inst) const = 0;
  // Marks the instant flawed, with the side and magnitude, for each level
  // limit the level may cross; never clears a mark.
  virtual void handleResourceLevelFlaws(InstantId inst) = 0;

  ResourceProblem::Type getResourceViolation(InstantId inst) const;
  void handleResourceFlaws(InstantId inst);

  // Copies of the resource's limits, taken when the detector is made.
  double m_lowerLimit;
  double m_upperLimit;
  double m_maxInstConsumption;
  double m_maxInstProduction;
  double m_maxCumulativeConsumption;
  double m_maxCumulativeProduction;
};

}
}

#endif
