#ifndef KORVAN_SOLVERS_ITERATOR_HH
#define KORVAN_SOLVERS_ITERATOR_HH

#include "Solvers/base/SolverDefs.hh"

namespace KORVAN {

/// Base of the framework's iterators over entities. The holder of the handle owns the iterator.
class Iterator {
public:
  Iterator() : m_id(this) {}
  // Unregisters the handle so that copies of it become invalid.
  virtual ~Iterator() { m_id.remove(); }

  /// True when no current element is left.
  virtual bool done() const = 0;
  /// The current element; then moves to the next one.
  virtual const EntityId next() = 0;
  /// How many elements were examined so far.
  virtual unsigned int visited() const = 0;

  const IteratorId& getId() const { return m_id; }

private:
  Iterator(const Iterator&) = delete;
  Iterator& operator=(const Iterator&) = delete;
  IteratorId m_id;
};

} // namespace KORVAN

#endif
