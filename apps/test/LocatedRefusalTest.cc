// A refused solver configuration element is reported at its own line and by its own tag, taken
// from the error itself: never from the words of the message, which may mention other elements.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <tinyxml.h>
#include <unistd.h>

#include "PlanDatabase/base/Token.hh"
#include "Solvers/base/Component.hh"
#include "Solvers/base/FlawHandler.hh"
#include "Solvers/base/ThreatDecisionPoint.hh"
#include "Solvers/base/ThreatManager.hh"
#include "Utils/base/Engine.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Module.hh"
#include "apps/KorvanRun.hh"

using namespace KORVAN;

namespace {

std::string tempPrefix() { return ::testing::TempDir() + "korvan-located-" + std::to_string(getpid()) + "-"; }

std::string writeFile(const std::string& name, const std::string& text) {
  std::ofstream(tempPrefix() + name) << text;
  return tempPrefix() + name;
}

/// Standard error of korvan-run, with the temporary directory taken out; the status must be 2.
std::string refusal(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  int status = HOST::run(args, out, err);
  EXPECT_EQ(2, status) << out.str() << err.str();
  std::string text = err.str();
  for (std::string::size_type at; (at = text.find(tempPrefix())) != std::string::npos;)
    text.erase(at, tempPrefix().size());
  return text;
}

// A handler whose refusal text names an element and a line of its own.
class DecoyDecisionPoint : public SOLVERS::ThreatDecisionPoint {
public:
  DecoyDecisionPoint(const DbClientId& client, const EntityId& flaw, const TiXmlElement& config,
                     const LabelStr& explanation)
      : SOLVERS::ThreatDecisionPoint(client, TokenId(flaw), config, explanation) {}
  static void checkConfiguration(const TiXmlElement&) {
    check_error(ALWAYS_FAIL, "Refused like <Decoy> (line 9) was.");
  }
};

// Registers a flaw manager, and a handler that refuses every element, for the first flaw
// manager of the built-in configuration.
class DecoyModule : public Module {
public:
  DecoyModule() : Module("Decoy") {}
  void initialize() override {}
  void uninitialize() override {}
  void initialize(EngineId engine) override {
    SOLVERS::ComponentFactoryMgr* factories =
        dynamic_cast<SOLVERS::ComponentFactoryMgr*>(engine->getComponent(SOLVERS::ComponentFactoryMgr::name()));
    factories->registerFactory(
        new SOLVERS::ComponentFactory<SOLVERS::ThreatManager>(LabelStr("DecoyManager")));
    factories->registerFactory(new SOLVERS::ComponentFactory<SOLVERS::ConcreteFlawHandler<DecoyDecisionPoint>>(
        LabelStr("DecoyHandler")));
  }
  void uninitialize(EngineId) override {}
};

const char* const MODEL = "<vexl>\n</vexl>\n";

} // namespace

// Elements below the first line and nested: each refusal at the element's line, exact texts.
TEST(LocatedRefusal, NestedElementsAtTheirLines) {
  HOST::clearRegistrations();
  const std::string model = writeFile("model.xml", MODEL);
  auto config = [](const std::string& root, const std::string& handler) {
    return "<?xml version=\"1.0\"?>\n"
           "<!-- line 2 -->\n" +
           root + "\n"
                  "  <FlawManager component=\"ThreatManager\">\n"
                  "    <FlawHandler component=\"ThreatHandler\"/>\n" +
           handler + "\n  </FlawManager>\n</Solver>\n";
  };
  const std::string ok = "<Solver name=\"s\">", okHandler = "    <FlawHandler component=\"ThreatHandler\"/>";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {config(ok, "\n    <FlawHandler/>"),
       "c.xml:7: <FlawHandler>: Element <FlawHandler> has no 'component' attribute.\n"},
      {config(ok, "    <FlawHandler\n      component=\"Nope\"/>"),
       "c.xml:6: <FlawHandler>: No solver component registered as 'Nope' (element <FlawHandler>).\n"},
      {config(ok, "    <FlawHandler component=\"ThreatManager\"/>"),
       "c.xml:6: <FlawHandler>: Component 'ThreatManager' of element <FlawHandler> is not a flaw handler.\n"},
      // Refused inside the component: the message keeps the words it had.
      {config(ok, "    <FlawHandler component=\"ThreatHandler\" class=\"\"/>"),
       "c.xml:6: <FlawHandler>: Empty 'class' filter on element <FlawHandler> (line 6).\n"},
      {config("<Solver\n maxSteps=\"-3\">", okHandler),
       "c.xml:3: <Solver>: Expected a non-negative integer (at most 2000000000) for 'maxSteps' on element <Solver>, got '-3'.\n"},
      {config("<Solver maxDepth=\"2000000001\">", okHandler),
       "c.xml:3: <Solver>: Expected a non-negative integer (at most 2000000000) for 'maxDepth' on element <Solver>, got '2000000001'.\n"},
  };
  for (const auto& c : cases) {
    const std::string path = writeFile("c.xml", c.first);
    EXPECT_EQ("korvan-run: " + c.second, refusal({"--solver", path, model})) << c.first;
  }
}

// The error itself carries the place; the message text still names it for other readers.
TEST(LocatedRefusal, TheErrorCarriesTheElement) {
  Engine engine;
  SOLVERS::initSolverComponents(engine);
  SOLVERS::ComponentFactoryMgr& factories =
      *dynamic_cast<SOLVERS::ComponentFactoryMgr*>(engine.getComponent(SOLVERS::ComponentFactoryMgr::name()));
  TiXmlDocument doc;
  doc.Parse("<Solver>\n<FlawManager component='ThreatManager'>\n\n<FlawHandler component='ThreatHandler'\n"
            "  priority='high'/></FlawManager></Solver>");
  const TiXmlElement* handler = doc.RootElement()->FirstChildElement()->FirstChildElement();
  try {
    factories.createComponent(*handler);
    ADD_FAILURE() << "no refusal";
  } catch (const Error& e) {
    EXPECT_TRUE(e.hasElement());
    EXPECT_EQ("<FlawHandler>", e.getElement());
    EXPECT_EQ(4, e.getElementLine());
    EXPECT_EQ("Expected a number for 'priority' on element <FlawHandler> (line 4), got 'high'.", e.getElementMsg());
    EXPECT_EQ("<FlawHandler> (line 4): " + e.getElementMsg(), e.getMsg());
  }
}

// The built-in configuration has one element a line; a refusal there names its line and
// element from the error, whatever element or line its message mentions.
TEST(LocatedRefusal, BuiltInConfigurationAtItsLine) {
  HOST::clearRegistrations();
  HOST::registerModule([]() { return new DecoyModule(); });
  HOST::registerDefaultFlawManagers("<FlawManager component='DecoyManager'>\n"
                                    "<FlawHandler component='DecoyHandler'/></FlawManager>\n");
  const std::string model = writeFile("model.xml", MODEL);
  EXPECT_EQ("korvan-run: default solver:3: <FlawHandler>: Refused like <Decoy> (line 9) was.\n",
            refusal({model}));
  HOST::clearRegistrations();
}
