#ifndef KORVAN_UTILS_ENGINE_HH
#define KORVAN_UTILS_ENGINE_HH

#include <istream>
#include <string>
#include <utility>
#include <vector>

#include "Utils/base/Id.hh"

namespace KORVAN {

/// A named part of an engine (constraint engine, plan database, factory managers, ...).
class EngineComponent {
public:
  virtual ~EngineComponent() {}
};

/// A reader of models in some language, registered with the engine under the language's name.
class LanguageInterpreter {
public:
  virtual ~LanguageInterpreter() {}
  /// Reads and executes a whole model; `source` names it in error messages.
  virtual std::string interpret(std::istream& input, const std::string& source) = 0;
};

class Engine;
typedef Id<Engine> EngineId;

/// Holds the components of one planning engine by name. It owns them: they are deleted in the
/// reverse order of their addition when the engine is.
class Engine {
public:
  Engine();
  virtual ~Engine();

  const EngineId& getId() const { return m_id; }

  /// The component held under the name, or null.
  EngineComponent* getComponent(const std::string& name) const;
  /// Hands the component to the engine, which owns it from then on (and deletes it when it has
  /// no memory to hold it); the name must be free.
  void addComponent(const std::string& name, EngineComponent* component);
  /// Takes the component back from the engine (the caller owns it again); null if none.
  EngineComponent* removeComponent(const std::string& name);

  LanguageInterpreter* getLanguageInterpreter(const std::string& language) const;
  /// The engine owns the interpreter, as it does a component.
  void addLanguageInterpreter(const std::string& language, LanguageInterpreter* interpreter);
  LanguageInterpreter* removeLanguageInterpreter(const std::string& language);

private:
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  EngineId m_id;
  std::vector<std::pair<std::string, EngineComponent*>> m_components;
  std::vector<std::pair<std::string, LanguageInterpreter*>> m_interpreters;
};

} // namespace KORVAN

#endif
