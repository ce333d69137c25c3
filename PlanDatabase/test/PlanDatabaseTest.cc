#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "PlanDatabase/base/DbClient.hh"
#include "PlanDatabase/base/EventToken.hh"
#include "PlanDatabase/base/IntervalToken.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/ObjectFactory.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "PlanDatabase/base/TokenFactory.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "TemporalNetwork/TemporalAdvisor.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/IdTable.hh"
#include "ConstraintEngine/test/Bounds.hh"
#include "PlanDatabase/test/World.hh"
#include "Utils/test/TestSupport.hh"

using namespace KORVAN;

namespace {

/// Records every call of the object hooks.
class CountingObject : public Object {
public:
  CountingObject(const PlanDatabaseId& db, const LabelStr& type, const LabelStr& name)
      : Object(db, type, name, false) {}
  void add(const TokenId& token) override { ++adds; Object::add(token); }
  void remove(const TokenId& token) override { ++removes; Object::remove(token); }
  int adds = 0;
  int removes = 0;
};

/// Watches one variable: records the change kinds it is told of, never runs.
class Recorder : public Constraint {
public:
  Recorder(const ConstraintEngineId& ce, const ConstrainedVariableId& var)
      : Constraint("Recorder", PlanDatabase::PROPAGATOR_NAME(), ce, {var}) {}
  bool canIgnore(const ConstrainedVariableId& var, int, const DomainListener::ChangeType& change) override {
    changes.push_back(change);
    singletonSeen = singletonSeen || var->lastDomain().isSingleton();
    return true;
  }
  std::vector<DomainListener::ChangeType> changes;
  bool singletonSeen = false;

private:
  void handleExecute() override {}
};

typedef IntervalIntDomain D;

/// A schema with a "Timeline" type, its subtype "Track" and two predicates.
struct Host : public World {
  Host() {
    schema->addObjectType("Timeline");
    schema->addObjectType("Track", "Timeline");
    schema->addPredicate("Timeline.busy");
    schema->addPredicate("Timeline.tick");
  }
  TokenId interval(const D& start, const D& end, const D& duration, bool rejectable = false) {
    return (new IntervalToken(db->getId(), "Timeline.busy", rejectable, false, start, end, duration))->getId();
  }
  ObjectId object(const char* type, const char* name) { return (new Object(db->getId(), type, name))->getId(); }
  // A parameter of the kind resource tokens append.
  ConstrainedVariableId quantity(const TokenId& token) {
    ConstrainedVariableId q = (new TokenVariable<IntervalDomain>(token, token->getVariables().size(), engine(),
                                                                 IntervalDomain(0, 100), false, true, "quantity"))
                                  ->getId();
    token->appendVariable(q);
    return q;
  }
  const ConstraintEngineId& engine() const { return ce->getId(); }
  TokenId busy(const D& start) { return interval(start, D(), D(1, 20)); }
};

/// A host with one closed Timeline "t".
struct OneTimeline : public Host {
  OneTimeline() : t(object("Timeline", "t")) { db->close(); }
  ObjectId t;
};

} // namespace

