#ifndef KORVAN_MIRT_TIMETABLEFVDETECTOR_HH
#define KORVAN_MIRT_TIMETABLEFVDETECTOR_HH

#include "Resource/base/MIRT_FVDetector.hh"

namespace KORVAN {
namespace MIRT {

// Violations only, never flaws: a limit is reported broken when what must
// happen already exceeds it, or when the level stays outside its limits even
// if all the production (consumption) still allowed happened.
class TimetableFVDetector : public FVDetector {
public:
  TimetableFVDetector(Id<Resource> res);
  virtual ~TimetableFVDetector();

  bool detect(InstantId inst) override;

protected:
  virtual ResourceProblem::Type getResourceProblem(const InstantId& inst) const;

private:
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
