#ifndef KORVAN_VERDICT_CHANGEWATCH_HH
#define KORVAN_VERDICT_CHANGEWATCH_HH

// A schedule search asks its checks again after every fix: a check that keeps what it found and
// hears of every change of a domain looks again only where something changed, so that a fix
// costs what it changes rather than the whole plan. Internal to apps/.

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngineDefs.hh"
#include "PlanDatabase/base/PlanDatabaseDefs.hh"

namespace KORVAN {
namespace HOST {

/// Tells its reader of every change of a derived domain in the engine, relaxations included, from
/// its making to its end. The reader must change nothing.
class ChangeWatch {
public:
  typedef std::function<void(const ConstrainedVariable&)> Reader;
  ChangeWatch(const ConstraintEngineId& ce, const Reader& reader);
  ~ChangeWatch();

private:
  ChangeWatch(const ChangeWatch&) = delete;
  ChangeWatch& operator=(const ChangeWatch&) = delete;

  ConstraintEngine* m_ce;
  Reader m_reader;
};

/// What a check keeps for the length of one schedule search.
class SearchMemory {
public:
  virtual ~SearchMemory() {}
};

/// What a check keeps that is read again per token: it hears which tokens' watched variables
/// changed since it last looked.
class TokenChangeMemory : public SearchMemory {
protected:
  explicit TokenChangeMemory(const ConstraintEngineId& ce);

  /// A change of `var` moves `token`.
  void watch(const ConstrainedVariableId& var, const TokenId& token);
  /// The token is read at the next look as if it had moved.
  void markMoved(const TokenId& token);
  /// The tokens moved since the last look, each once, in the order first heard.
  std::vector<TokenId> takeMoved();
  /// Hears each change of a variable watched for `token`, before the token is taken as moved.
  virtual void heardOf(const ConstrainedVariable& /* var */, const TokenId& /* token */) {}

private:
  void heard(const ConstrainedVariable& var);

  ChangeWatch m_watch;
  std::unordered_map<const ConstrainedVariable*, TokenId> m_tokenOf;
  std::vector<TokenId> m_moved;
  std::set<int> m_heard; // the keys of those moved
};

/// One schedule search on an engine: what its checks keep goes with it. Searches on one engine
/// may nest; the newest is the one asked.
class SearchScope {
public:
  explicit SearchScope(const ConstraintEngineId& ce);
  ~SearchScope();

  /// The newest search on the engine; null outside one.
  static SearchScope* of(const ConstraintEngineId& ce);
  /// What the check known by `key` keeps, made by `make` on its first question.
  SearchMemory& memory(const void* key, const std::function<SearchMemory*()>& make);

private:
  SearchScope(const SearchScope&) = delete;
  SearchScope& operator=(const SearchScope&) = delete;

  ConstraintEngine* m_ce;
  SearchScope* m_outer;
  std::map<const void*, std::unique_ptr<SearchMemory>> m_memories;
};

} // namespace HOST
} // namespace KORVAN

#endif
