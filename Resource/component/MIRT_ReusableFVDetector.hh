#ifndef KORVAN_MIRT_REUSABLEFVDETECTOR_HH
#define KORVAN_MIRT_REUSABLEFVDETECTOR_HH

#include "Resource/base/MIRT_FVDetector.hh"

namespace KORVAN {
namespace MIRT {

// The detector of reusable resources and unary timelines. Each instant is
// violated (a maximum is exceeded or the whole level envelope lies outside
// the limits), flawed (the envelope reaches beyond a limit) or clean.
// Production is bounded by the consumption limits: what is given back can
// never exceed what was taken.
class ReusableFVDetector : public FVDetector {
public:
  ReusableFVDetector(Id<Resource> res);
  virtual ~ReusableFVDetector();

  bool detect(InstantId inst) override;

protected:
  virtual ResourceProblem::Type getResourceProblem(const InstantId& inst) const;

private:
  double m_upperLimit;
  double m_lowerLimit;
  double m_maxInstConsumption;
  double m_maxCumulativeConsumption;
};

}
}

#endif
