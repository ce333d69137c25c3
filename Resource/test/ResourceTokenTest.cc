#include "Resource/test/ResourceTestSupport.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "PlanDatabase/base/StateDomain.hh"

#include <gtest/gtest.h>

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

unsigned int transactionCount(Resource* res) {
  unsigned int count = 0;
  for (const InstantId& inst : ResourceWorld::instants(res->getProfile()))
    count = std::max<unsigned int>(count, inst->getTransactions().size());
  return count;
}

Id<ResourceTokenRelation> rtrOf(const TokenId& tok) {
  for (const ConstraintId& c : tok->getStandardConstraints())
    if (c->getName() == ResourceTokenRelation::CONSTRAINT_NAME())
      return Id<ResourceTokenRelation>(c);
  return Id<ResourceTokenRelation>();
}

}

TEST(ResourceTokens, constructionShapesAndQuantityDomains) {
  ResourceWorld w;
  w.reservoir("R", 10, 0, 100);
  const double inf = (double) g_infiniteTime();

  // R2 shape: consumer and producer flags, default quantity domain, closed and activated at once.
  ConsumerToken* c = new ConsumerToken(w.db->getId(), "Reservoir.consume", false, false, IntervalIntDomain(0, 5),
                                       "R", true, true);
  ProducerToken* p = new ProducerToken(w.db->getId(), "Reservoir.produce", false, false, IntervalIntDomain(0, 5),
                                       "R", false, false);
  EXPECT_TRUE(c->isConsumer() && !p->isConsumer() && c->isClosed() && c->isActive());
  EXPECT_EQ(0.0, c->getQuantity()->baseDomain().getLowerBound());
  EXPECT_EQ(inf, c->getQuantity()->baseDomain().getUpperBound());
  EXPECT_TRUE(c->getQuantity()->canBeSpecified() && !c->getQuantity()->isInternal());

  // The token-to-resource constraint is over (state, object).
  Id<ResourceTokenRelation> rtr = rtrOf(c->getId());
  ASSERT_TRUE(rtr.isValid());
  EXPECT_EQ((std::vector<ConstrainedVariableId>{c->getState(), c->getObject()}), rtr->getScope());

  // Without activation the state keeps its base domain and closing does not activate.
  EXPECT_GT(p->getState()->baseDomain().getSize(), 1u);
  p->close();
  EXPECT_FALSE(p->isActive());

  // The quantity test of the shapes that take a domain.
  Error e = failure([&]() {
    new ReservoirToken(w.db->getId(), "Reservoir.consume", IntervalIntDomain(0, 5), IntervalDomain(-1, 3), true,
                       false, true);
  });
  EXPECT_EQ("quantityBaseDomain.getLowerBound() >= 0 && quantityBaseDomain.getUpperBound() <= PLUS_INFINITY",
            e.getCondition());
  EXPECT_EQ("Resource/component/MIRT_InstantTokens", e.getFile());

  // Unary tokens hold exactly 1; reusable tokens default to [0, +inf].
  w.reusable("U", 1);
  UnaryToken* u = new UnaryToken(w.db->getId(), "Reusable.uses", IntervalIntDomain(0, 5), IntervalIntDomain(),
                                 IntervalIntDomain(1, 5), "U", true, true);
  EXPECT_TRUE(u->getQuantity()->baseDomain().isSingleton());
  EXPECT_EQ(1.0, u->getQuantity()->baseDomain().getSingletonValue());
  ReusableToken* r = new ReusableToken(w.db->getId(), "Reusable.uses", IntervalIntDomain(0, 5), IntervalIntDomain(),
                                       IntervalIntDomain(1, 5), "U", true, true);
  EXPECT_EQ(inf, r->getQuantity()->baseDomain().getUpperBound());
  e = failure([&]() {
    new ReusableToken(w.db->getId(), "Reusable.uses", IntervalIntDomain(0, 5), IntervalIntDomain(),
                      IntervalIntDomain(1, 5), IntervalDomain(-0.5, 1), "U", true, true);
  });
  EXPECT_EQ("Resource/component/MIRT_InstantTokens", e.getFile());
  // The slave shape with a quantity domain does not test it.
  ReusableToken* slave = new ReusableToken(r->getId(), "before", "Reusable.uses", IntervalIntDomain(),
                                           IntervalIntDomain(), IntervalIntDomain(1, 5), IntervalDomain(-1, 1),
                                           "U", true, false);
  EXPECT_EQ(-1.0, slave->getQuantity()->baseDomain().getLowerBound());
}

TEST(ResourceTokens, handOverFollowsStateAndObject) {
  ResourceWorld w;
  TestReservoir* r1 = w.reservoir("R1", 10, 0, 100);
  TestReservoir* r2 = w.reservoir("R2", 10, 0, 100);

  // An open token activated later: nothing at construction or closing, the activation hands it over.
  ConsumerToken* late = new ConsumerToken(w.db->getId(), "Reservoir.consume", false, false,
                                          IntervalIntDomain(0, 5), "R1", false, false);
  late->close();
  EXPECT_EQ(0u, transactionCount(r1));
  EXPECT_FALSE(rtrOf(late->getId())->getResource().isValid());
  late->activateInternal();
  EXPECT_EQ(1u, transactionCount(r1));
  EXPECT_EQ(Id<Resource>(r1->getId()), rtrOf(late->getId())->getResource());

  // Object domain of two resources: active, but not handed over until narrowed to one.
  TokenId tok = w.consumer("", 0, 5, 1, 1);
  EXPECT_TRUE(tok->isActive());
  EXPECT_EQ(2u, tok->getObject()->lastDomain().getSize());
  EXPECT_FALSE(rtrOf(tok)->getResource().isValid());
  tok->getObject()->specify((double) r2->getId());
  EXPECT_EQ(Id<Resource>(r2->getId()), rtrOf(tok)->getResource());
  EXPECT_EQ(1u, transactionCount(r2));

  // A further singleton change hands it over again: the resource keeps one transaction.
  tok->getState()->relax();
  EXPECT_TRUE(tok->getState()->lastDomain().isSingleton());
  EXPECT_EQ(1u, transactionCount(r2));
  EXPECT_EQ(1u, r2->m_transactionsToTokens.size());

  // Relaxed back to two resources: taken back.
  tok->getObject()->reset();
  EXPECT_FALSE(rtrOf(tok)->getResource().isValid());
  EXPECT_EQ(0u, transactionCount(r2));
  EXPECT_TRUE(r2->m_transactionsToTokens.empty());

  // A reset that leaves the state ACTIVE but unspecified keeps the token where it is.
  late->discard();
  EXPECT_EQ(0u, transactionCount(r1));
  TokenId kept = w.consumer("R1", 0, 5, 1, 1);
  EXPECT_EQ(1u, transactionCount(r1));
  kept->getState()->reset();
  EXPECT_FALSE(kept->getState()->isSpecified());
  EXPECT_TRUE(kept->getState()->lastDomain().isSingleton());
  EXPECT_EQ(1u, transactionCount(r1));
  EXPECT_EQ(Id<Resource>(r1->getId()), rtrOf(kept)->getResource());

  // Deletion takes the token out through the resource, not the constraint.
  kept->discard();
  EXPECT_EQ(0u, transactionCount(r1));
  EXPECT_TRUE(r1->m_transactionsToTokens.empty());
  EXPECT_TRUE(w.propagate());
}