TEST(PlanDatabase, activationAndObjectAssignment) {
  Host host;
  CountingObject* t1 = new CountingObject(host.db->getId(), "Timeline", "t1");
  CountingObject* t2 = new CountingObject(host.db->getId(), "Track", "t2");
  host.db->close();
  TokenId tok = host.interval(D(), D(), D(1, 10));
  EXPECT_TRUE(tok->isInactive());
  EXPECT_EQ("INACTIVE", tok->getTokenState());
  EXPECT_EQ(2u, tok->getObject()->lastDomain().getSize());

  Recorder* recorder = new Recorder(host.engine(), tok->getState());
  tok->activateInternal();
  EXPECT_TRUE(tok->isActive());
  EXPECT_EQ(std::vector<DomainListener::ChangeType>{DomainListener::SET_TO_SINGLETON}, recorder->changes);
  EXPECT_TRUE(recorder->singletonSeen);
  EXPECT_EQ(Token::ACTIVE.getKey(), tok->getState()->lastDomain().getSingletonValue());
  recorder->discard();

  // Two candidate objects: on neither.
  EXPECT_EQ(0, t1->adds + t2->adds);
  host.db->getClient()->specify(tok->getObject(), (double)t2->getId());
  EXPECT_EQ(std::make_pair(0, 1), std::make_pair(t1->adds, t2->adds));
  EXPECT_TRUE(t2->hasToken(tok));
  EXPECT_EQ(t2->getId(), tok->getAssignedObject());
  EXPECT_EQ(static_cast<ApObject*>(t2), tok->getOwner());
  host.db->getClient()->reset(tok->getObject());
  EXPECT_EQ(1, t2->removes);
  EXPECT_TRUE(t2->tokens().empty());

  // Deactivating takes the token off as well, and so does deletion.
  tok->getObject()->specify((double)t1->getId());
  EXPECT_EQ(1, t1->adds);
  tok->deactivate();
  EXPECT_EQ(1, t1->removes);
  tok->activateInternal();
  EXPECT_EQ(2, t1->adds);
  tok->discard();
  EXPECT_EQ(2, t1->removes);
  EXPECT_TRUE(t1->tokens().empty());

  // A token naming its object goes on it as soon as it is active.
  TokenId named = (new IntervalToken(host.db->getId(), "Timeline.busy", false, false, D(), D(), D(1, 5), "t1"))->getId();
  EXPECT_EQ(2, t1->adds);
  host.db->getClient()->activate(named);
  EXPECT_EQ(3, t1->adds);
  // Failed constructions leave nothing behind.
  const std::pair<unsigned int, std::size_t> live(Entity::liveCount(), IdTable::size());
  EXPECT_EQ("No object named 'nobody'.",
            raised([&] { new IntervalToken(host.db->getId(), "Timeline.busy", false, false, D(), D(), D(), "nobody"); })
                .getMsg());
  EXPECT_EQ("Undefined predicate 'Timeline.sleep'.",
            raised([&] { new EventToken(host.db->getId(), "Timeline.sleep", false, false); }).getMsg());
  EXPECT_EQ("Cannot create object 'late': the plan database is closed.",
            raised([&] { new Object(host.db->getId(), "Timeline", "late"); }).getMsg());
  EXPECT_EQ(live, std::make_pair(Entity::liveCount(), IdTable::size()));
  EXPECT_TRUE(host.interval(D(), D(), D()).isValid());
}

TEST(PlanDatabase, openDatabaseAddsNewObjectsAndObjectsByType) {
  Host host;
  TokenId tok = host.interval(D(), D(), D(1, 10));
  EXPECT_TRUE(tok->getObject()->lastDomain().isOpen());
  ObjectId t1 = host.object("Timeline", "t1");
  ObjectId t2 = host.object("Track", "t2");
  ObjectId c = (new Object(t1, "Track", "part"))->getId();
  EXPECT_EQ(LabelStr("t1.part"), c->getName());
  EXPECT_EQ(3u, tok->getObject()->lastDomain().getSize());
  host.db->close();
  EXPECT_TRUE(tok->getObject()->lastDomain().isClosed());

  std::list<ObjectId> timelines, tracks, none;
  host.db->getObjectsByType("Timeline", timelines);
  std::ostringstream debug;
  DebugMessage::setStream(debug);
  DebugMessage::enable("PlanDatabase:getObjectsByType");
  host.db->getObjectsByType("Track", tracks);
  DebugMessage::disableAll();
  DebugMessage::setStream(std::cerr);
  EXPECT_NE(std::string::npos,
            debug.str().find("[PlanDatabase:getObjectsByType]Adding object 't2' of type 'Track' "
                             "for type 'Track'\n[PlanDatabase:getObjectsByType]Typeid for object: "));
  EXPECT_EQ(3u, timelines.size());
  ASSERT_EQ(2u, tracks.size());
  EXPECT_EQ(t2, tracks.front());
  EXPECT_EQ("results.empty()", raised([&] { host.db->getObjectsByType("Track", tracks); }).getCondition());
  Error e = raised([&] { host.db->getObjectsByType("Nothing", none); });
  EXPECT_CHECK(e, "m_schema->isObjectType(type)", "Nothing");
  EXPECT_EQ("PlanDatabase/base/PlanDatabase", e.getFile());
  // Handles convert to the result's class, which is checked.
  std::list<Id<CountingObject>> counting;
  EXPECT_EQ("IdMgrInvalidItemPtrError",
            raised([&] { host.db->getObjectsByType("Track", counting); }).getType());

  // Deleting an object removes it from the tokens' object domains.
  c->discard();
  EXPECT_EQ(2u, tok->getObject()->lastDomain().getSize());
  EXPECT_EQ(ObjectId::noId(), host.db->getObject("t1.part"));
  EXPECT_EQ(t1, host.db->getObject("t1"));
  EXPECT_EQ("An object named 't1' already exists.", raised([&] {
              Host other;
              other.object("Timeline", "t1");
              other.object("Timeline", "t1");
            }).getMsg());
}

