#include "apps/KorvanRun.hh"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <tinyxml.h>

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/ObjectDomain.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "Solvers/base/Solver.hh"
#include "Solvers/base/ThreatManager.hh"
#include "TemporalNetwork/TemporalConstraints.hh"
#include "TemporalNetwork/TemporalPropagator.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"
#include "Vexl/VexlXmlInterpreter.hh"

namespace KORVAN {
namespace HOST {

namespace {

std::vector<ModuleMaker>& moduleMakers() {
  static std::vector<ModuleMaker> sl_makers;
  return sl_makers;
}

std::vector<PlanChecker>& planCheckers() {
  static std::vector<PlanChecker> sl_checkers;
  return sl_checkers;
}

std::vector<EmptyingExplainer>& emptyingExplainers() {
  static std::vector<EmptyingExplainer> sl_explainers;
  return sl_explainers;
}

std::map<std::string, ObjectPrinter>& objectPrinters() {
  static std::map<std::string, ObjectPrinter> sl_printers;
  return sl_printers;
}

std::string& defaultFlawManagers() {
  static std::string sl_elements;
  return sl_elements;
}

std::set<std::string>& bookkeepingConstraints() {
  static std::set<std::string> sl_names;
  return sl_names;
}

/// What the run is doing, for a failure that knows nothing of where it happened (memory).
struct RunStage {
  std::string text;
};
RunStage& runStage() {
  static RunStage sl_stage;
  return sl_stage;
}
void enterStage(const std::string& text) { runStage().text = text; }

/// A bad command line or unreadable input: exit status 2.
struct BadInput {
  std::string message;
};

struct Options {
  std::string model;
  std::string solverConfig;
  unsigned int maxSteps = 0;
  unsigned int maxDepth = 0;
  bool help = false;
};

unsigned int parseCount(const std::string& option, const std::string& text) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < 0 || value > 2000000000L)
    throw BadInput{"expected a non-negative integer after " + option + ", got '" + text + "'"};
  return static_cast<unsigned int>(value);
}

Options parseOptions(const std::vector<std::string>& args) {
  Options options;
  for (size_t i = 0; i < args.size(); i++) {
    const std::string& arg = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size())
        throw BadInput{"missing value after " + arg};
      return args[++i];
    };
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      return options;
    }
    if (arg == "--solver")
      options.solverConfig = value();
    else if (arg == "--max-steps")
      options.maxSteps = parseCount(arg, value());
    else if (arg == "--max-depth")
      options.maxDepth = parseCount(arg, value());
    else if (arg == "--debug")
      DebugMessage::enable(value());
    else if (!arg.empty() && arg[0] == '-')
      throw BadInput{"unknown option " + arg};
    else if (options.model.empty())
      options.model = arg;
    else
      throw BadInput{"more than one model given: " + options.model + " and " + arg};
  }
  if (options.model.empty())
    throw BadInput{"no model given"};
  return options;
}

// Prints -0.0 as 0.
std::string number(double value) { return toString(value == 0.0 ? 0.0 : value); }

std::string bounds(const AbstractDomain& domain) {
  if (domain.isEmpty())
    return "{}";
  std::ostringstream os;
  if (domain.isSingleton() && domain.isNumeric())
    os << number(domain.getSingletonValue());
  else if (domain.isNumeric())
    os << "[" << number(domain.getLowerBound()) << " " << number(domain.getUpperBound()) << "]";
  else
    os << domain.toString();
  return os.str();
}

std::string objectNames(const ConstrainedVariableId& objectVar) {
  std::list<double> values;
  objectVar->lastDomain().getValues(values);
  std::string names;
  for (double value : values) {
    if (!names.empty())
      names += " ";
    names += ObjectId(value)->getName().toString();
  }
  return names.empty() ? "-" : names;
}

