#ifndef KORVAN_MIRT_RESOURCEPROBLEM_HH
#define KORVAN_MIRT_RESOURCEPROBLEM_HH

namespace KORVAN {
namespace MIRT {

// The kinds of resource problem a detector reports.
class ResourceProblem {
public:
  enum Type {
    NoProblem = -1,
    ProductionRateExceeded = 0,
    ConsumptionRateExceeded,
    ProductionSumExceeded,
    ConsumptionSumExceeded,
    LevelTooHigh,
    LevelTooLow
  };

  // The enumerator's name, for the six problems (not NoProblem).
  static const char* getString(Type type);
};

}
}

#endif
