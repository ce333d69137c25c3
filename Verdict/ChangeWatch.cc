#include "Verdict/ChangeWatch.hh"

#include <algorithm>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "PlanDatabase/base/Token.hh"

namespace KORVAN {
namespace HOST {

namespace {

// By engine: the watches in the order they were made; the engine has one listener for them all.
std::map<ConstraintEngine*, std::vector<ChangeWatch::Reader*>>& watches() {
  static std::map<ConstraintEngine*, std::vector<ChangeWatch::Reader*>> s_watches;
  return s_watches;
}

std::map<ConstraintEngine*, SearchScope*>& scopes() {
  static std::map<ConstraintEngine*, SearchScope*> s_scopes;
  return s_scopes;
}

} // namespace

ChangeWatch::ChangeWatch(const ConstraintEngineId& ce, const Reader& reader) : m_ce(ce), m_reader(reader) {
  std::vector<Reader*>& readers = watches()[m_ce];
  readers.push_back(&m_reader);
  if (readers.size() == 1)
    m_ce->setChangeListener([&readers](const ConstrainedVariable& var) {
      for (Reader* reader : readers)
        (*reader)(var);
    });
}

ChangeWatch::~ChangeWatch() {
  std::map<ConstraintEngine*, std::vector<Reader*>>::iterator found = watches().find(m_ce);
  std::vector<Reader*>& readers = found->second;
  readers.erase(std::find(readers.begin(), readers.end(), &m_reader));
  if (readers.empty()) {
    m_ce->setChangeListener(nullptr);
    watches().erase(found);
  }
}

TokenChangeMemory::TokenChangeMemory(const ConstraintEngineId& ce)
    : m_watch(ce, [this](const ConstrainedVariable& var) { heard(var); }) {}

void TokenChangeMemory::watch(const ConstrainedVariableId& var, const TokenId& token) {
  m_tokenOf[(const ConstrainedVariable*) var] = token;
}

void TokenChangeMemory::markMoved(const TokenId& token) {
  if (m_heard.insert(token->getKey()).second)
    m_moved.push_back(token);
}

std::vector<TokenId> TokenChangeMemory::takeMoved() {
  std::vector<TokenId> moved;
  moved.swap(m_moved);
  for (const TokenId& token : moved)
    m_heard.erase(token->getKey());
  return moved;
}

void TokenChangeMemory::heard(const ConstrainedVariable& var) {
  const std::unordered_map<const ConstrainedVariable*, TokenId>::const_iterator token = m_tokenOf.find(&var);
  if (token == m_tokenOf.end())
    return;
  heardOf(var, token->second);
  markMoved(token->second);
}

SearchScope::SearchScope(const ConstraintEngineId& ce) : m_ce(ce), m_outer(of(ce)) { scopes()[m_ce] = this; }

SearchScope::~SearchScope() {
  // What the checks keep may watch the engine: it goes before the scope does.
  m_memories.clear();
  if (m_outer != nullptr)
    scopes()[m_ce] = m_outer;
  else
    scopes().erase(m_ce);
}

SearchScope* SearchScope::of(const ConstraintEngineId& ce) {
  std::map<ConstraintEngine*, SearchScope*>::const_iterator found = scopes().find((ConstraintEngine*) ce);
  return found == scopes().end() ? nullptr : found->second;
}

SearchMemory& SearchScope::memory(const void* key, const std::function<SearchMemory*()>& make) {
  std::unique_ptr<SearchMemory>& kept = m_memories[key];
  if (!kept)
    kept.reset(make());
  return *kept;
}

} // namespace HOST
} // namespace KORVAN