void printTokens(std::ostream& out, const PlanDatabaseId& db, const VexlXmlInterpreter& interpreter) {
  std::map<int, std::string> names;
  for (const auto& entry : interpreter.getNamedTokens())
    if (entry.second.isValid())
      names[entry.second->getKey()] = entry.first;
  out << "Tokens (" << db->getTokens().size() << "):" << std::endl;
  for (const auto& entry : db->getTokens()) {
    const TokenId& token = entry.second;
    std::map<int, std::string>::const_iterator name = names.find(entry.first);
    out << "  " << (name == names.end() ? std::string("-") : name->second) << " "
        << token->toString() << " " << token->getTokenState() << " on "
        << objectNames(token->getObject());
    out << " start " << bounds(token->start()->lastDomain()) << " end "
        << bounds(token->end()->lastDomain()) << " duration "
        << bounds(token->duration()->lastDomain());
    for (const ConstrainedVariableId& var : token->getVariables()) {
      if (var == token->getState() || var == token->getObject() || var == token->start() ||
          var == token->end() || var == token->duration())
        continue;
      out << " " << var->getName().toString() << " " << bounds(var->lastDomain());
    }
    out << std::endl;
  }
}

void printObjects(std::ostream& out, const PlanDatabaseId& db) {
  out << "Objects (" << db->getObjects().size() << "):" << std::endl;
  const SchemaId& schema = db->getSchema();
  for (const auto& entry : db->getObjects()) {
    const ObjectId& object = entry.second;
    out << "  " << object->getName().toString() << " (" << object->getType().toString() << ")"
        << std::endl;
    if (!schema->isObjectType(object->getType()))
      continue;
    for (const LabelStr& type : schema->getAllObjectTypes(object->getType())) {
      std::map<std::string, ObjectPrinter>::const_iterator printer =
          objectPrinters().find(type.toString());
      if (printer != objectPrinters().end()) {
        printer->second(out, object);
        break;
      }
    }
  }
}

std::string defaultSolverConfig() {
  // One element a line, so that a refusal's line names the element. On a tie the earlier
  // manager's flaw wins: the bindings' managers go first.
  std::string text = "<Solver name='default'>\n" + defaultFlawManagers();
  text += "<FlawManager component='ThreatManager'>\n"
          "<FlawHandler component='ThreatHandler'/></FlawManager>\n";
  return text + "</Solver>";
}

/// Relations that bounds propagation decides exactly, or that only tie a token to its object or a
/// transaction to its resource: the temporal network's own and the engine's bookkeeping.
bool propagatesExactly(const ConstraintId& constraint) {
  static const LabelStr sl_temporal = TemporalPropagator::PROPAGATOR_NAME();
  static const LabelStr sl_objectToken("ObjectTokenRelation");
  return constraint->getPropagator()->getName() == sl_temporal || constraint->getName() == sl_objectToken ||
         bookkeepingConstraints().count(constraint->getName().toString()) > 0;
}

bool isOpenNumber(const ConstrainedVariableId& var) {
  const AbstractDomain& dom = var->lastDomain();
  return dom.isNumeric() && dom.isInterval() && !dom.isSingleton();
}

/// The value a witness tries first: the earliest bound when finite, else the latest, else 0.
double witnessValue(const AbstractDomain& dom) {
  const double horizon = g_infiniteTimeAsDouble();
  if (dom.getLowerBound() > -horizon && dom.getLowerBound() < horizon)
    return dom.getLowerBound();
  if (dom.getUpperBound() > -horizon && dom.getUpperBound() < horizon)
    return dom.getUpperBound();
  return 0.0;
}

