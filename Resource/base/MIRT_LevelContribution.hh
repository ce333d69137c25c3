#ifndef KORVAN_MIRT_LEVELCONTRIBUTION_HH
#define KORVAN_MIRT_LEVELCONTRIBUTION_HH

namespace KORVAN {
namespace MIRT {

// What one transaction, with its quantity in [qlb, qub], adds to a level once
// it has happened, and to which totals. Every profile kind reads it from here,
// so that the level bounds, the flow networks and the totals agree.
//
// A producer raises the level by its quantity, a consumer lowers it: the
// lower bound of a level takes the least it may add (a producer's qlb, a
// consumer's -qub), the upper bound the most (a producer's qub, a consumer's
// -qlb). Its quantity goes into the consumption totals of a consumer and the
// production totals of a producer, qlb into the minimum ones and qub into the
// maximum ones.
//
// The negations are exact, so `level += toLowerBound()` is bit for bit
// `level -= qub` for a consumer: sums keep the order their callers add in.
struct LevelContribution {
  double qlb;
  double qub;
  bool consumer;

  double toLowerBound() const { return consumer ? -qub : qlb; }
  double toUpperBound() const { return consumer ? -qlb : qub; }
  double toBound(bool lowerBound) const { return lowerBound ? toLowerBound() : toUpperBound(); }
  // Of a consumption total and a production total, the one it goes into.
  double& total(double& consumption, double& production) const { return consumer ? consumption : production; }
};

}
}

#endif
