#ifndef KORVAN_MIRT_TIMETABLEPROFILE_HH
#define KORVAN_MIRT_TIMETABLEPROFILE_HH

#include "Resource/base/MIRT_Profile.hh"

#include <vector>

namespace KORVAN {
namespace MIRT {

// Level bounds from each transaction's own time and quantity bounds, with no
// regard to orderings: for the lower level consumers happen as early and
// producers as late as they may, for the upper level the reverse. The only
// profile kind that also sums instantaneous and cumulative production and
// consumption, which the timetable detector judges.
class TimetableProfile : public Profile {
public:
  TimetableProfile(Id<PlanDatabase> db, Id<FVDetector> flawDetector, double initCapacityLb,
                   double initCapacityUb);
  virtual ~TimetableProfile();

  void getTransactionsToOrder(const InstantId& inst, std::vector<TransactionId>& results) override;

private:
  void initRecompute(InstantId inst) override;
  void initRecompute() override;
  void recomputeLevels(InstantId prev, InstantId inst) override;

  // Running state of one walk: the levels after the instants visited so far
  // and the sums of the transactions that have ended.
  double m_lowerLevelMin;
  double m_lowerLevelMax;
  double m_upperLevelMin;
  double m_upperLevelMax;
  double m_minPrevConsumption;
  double m_maxPrevConsumption;
  double m_minPrevProduction;
  double m_maxPrevProduction;

  // Quantity bounds of what ends at the current instant, read in the walk over
  // its transactions and carried into the sums once the instant is updated.
  struct Ending {
    double qlb;
    double qub;
    bool consumer;
  };
  std::vector<Ending> m_ending;
};

}
}

#endif