/// Bounds propagation does not see a contradiction around a cycle through a generic constraint
/// ("eq", "leq", ...) whose side is unbounded: bounds that look consistent may hold no schedule.
/// When such a constraint reaches an open number, fix the time points (then the other numbers
/// such constraints reach) one at a time, propagating after each, and put everything back.
void checkSchedule(const PlanDatabaseId& db, std::vector<std::string>& problems) {
  const ConstraintEngineId& ce = db->getConstraintEngine();
  std::vector<ConstraintId> generic;
  for (const ConstraintId& constraint : ce->getConstraints()) {
    if (!constraint->isActive() || propagatesExactly(constraint))
      continue;
    const std::vector<ConstrainedVariableId>& scope = constraint->getScope();
    if (std::any_of(scope.begin(), scope.end(), isOpenNumber))
      generic.push_back(constraint);
  }
  if (generic.empty())
    return;

  // What each variable is called in a problem line, and the order in which they are fixed.
  std::vector<std::pair<ConstrainedVariableId, std::string>> order;
  std::set<int> listed;
  for (const auto& entry : db->getTokens()) {
    const TokenId& token = entry.second;
    if (!token->isActive())
      continue;
    for (const ConstrainedVariableId& time : {ConstrainedVariableId(token->start()), ConstrainedVariableId(token->end())})
      if (listed.insert(time->getKey()).second)
        order.push_back(std::make_pair(time, token->toString() + ": " + time->getName().toString()));
  }
  std::map<int, std::string> labels;
  for (const auto& entry : db->getTokens())
    for (const ConstrainedVariableId& var : entry.second->getVariables())
      labels[var->getKey()] = entry.second->toString() + ": " + var->getName().toString();
  for (const auto& entry : db->getObjects())
    for (const ConstrainedVariableId& var : entry.second->getVariables())
      labels[var->getKey()] = entry.second->getName().toString() + ": " + var->getName().toString();
  std::set<ConstrainedVariableId, EntityComparator<ConstrainedVariableId>> others;
  for (const ConstraintId& constraint : generic)
    for (const ConstrainedVariableId& var : constraint->getScope())
      if (isOpenNumber(var) && listed.count(var->getKey()) == 0)
        others.insert(var);
  for (const ConstrainedVariableId& var : others) {
    std::map<int, std::string>::const_iterator label = labels.find(var->getKey());
    order.push_back(std::make_pair(var, label == labels.end() ? var->getName().toString() : label->second));
  }

  std::vector<std::pair<ConstrainedVariableId, std::unique_ptr<AbstractDomain>>> before;
  for (const ConstrainedVariableId& var : ce->getVariables())
    before.push_back(std::make_pair(var, std::unique_ptr<AbstractDomain>(var->lastDomain().copy())));

  // Around a cycle that admits no times, a bound with no other side to meet creeps one lap per
  // pass up to the horizon. The schedule is looked for inside a box instead: the finite bounds of
  // the time points widened on each side by twice the durations, as far as any schedule of
  // difference constraints needs to reach beyond them; there the creep ends within a few laps.
  const double horizon = g_infiniteTimeAsDouble();
  double lowest = horizon, highest = -horizon, reach = 1;
  for (const auto& entry : db->getTokens()) {
    const TokenId& token = entry.second;
    if (!token->isActive())
      continue;
    for (const ConstrainedVariableId& time : {ConstrainedVariableId(token->start()), ConstrainedVariableId(token->end())})
      for (double bound : {time->lastDomain().getLowerBound(), time->lastDomain().getUpperBound()})
        if (bound > -horizon && bound < horizon) {
          lowest = std::min(lowest, bound);
          highest = std::max(highest, bound);
        }
    const AbstractDomain& duration = token->duration()->lastDomain();
    reach += 2 * ((duration.getUpperBound() < horizon ? duration.getUpperBound() : duration.getLowerBound()) + 1);
  }
  if (lowest > highest)
    lowest = highest = 0;
  const IntervalDomain box(std::max(-horizon, lowest - reach), std::min(horizon, highest + reach));
  std::vector<ConstrainedVariable*> boxes;
  std::vector<ConstraintId> inBox;
  for (const auto& entry : order) {
    const AbstractDomain& dom = entry.first->lastDomain();
    if (listed.count(entry.first->getKey()) == 0 ||
        (dom.getLowerBound() >= box.getLowerBound() && dom.getUpperBound() <= box.getUpperBound()))
      continue;
    boxes.push_back(new Variable<IntervalDomain>(ce, box));
    inBox.push_back(ce->createConstraint(LabelStr("eq"), {entry.first, boxes.back()->getId()}));
  }

  // The propagator takes constraints in the order they were made: the generic ones wait while
  // the box applies, or they would creep ahead of it.
  for (const ConstraintId& constraint : generic)
    constraint->deactivate();
  bool boxed = ce->propagate();
  for (const ConstraintId& constraint : generic)
    constraint->undoDeactivation();
  std::vector<ConstrainedVariableId> fixed;
  std::string problem;
  if (!boxed || !ce->propagate()) {
    const ConstrainedVariableSet empty = ce->getEmptyVariables();
    std::map<int, std::string>::const_iterator label =
        empty.empty() ? labels.end() : labels.find((*empty.begin())->getKey());
    problem = (label == labels.end() ? std::string("a time") : label->second) + " has no value with every time in " +
              bounds(box) + ": no schedule found";
  }
  for (const auto& entry : order) {
    if (!problem.empty())
      break;
    const ConstrainedVariableId& var = entry.first;
    if (var->lastDomain().isSingleton())
      continue;
    const double value = witnessValue(var->lastDomain());
    if (!var->canBeSpecified() || !var->baseDomain().isMember(value)) {
      problem = entry.second + " " + bounds(var->lastDomain()) + " cannot be fixed: no schedule found";
      break;
    }
    debugMsg("KorvanRun:checkSchedule", "fixing " << entry.second << " at " << value);
    var->specify(value);
    fixed.push_back(var);
    if (!ce->propagate()) {
      problem = entry.second + " tried at " + number(value) + ": no schedule found";
      break;
    }
  }
  if (problem.empty())
    for (const ConstraintId& constraint : generic)
      for (const ConstrainedVariableId& var : constraint->getScope())
        if (problem.empty() && isOpenNumber(var))
          problem = var->getName().toString() + " " + bounds(var->lastDomain()) + " cannot be fixed: no schedule found";
  if (!problem.empty())
    problems.push_back(problem);

  for (auto it = fixed.rbegin(); it != fixed.rend(); ++it)
    (*it)->reset();
  for (const ConstraintId& constraint : inBox)
    ce->deleteConstraint(constraint);
  for (ConstrainedVariable* var : boxes)
    delete var;
  const bool consistent = ce->propagate();
  // Relaxation is exact: the plan is what it was before the witness.
  checkError(consistent, "The plan became inconsistent after its schedule was checked.");
  for (const auto& entry : before)
    checkError(entry.first->lastDomain() == *entry.second,
               "The schedule check changed " << entry.first->toString() << " from " << entry.second->toString());
}