TEST(PlanDatabase, constrainThenFreeRestoresDomains) {
  OneTimeline host;
  const ObjectId t = host.t;
  TokenId a = host.interval(D(0, 20), D(), D(10, 10));
  TokenId b = host.interval(D(0, 20), D(), D(5, 5));
  // The bounds an ordering gives and takes back are the host oracle's; here the bookkeeping.
  unsigned int constraints = host.ce->getConstraints().size();

  DbClientId client = host.db->getClient();
  client->constrain(t, a, b);
  EXPECT_TRUE(t->isConstrainedToPrecede(a, b));
  EXPECT_FALSE(t->isConstrainedToPrecede(b, a));
  EXPECT_EQ(constraints + 1, host.ce->getConstraints().size());
  EXPECT_EQ("precedes", t->getPrecedenceConstraint(a, b)->getName().toString());
  EXPECT_NE("", raised([&] { client->constrain(t, a, b); }).getMsg());

  client->free(t, a, b);
  EXPECT_FALSE(t->isConstrainedToPrecede(a, b));
  EXPECT_EQ(constraints, host.ce->getConstraints().size());
  EXPECT_EQ(a->toString() + " is not constrained to precede " + b->toString() + " on t.",
            raised([&] { client->free(t, a, b); }).getMsg());

  a->activateInternal();
  b->activateInternal();
  client->specify(a->getObject(), (double)t);
  client->specify(b->getObject(), (double)t);
  t->notifyOrderingRequired(a);
  EXPECT_TRUE(t->hasTokensToOrder());
  std::vector<TokenId> toOrder;
  t->getTokensToOrder(toOrder);
  ASSERT_EQ(1u, toOrder.size());
  std::vector<std::pair<TokenId, TokenId>> choices;
  t->getOrderingChoices(a, choices);
  EXPECT_EQ(2u, choices.size());
  client->constrain(t, a, b);
  ASSERT_TRUE(host.ce->propagate());
  choices.clear();
  t->getOrderingChoices(a, choices);
  // Only b before a is left, and the network no longer allows it.
  EXPECT_TRUE(choices.empty());
  choices.push_back(std::make_pair(a, b));
  EXPECT_EQ("results.empty()", raised([&] { t->getOrderingChoices(a, choices); }).getCondition());
  choices.clear();
  EXPECT_EQ("limit > 0", raised([&] { t->getOrderingChoices(a, choices, 0); }).getCondition());
  t->notifyOrderingNoLongerRequired(a);
  t->notifyOrderingNoLongerRequired(a);
  EXPECT_FALSE(t->hasTokensToOrder());
}

