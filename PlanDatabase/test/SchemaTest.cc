#include <gtest/gtest.h>

#include <functional>

#include "PlanDatabase/base/Schema.hh"
#include "Utils/test/TestSupport.hh"

using namespace KORVAN;

namespace {

std::string failure(const std::function<void()>& f) { return raised(f).getMsg(); }

} // namespace

TEST(Schema, typesMembersAndPredicates) {
  Schema schema;
  schema.addObjectType("Resource");
  schema.addObjectType("Reservoir", "Resource");
  schema.addMember("Resource", "float", "initialCapacity");
  schema.addMember("Reservoir", "float", "levelLimitMin");
  schema.addPredicate("Reservoir.produce");
  schema.addMember("Reservoir.produce", "float", "quantity");

  EXPECT_TRUE(schema.isObjectType("Reservoir"));
  EXPECT_TRUE(schema.isObjectType("Object"));
  EXPECT_FALSE(schema.isObjectType("Reservoir.produce"));
  EXPECT_TRUE(schema.isPredicate("Reservoir.produce"));
  EXPECT_EQ(LabelStr("Reservoir"), schema.getObjectType("Reservoir.produce"));
  EXPECT_TRUE(schema.isA("Reservoir", "Resource"));
  EXPECT_FALSE(schema.isA("Resource", "Reservoir"));

  EXPECT_EQ((std::vector<LabelStr>{"Reservoir", "Resource", "Object"}), schema.getAllObjectTypes("Reservoir"));

  // Inherited members come first.
  std::vector<Schema::NameTypePair> members = schema.getMembers("Reservoir");
  EXPECT_EQ((std::vector<Schema::NameTypePair>{{"initialCapacity", "float"}, {"levelLimitMin", "float"}}), members);
  EXPECT_TRUE(schema.hasMember("Reservoir", "initialCapacity"));
  EXPECT_FALSE(schema.hasMember("Resource", "levelLimitMin"));
  EXPECT_EQ(LabelStr("float"), schema.getMemberType("Reservoir.produce", "quantity"));
  ASSERT_EQ(1u, schema.getPredicates("Reservoir").size());

  // Bad declarations are refused with clear messages.
  EXPECT_EQ("Object type 'Reservoir' is already declared.",
            failure([&] { schema.addObjectType("Reservoir"); }));
  EXPECT_EQ("Parent type 'Nothing' of object type 'X' is not declared.",
            failure([&] { schema.addObjectType("X", "Nothing"); }));
  EXPECT_EQ("Predicate 'Nothing.p' names the undeclared object type 'Nothing'.",
            failure([&] { schema.addPredicate("Nothing.p"); }));
  EXPECT_EQ("Predicate 'plain' must be named 'ObjectType.name'.",
            failure([&] { schema.addPredicate("plain"); }));
  EXPECT_EQ("'Reservoir' already has a member 'initialCapacity'.",
            failure([&] { schema.addMember("Reservoir", "float", "initialCapacity"); }));
  EXPECT_EQ("'Nothing' is not an object type.", failure([&] { schema.getAllObjectTypes("Nothing"); }));
  EXPECT_EQ("'Reservoir' has no member 'x'.", failure([&] { schema.getMemberType("Reservoir", "x"); }));
}