/// What the plan still breaks: tokens that objects still ask to order, then what the
/// registered checkers find.
std::vector<std::string> checkPlan(const PlanDatabaseId& db) {
  std::vector<std::string> problems;
  for (const auto& entry : db->getObjects()) {
    const ObjectId& object = entry.second;
    if (!object->hasTokensToOrder())
      continue;
    std::vector<TokenId> tokens;
    object->getTokensToOrder(tokens);
    if (tokens.empty())
      continue;
    std::string keys;
    for (const TokenId& token : tokens)
      keys += " " + token->toString();
    problems.push_back(object->getName().toString() + ": tokens still to order:" + keys);
  }
  // Bounds propagation can push a time point that has no value to the horizon without emptying
  // it (a cycle through a generic constraint with an unbounded side): no plan has such a time.
  const double horizon = (double) g_infiniteTime();
  for (const auto& entry : db->getTokens()) {
    const TokenId& token = entry.second;
    if (!token->isActive())
      continue;
    for (const ConstrainedVariableId& time : {ConstrainedVariableId(token->start()), ConstrainedVariableId(token->end())}) {
      const AbstractDomain& dom = time->lastDomain();
      if (dom.isEmpty() || dom.getLowerBound() >= horizon || dom.getUpperBound() <= -horizon)
        problems.push_back(token->toString() + ": " + time->getName().toString() + " " + dom.toString() +
                           " has no time before the horizon");
    }
  }
  for (const PlanChecker& checker : planCheckers())
    checker(db, problems);
  if (problems.empty())
    checkSchedule(db, problems);
  return problems;
}

