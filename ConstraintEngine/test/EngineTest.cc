#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintFactory.hh"
#include "ConstraintEngine/base/DefaultPropagator.hh"
#include "ConstraintEngine/base/EnumeratedDomain.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "ConstraintEngine/test/BoundConstraint.hh"
#include "ConstraintEngine/test/Bounds.hh"
#include "Utils/base/Utils.hh"
#include "Utils/test/TestSupport.hh"

using namespace KORVAN;

namespace {

typedef Variable<IntervalIntDomain> IntVar;
typedef std::vector<ConstrainedVariableId> Scope;

/// Records every canIgnore call; narrows nothing.
class Recording : public Constraint {
public:
  Recording(const ConstraintEngineId& ce, const Scope& scope) : Constraint("recording", "Default", ce, scope) {}
  bool canIgnore(const ConstrainedVariableId&, int argIndex, const DomainListener::ChangeType& changeType) override {
    calls.push_back(std::make_pair(argIndex, changeType));
    return true;
  }
  void handleExecute() override {}
  std::vector<std::pair<int, DomainListener::ChangeType>> calls;
};

class Watcher : public ConstrainedVariableListener {
public:
  Watcher(const ConstrainedVariableId& var, std::vector<std::string>& log, bool selfDelete = false)
      : ConstrainedVariableListener(var), m_log(log), m_selfDelete(selfDelete) {}
  void notifyDiscard() override {
    m_log.push_back("discard");
    if (m_selfDelete)
      delete this;
  }
  void notifyConstraintAdded(const ConstraintId& c, int argIndex) override {
    m_log.push_back("add " + c->getName().toString() + " " + std::to_string(argIndex));
    delete victim;
    victim = 0;
  }
  void notifyConstraintRemoved(const ConstraintId& c, int argIndex) override {
    m_log.push_back("remove " + c->getName().toString() + " " + std::to_string(argIndex));
    if (m_selfDelete)
      delete this;
  }
  Watcher* victim = 0;

private:
  std::vector<std::string>& m_log;
  bool m_selfDelete;
};

class EngineTest : public ::testing::Test {
protected:
  void SetUp() override {
    m_ce = new ConstraintEngine();
    ce = m_ce->getId();
    initConstraintLibrary(ce);
  }
  void TearDown() override { delete m_ce; }
  ConstrainedVariableId var(double lb, double ub, const char* name = "v") {
    return (new IntVar(ce, IntervalIntDomain(lb, ub), false, true, name))->getId();
  }
  static double lb(const ConstrainedVariableId& v) { return v->lastDomain().getLowerBound(); }
  static double ub(const ConstrainedVariableId& v) { return v->lastDomain().getUpperBound(); }