// Bounds after merges, splits, specifications and resets are the host oracle's; here the
// integrated base domains, the refusals and their texts, and the inactive constraints.
TEST(PlanDatabase, mergeAndSplitKeepBaseDomains) {
  OneTimeline host;
  TokenId active = host.busy(D(0, 50));
  TokenId m1 = host.interval(D(10, 60), D(), D(5, 30));
  TokenId m2 = host.interval(D(0, 40), D(), D(2, 20));
  active->activateInternal();
  ConstrainedVariableId q[3] = {host.quantity(active), host.quantity(m1), host.quantity(m2)};
  Id<TokenVariable<IntervalDomain>> activeQ(q[0]);
  Id<TokenVariable<IntervalIntDomain>> activeStart(active->start());

  m1->merge(active);
  m2->merge(active);
  EXPECT_TRUE(m1->isMerged());
  EXPECT_EQ(active, m1->getActiveToken());
  EXPECT_EQ(2u, active->getMergedTokens().size());
  EXPECT_EQ(D(10, 40), activeStart->getIntegratedBaseDomain());
  // Base domains are untouched.
  EXPECT_EQ(D(0, 50), active->start()->baseDomain());
  EXPECT_EQ(D(10, 60), m1->start()->baseDomain());

  // A merged token's variable cannot be specified.
  Error e = raised([&] { q[1]->specify(5); });
  EXPECT_CHECK(e, "!this->m_parentToken->isMerged()",
               "Attempted to specify " + q[1]->toString() + " of merged token " + m1->toString() + ". ");
  EXPECT_EQ("PlanDatabase/base/TokenVariable", e.getFile());
  // Constraints added to a merged token's variables must be inactive.
  e = raised([&] { new Recorder(host.engine(), m1->end()); });
  EXPECT_EQ("Constraint should be inactive if it is on a merged token.", e.getMsg());

  // Split restores the active token's domains from the remaining merged tokens.
  m1->split();
  EXPECT_FALSE(m1->isMerged());
  EXPECT_TRUE(m1->isInactive());
  EXPECT_EQ(D(0, 40), activeStart->getIntegratedBaseDomain());
  m2->split();
  EXPECT_EQ(D(0, 50), activeStart->getIntegratedBaseDomain());
  EXPECT_TRUE(active->getMergedTokens().empty());

  // A merge whose specified value the active token cannot take fails and leaves no trace.
  q[1]->specify(7);
  q[2]->specify(8);
  m1->merge(active);
  EXPECT_EQ(7, q[0]->lastDomain().getSingletonValue());
  EXPECT_CHECK(raised([&] { m2->merge(active); }), "this->lastDomain().isMember(value)", "8 is not in " + q[0]->toString());
  EXPECT_TRUE(m2->isInactive());
  EXPECT_EQ(1u, active->getMergedTokens().size());
  for (const ConstraintId& c : m2->getStandardConstraints())
    EXPECT_TRUE(c->isActive());
  // A merged counterpart cannot be fixed to another value by its base domain, and one that
  // may is integrated at once.
  q[2]->reset();
  m2->merge(active);
  const std::string q2 = q[2]->toString();
  EXPECT_EQ("Cannot restrict " + q2 + " to float:[8, 8]: it would fix it to 8 where " + q[0]->toString() + " is specified.",
            raised([&] { q[2]->restrictBaseDomain(IntervalDomain(8, 8)); }).getMsg());
  EXPECT_EQ(IntervalDomain(0, 100), q[2]->baseDomain());
  q[2]->restrictBaseDomain(IntervalDomain(5, 9));
  EXPECT_EQ(IntervalDomain(5, 9), activeQ->getIntegratedBaseDomain());
  activeQ->reset();
  EXPECT_EQ(7, q[0]->lastDomain().getSingletonValue());
  m2->split();
  q[1]->reset();
  m1->split();

  // Constraints over a merged token's variables are inactive and reported to the token.
  Recorder* watcher = new Recorder(host.engine(), m1->end());
  m1->merge(active);
  EXPECT_FALSE(watcher->isActive());
  const std::vector<ConstraintId>& inactive = m1->getInactiveConstraints();
  EXPECT_NE(inactive.end(), std::find(inactive.begin(), inactive.end(), watcher->getId()));
  ConstraintId watcherId = watcher->getId();
  watcher->discard();
  EXPECT_EQ(inactive.end(), std::find(inactive.begin(), inactive.end(), watcherId));
  m1->split();
  EXPECT_TRUE(m1->getInactiveConstraints().empty());

  // A closed base domain disjoint from the integrated one is refused before anything changes.
  TokenId m3 = host.busy(D(70, 80));
  host.quantity(m3);
  EXPECT_EQ(m3->start()->toString() + " cannot merge.", raised([&] { m3->merge(active); }).getMsg());
  EXPECT_TRUE(m3->isInactive());
  EXPECT_TRUE(active->getMergedTokens().empty());
  // So is a restriction, of the merged token's or of the active token's variable, that would
  // leave them no common value; one that leaves some narrows the active token at once.
  TokenId m4 = host.busy(D(0, 80));
  host.quantity(m4);
  m4->merge(active);
  const std::string noCommonValue = ": " + active->toString() + " and the tokens merged onto it would have no value in common.";
  EXPECT_EQ("Cannot restrict " + m4->start()->toString() + " to int:[70, 80]" + noCommonValue,
            raised([&] { m4->start()->restrictBaseDomain(D(70, 80)); }).getMsg());
  EXPECT_EQ("Cannot restrict " + active->start()->toString() + " to int:[60, 90]" + noCommonValue,
            raised([&] { active->start()->restrictBaseDomain(D(60, 90)); }).getMsg());
  EXPECT_EQ(D(0, 80), m4->start()->baseDomain());
  EXPECT_EQ(D(0, 50), active->start()->baseDomain());
  m4->start()->restrictBaseDomain(D(20, 80));
  EXPECT_EQ(D(20, 50), activeStart->getIntegratedBaseDomain());
  EXPECT_EQ(20, active->start()->lastDomain().getLowerBound());
  activeStart->reset();
  m4->split();
  EXPECT_EQ(D(0, 50), activeStart->getIntegratedBaseDomain());

  EXPECT_EQ("Cannot merge onto " + m1->toString() + ": it is not active.",
            raised([&] { m2->merge(m1); }).getMsg());
  EXPECT_EQ("this->canBeSpecified()", raised([&] {
              TokenVariable<IntervalDomain>* fixed = new TokenVariable<IntervalDomain>(
                  m3, m3->getVariables().size(), host.engine(), IntervalDomain(0, 1), false, false, "fixed");
              m3->appendVariable(fixed->getId());
              fixed->specify(1);
            }).getCondition());
  EXPECT_EQ("m_parentToken.isValid()",
            raised([&] { new TokenVariable<IntervalDomain>(TokenId::noId(), 0, host.engine(), IntervalDomain()); })
                .getCondition());
}