/// Why propagation failed, in the model's words: for each failure, what emptied first and what
/// emptied it (a resource's limit, a constraint, the temporal network). Listens to the engine
/// from construction to destruction.
class FailureReasons {
public:
  FailureReasons(const PlanDatabaseId& db, const VexlXmlInterpreter& interpreter)
      : m_db(db), m_interpreter(interpreter) {
    m_db->getConstraintEngine()->setEmptyingListener(
        [this](const ConstraintEngine::Emptying& emptying) { record(explain(emptying)); });
  }
  ~FailureReasons() { m_db->getConstraintEngine()->setEmptyingListener(nullptr); }

  void clear() {
    m_last.clear();
    m_counts.clear();
    m_order.clear();
  }
  const std::string& last() const { return m_last; }
  /// The distinct reasons, the most frequent first (ties: the first met first).
  std::vector<std::pair<std::string, unsigned int>> ranked() const {
    std::vector<std::pair<std::string, unsigned int>> result;
    for (const std::string& reason : m_order)
      result.push_back(std::make_pair(reason, m_counts.find(reason)->second));
    std::stable_sort(result.begin(), result.end(),
                     [](const std::pair<std::string, unsigned int>& a, const std::pair<std::string, unsigned int>& b) {
                       return a.second > b.second;
                     });
    return result;
  }

  std::string tokenName(const TokenId& token) const {
    if (m_names.size() != m_interpreter.getNamedTokens().size()) {
      m_names.clear();
      for (const auto& entry : m_interpreter.getNamedTokens())
        if (entry.second.isValid())
          m_names[entry.second->getKey()] = entry.first;
    }
    std::map<int, std::string>::const_iterator name = m_names.find(token->getKey());
    return name == m_names.end() ? token->toString() : name->second;
  }

  std::string variableName(const ConstrainedVariableId& var) const {
    // A token's variable goes by the token's name; an object's member already carries its object's.
    const std::string name = var->getName().toString();
    const EntityId& parent = var->parent();
    if (parent.isValid() && TokenId::convertable(parent))
      return tokenName(TokenId(parent)) + "." + name;
    return name;
  }

private:
  void record(const std::string& reason) {
    m_last = reason;
    if (m_counts[reason]++ == 0)
      m_order.push_back(reason);
  }

  std::string explain(const ConstraintEngine::Emptying& emptying) const {
    const TokenNamer namer = [this](const TokenId& token) { return tokenName(token); };
    for (const EmptyingExplainer& explainer : emptyingExplainers()) {
      const std::string text = explainer(m_db, emptying, namer);
      if (!text.empty())
        return text;
    }
    const std::string var = variableName(emptying.variable);
    if (emptying.constraint.isValid()) {
      std::string scope;
      for (const ConstrainedVariableId& other : emptying.constraint->getScope())
        scope += (scope.empty() ? "" : ", ") + variableName(other);
      return var + " has no value left under the constraint " + emptying.constraint->getName().toString() + "(" +
             scope + ")";
    }
    if (emptying.propagator.isValid() && emptying.propagator->getName() == TemporalPropagator::PROPAGATOR_NAME())
      return var + " has no time left: the windows, durations and temporal constraints (precedes, concurrent, "
                   "temporalDistance) admit no schedule";
    return var + " has no value left";
  }

