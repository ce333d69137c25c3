#ifndef KORVAN_SOLVERS_COMPONENT_HH
#define KORVAN_SOLVERS_COMPONENT_HH

#include <sstream>
#include <string>
#include <vector>

#include "Solvers/base/SolverDefs.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Factory.hh"
#include "Utils/base/LabelStr.hh"

namespace KORVAN {
namespace SOLVERS {

/// Base of the solver's configurable parts (flaw managers, flaw handlers). Each is built from
/// its XML element; the component keeps its own copy of the element, so the configuration
/// document need not outlive it.
class Component : public FactoryObj {
public:
  Component(const TiXmlElement& configData);
  virtual ~Component();

  const ComponentId& getId() const { return m_id; }
  /// The component's own copy of its configuration element.
  const TiXmlElement& getConfigData() const { return *m_configData; }
  /// The registered component name (the "component" attribute), or the element's tag.
  const LabelStr& getName() const { return m_name; }

  void setContext(const ContextId& ctx) { m_context = ctx; }
  const ContextId& getContext() const { return m_context; }

  virtual std::string toString() const;

  /// Adds the attributes of its element that the component reads ("component" here).
  virtual void getAttributes(std::vector<std::string>& names) const;
  /// Refuses an attribute of the element that the component does not read: a misspelt
  /// word would otherwise change nothing without a word said.
  void checkAttributes(const TiXmlElement& configData) const;

private:
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  ComponentId m_id;
  TiXmlElement* m_configData;
  LabelStr m_name;
  ContextId m_context;
};

/// Arguments of a component factory: the component's configuration element.
class ComponentArgs : public FactoryArgs {
public:
  ComponentArgs(const TiXmlElement& data) : configData(data) {}
  const TiXmlElement& configData;
};

/// Makes components of one class from their configuration element.
template <class ComponentType>
class ComponentFactory : public Factory {
public:
  ComponentFactory(const LabelStr& name) : Factory(name) {}
  ~ComponentFactory() override {}

  Id<FactoryObj> createInstance(const FactoryArgs& fa) override {
    const ComponentArgs& args = static_cast<const ComponentArgs&>(fa);
    ComponentType* component = new ComponentType(args.configData);
    return Id<FactoryObj>(Id<Component>(component->getId()));
  }
};

/// The engine component "ComponentFactoryMgr": component factories by registered name.
class ComponentFactoryMgr : public FactoryMgr {
public:
  ComponentFactoryMgr() {}
  ~ComponentFactoryMgr() override {}

  static const std::string& name() {
    static const std::string sl_name("ComponentFactoryMgr");
    return sl_name;
  }

  /// Builds the component named by the element's "component" attribute. Unknown names and
  /// elements without that attribute are errors naming the element and its line; so is any
  /// refusal raised while the component is built, which also carries them (Error::getElement).
  ComponentId createComponent(const TiXmlElement& configData);
  /// Builds a component by registered name from the element.
  ComponentId createComponent(const LabelStr& name, const TiXmlElement& configData);
};

/// A word of a configuration that is taken but can have no effect, named with its element's place.
struct ConfigurationWarning {
  std::string element; // "<Tag>"
  int line;
  std::string message;
};

/// Refuses an attribute of the element not among the names; reader names who reads them. The
/// refusal does not name the element: whoever builds from the element does.
void checkElementAttributes(const TiXmlElement& element, const std::vector<std::string>& names,
                            const std::string& reader);

/// Text "<Tag> (line N)" naming a configuration element in messages.
std::string describeElement(const TiXmlElement& element);

/// Raises the refusal of a configuration element. The message reads before + "<Tag> (line N)" +
/// after; the error also carries "<Tag>", the line and before + "<Tag>" + after, so that whoever
/// reports it need not read the place back out of the text.
[[noreturn]] void refuseElement(const TiXmlElement& element, const std::string& before,
                                const std::string& after, const std::string& condition,
                                const std::string& file, int line);

} // namespace SOLVERS
} // namespace KORVAN

/// checkElement(cond, element, before, after): a failed check that refuses a configuration
/// element; before and after are stream expressions around the element's name.
#define checkElement(cond, element, before, after)                                     \
  do {                                                                                 \
    if (!(cond)) {                                                                     \
      std::ostringstream sl_before, sl_after;                                          \
      sl_before << before;                                                             \
      sl_after << after;                                                               \
      ::KORVAN::SOLVERS::refuseElement((element), sl_before.str(), sl_after.str(), #cond, \
                                       KORVAN_ERROR_FILE(), __LINE__);                 \
    }                                                                                  \
  } while (0)

#endif
