#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "PlanDatabase/base/EventToken.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "PlanDatabase/test/World.hh"
#include "ConstraintEngine/test/Bounds.hh"
#include "Utils/test/TestSupport.hh"
#include "Vexl/InterpretedObjectFactory.hh"
#include "Vexl/VexlXmlInterpreter.hh"

using namespace KORVAN;

namespace {

/// A natively built class: "Tank:float:float" stores (capacity, level) and refuses a negative
/// capacity after the object exists, as native factories may.
class TankFactory : public NativeObjectFactory {
public:
  TankFactory(const LabelStr& signature) : NativeObjectFactory("Tank", signature) {}

protected:
  ObjectId makeNewObject(const PlanDatabaseId& db, const LabelStr& type, const LabelStr& name,
                         const std::vector<const AbstractDomain*>& args) const override {
    Object* tank = new Object(db, type, name, true);
    checkError(args.size() == 2, "Unexpected number of args in Tank constructor:" << args.size());
    tank->addVariable(*args[0], LabelStr("capacity"));
    tank->addVariable(*args[1], LabelStr("level"));
    checkError(args[0]->getSingletonValue() >= 0, "negative capacity");
    return tank->getId();
  }
};

/// A native class whose closing can fail: a level above the capacity cannot be closed.
class CheckedTank : public Object {
public:
  CheckedTank(const PlanDatabaseId& db, const LabelStr& type, const LabelStr& name) : Object(db, type, name, true) {}
  void checkClose() const override {
    double capacity = getVariables()[0]->lastDomain().getSingletonValue();
    double level = getVariables()[1]->lastDomain().getSingletonValue();
    checkError(level <= capacity, getName().toString() << ": the level is above the capacity");
  }
  void close() override {
    checkClose();
    Object::close();
  }
};

class CheckedTankFactory : public NativeObjectFactory {
public:
  CheckedTankFactory() : NativeObjectFactory("CheckedTank", LabelStr("CheckedTank:float:float")) {}

protected:
  ObjectId makeNewObject(const PlanDatabaseId& db, const LabelStr& type, const LabelStr& name,
                         const std::vector<const AbstractDomain*>& args) const override {
    CheckedTank* tank = new CheckedTank(db, type, name);
    tank->addVariable(*args[0], LabelStr("capacity"));
    tank->addVariable(*args[1], LabelStr("level"));
    return tank->getId();
  }
};

struct Env : public World {
  Env() {
    schema->addObjectType(LabelStr("Tank"));
    schema->addMember(LabelStr("Tank"), LabelStr("float"), LabelStr("capacity"));
    schema->addMember(LabelStr("Tank"), LabelStr("float"), LabelStr("level"));
    schema->registerObjectFactory((new TankFactory(LabelStr("Tank:float:float")))->getId());
    interpreter = new VexlXmlInterpreter(db->getId());
    interpreter->addNativeClass("Tank", std::vector<std::string>());
    schema->addObjectType(LabelStr("CheckedTank"));
    schema->addMember(LabelStr("CheckedTank"), LabelStr("float"), LabelStr("capacity"));
    schema->addMember(LabelStr("CheckedTank"), LabelStr("float"), LabelStr("level"));
    schema->registerObjectFactory((new CheckedTankFactory())->getId());
    interpreter->addNativeClass("CheckedTank", std::vector<std::string>());
  }
  ~Env() { delete interpreter; }
  std::string run(const std::string& text, const std::string& source = "model.xml") {
    std::istringstream in(text);
    return interpreter->interpret(in, source);
  }
  // What a failed transaction must leave unchanged.
  std::string state() const {
    std::ostringstream os;
    os << db->getObjects().size() << "/" << db->getTokens().size() << "/"
       << ce->getConstraints().size() << "/" << schema->getObjectTypes().size() << "/"
       << interpreter->getNamedTokens().size() << "/" << db->isClosed();
    for (const auto& entry : db->getObjects())
      os << " " << entry.second->getName().toString() << ":" << entry.second->getVariables().size()
         << (entry.second->isClosed() ? "c" : "o");
    return os.str();
  }
  VexlXmlInterpreter* interpreter;
};

const std::string MODEL =
    "<vexl>\n"
    "  <class name='Vehicle'><member name='speed' type='float'/></class>\n"
    "  <class name='Rover' extends='Vehicle'>\n"
    "    <member name='battery' type='int'/>\n"
    "    <predicate name='drive'><member name='distance' type='float'/></predicate>\n"
    "    <predicate name='ping' kind='event'/>\n"
    "  </class>\n"
    "  <new type='Rover' name='r1'/>\n"
    "  <new type='Tank' name='tank'><float value='5'/><float value='2.5'/></new>\n"
    "  <set object='r1' member='speed' value='3'/>\n"
    "  <set object='r1' member='mode' value='fast'/>\n"
    "  <close object='r1'/>\n"
    "  <close/>\n"
    "  <goal predicate='Rover.drive' name='d1' object='r1' start='0 10' duration='5' distance='1 4'/>\n"
    "  <fact predicate='Rover.ping' name='p1' object='r1' time='20'/>\n"
    "  <goal predicate='Rover.drive' name='d2' object='r1' start='0 50' duration='5 10'/>\n"
    "  <constraint name='precedes' scope='d1.end p1.time'/>\n"
    "  <constraint name='precedes' scope='p1.time d2.start'/>\n"
    "  <specify variable='d2.duration' value='7'/>\n"
    "  <specify variable='d1.distance' value='2'/>\n"
    "  <reset variable='d1.distance'/>\n"
    "</vexl>\n";

} // namespace

