#include <gtest/gtest.h>

#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "Utils/base/Id.hh"
#include "Utils/test/TestSupport.hh"

using namespace KORVAN;

namespace {

class Base {
public:
  Base() : m_id(this) {}
  virtual ~Base() { m_id.remove(); }
  const Id<Base>& getId() const { return m_id; }

private:
  Id<Base> m_id;
};

class Derived : public Base {};
class Other : public Base {};

std::string printed(const Id<Base>& id) {
  std::ostringstream os;
  os << id;
  return os.str();
}

const std::string BASE = "Id<" + std::string(typeid(Base).name()) + ">";
const std::string DERIVED = "Id<" + std::string(typeid(Derived).name()) + ">";

} // namespace

TEST(Id, EmptyAndValidHandles) {
  Id<Base> empty;
  EXPECT_TRUE(empty.isNoId());
  EXPECT_FALSE(empty.isValid());
  EXPECT_EQ(empty, Id<Base>::noId());
  EXPECT_EQ(printed(empty), "noId");
  EXPECT_TRUE(Id<Base>(0.0).isNoId());

  Base b;
  Id<Base> id = b.getId();
  EXPECT_TRUE(id.isValid());
  EXPECT_EQ(printed(id), "id_" + std::to_string(id.getKey()));
  // The double round trip is how objects stand in object domains.
  Id<Base> back(static_cast<double>(id));
  EXPECT_EQ(back, id);
  EXPECT_EQ(static_cast<Base*>(back), &b);
}

TEST(Id, TheSixChecksWithTheirTexts) {
  Error e = raised([] { Id<Base> id(static_cast<Base*>(nullptr)); });
  EXPECT_CHECK(e, "ptr != 0", "Cannot generate an " + BASE + " for 0 pointer.");
  EXPECT_EQ(e.getType(), "IdMgrInvalidItemPtrError");
  EXPECT_EQ(e.getFile(), "Utils/base/Id");
  EXPECT_GT(e.getLine(), 0);

  Base b;
  EXPECT_CHECK(raised([&] { Id<Base> again(&b); }), "m_key != 0",
               "Cannot generate an " + BASE + " for a pointer that has not been cleaned up.");
  int notRegistered = 0;
  double bogus = static_cast<double>(reinterpret_cast<std::uintptr_t>(&notRegistered));
  EXPECT_CHECK(raised([&] { Id<Base> id(bogus); }), "m_key != 0",
               "Cannot instantiate an " + BASE + " for this address. No instance present.");
  Id<Base> removable;
  EXPECT_CHECK(raised([&] { removable.remove(); }), "isValid()", "Cannot remove an invalid " + BASE + ".");
  Other o;
  e = raised([&] { Id<Derived> d(o.getId()); });
  EXPECT_CHECK(e, "Id<T>::convertable(org)", "Invalid cast from " + BASE + " to " + DERIVED + ".");
  EXPECT_EQ(e.getType(), "IdMgrInvalidItemPtrError");
}

TEST(Id, StaleCopiesAndReusedAddresses) {
  alignas(Base) unsigned char buffer[sizeof(Base)];
  Base* first = new (buffer) Base();
  Id<Base> stale = first->getId();
  Id<Base> copy = stale;
  unsigned int oldKey = stale.getKey();
  first->~Base();

  EXPECT_FALSE(stale.isNoId());
  EXPECT_FALSE(stale.isValid());
  EXPECT_EQ(printed(stale), "id_" + std::to_string(oldKey));
  EXPECT_EQ(stale, copy);

  // The address registers again once its first object unregistered.
  Base* second = new (buffer) Base();
  Id<Base> fresh = second->getId();
  EXPECT_TRUE(fresh.isValid());
  EXPECT_FALSE(stale.isValid());
  EXPECT_NE(stale, fresh);
  EXPECT_FALSE(stale < fresh);
  EXPECT_FALSE(fresh < stale);

  // remove() empties the handle it is called on; its copies go stale.
  Id<Base> handle = fresh;
  handle.remove();
  EXPECT_TRUE(handle.isNoId());
  EXPECT_FALSE(fresh.isValid());
  EXPECT_FALSE(fresh.isNoId());
  // Re-register so that the destructor's remove() succeeds.
  new (&const_cast<Id<Base>&>(second->getId())) Id<Base>(second);
  second->~Base();
}

TEST(Id, ConversionsAlongAHierarchy) {
  Derived* d = new Derived();
  Id<Base> base = d->getId();
  Id<Derived> down(base);
  EXPECT_TRUE(down.isValid());
  EXPECT_EQ(static_cast<Derived*>(down), d);
  Id<Base> up(down);
  EXPECT_EQ(up, base);
  Id<Derived> assigned;
  assigned = base;
  EXPECT_EQ(assigned, down);
  EXPECT_TRUE(Id<Derived>(Id<Base>()).isNoId());

  // A stale handle is refused before its (freed) object is read.
  delete d;
  EXPECT_CHECK(raised([&] { Id<Derived> gone(base); }), "m_key != 0",
               "Cannot create an " + BASE + " for this address since no instance is present.");
}

// A stale handle stays invalid while other objects come, at other addresses or at its own
// address again; conversions of a live handle stay valid and go stale with it.
TEST(Id, StaleHandlesAmongNewObjects) {
  Base* first = new Base();
  const Id<Base> stale = first->getId();
  delete first;
  EXPECT_FALSE(stale.isValid());
  std::vector<Base*> others;
  for (int i = 0; i < 64; ++i) {
    others.push_back(new Base());
    EXPECT_FALSE(stale.isValid());
    EXPECT_TRUE(others.back()->getId().isValid());
  }
  Derived* d = new Derived();
  const Id<Base> viaBase = d->getId();
  const Id<Derived> down(viaBase);
  const Id<Base> up(down);
  EXPECT_TRUE(down.isValid());
  EXPECT_TRUE(up.isValid());
  EXPECT_EQ(up, viaBase);
  delete d;
  EXPECT_FALSE(down.isValid());
  EXPECT_FALSE(up.isValid());
  for (Base* b : others)
    delete b;
  EXPECT_FALSE(stale.isValid());
}
