#include <gtest/gtest.h>

#include <list>
#include <set>
#include <sstream>

#include "Utils/base/Debug.hh"
#include "Utils/base/Engine.hh"
#include "Utils/base/Entity.hh"
#include "Utils/base/Factory.hh"
#include "Utils/base/Module.hh"
#include "Utils/base/Utils.hh"
#include "Utils/test/TestSupport.hh"

using namespace KORVAN;

namespace {

class Keyed : public Entity {
public:
  Keyed() : m_id(this) {}
  ~Keyed() override { m_id.remove(); }
  const Id<Keyed>& getId() const { return m_id; }

private:
  Id<Keyed> m_id;
};

class Product : public FactoryObj {
public:
  explicit Product(int value) : m_id(this), m_value(value) {}
  ~Product() override { m_id.remove(); }
  Id<Product> m_id;
  int m_value;
};

class ProductArgs : public FactoryArgs {
public:
  explicit ProductArgs(int value) : m_value(value) {}
  int m_value;
};

class ProductFactory : public Factory {
public:
  ProductFactory() : Factory("Product") {}
  Id<FactoryObj> createInstance(const FactoryArgs& args) override {
    Product* p = new Product(static_cast<const ProductArgs&>(args).m_value);
    return Id<FactoryObj>(p->m_id);
  }
};

class Component : public EngineComponent {
public:
  explicit Component(int* deleted) : m_deleted(deleted) {}
  ~Component() override { ++*m_deleted; }
  int* m_deleted;
};

class TestModule : public Module {
public:
  TestModule() : Module("Test") {}
  void initialize() override {}
  void uninitialize() override {}
  void initialize(EngineId) override {}
  void uninitialize(EngineId) override {}
};

void writeDebugLines() {
  debugMsg("Widget:spin", " spun " << 3);
  debugMsg("Gadget:turn", " turned");
}

} // namespace

TEST(Error, ChecksCarryConditionMessageAndPath) {
  int x = 2;
  Error e = raised([&] { checkError(x == 3, "x is " << x); });
  EXPECT_CHECK(e, "x == 3", "x is 2");
  EXPECT_EQ(e.getFile(), "Utils/test/UtilsTest");
  EXPECT_CHECK(raised([] { check_error(ALWAYS_FAIL, "always"); }), "ALWAYS_FAIL", "always");
  bool evaluated = false;
  auto message = [&] { evaluated = true; return std::string("unused"); };
  check_error(true, message());
  EXPECT_FALSE(evaluated);
}

TEST(Debug, EnabledMarkersWriteAndOthersStaySilent) {
  std::ostringstream out;
  DebugMessage::setStream(out);
  writeDebugLines();
  EXPECT_EQ(out.str(), "");
  DebugMessage::enable("Widget");
  writeDebugLines();
  EXPECT_EQ(out.str(), "[Widget:spin] spun 3\n");
  DebugMessage::disableAll();
  writeDebugLines();
  EXPECT_EQ(out.str(), "[Widget:spin] spun 3\n");

  // A stream that can no longer be written turns a debug line into an error.
  DebugMessage::enable("Widget");
  out.exceptions(std::ios_base::goodbit);
  out.setstate(std::ios_base::badbit);
  Error e = raised([] { writeDebugLines(); });
  EXPECT_EQ(e.getCondition(), "ALWAYS_FAIL");
  EXPECT_EQ(e.getFile(), "Utils/test/UtilsTest");
  DebugMessage::disableAll();
  DebugMessage::setStream(std::cerr);
}

