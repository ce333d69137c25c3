#include "Solvers/base/Component.hh"

#include <algorithm>
#include <sstream>
#include <tinyxml.h>

#include "Utils/base/Error.hh"

namespace KORVAN {
namespace SOLVERS {

namespace {
LabelStr componentName(const TiXmlElement& configData) {
  const char* name = configData.Attribute("component");
  return LabelStr(name != nullptr ? name : configData.Value());
}
} // namespace

Component::Component(const TiXmlElement& configData)
    : m_id(this), m_configData(static_cast<TiXmlElement*>(configData.Clone())),
      m_name(componentName(configData)) {}

Component::~Component() {
  delete m_configData;
  m_id.remove();
}

std::string Component::toString() const { return m_name.toString(); }

void Component::getAttributes(std::vector<std::string>& names) const { names.push_back("component"); }

void Component::checkAttributes(const TiXmlElement& configData) const {
  std::vector<std::string> names;
  getAttributes(names);
  checkElementAttributes(configData, names, "component '" + m_name.toString() + "'");
}

void checkElementAttributes(const TiXmlElement& element, const std::vector<std::string>& names,
                            const std::string& reader) {
  for (const TiXmlAttribute* attribute = element.FirstAttribute(); attribute != nullptr;
       attribute = attribute->Next()) {
    if (std::find(names.begin(), names.end(), attribute->Name()) != names.end())
      continue;
    std::string takes;
    for (const std::string& name : names)
      takes += (takes.empty() ? "" : ", ") + name;
    checkError(ALWAYS_FAIL, "Unknown attribute '" << attribute->Name() << "': " << reader << " reads " << takes << ".");
  }
}

std::string describeElement(const TiXmlElement& element) {
  std::ostringstream os;
  os << "<" << element.Value() << ">";
  if (element.Row() > 0)
    os << " (line " << element.Row() << ")";
  return os.str();
}

void refuseElement(const TiXmlElement& element, const std::string& before, const std::string& after,
                   const std::string& condition, const std::string& file, int line) {
  const std::string tag = std::string("<") + element.Value() + ">";
  Error refusal(condition, before + describeElement(element) + after, file, line);
  refusal.setElement(tag, element.Row(), before + tag + after);
  refusal.handleAssert();
}

ComponentId ComponentFactoryMgr::createComponent(const TiXmlElement& configData) {
  const char* name = configData.Attribute("component");
  checkElement(name != nullptr, configData, "Element ", " has no 'component' attribute.");
  return createComponent(LabelStr(name), configData);
}

ComponentId ComponentFactoryMgr::createComponent(const LabelStr& name,
                                                 const TiXmlElement& configData) {
  checkElement(getFactory(name) != nullptr, configData,
               "No solver component registered as '" << name.toString() << "' (element ", ").");
  ComponentArgs args(configData);
  Id<FactoryObj> obj;
  try {
    obj = createInstance(name, args);
    if (Id<Component>::convertable(obj)) {
      try {
        ComponentId(obj)->checkAttributes(configData);
      } catch (...) {
        delete (Component*)ComponentId(obj);
        throw;
      }
    }
  } catch (const Error& e) {
    // Whoever reads the configuration needs to know which element was refused.
    const std::string message = e.getMsg().empty() ? e.getCondition() : e.getMsg();
    Error located(e.getCondition(), describeElement(configData) + ": " + message, e.getType(),
                  e.getFile(), e.getLine());
    located.setElement(std::string("<") + configData.Value() + ">", configData.Row(), message);
    located.handleAssert();
  }
  checkError(Id<Component>::convertable(obj),
             "Factory '" << name.toString() << "' did not make a solver component.");
  return ComponentId(obj);
}

} // namespace SOLVERS
} // namespace KORVAN