TEST(VexlXmlInterpreter, EveryTransaction) {
  Env env;
  EXPECT_EQ("model.xml: 16 transaction(s)", env.run(MODEL));
  ASSERT_TRUE(env.ce->propagate());
  ObjectId r1 = env.interpreter->getObject("r1");
  ASSERT_TRUE(r1.isValid());
  EXPECT_TRUE(r1->isClosed());
  // Inherited member first, then own, then the one the model added.
  ASSERT_EQ(3u, r1->getVariables().size());
  EXPECT_EQ(LabelStr("r1.speed"), r1->getVariables()[0]->getName());
  EXPECT_EQ(3.0, r1->getVariable(LabelStr("r1.speed"))->lastDomain().getSingletonValue());
  EXPECT_EQ("int", r1->getVariable(LabelStr("r1.battery"))->baseDomain().getTypeName().toString());
  EXPECT_EQ("fast", LabelStr(r1->getVariable(LabelStr("r1.mode"))->lastDomain().getSingletonValue()).toString());
  ObjectId tank = env.interpreter->getObject("tank");
  EXPECT_EQ(2.5, tank->getVariable(LabelStr("tank.level"))->lastDomain().getSingletonValue());
  EXPECT_TRUE(env.db->isClosed());

  TokenId d1 = env.interpreter->getToken("d1"), p1 = env.interpreter->getToken("p1"),
          d2 = env.interpreter->getToken("d2");
  ASSERT_TRUE(d1.isValid() && p1.isValid() && d2.isValid());
  EXPECT_TRUE(p1->isFact());
  EXPECT_FALSE(d1->isFact());
  EXPECT_TRUE(d1->isActive());
  EXPECT_EQ(3u, r1->tokens().size());
  EXPECT_BOUNDS(d1->end(), 5, 15);
  EXPECT_BOUNDS(p1->start(), 20, 20);
  EXPECT_BOUNDS(d2->start(), 20, 50);
  EXPECT_BOUNDS(d2->duration(), 7, 7);
  EXPECT_EQ(27.0, d2->end()->lastDomain().getLowerBound());
  EXPECT_BOUNDS(d1->getVariable(LabelStr("distance")), 1, 4);
}