  ConstraintEngine* m_ce;
  ConstraintEngineId ce;
};

// Chains of leq and eq under removal are the random rebuild test's below.
TEST_F(EngineTest, FixedPointOnAWorkedExample) {
  // x + y = z and x = w.
  ConstrainedVariableId x = var(1, 5), y = var(2, 3), z = var(0, 4), w = var(0, 10);
  ce->createConstraint("addEq", Scope{x, y, z});
  ce->createConstraint("eq", Scope{x, w});
  EXPECT_TRUE(ce->propagate());
  EXPECT_BOUNDS(z, 3, 4);
  EXPECT_BOUNDS(x, 1, 2);
  EXPECT_BOUNDS(w, 1, 2);
  ConstraintId neq = ce->createConstraint("neq", Scope{x, y});
  y->specify(2);
  EXPECT_TRUE(ce->propagate());
  EXPECT_BOUNDS(x, 1, 1);
  EXPECT_BOUNDS(z, 3, 3);
  EXPECT_EQ(1, w->derivedDomain().getSingletonValue());
  y->reset();
  EXPECT_TRUE(ce->propagate());
  EXPECT_BOUNDS(x, 1, 2);
  EXPECT_BOUNDS(z, 3, 4);
  EXPECT_TRUE(neq.isValid());
}

// y = x + 1 and y <= x: the bounds close in a unit a lap. The prover is asked once the work
// passes its share per constraint and at each doubling after, also in the middle of the
// default propagator's pass; a variable it names is emptied and ends the propagation there.
TEST_F(EngineTest, ACreepAsksItsProverAtEachDoublingOfWork) {
  ConstrainedVariableId x = var(0, 100000, "x"), y = var(0, 100000, "y"), one = var(1, 1, "one");
  ce->createConstraint("addEq", Scope{x, one, y});
  ConstraintId closing = ce->createConstraint("leq", Scope{y, x});
  int asked = 0;
  ConstrainedVariableId named;
  ce->setCreepProver([&]() { return ++asked == 3 ? named : ConstrainedVariableId::noId(); }, 10);
  // Unproved, the creep runs to its end: about 2 x 10^5 units of work, from 30 on.
  EXPECT_FALSE(ce->propagate());
  EXPECT_GE(asked, 12);
  EXPECT_LE(asked, 14);
  closing->discard();
  EXPECT_TRUE(ce->propagate());
  closing = ce->createConstraint("leq", Scope{y, x});
  asked = 0;
  named = x;
  EXPECT_FALSE(ce->propagate());
  EXPECT_EQ(3, asked);
  EXPECT_TRUE(x->lastDomain().isEmpty());
  EXPECT_LT(lb(y), 200);
  // A propagation that ends early asks nothing.
  closing->discard();
  asked = 0;
  EXPECT_TRUE(ce->propagate());
  EXPECT_EQ(0, asked);
  ce->setCreepProver(nullptr, 0);
}

TEST_F(EngineTest, InconsistencyAndRecovery) {
  ConstrainedVariableId x = var(0, 10, "x"), y = var(20, 30, "y"), z = var(0, 100, "z");
  ce->createConstraint("leq", Scope{x, z});
  ConstraintId bad = ce->createConstraint("leq", Scope{y, x});
  EXPECT_FALSE(ce->propagate());
  EXPECT_TRUE(ce->provenInconsistent());
  EXPECT_FALSE(ce->constraintConsistent());
  EXPECT_EQ(1u, ce->getEmptyVariables().size());
  // Reading through derivedDomain() gives the shared empty domain of the class.
  ConstrainedVariableId emptied = *ce->getEmptyVariables().begin();
  const IntervalIntDomain& shared = Id<IntVar>(emptied)->getDerivedDomain();
  EXPECT_TRUE(shared.isEmpty());
  EXPECT_EQ(&shared, &Id<IntVar>(emptied)->getDerivedDomain());
  EXPECT_TRUE(emptied->lastDomain().getLowerBound() >= -g_infiniteTime());
  EXPECT_FALSE(ce->propagate());

  bad->discard();
  EXPECT_FALSE(ce->provenInconsistent());
  EXPECT_TRUE(ce->propagate());
  for (const ConstrainedVariableId& v : {x, y, z})
    EXPECT_TRUE(v->lastDomain() == v->baseDomain()) << v->toString();

  // Emptied outside any constraint: still inconsistent, recovered by a relaxation.
  const_cast<AbstractDomain&>(z->lastDomain()).empty();
  EXPECT_TRUE(ce->provenInconsistent());
  x->relax();
  EXPECT_FALSE(ce->provenInconsistent());
  EXPECT_TRUE(ce->propagate());
  EXPECT_EQ(100, ub(z));
}

TEST_F(EngineTest, ChangeKindsReachCanIgnoreInOrder) {
  ConstrainedVariableId x = var(0, 10), y = var(0, 10);
  Recording* rec = new Recording(ce, Scope{y, x});
  ce->propagate();
  x->restrictBaseDomain(IntervalIntDomain(1, 10)); // LOWER_BOUND_INCREASED
  ConstraintId tight = ce->createConstraint("leq", Scope{x, var(0, 4)});
  ce->propagate();                                  // UPPER_BOUND_DECREASED (leq)
  new Bound(ce, x, 2, 3);
  ce->propagate();                                  // BOUNDS_RESTRICTED
  x->specify(3);                                    // SET_TO_SINGLETON
  x->reset();                                       // RESET
  ce->propagate();                                  // UPPER_BOUND_DECREASED, BOUNDS_RESTRICTED
  tight->discard();                                 // RELAXED
  ce->propagate();                                  // BOUNDS_RESTRICTED
  const_cast<AbstractDomain&>(x->lastDomain()).intersect(3, 3); // RESTRICT_TO_SINGLETON
  const_cast<AbstractDomain&>(x->lastDomain()).empty();          // EMPTIED
  std::vector<std::pair<int, DomainListener::ChangeType>> expected;
  for (DomainListener::ChangeType kind : // x is the second of the scope
       {DomainListener::LOWER_BOUND_INCREASED, DomainListener::UPPER_BOUND_DECREASED, DomainListener::BOUNDS_RESTRICTED,
        DomainListener::SET_TO_SINGLETON, DomainListener::RESET, DomainListener::UPPER_BOUND_DECREASED,
        DomainListener::BOUNDS_RESTRICTED, DomainListener::RELAXED, DomainListener::BOUNDS_RESTRICTED,
        DomainListener::RESTRICT_TO_SINGLETON, DomainListener::EMPTIED})
    expected.push_back(std::make_pair(1, kind));
  EXPECT_EQ(expected, rec->calls);

  // Enumerated variables report value removal, closing and opening.
  Variable<EnumeratedDomain>* e =
      new Variable<EnumeratedDomain>(ce, EnumeratedDomain(std::list<double>{1, 2, 3}));
  Recording* rec2 = new Recording(ce, Scope{e->getId()});
  e->remove(2);
  e->open();
  e->close();
  EXPECT_EQ((std::vector<std::pair<int, DomainListener::ChangeType>>{
                {0, DomainListener::VALUE_REMOVED}, {0, DomainListener::OPENED}, {0, DomainListener::CLOSED}}),
            rec2->calls);
}

TEST_F(EngineTest, VariableListeners) {
  std::vector<std::string> log;
  ConstrainedVariableId x = var(0, 10), y = var(0, 10);
  Watcher* watcher = new Watcher(x, log);
  new Watcher(x, log, true); // deletes itself
  Watcher* victim = new Watcher(x, log);
  watcher->victim = victim; // deleted from within the first addition callback
  ConstraintId c = ce->createConstraint("leq", Scope{y, x});
  EXPECT_EQ(2u, x->listenerCount());
  c->discard(); // the self-deleting listener goes in its removal callback
  EXPECT_EQ(1u, x->listenerCount());
  EXPECT_EQ((std::vector<std::string>{"add leq 1", "add leq 1", "remove leq 1", "remove leq 1"}), log);
  log.clear();
  new Watcher(x, log, true);
  ce->createConstraint("eq", Scope{x, y});
  x->discard(); // tells both listeners; its constraint goes too
  EXPECT_EQ((std::vector<std::string>{"add eq 0", "add eq 0", "discard", "discard"}), log);
  EXPECT_TRUE(watcher->getVariable().isNoId());
  EXPECT_EQ(0u, y->constraintCount());
  delete watcher;
}

TEST_F(EngineTest, ErrorsAreClear) {
  ConstrainedVariableId x = var(0, 10);
  EXPECT_EQ("Unknown constraint type 'noSuchConstraint'",
            raised([&] { ce->createConstraint("noSuchConstraint", Scope{x}); }).getMsg());
  EXPECT_EQ("Constraint 'eq' takes 2 variables, not 1", raised([&] { ce->createConstraint("eq", Scope{x}); }).getMsg());
  EXPECT_EQ(0u, x->constraintCount());
  EXPECT_EQ("Variable 1 of the scope of constraint 'leq' is not valid",
            raised([&] { ce->createConstraint("leq", Scope{x, ConstrainedVariableId::noId()}); }).getMsg());
  new Bound(ce, x, 0, 1);
  EXPECT_EQ("No propagator named 'NoPropagator' for constraint 'eq'",
            raised([&] { new EqualConstraint("eq", "NoPropagator", ce, Scope{x, x}); }).getMsg());
  EXPECT_EQ("A propagator named 'Default' is already registered",
            raised([&] { new DefaultPropagator("Default", ce); }).getMsg());
  EXPECT_THROW(x->specify(42), Error);
  EXPECT_EQ(1u, x->constraintCount());

  // A factory refuses in its own file, naming the condition.
  auto expectFailure = [](const std::function<void()>& f, const std::string& condition) {
    Error e = raised(f);
    EXPECT_EQ(condition, e.getCondition());
    EXPECT_EQ("ConstraintEngine/base/ConstraintFactory", e.getFile());
  };
  ConcreteConstraintFactory<LessThanEqualConstraint> factory("myLeq", "Default", true);
  expectFailure([&] { factory.createConstraint(ConstraintEngineId::noId(), Scope{}); }, "constraintEngine.isValid()");
  expectFailure([&] { factory.createConstraint(ce, Scope{}); }, "scope.size() >= 1");
  ConstraintFactory plain("plain", "Default");
  expectFailure([&] { plain.createConstraint(ce, Scope{x}); }, "ALWAYS_FAILS");
  factory.createConstraint(ce, Scope{x, var(0, 5)});

  // The schema owns what it registers; a factory's handle dies with it.
  ConstraintFactory* owned = new ConcreteConstraintFactory<EqualConstraint>("same", "Default");
  ConstraintFactoryId ownedId = owned->getId();
  ce->getCESchema()->registerConstraintFactory(owned);
  EXPECT_TRUE(ce->getCESchema()->isConstraintType("same"));
  ce->getCESchema()->registerConstraintFactory(new ConcreteConstraintFactory<EqualConstraint>("same", "Default"));
  EXPECT_FALSE(ownedId.isValid());
}

class Counting : public Propagator {
public:
  Counting(const ConstraintEngineId& ce, const char* name, int priority, std::vector<std::string>& log)
      : Propagator(name, ce, priority), m_log(log) {}
  void execute() override {
    m_log.push_back(getName().toString());
    --work;
  }
  bool updateRequired() const override { return work > 0; }
  int work = 0;

private:
  std::vector<std::string>& m_log;
};

TEST_F(EngineTest, PropagatorsArePolledByPriority) {
  std::vector<std::string> log;
  Counting* slow = new Counting(ce, "Slow", 200, log);
  Counting* fast = new Counting(ce, "Fast", 10, log);
  EXPECT_EQ(fast->getId(), ce->getPropagators().front());
  EXPECT_EQ(fast->getId(), ce->getPropagatorByName("Fast"));
  EXPECT_TRUE(ce->getPropagatorByName("None").isNoId());
  slow->work = 2;
  fast->work = 1;
  // No variable changed, yet both run: their updateRequired() is polled.
  EXPECT_TRUE(ce->propagate());
  EXPECT_EQ((std::vector<std::string>{"Fast", "Slow", "Slow"}), log);
  EXPECT_FALSE(ce->pending());
  EXPECT_EQ(3u, ce->getCycleCount());
}

TEST_F(EngineTest, ConstraintsThatLeaveDuringNotification) {
  // A constraint that discards itself (and another) from canIgnore.
  class Leaving : public Constraint {
  public:
    Leaving(const ConstraintEngineId& ce, const Scope& scope) : Constraint("leaving", "Default", ce, scope) {}
    bool canIgnore(const ConstrainedVariableId&, int, const DomainListener::ChangeType&) override {
      if (other.isValid())
        other->discard();
      discard();
      return false;
    }
    void handleExecute() override {}
    ConstraintId other;
  };
  ConstrainedVariableId x = var(0, 10), y = var(0, 10);
  ce->propagate();
  Leaving* first = new Leaving(ce, Scope{x});
  ConstraintId keep = ce->createConstraint("leq", Scope{x, y});
  first->other = ce->createConstraint("eq", Scope{x, y});
  x->restrictBaseDomain(IntervalIntDomain(0, 5));
  EXPECT_EQ(1u, x->constraintCount());
  EXPECT_TRUE(ce->propagate());
  EXPECT_TRUE(keep.isValid());

  // Deleting a variable discards the constraints over it.
  delete (ConstrainedVariable*)x;
  EXPECT_FALSE(keep.isValid());
  EXPECT_EQ(0u, y->constraintCount());
}

TEST_F(EngineTest, ViolationsAndActivation) {
  ConstrainedVariableId x = var(0, 10);
  Bound* bound = new Bound(ce, x, 2, 3);
  EXPECT_TRUE(ce->propagate());
  EXPECT_EQ(3, ub(x));
  EXPECT_FALSE(ce->getAllowViolations());
  ce->setAllowViolations(true);
  bound->notifyViolated();
  EXPECT_GT(bound->getViolation(), 0.0);
  EXPECT_EQ(1.0, ce->getViolation());
  EXPECT_EQ(1u, ce->getViolatedConstraints().size());
  bound->notifyNoLongerViolated();
  EXPECT_EQ(0.0, ce->getViolation());

  bound->deactivate();
  bound->deactivate();
  EXPECT_FALSE(bound->isActive());
  EXPECT_EQ(10, ub(x)); // relaxed at once
  EXPECT_TRUE(ce->propagate());
  EXPECT_EQ(10, ub(x)); // an inactive constraint does not run
  bound->undoDeactivation();
  EXPECT_FALSE(bound->isActive());
  bound->undoDeactivation();
  EXPECT_TRUE(bound->isActive());
  EXPECT_TRUE(ce->propagate());
  EXPECT_EQ(3, ub(x));
  EXPECT_THROW(bound->setSource(ConstraintId::noId()), Error);
}

// Random networks of leq/eq: after removals, propagation gives exactly what a network built
// from the remaining constraints alone gives.
TEST_F(EngineTest, RemovalMatchesRebuild) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 30; ++trial) {
    const int n = 8;
    std::vector<ConstrainedVariableId> vars;
    for (int i = 0; i < n; ++i) {
      int a = rng() % 50;
      vars.push_back(var(a, a + rng() % 50));
    }
    struct Edge {
      const char* name;
      int i, j;
      ConstraintId c;
    };
    std::vector<Edge> edges;
    for (int k = 0; k < 10; ++k) {
      Edge e{(rng() % 4 == 0) ? "eq" : "leq", static_cast<int>(rng() % n), static_cast<int>(rng() % n), ConstraintId()};
      if (e.i == e.j)
        continue;
      e.c = ce->createConstraint(e.name, Scope{vars[e.i], vars[e.j]});
      edges.push_back(e);
    }
    ce->propagate();
    std::vector<Edge> kept;
    for (Edge& e : edges)
      if (rng() % 2 == 0)
        e.c->discard();
      else
        kept.push_back(e);
    bool consistent = ce->propagate();

    ConstraintEngine fresh;
    initConstraintLibrary(fresh.getId());
    std::vector<ConstrainedVariableId> copies;
    for (auto& v : vars) {
      const AbstractDomain& base = v->baseDomain();
      copies.push_back((new IntVar(fresh.getId(), IntervalIntDomain(base.getLowerBound(), base.getUpperBound())))->getId());
    }
    for (Edge& e : kept)
      fresh.createConstraint(e.name, Scope{copies[e.i], copies[e.j]});
    ASSERT_EQ(fresh.propagate(), consistent);
    for (int i = 0; consistent && i < n; ++i)
      EXPECT_TRUE(vars[i]->lastDomain() == copies[i]->lastDomain())
          << trial << " " << vars[i]->toString() << " vs " << copies[i]->toString();
    for (Edge& e : kept)
      e.c->discard();
    for (auto& v : vars)
      v->discard();
  }
}