// A merged variable whose base domain is one value already may be restricted to that value
// again while the active token's variable is specified to another: the restriction changes
// nothing. One that would fix it there is still refused.
TEST(PlanDatabase, restatingAFixedMergedBaseDomainIsNotRefused) {
  OneTimeline host;
  TokenId active = host.busy(D(0, 50));
  TokenId fixed = host.interval(D(0, 50), D(), D(9, 9));
  TokenId open = host.busy(D(0, 50));
  active->activateInternal();
  fixed->merge(active);
  open->merge(active);
  active->duration()->specify(15);
  fixed->duration()->restrictBaseDomain(D(9, 9));
  EXPECT_EQ(D(9, 9), fixed->duration()->baseDomain());
  EXPECT_EQ("Cannot restrict " + open->duration()->toString() + " to int:[9, 9]: it would fix it to 9 where " +
                active->duration()->toString() + " is specified.",
            raised([&] { open->duration()->restrictBaseDomain(D(9, 9)); }).getMsg());
  EXPECT_EQ(D(1, 20), open->duration()->baseDomain());
}

// A merged variable specified to a value its base domain no longer holds keeps the active token
// specified to that value through the split of another merged token, and its own split takes it
// away.
TEST(PlanDatabase, splitsAfterABaseRestrictionOfASpecifiedVariable) {
  OneTimeline host;
  TokenId active = host.busy(D(0, 50));
  TokenId specified = host.busy(D(0, 50));
  TokenId other = host.busy(D(0, 50));
  active->activateInternal();
  specified->start()->specify(39);
  specified->merge(active);
  other->merge(active);
  specified->start()->restrictBaseDomain(D(41, 45));
  other->split();
  EXPECT_TRUE(other->isInactive());
  EXPECT_EQ(39, active->start()->getSpecifiedValue());
  specified->split();
  EXPECT_FALSE(active->start()->isSpecified());
  EXPECT_EQ(D(0, 50), active->start()->baseDomain());
}