  PlanDatabaseId m_db;
  const VexlXmlInterpreter& m_interpreter;
  mutable std::map<int, std::string> m_names;
  std::string m_last;
  std::map<std::string, unsigned int> m_counts;
  std::vector<std::string> m_order;
};

/// The lines under an INCONSISTENT or NO SOLUTION result that say why.
void printReasons(std::ostream& out, const FailureReasons& reasons, bool search) {
  if (!search) {
    if (!reasons.last().empty())
      out << "Why: " << reasons.last() << std::endl;
    return;
  }
  const std::vector<std::pair<std::string, unsigned int>> ranked = reasons.ranked();
  if (ranked.empty()) {
    out << "Why: a flaw had no choice to try: its handler offered none that could hold" << std::endl;
    return;
  }
  unsigned int total = 0;
  for (const auto& entry : ranked)
    total += entry.second;
  out << "Why: every choice failed (" << total << " dead end" << (total == 1 ? "" : "s") << "):" << std::endl;
  const size_t shown = std::min<size_t>(ranked.size(), 5);
  for (size_t i = 0; i < shown; i++)
    out << "  " << ranked[i].second << " x " << ranked[i].first << std::endl;
  if (ranked.size() > shown)
    out << "  and " << ranked.size() - shown << " other reason" << (ranked.size() - shown == 1 ? "" : "s")
        << std::endl;
}

/// The engine with its components and the registered modules; torn down in the right order.
class Host {
public:
  Host() {
    ConstraintEngine* ce = new ConstraintEngine();
    m_engine.addComponent(ConstraintEngine::COMPONENT_NAME(), ce);
    initConstraintLibrary(ce->getId());
    initTemporalConstraints(ce->getId());
    Schema* schema = new Schema();
    m_engine.addComponent("Schema", schema);
    m_db = new PlanDatabase(ce->getId(), schema->getId(), m_engine.getId());
    m_engine.addComponent(PlanDatabase::COMPONENT_NAME(), m_db);
    SOLVERS::initSolverComponents(m_engine);
    m_interpreter = new VexlXmlInterpreter(m_db->getId());
    m_engine.addLanguageInterpreter(VexlXmlInterpreter::name(), m_interpreter);
    try {
      for (const ModuleMaker& maker : moduleMakers()) {
        Module* module = maker();
        checkError(module != nullptr, "A module maker made no module.");
        std::unique_ptr<Module> owned(module);
        module->initialize(m_engine.getId());
        m_modules.push_back(owned.release());
      }
    } catch (...) {
      // No destructor runs for a half-built host: undo the modules made so far.
      tearDown();
      throw;
    }
  }
  ~Host() {
    // A debug line lost here is recorded and reported once; it cannot leave the destructor.
    DebugMessage::Teardown quiet;
    tearDown();
  }
  void tearDown() {
    // Objects and tokens go while the modules' components still exist.
    m_db->purge();
    for (auto it = m_modules.rbegin(); it != m_modules.rend(); ++it) {
      (*it)->uninitialize(m_engine.getId());
      delete *it;
    }
    m_modules.clear();
  }
  Engine& engine() { return m_engine; }
  PlanDatabase& db() { return *m_db; }
  VexlXmlInterpreter& interpreter() { return *m_interpreter; }
  SOLVERS::ComponentFactoryMgr& factories() {
    return *dynamic_cast<SOLVERS::ComponentFactoryMgr*>(
        m_engine.getComponent(SOLVERS::ComponentFactoryMgr::name()));
  }

private:
  Engine m_engine;
  PlanDatabase* m_db;
  VexlXmlInterpreter* m_interpreter;
  std::vector<Module*> m_modules;
};