TEST(VexlXmlInterpreter, BadInputLeavesTheDatabaseAsItWas) {
  Env env;
  env.run(MODEL);
  struct Case {
    const char* transaction;
    const char* fragment;
  };
  const Case cases[] = {
      {"<new type='Rover' name='x'>", "<new>: the end tag </vexl> does not close <new>, the element open last (from line 3)"},
      {"<frobnicate/>", "<frobnicate>: unknown transaction"},
      {"<new type='Boat' name='b'/>", "<new>: unknown type 'Boat'"},
      {"<new type='Rover'/>", "missing attribute 'name'"},
      {"<new type='Rover' name='r1'/>", "duplicate object name 'r1'"},
      {"<new type='Tank' name='t2'><float value='1'/></new>", "unknown constructor signature 'Tank:float'"},
      {"<new type='Tank' name='t2'><float value='abc'/><float value='1'/></new>", "expected a number"},
      {"<new type='Tank' name='t2'><int value='1'/></new>", "unsupported argument <int>"},
      {"<class name='Rover'/>", "type 'Rover' is already defined"},
      {"<class name='Boat' extends='Tank'/>", "cannot extend the native class 'Tank'"},
      {"<class name='Boat'><member name='m' type='string'/></class>", "unknown member type 'string'"},
      {"<goal predicate='Rover.fly' name='f'/>", "<goal>: unknown predicate 'Rover.fly'"},
      {"<goal predicate='Rover.drive' name='d1'/>", "duplicate token name 'd1'"},
      {"<goal predicate='Rover.drive' name='d9' start='5 1'/>", "empty bounds for 'start'"},
      {"<goal predicate='Rover.drive' name='d9' speed='3'/>", "has no variable 'speed'"},
      {"<goal predicate='Rover.drive' name='d9' duration='-4'/>", "lie outside its domain"},
      {"<fact predicate='Rover.drive' name='d9' object='tank'/>", "cannot hold 'Rover.drive'"},
      {"<goal predicate='Rover.drive' rejectable='maybe'/>", "'rejectable' is a bool: it takes true, false, 1 or 0"},
      {"<constraint name='beforeish' scope='d1.end d2.start'/>", "unknown constraint 'beforeish'"},
      {"<constraint name='precedes' scope='d1.end zz.start'/>", "unknown token or object 'zz'"},
      {"<constraint name='precedes' scope='d1.end d2.middle'/>", "token 'd2' has no variable 'middle'"},
      {"<specify variable='d1.distance' value='9'/>", "is not in the domain"},
      {"<specify variable='d2.duration' value='7'/>", "is already specified"},
      {"<reset variable='d1.distance'/>", "is not specified"},
      {"<set object='r1' member='speed' value='4'/>", "object 'r1' is closed"},
      {"<close/>", "already closed"},
      {"<new type='Rover' name='late'/>", "the plan database is closed"},
  };
  for (const Case& c : cases) {
    std::string before = env.state();
    Error e = raised([&] { env.run(std::string("<vexl>\n\n") + c.transaction + "\n</vexl>", "bad.xml"); });
    EXPECT_EQ("VexlError", e.getType());
    // An element left open is reported at the end tag that finds it open.
    std::string where = std::string(c.fragment).find("end tag") != std::string::npos ? "bad.xml:4: " : "bad.xml:3: ";
    EXPECT_EQ(0u, e.getMsg().find(where)) << e.getMsg();
    EXPECT_NE(std::string::npos, e.getMsg().find(c.fragment)) << e.getMsg();
    EXPECT_EQ(before, env.state()) << c.transaction;
  }
  // A factory that fails after making its object: the object is withdrawn.
  Env fresh;
  std::string before = fresh.state();
  EXPECT_THROW(fresh.run("<vexl><new type='Tank' name='t3'><float value='-1'/><float value='0'/></new></vexl>"),
               Error);
  EXPECT_EQ(before, fresh.state());
  EXPECT_TRUE(fresh.interpreter->getObject("t3").isNoId());
  // Earlier transactions of a failing file stay.
  EXPECT_THROW(fresh.run("<vexl><new type='Tank' name='t4'><float value='1'/><float value='0'/></new>"
                         "<new type='Tank' name='t4'><float value='1'/><float value='0'/></new></vexl>"),
               Error);
  EXPECT_TRUE(fresh.interpreter->getObject("t4").isValid());
}