// A merged token's relation acts on the active token through a copy exactly while merges alone
// hold it inactive: deactivating it drops the copy, undoing that brings it back, and no undo may
// wake it while a merge holds it.
TEST(PlanDatabase, mergedRelationsFollowTheirActivation) {
  OneTimeline host;
  TokenId active = host.busy(D(0, 100)), merged = host.busy(D(0, 100));
  Variable<IntervalIntDomain> deadline(host.engine(), D(0, 40));
  ConstraintId before = host.ce->createConstraint("precedes", {merged->start(), deadline.getId()});
  active->activateInternal();
  auto start = [&]() {
    EXPECT_TRUE(host.ce->propagate());
    return bounds(active->start());
  };
  auto pair = [](double lb, double ub) { return std::make_pair(lb, ub); };
  merged->merge(active);
  EXPECT_EQ(pair(0, 40), start());
  before->deactivate();
  EXPECT_EQ(pair(0, 100), start());
  before->undoDeactivation();
  EXPECT_EQ(pair(0, 40), start());
  EXPECT_EQ("Cannot activate " + before->toString() + ": " + merged->toString() + " is merged onto " +
                active->toString() + ".",
            raised([&] { before->undoDeactivation(); }).getMsg());
  EXPECT_EQ(1u, before->deactivationCount());
  // Deactivated across a split and a new merge.
  before->deactivate();
  merged->split();
  EXPECT_EQ(pair(0, 100), start());
  EXPECT_EQ(pair(0, 100), bounds(merged->start()));
  merged->merge(active);
  EXPECT_EQ(pair(0, 100), start());
  before->undoDeactivation();
  EXPECT_EQ(pair(0, 40), start());
  merged->split();
  EXPECT_TRUE(before->isActive());
  EXPECT_EQ(pair(0, 100), start());
  EXPECT_EQ(pair(0, 40), bounds(merged->start()));
  before->discard();
}

TEST(PlanDatabase, deletingTokensLeavesNoConstraintBehind) {
  OneTimeline host;
  const ObjectId t = host.t;
  const std::vector<std::size_t> before = {host.ce->getConstraints().size(), host.ce->getVariables().size(),
                                            Entity::liveCount()};

  TokenId a = host.interval(D(), D(), D(1, 5));
  TokenId b = host.interval(D(), D(), D(1, 5));
  TokenId slave = (new EventToken(a, "before", "Timeline.tick"))->getId();
  a->activateInternal();
  b->activateInternal();
  a->getObject()->specify((double)t);
  b->getObject()->specify((double)t);
  host.db->getClient()->constrain(t, a, b);
  t->notifyOrderingRequired(a);
  // A constraint of someone else's over a token variable.
  host.db->getClient()->createConstraint("precedes", {a->start(), slave->start()});
  ASSERT_TRUE(host.ce->propagate());
  EXPECT_EQ(1u, a->getSlaveTokens().size());
  EXPECT_EQ(a, slave->getMasterToken());

  host.db->getClient()->deleteToken(a);
  EXPECT_FALSE(slave.isValid());
  EXPECT_TRUE(t->getOrderings().empty());
  EXPECT_FALSE(t->hasTokensToOrder());
  EXPECT_EQ(1u, t->tokens().size());
  b->discard();
  EXPECT_EQ(before, (std::vector<std::size_t>{host.ce->getConstraints().size(), host.ce->getVariables().size(),
                                              Entity::liveCount()}));
  EXPECT_TRUE(host.db->getTokens().empty());
  EXPECT_TRUE(host.ce->propagate());
}