int execute(const Options& options, std::ostream& out, std::ostream& err) {
  enterStage("while reading the input");
  std::istringstream model(VexlXmlInterpreter::readFile(options.model, "model file"));
  TiXmlDocument config;
  if (!options.solverConfig.empty()) {
    std::string text = VexlXmlInterpreter::readFile(options.solverConfig, "solver configuration");
    VexlXmlInterpreter::checkXmlText(text, options.solverConfig);
    VexlXmlInterpreter::checkXmlDepth(text, options.solverConfig);
    config.Parse(text.c_str());
    if (config.Error()) {
      std::ostringstream os;
      os << options.solverConfig << ":" << std::max(config.ErrorRow(), 1) << ": malformed XML: " << config.ErrorDesc();
      throw BadInput{os.str()};
    }
    if (config.RootElement() == nullptr)
      throw BadInput{options.solverConfig + ":1: <Solver>: no XML element: a configuration is one <Solver> element"};
    if (std::string(config.RootElement()->Value()) != "Solver")
      throw BadInput{options.solverConfig + ":" + std::to_string(config.RootElement()->Row()) + ": <" +
                     config.RootElement()->Value() + ">: the root element must be <Solver>"};
  }

  Host host;
  FailureReasons reasons(host.db().getId(), host.interpreter());
  std::string summary = host.interpreter().interpret(model, options.model);
  if (options.solverConfig.empty())
    config.Parse(defaultSolverConfig().c_str());
  // The configuration is judged whole before anything is printed or searched; its components
  // refuse what they are asked when built, or only when a flaw reaches them.
  auto configError = [&](const Error& e, const std::string& when) {
    const std::string source = options.solverConfig.empty() ? std::string("default solver") : options.solverConfig;
    // A refused element comes with its place; anything else is the configuration's as a whole.
    if (e.hasElement() && e.getElementLine() > 0)
      return BadInput{source + ":" + std::to_string(e.getElementLine()) + ": " + e.getElement() + ": " + when +
                      e.getElementMsg()};
    const std::string message = e.getMsg().empty() ? "failed check '" + e.getCondition() + "'" : e.getMsg();
    const std::string where = options.solverConfig.empty()
                                  ? source
                                  : source + ":" + std::to_string(config.RootElement()->Row()) + ": <Solver>";
    return BadInput{where + ": " + when + message};
  };
  std::unique_ptr<SOLVERS::Solver> solver;
  try {
    solver.reset(new SOLVERS::Solver(host.engine(), *config.RootElement()));
  } catch (const Error& e) {
    throw configError(e, "");
  }
  for (const SOLVERS::FlawManagerId& manager : solver->getFlawManagers())
    for (const SOLVERS::ConfigurationWarning& warning : manager->getWarnings())
      err << "korvan-run: " << (options.solverConfig.empty() ? std::string("default solver") : options.solverConfig)
          << ":" << warning.line << ": " << warning.element << ": warning: " << warning.message << std::endl;
  out << "Model: " << summary << std::endl;

  const ConstraintEngineId& ce = host.db().getConstraintEngine();
  // A domain that reading emptied keeps its reason.
  enterStage("while propagating the model");
  if (!ce->propagate()) {
    printTokens(out, host.db().getId(), host.interpreter());
    printReasons(out, reasons, false);
    out << "Result: INCONSISTENT" << std::endl;
    solver.reset();
    return EXIT_NO_SOLUTION;
  }
  bool solved = false;
  reasons.clear();
  enterStage("while solving");
  try {
    solved = solver->solve(options.maxSteps, options.maxDepth);
  } catch (const Error& e) {
    throw configError(e, "while solving: ");
  }
  SOLVERS::Solver::Status status = solver->getStatus();
  enterStage("after solving");
  bool consistent = ce->propagate();
  out << "Solver " << solver->getName() << ": " << solver->printFigures() << std::endl;
  printTokens(out, host.db().getId(), host.interpreter());
  printObjects(out, host.db().getId());
  std::string result;
  if (status == SOLVERS::Solver::STEP_LIMIT)
    result = "LIMIT REACHED (step limit " + std::to_string(solver->getMaxSteps()) + ")";
  else if (status == SOLVERS::Solver::DEPTH_LIMIT)
    result = "LIMIT REACHED (depth limit " + std::to_string(solver->getMaxDepth()) + ")";
  else if (!solved) {
    printReasons(out, reasons, true);
    result = "NO SOLUTION";
  } else if (!consistent) {
    printReasons(out, reasons, false);
    result = "INCONSISTENT";
  } else {
    // The solver stops when its managers see no flaw; a flaw that no handler takes, or that no
    // detector reports, is still in the plan. Only a plan that passes the checks is solved.
    std::vector<std::string> problems = checkPlan(host.db().getId());
    if (problems.empty())
      result = "SOLVED";
    else {
      out << "Left unresolved (" << problems.size() << "):" << std::endl;
      for (const std::string& problem : problems)
        out << "  " << problem << std::endl;
      result = "FLAWS LEFT";
      solved = false;
    }
  }
  out << "Result: " << result << std::endl;
  // The decisions stay in the plan; the solver goes before the database it searched.
  solver.reset();
  (void)err;
  return solved && consistent ? EXIT_SOLVED : EXIT_NO_SOLUTION;
}

} // namespace