/// Narrows in bulk, as a network-wide propagator would: its constraints only watch.
class Bulk : public Propagator {
public:
  class Watch : public Constraint {
  public:
    Watch(const ConstraintEngineId& ce, const Scope& scope) : Constraint("watch", "Bulk", ce, scope) {}
    void handleExecute() override {}
    double cap = 5;
  };
  Bulk(const ConstraintEngineId& ce) : Propagator("Bulk", ce, 50) {}
  void handleNotification(const ConstrainedVariableId& var, int, const ConstraintId&,
                          const DomainListener::ChangeType& changeType) override {
    notified.push_back(std::make_pair(var, changeType));
    dirty = true;
  }
  void handleConstraintAdded(const ConstraintId&) override { dirty = true; }
  void execute() override {
    dirty = false;
    for (const ConstraintId& c : getConstraints())
      getCurrentDomain(c->getScope()[0]).intersect(-g_infiniteTime(), Id<Watch>(c)->cap);
  }
  bool updateRequired() const override { return dirty; }
  std::vector<std::pair<ConstrainedVariableId, DomainListener::ChangeType>> notified;
  bool dirty = false;
};

TEST_F(EngineTest, BulkPropagatorsAndWatchers) {
  Bulk* bulk = new Bulk(ce);
  ConstrainedVariableId x = var(0, 10), y = var(0, 10), quiet = var(0, 10);
  ce->createConstraint("eq", Scope{x, y});
  Bulk::Watch* watch = new Bulk::Watch(ce, Scope{x});
  Bulk::Watch* idle = new Bulk::Watch(ce, Scope{quiet});
  idle->cap = 20; // the passes narrow nothing of `quiet`
  EXPECT_TRUE(ce->propagate());
  EXPECT_EQ(5, ub(y)); // through eq
  ASSERT_FALSE(bulk->notified.empty());
  EXPECT_EQ(x, bulk->notified.back().first);
  EXPECT_EQ(DomainListener::UPPER_BOUND_DECREASED, bulk->notified.back().second);
  // A watcher that never saw its variable narrowed leaves without relaxing anything.
  idle->discard();
  EXPECT_EQ(5, ub(x));
  // The one whose variable the pass narrowed relaxes the component.
  watch->discard();
  EXPECT_EQ(10, ub(x));
  EXPECT_EQ(10, ub(y));
  EXPECT_TRUE(ce->propagate());
  EXPECT_EQ(10, ub(y));

  // derivedDomain() brings a pending change up to date; lastDomain() does not.
  new Bulk::Watch(ce, Scope{x});
  EXPECT_EQ(10, ub(x));
  EXPECT_EQ(5, x->derivedDomain().getUpperBound());
  EXPECT_FALSE(ce->pending());
}

