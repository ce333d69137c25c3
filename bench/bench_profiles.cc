// Profile recomputation: timetable, flow and incremental flow profiles over
// the same transactions, each pass covering the whole profile.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "Resource/base/MIRT_FVDetector.hh"
#include "Resource/base/MIRT_ProfilePropagator.hh"
#include "Resource/component/MIRT_FlowProfile.hh"
#include "Resource/component/MIRT_IncrementalFlowProfile.hh"
#include "Resource/component/MIRT_TimetableProfile.hh"

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

class NoDetector : public FVDetector {
public:
  NoDetector() : FVDetector(Id<Resource>()) {}
  bool detect(InstantId) override { return false; }
};

// n producers and consumers with time windows of width 0..40 on a horizon of
// 2n (about ten pending at any time) and quantities [q, q+2], with n/10
// random precedences that a hidden schedule satisfies.
struct World {
  explicit World(int n) {
    ce = new ConstraintEngine();
    schema = new Schema();
    db = new PlanDatabase(ce->getId(), schema->getId());
    new ProfilePropagator(LabelStr("MIRT_Resource"), ce->getId());
    std::mt19937 rng(12345);
    std::vector<int> schedule;
    for (int i = 0; i < n; ++i) {
      const int lb = (int) (rng() % (2 * n)), ub = lb + (int) (rng() % 41);
      const double q = (double) (1 + rng() % 5);
      schedule.push_back(lb + (ub - lb) / 2);
      transactions.push_back(make(lb, ub, rng() % 2 == 0, q, q + 2));
    }
    for (int k = 0; k < n / 10; ++k) {
      const int a = (int) (rng() % n), b = (int) (rng() % n);
      if (a != b && schedule[a] <= schedule[b])
        ce->createConstraint(LabelStr("precedes"), {transactions[a]->time(), transactions[b]->time()});
    }
    ce->propagate();
    extra = make(0, 2 * n, true, 1, 1);
  }
  ~World() {
    for (Transaction* t : owned)
      delete t;
    delete db;
    delete ce;
    delete schema;
  }
  TransactionId make(int lb, int ub, bool consumer, double qlb, double qub) {
    ConstrainedVariable* time = new Variable<IntervalIntDomain>(ce->getId(), IntervalIntDomain(lb, ub));
    ConstrainedVariable* quantity = new Variable<IntervalDomain>(ce->getId(), IntervalDomain(qlb, qub));
    owned.push_back(new Transaction(time->getId(), quantity->getId(), consumer));
    return owned.back()->getId();
  }
  ConstraintEngine* ce;
  Schema* schema;
  PlanDatabase* db;
  std::vector<Transaction*> owned;
  std::vector<TransactionId> transactions;
  TransactionId extra;
};

// One iteration: a transaction starting at the first instant comes and goes,
// each time followed by a recomputation of the whole profile.
template <class P>
void BM_Recompute(benchmark::State& state) {
  World w((int) state.range(0));
  NoDetector detector;
  P profile(w.db->getId(), detector.getId(), 0.0, 0.0);
  for (TransactionId t : w.transactions)
    profile.addTransaction(t);
  profile.recompute();
  for (auto _ : state) {
    profile.addTransaction(w.extra);
    profile.recompute();
    profile.removeTransaction(w.extra);
    profile.recompute();
  }
  state.SetItemsProcessed(2 * state.iterations());
}

}

BENCHMARK_TEMPLATE(BM_Recompute, TimetableProfile)->Arg(50)->Arg(200)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Recompute, FlowProfile)->Arg(50)->Arg(200)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Recompute, IncrementalFlowProfile)->Arg(50)->Arg(200)->Arg(1000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