void registerModule(const ModuleMaker& maker) { moduleMakers().push_back(maker); }

void registerObjectPrinter(const std::string& objectType, const ObjectPrinter& printer) {
  objectPrinters()[objectType] = printer;
}

void registerPlanChecker(const PlanChecker& checker) { planCheckers().push_back(checker); }

void registerDefaultFlawManagers(const std::string& elements) { defaultFlawManagers() += elements; }

void registerBookkeepingConstraint(const std::string& name) { bookkeepingConstraints().insert(name); }

void registerEmptyingExplainer(const EmptyingExplainer& explainer) { emptyingExplainers().push_back(explainer); }

void clearRegistrations() {
  defaultFlawManagers().clear();
  bookkeepingConstraints().clear();
  moduleMakers().clear();
  planCheckers().clear();
  emptyingExplainers().clear();
  objectPrinters().clear();
}

namespace {

/// Results that cannot be written are lost: a run that printed nothing must not look like one
/// that succeeded.
std::string outputFailure(std::ostream& out) {
  if (out.good())
    out.flush();
  if (out.good())
    return std::string();
  out.clear();
  return "cannot write the results to the standard output";
}

} // namespace

std::string usage() {
  return "usage: korvan-run [--solver CONFIG.xml] [--max-steps N] [--max-depth N] "
         "[--debug MARKER]... MODEL.xml\n"
         "       korvan-run --help\n"
         "exit status: 0 solved, 1 no solution, inconsistent, limit reached or flaws left, 2 bad input\n";
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  DebugMessage::clearStreamFailure();
  std::string message;
  bool showUsage = false;
  try {
    Options options = parseOptions(args);
    if (options.help) {
      out << usage();
      message = outputFailure(out);
      if (message.empty())
        return EXIT_SOLVED;
      throw BadInput{message};
    }
    int status = execute(options, out, err);
    message = outputFailure(out);
    if (DebugMessage::streamFailure().empty() && message.empty())
      return status;
  } catch (const BadInput& e) {
    message = e.message;
    showUsage = e.message.find("option") != std::string::npos || e.message.find("model given") != std::string::npos;
  } catch (const Error& e) {
    message = e.getMsg().empty() ? e.what() : e.getMsg();
  } catch (const std::bad_alloc&) {
    message = "memory ran out " + runStage().text;
  } catch (const std::exception& e) {
    message = e.what();
  }
  // Lost debug output is reported once, whatever it caused on its way.
  if (!DebugMessage::streamFailure().empty())
    message = "cannot write the debug output: " + DebugMessage::streamFailure();
  err << "korvan-run: " << message << std::endl;
  if (showUsage)
    err << usage();
  return EXIT_BAD_INPUT;
}

} // namespace HOST
} // namespace KORVAN
