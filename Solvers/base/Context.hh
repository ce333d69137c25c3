#ifndef KORVAN_SOLVERS_CONTEXT_HH
#define KORVAN_SOLVERS_CONTEXT_HH

#include <map>
#include <string>

#include "Solvers/base/SolverDefs.hh"

namespace KORVAN {
namespace SOLVERS {

/// Named numbers shared by the solver's components (the solver publishes its figures here).
class Context {
public:
  Context(const std::string& name) : m_id(this), m_name(name) {}
  ~Context() { m_id.remove(); }

  const ContextId& getId() const { return m_id; }
  const std::string& getName() const { return m_name; }

  void put(const std::string& key, double value) { m_values[key] = value; }
  bool has(const std::string& key) const { return m_values.find(key) != m_values.end(); }
  /// The value under the key, or the fallback when there is none.
  double get(const std::string& key, double fallback = 0.0) const {
    std::map<std::string, double>::const_iterator it = m_values.find(key);
    return it == m_values.end() ? fallback : it->second;
  }

private:
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  ContextId m_id;
  std::string m_name;
  std::map<std::string, double> m_values;
};

} // namespace SOLVERS
} // namespace KORVAN

#endif