TEST(VexlXmlInterpreter, ObjectListsAndObjectValues) {
  Env env;
  env.run("<vexl><class name='Rover'><predicate name='drive'/></class>"
          "<new type='Rover' name='a'/><new type='Rover' name='b'/>"
          "<goal predicate='Rover.drive' name='early' object='a'/>"
          "<new type='Rover' name='c'/><close/>"
          "<goal predicate='Rover.drive' name='late' object='b c'/>"
          "<specify variable='late.object' value='c'/></vexl>");
  ASSERT_TRUE(env.ce->propagate());
  // Named before the database closed, the list stays as given: c does not join it.
  double a = env.interpreter->getObject("a"), c = env.interpreter->getObject("c");
  EXPECT_BOUNDS(env.interpreter->getToken("early")->getObject(), a, a);
  EXPECT_BOUNDS(env.interpreter->getToken("late")->getObject(), c, c);
  EXPECT_THROW(env.run("<vexl><specify variable='early.object' value='zz'/></vexl>"), Error);
}

TEST(VexlXmlInterpreter, AFailedCloseClosesNothing) {
  Env env;
  env.run("<vexl><new type='CheckedTank' name='good'><float value='5'/><float value='1'/></new>"
          "<new type='Tank' name='plain'><float value='5'/><float value='1'/></new>"
          "<new type='CheckedTank' name='bad'><float value='5'/><float value='9'/></new></vexl>");
  std::string before = env.state();
  Error e = raised([&] { env.run("<vexl>\n<close/>\n</vexl>", "close.xml"); });
  EXPECT_EQ("close.xml:2: <close>: cannot close 'bad': bad: the level is above the capacity (failed check "
            "'level <= capacity')",
            e.getMsg());
  EXPECT_EQ(before, env.state());
  EXPECT_FALSE(env.interpreter->getObject("good")->isClosed());
  // One object alone: the same check, and nothing closed either.
  e = raised([&] { env.run("<vexl><close object='bad'/></vexl>", "close.xml"); });
  EXPECT_EQ(before, env.state());
  env.run("<vexl><close object='good'/></vexl>");
  EXPECT_TRUE(env.interpreter->getObject("good")->isClosed());
}

TEST(VexlXmlInterpreter, OverDeepDocumentsAreRefusedWhereTheyGoTooDeep) {
  Env env;
  std::string nested;
  for (unsigned int i = 0; i <= VexlXmlInterpreter::maxXmlDepth(); i++)
    nested += "<x a='y>' b=\"/>\">\n";
  Error e = raised([&] { env.run("<vexl>\n" + nested + "</vexl>", "deep.xml"); });
  // The root is the first level: the element that goes one level too deep is on the line
  // maxXmlDepth() + 1.
  EXPECT_EQ("deep.xml:" + std::to_string(VexlXmlInterpreter::maxXmlDepth() + 1) +
                ": <x>: elements nested deeper than " + std::to_string(VexlXmlInterpreter::maxXmlDepth()) +
                " levels",
            e.getMsg());
  // Exactly as deep as allowed: parsed (and refused for its content, not its depth).
  std::string allowed;
  for (unsigned int i = 1; i < VexlXmlInterpreter::maxXmlDepth(); i++)
    allowed += "<x>";
  e = raised([&] { env.run("<vexl>" + allowed + "</vexl>", "deep.xml"); });
  EXPECT_EQ(std::string::npos, e.getMsg().find("nested deeper")) << e.getMsg();
}
