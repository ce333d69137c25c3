#ifndef KORVAN_MIRT_COMPARATORCHAIN_HH
#define KORVAN_MIRT_COMPARATORCHAIN_HH

#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

#include <list>
#include <memory>

namespace KORVAN {
namespace MIRT {

// A lexicographic list of comparators that it owns: the first comparator that puts one of two
// items before the other decides; later ones break its ties. Copies are deep, so that a
// std::set can hold its own. Comparator is a polymorphic class with a const call operator on
// two items, toString() and copy(), and a static debugMarker() under which the chain reports.
template <class Comparator>
class ComparatorChain {
public:
  ComparatorChain() {}
  ComparatorChain(const ComparatorChain& other) {
    for (typename std::list<Comparator*>::const_iterator it = other.m_cmps.begin(); it != other.m_cmps.end(); ++it)
      if (*it != NULL)
        m_cmps.push_back((*it)->copy());
  }
  ~ComparatorChain() {
    for (typename std::list<Comparator*>::iterator it = m_cmps.begin(); it != m_cmps.end(); ++it)
      delete *it;
    m_cmps.clear();
  }

  // Takes ownership of cmp.
  void addOrder(Comparator* cmp) {
    checkError(cmp != NULL, "");
    // Held before the line is written: a debug line that fails must not strand it.
    std::unique_ptr<Comparator> owned(cmp);
    m_cmps.push_back(cmp);
    owned.release();
    debugMsg(Comparator::debugMarker(), "Adding comparator " << cmp->toString());
  }

  const std::list<Comparator*>& getComparators() const { return m_cmps; }

protected:
  // The comparator that separates a and b, with aFirst telling which way; NULL when every
  // comparator ties them.
  template <class Item>
  const Comparator* decide(const Item& a, const Item& b, bool& aFirst) const {
    for (typename std::list<Comparator*>::const_iterator it = m_cmps.begin(); it != m_cmps.end(); ++it) {
      const Comparator* cmp = *it;
      checkError(cmp != NULL, "");
      aFirst = (*cmp)(a, b);
      if (aFirst || (*cmp)(b, a)) {
        debugMsg(Comparator::debugMarker(), cmp->toString() << ": the " << (aFirst ? "first" : "second")
                 << " goes first");
        return cmp;
      }
      debugMsg(Comparator::debugMarker(), cmp->toString() << ": tied");
    }
    return NULL;
  }

  std::list<Comparator*> m_cmps;

private:
  ComparatorChain& operator=(const ComparatorChain&) = delete;
};

}
}

#endif