TEST(LabelStr, InterningAndKeys) {
  LabelStr a("Reservoir");
  LabelStr b(std::string("Reservoir"));
  EXPECT_EQ(a, b);
  EXPECT_NE(a, LabelStr("Reusable"));
  EXPECT_TRUE(LabelStr::isString(a.getKey()));
  EXPECT_FALSE(LabelStr::isString(3.0));
  EXPECT_EQ(LabelStr(a.getKey()).toString(), "Reservoir");
  EXPECT_THROW(LabelStr(3.0), Error);
  // The horizon survives narrowing to float, so an "infinite" model argument stays infinite.
  EXPECT_EQ(static_cast<double>(static_cast<float>(g_infiniteTime())), g_infiniteTimeAsDouble());
  EXPECT_EQ(static_cast<double>(static_cast<float>(-g_infiniteTime())), -g_infiniteTimeAsDouble());
}

TEST(Entity, KeysOrderAndComparatorChecks) {
  Keyed* a = new Keyed();
  Keyed* b = new Keyed();
  EXPECT_LT(a->getKey(), b->getKey());
  EXPECT_EQ(&a->entityType(), &Entity::entityTypeName());
  std::set<Id<Keyed>, EntityComparator<Id<Keyed>>> byKey;
  byKey.insert(b->getId());
  byKey.insert(a->getId());
  EXPECT_EQ(*byKey.begin(), a->getId());
  Id<Keyed> stale = b->getId();
  b->discard();
  EXPECT_THROW(EntityComparator<Id<Keyed>>()(a->getId(), stale), Error);
  a->discard();
}

TEST(Utils, CleanupDeletesAndChecks) {
  std::list<Id<Keyed>> objects;
  objects.push_back((new Keyed())->getId());
  objects.push_back(Id<Keyed>());
  objects.push_back((new Keyed())->getId());
  unsigned int live = Entity::liveCount();
  cleanup(objects);
  EXPECT_TRUE(objects.empty());
  EXPECT_EQ(Entity::liveCount(), live - 2);

  std::set<Id<Keyed>> withEmpty{Id<Keyed>()};
  Error e = raised([&] { cleanup(withEmpty); });
  EXPECT_EQ(e.getCondition(), "(*it).isValid()");
  EXPECT_EQ(e.getFile(), "Utils/base/Utils");
}

TEST(Engine, ComponentsFactoriesAndModules) {
  int deleted = 0;
  {
    Engine engine;
    engine.addComponent("A", new Component(&deleted));
    EXPECT_NE(engine.getComponent("A"), nullptr);
    EXPECT_EQ(engine.getComponent("B"), nullptr);
    Component* refused = new Component(&deleted);
    EXPECT_THROW(engine.addComponent("A", refused), Error);
    delete refused;
    EngineComponent* removed = engine.removeComponent("A");
    EXPECT_NE(removed, nullptr);
    EXPECT_EQ(engine.removeComponent("A"), nullptr);
    delete removed;
    EXPECT_EQ(deleted, 2); // the refused one and A
    engine.addComponent("C", new Component(&deleted));
    EXPECT_EQ(engine.getLanguageInterpreter("vexl-xml"), nullptr);

    FactoryMgr* mgr = new FactoryMgr();
    engine.addComponent("ProductFactoryMgr", mgr);
    mgr->registerFactory(new ProductFactory());
    Factory* duplicate = new ProductFactory();
    EXPECT_THROW(mgr->registerFactory(duplicate), Error);
    delete duplicate;
    Id<Product> made = mgr->createInstance("Product", ProductArgs(7));
    EXPECT_EQ(made->m_value, 7);
    delete (Product*)made;
    EXPECT_EQ(raised([&] { mgr->createInstance("NoSuchThing", ProductArgs(1)); }).getMsg(),
              "No factory registered under the name 'NoSuchThing'.");
  }
  EXPECT_EQ(deleted, 3); // C deleted with its engine

  // A module releases its handle, so another can be built at the same address.
  alignas(TestModule) unsigned char buffer[sizeof(TestModule)];
  TestModule* m = new (buffer) TestModule();
  m->~TestModule();
  m = new (buffer) TestModule();
  EXPECT_TRUE(m->getId().isValid());
  m->~TestModule();
}