namespace {

class PlainObjectFactory : public ObjectFactory {
public:
  PlainObjectFactory(const LabelStr& signature) : ObjectFactory(signature) {}
  ObjectId createInstance(const PlanDatabaseId& db, const LabelStr& type, const LabelStr& name,
                          const std::vector<const AbstractDomain*>& arguments) const override {
    Object* object = new Object(db, type, name, true);
    object->constructor(arguments);
    object->addVariable(*arguments[0], "length");
    object->close();
    return object->getId();
  }
};

class BusyFactory : public NativeTokenFactory {
public:
  BusyFactory(const LabelStr& predicate = "Timeline.busy") : NativeTokenFactory(predicate) {}
  TokenId createInstance(const PlanDatabaseId& db, const LabelStr& name, bool rejectable,
                         bool isFact) const override {
    return (new IntervalToken(db, name, rejectable, isFact))->getId();
  }
  TokenId createInstance(const TokenId& master, const LabelStr& name,
                         const LabelStr& relation) const override {
    return (new IntervalToken(master, relation, name))->getId();
  }
};

} // namespace

TEST(PlanDatabase, clientCreatesThroughFactories) {
  Host host;
  host.schema->addMember("Timeline", "int", "length");
  host.schema->registerObjectFactory((new PlainObjectFactory("Timeline:int"))->getId());
  host.schema->registerTokenFactory((new BusyFactory())->getId());
  DbClientId client = host.db->getClient();

  IntervalIntDomain length(12, 12);
  std::vector<const AbstractDomain*> args(1, &length);
  // The subtype uses its parent's constructor.
  ObjectId track = client->createObject("Track", "track", args);
  EXPECT_EQ(LabelStr("Track"), track->getType());
  EXPECT_TRUE(track->isClosed());
  ConstrainedVariableId member = track->getVariable("track.length");
  ASSERT_TRUE(member.isValid());
  EXPECT_EQ(12, member->lastDomain().getSingletonValue());
  EXPECT_EQ(member, track->getVariables()[0]);
  EXPECT_TRUE(track->getVariable("length").isNoId());
  EXPECT_EQ("Object track is already closed.", raised([&] { track->close(); }).getMsg());
  EXPECT_EQ("Cannot add member 'width' to track: the object is closed.",
            raised([&] { track->addVariable(IntervalDomain(), "width"); }).getMsg());

  // Without arguments and without a factory: a plain open object.
  ObjectId plain = client->createObject("Timeline", "plain");
  EXPECT_FALSE(plain->isClosed());
  client->close(plain);
  IntervalDomain real(1.5);
  std::vector<const AbstractDomain*> realArgs(1, &real);
  EXPECT_EQ("Cannot create object 'x': no constructor 'Timeline:float'.",
            raised([&] { client->createObject("Timeline", "x", realArgs); }).getMsg());
  EXPECT_EQ("Cannot create object 'x': undefined object type 'Nothing'.",
            raised([&] { client->createObject("Nothing", "x"); }).getMsg());

  TokenId master = client->createToken("Timeline.busy");
  EXPECT_TRUE(master->isClosed());
  TokenId slave = client->createSlaveToken(master, "Timeline.busy", "meets");
  EXPECT_EQ(LabelStr("meets"), slave->getRelation());
  EXPECT_EQ("No token factory is registered for 'Timeline.tick'.",
            raised([&] { client->createToken("Timeline.tick"); }).getMsg());
  EXPECT_EQ("Token " + master->toString() + " is already closed.",
            raised([&] { master->close(); }).getMsg());

  TokenId optional = (new IntervalToken(host.db->getId(), "Timeline.busy", true, false))->getId();
  client->reject(optional);
  EXPECT_TRUE(optional->isRejected());
  client->cancel(optional);
  EXPECT_TRUE(optional->isInactive());
  EXPECT_EQ("Cannot reject " + master->toString() + ": it is not rejectable.",
            raised([&] { client->reject(master); }).getMsg());
  EXPECT_EQ("The plan database is not attached to an engine.",
            raised([&] { host.db->getEngine(); }).getMsg());
}