TEST_F(EngineTest, EnumerationsAndSpecifiedVariables) {
  typedef Variable<EnumeratedDomain> EnumVar;
  ConstrainedVariableId a = (new EnumVar(ce, EnumeratedDomain(std::list<double>{1, 2, 3})))->getId();
  ConstrainedVariableId b = (new EnumVar(ce, EnumeratedDomain(std::list<double>{2, 3, 4})))->getId();
  ConstrainedVariableId i = var(0, 2);
  ce->createConstraint("eq", Scope{a, b, i});
  EXPECT_TRUE(ce->propagate());
  EXPECT_EQ("ENUM:{2}", a->lastDomain().toString());
  EXPECT_EQ(2, i->lastDomain().getSingletonValue());
  // Relaxing keeps a specified value: the variable comes back to its specified value.
  b->specify(2);
  ConstraintId extra = ce->createConstraint("leq", Scope{b, var(0, 10)});
  ce->propagate();
  extra->discard();
  b->relax();
  EXPECT_TRUE(b->isSpecified());
  EXPECT_EQ("ENUM:{2}", b->lastDomain().toString());
  EXPECT_EQ("ENUM:{1, 2, 3}", a->lastDomain().toString());
  EXPECT_TRUE(ce->propagate());
  EXPECT_EQ("ENUM:{2}", a->lastDomain().toString());
  // A specified value outside what propagation allows empties the domain.
  ConstrainedVariableId c = var(0, 10);
  ce->createConstraint("leq", Scope{c, i});
  ce->propagate();
  c->specify(7);
  EXPECT_TRUE(ce->provenInconsistent());
  c->reset();
  EXPECT_TRUE(ce->propagate());
  EXPECT_EQ(2, ub(c));
  IntVar* v = new IntVar(ce, IntervalIntDomain(0, 10));
  // A closed base domain that does not narrow only closes; a closed singleton specifies.
  v->restrictBaseDomain(IntervalIntDomain(-5, 20));
  EXPECT_FALSE(v->isSpecified());
  v->restrictBaseDomain(IntervalIntDomain(4, 4));
  EXPECT_TRUE(v->isSpecified());
  EXPECT_EQ(4, v->getSpecifiedValue());
  EXPECT_EQ(4, v->getLastDomain().getSingletonValue());
  Variable<IntervalDomain>* f = new Variable<IntervalDomain>(ce, IntervalDomain(0.5, 1.5), false, false, "f");
  EXPECT_THROW(f->specify(1), Error);
  v->discard();
  f->discard();
}

} // namespace
