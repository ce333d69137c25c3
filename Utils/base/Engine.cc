#include "Utils/base/Engine.hh"

#include "Utils/base/Error.hh"

namespace KORVAN {

Engine::Engine() : m_id(this) {}

Engine::~Engine() {
  // Interpreters refer to components: they go first. Components go newest first, since later
  // ones are built on earlier ones.
  while (!m_interpreters.empty()) {
    delete m_interpreters.back().second;
    m_interpreters.pop_back();
  }
  while (!m_components.empty()) {
    delete m_components.back().second;
    m_components.pop_back();
  }
  m_id.remove();
}

EngineComponent* Engine::getComponent(const std::string& name) const {
  for (const auto& entry : m_components)
    if (entry.first == name)
      return entry.second;
  return nullptr;
}

void Engine::addComponent(const std::string& name, EngineComponent* component) {
  checkError(component != nullptr, "Cannot add a null component named '" << name << "'.");
  checkError(getComponent(name) == nullptr,
             "The engine already has a component named '" << name << "'.");
  try {
    m_components.emplace_back(name, component);
  } catch (...) {
    // Handed over is owned: a component the engine had no room to hold goes with the failure.
    delete component;
    throw;
  }
}

EngineComponent* Engine::removeComponent(const std::string& name) {
  for (auto it = m_components.begin(); it != m_components.end(); ++it)
    if (it->first == name) {
      EngineComponent* component = it->second;
      m_components.erase(it);
      return component;
    }
  return nullptr;
}

LanguageInterpreter* Engine::getLanguageInterpreter(const std::string& language) const {
  for (const auto& entry : m_interpreters)
    if (entry.first == language)
      return entry.second;
  return nullptr;
}

void Engine::addLanguageInterpreter(const std::string& language, LanguageInterpreter* interpreter) {
  checkError(interpreter != nullptr, "Cannot add a null interpreter for '" << language << "'.");
  checkError(getLanguageInterpreter(language) == nullptr,
             "The engine already has an interpreter for '" << language << "'.");
  try {
    m_interpreters.emplace_back(language, interpreter);
  } catch (...) {
    delete interpreter;
    throw;
  }
}

LanguageInterpreter* Engine::removeLanguageInterpreter(const std::string& language) {
  for (auto it = m_interpreters.begin(); it != m_interpreters.end(); ++it)
    if (it->first == language) {
      LanguageInterpreter* interpreter = it->second;
      m_interpreters.erase(it);
      return interpreter;
    }
  return nullptr;
}

} // namespace KORVAN