TEST(PlanDatabase, randomChangesKeepTokensOnTheirObjects) {
  // Invariant: an object's tokens are exactly the active tokens whose object variable names it.
  for (unsigned int seed = 1; seed <= 5; ++seed) {
    Host host;
    std::vector<ObjectId> objects;
    for (int i = 0; i < 3; ++i)
      objects.push_back(host.object("Timeline", ("o" + std::to_string(i)).c_str()));
    host.db->close();
    std::vector<TokenId> tokens;
    unsigned int state = seed;
    auto next = [&state](unsigned int n) { return ((state = state * 1103515245u + 12345u) >> 16) % n; };
    unsigned int entities = Entity::liveCount();
    for (int step = 0; step < 300; ++step) {
      unsigned int action = next(6);
      if (tokens.empty() || action == 0) {
        tokens.push_back(host.interval(D(), D(), D(1, 9), true));
        continue;
      }
      TokenId token = tokens[next(tokens.size())];
      const ConstrainedVariableId& object = token->getObject();
      if (action == 1 && token->isInactive())
        token->activateInternal();
      else if (action == 2 && !token->isInactive())
        token->cancel();
      else if (action == 3 && !object->isSpecified())
        object->specify((double)objects[next(objects.size())]);
      else if (action == 4 && object->isSpecified())
        object->reset();
      else if (action == 5) {
        tokens.erase(std::find(tokens.begin(), tokens.end(), token));
        token->discard();
      }
      for (const ObjectId& o : objects) {
        TokenSet expected;
        for (const TokenId& t : tokens)
          if (t->isActive() && t->getObject()->lastDomain().isSingleton() &&
              t->getObject()->lastDomain().getSingletonValue() == (double)o)
            expected.insert(t);
        ASSERT_EQ(expected, o->tokens()) << "seed " << seed << " step " << step;
      }
    }
    for (const TokenId& t : tokens)
      t->discard();
    EXPECT_EQ(entities, Entity::liveCount());
  }
}

TEST(Schema, factoriesBySignatureAndPredicate) {
  Schema schema;
  schema.addObjectType("Resource");
  schema.addObjectType("Reservoir", "Resource");
  schema.addPredicate("Reservoir.consume");

  ObjectFactoryId byThree = (new PlainObjectFactory("Resource:float:float:float"))->getId();
  ObjectFactoryId plain = (new PlainObjectFactory("Reservoir"))->getId();
  TokenFactoryId consume = (new BusyFactory("Reservoir.consume"))->getId();
  schema.registerObjectFactory(byThree);
  schema.registerObjectFactory(plain);
  schema.registerTokenFactory(consume);

  std::vector<LabelStr> three(3, LabelStr("float"));
  EXPECT_EQ(LabelStr("Reservoir:float:float:float"), Schema::makeSignature("Reservoir", three));
  EXPECT_EQ(plain, schema.getObjectFactory("Reservoir"));
  // A subtype without a factory of its own uses its nearest ancestor's.
  EXPECT_EQ(byThree, schema.findObjectFactory("Reservoir", three));
  EXPECT_TRUE(schema.findObjectFactory("Resource", std::vector<LabelStr>()).isNoId());
  EXPECT_EQ(consume, schema.getTokenFactory("Reservoir.consume"));

  EXPECT_EQ("No object factory is registered for 'Reservoir:int'.",
            raised([&] { schema.getObjectFactory("Reservoir:int"); }).getMsg());
  BusyFactory stray("Reservoir.produce");
  EXPECT_EQ("Token factory for the undeclared predicate 'Reservoir.produce'.",
            raised([&] { schema.registerTokenFactory(stray.getId()); }).getMsg());
  PlainObjectFactory twice("Reservoir");
  EXPECT_EQ("An object factory is already registered for 'Reservoir'.",
            raised([&] { schema.registerObjectFactory(twice.getId()); }).getMsg());
  // The schema deletes its factories: ASan reports a leak otherwise.
}
