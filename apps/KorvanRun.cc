#include "apps/KorvanRun.hh"

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <exception>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <tinyxml.h>
#include <unistd.h>

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
#include "apps/DebugLines.hh"
#include "Verdict/PlanCheck.hh"
#include "Verdict/RunVerdict.hh"
#include "Verdict/ScheduleSearch.hh"

namespace KORVAN {
namespace HOST {

std::vector<PlanChecker>& planCheckers() {
  static std::vector<PlanChecker> sl_checkers;
  return sl_checkers;
}

std::vector<DeadEnd>& deadEnds() {
  static std::vector<DeadEnd> sl_deadEnds;
  return sl_deadEnds;
}

std::vector<Overload>& overloads() {
  static std::vector<Overload> sl_overloads;
  return sl_overloads;
}

std::set<std::string>& bookkeepingConstraints() {
  static std::set<std::string> sl_names;
  return sl_names;
}

std::vector<PlanChecker>& unjudgedCheckers() {
  static std::vector<PlanChecker> sl_checkers;
  return sl_checkers;
}

std::vector<Refutation>& refutations() {
  static std::vector<Refutation> sl_refutations;
  return sl_refutations;
}

std::vector<Refutation>& refutationsBeforeSearch() {
  static std::vector<Refutation> sl_refutations;
  return sl_refutations;
}

std::vector<EmptyingExplainer>& emptyingExplainers() {
  static std::vector<EmptyingExplainer> sl_explainers;
  return sl_explainers;
}

std::vector<EnvelopeJudged>& envelopeJudged() {
  static std::vector<EnvelopeJudged> sl_judged;
  return sl_judged;
}

std::vector<ChoiceGap>& choiceGaps() {
  static std::vector<ChoiceGap> sl_gaps;
  return sl_gaps;
}

// The first registered module's account of a gap in its flaws' choices, or empty.
std::string firstChoiceGap(const PlanDatabaseId& db) {
  for (const ChoiceGap& choiceGap : choiceGaps()) {
    const std::string gap = choiceGap(db);
    if (!gap.empty())
      return gap;
  }
  return std::string();
}

namespace {

using namespace PlanCheck;

std::vector<ModuleMaker>& moduleMakers() {
  static std::vector<ModuleMaker> sl_makers;
  return sl_makers;
}

bool sl_hostLeftToExit = false;

/// The model whose names tokenName() gives, while a run reads and judges it.
struct TokenNaming {
  const VexlXmlInterpreter* interpreter = nullptr;
  size_t named = 0; // the named tokens when the cache was built
  std::map<int, std::string> names;
};
TokenNaming& tokenNaming() {
  static TokenNaming sl_naming;
  return sl_naming;
}

std::map<std::string, ObjectPrinter>& objectPrinters() {
  static std::map<std::string, ObjectPrinter> sl_printers;
  return sl_printers;
}

std::string& defaultFlawManagers() {
  static std::string sl_elements;
  return sl_elements;
}

/// What the run is doing, for a failure that knows nothing of where it happened (memory).
struct RunStage {
  std::string where; // the file being read, with its colon, before any element of it is
  std::string text;
};
RunStage& runStage() {
  static RunStage sl_stage;
  return sl_stage;
}
void enterStage(const std::string& text, const std::string& where = std::string()) {
  runStage().where = where;
  runStage().text = text;
}
/// The line of a failed allocation that no element's reader caught.
// A message may echo a file name, an argument or a pattern as given: bytes a terminal would act
// on, and bytes that are not UTF-8, are shown as \xNN.
std::string printable(const std::string& text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string shown;
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = c < 0x80 ? 1 : c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
    for (size_t k = 1; k < length; k++) {
      const unsigned char d = i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
      // The second byte's range rules out overlong forms, surrogates and code points past U+10FFFF.
      const unsigned char low = k > 1 ? 0x80 : c == 0xe0 ? 0xa0 : c == 0xf0 ? 0x90 : 0x80;
      const unsigned char high = k > 1 ? 0xbf : c == 0xed ? 0x9f : c == 0xf4 ? 0x8f : 0xbf;
      if (d < low || d > high)
        length = 0;
    }
    if (length == 0 || (c < 0x20 && c != '\n' && c != '\t') || c == 0x7f) {
      shown += std::string("\\x") + hex[c >> 4] + hex[c & 15];
      i++;
    } else {
      shown.append(text, i, length);
      i += length;
    }
  }
  return shown;
}

std::string memoryRanOut() { return runStage().where + "memory ran out " + runStage().text; }

std::terminate_handler sl_previousTerminate = nullptr;

void writeError(const char* text, size_t size) {
  for (size_t done = 0; done < size;) {
    const ssize_t n = ::write(2, text + done, size - done);
    if (n <= 0)
      return;
    done += static_cast<size_t>(n);
  }
}
void writeError(const char* text) { writeError(text, std::strlen(text)); }
void writeError(const std::string& text) { writeError(text.data(), text.size()); }

// Nothing here may allocate: memory is what ran out.
[[noreturn]] void onTermination() {
  bool memory = false;
  if (abi::__cxa_current_exception_type() != nullptr) {
    try {
      throw;
    } catch (const std::bad_alloc&) {
      memory = true;
    } catch (...) {
    }
  } else {
    // An exception that could not even be allocated ends the program without one.
    void* probe = std::malloc(256);
    memory = probe == nullptr;
    std::free(probe);
  }
  if (!memory) {
    if (sl_previousTerminate != nullptr)
      sl_previousTerminate();
    std::abort();
  }
  // The lines held go before the last one.
  if (DebugLines* lines = DebugLines::current())
    lines->drain(true);
  const RunStage& stage = runStage();
  writeError("korvan-run: ");
  writeError(stage.where);
  writeError("memory ran out ");
  if (stage.text.empty())
    writeError("at the start");
  else
    writeError(stage.text);
  writeError("\n");
  _exit(EXIT_BAD_INPUT);
}

/// A bad command line or unreadable input: exit status 2.
struct BadInput {
  std::string message;
};

struct Options {
  std::string model;
  std::string solverConfig;
  unsigned int maxSteps = 0;
  unsigned int maxDepth = 0;
  std::vector<std::string> debugPatterns;
  bool help = false;
};

unsigned int parseCount(const std::string& option, const std::string& text) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < 0 || value > 2000000000L)
    throw BadInput{"expected a non-negative integer after " + option + " (at most 2000000000), got '" + text + "'"};
  return static_cast<unsigned int>(value);
}

Options parseOptions(const std::vector<std::string>& args) {
  Options options;
  std::map<std::string, std::string> given;
  for (size_t i = 0; i < args.size(); i++) {
    const std::string& arg = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size())
        throw BadInput{"missing value after " + arg};
      // A second value would replace the first without a word.
      if (arg != "--debug" && !given.emplace(arg, args[i + 1]).second)
        throw BadInput{arg + " given twice (" + given[arg] + " and " + args[i + 1] + "): it takes one value"};
      return args[++i];
    };
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      return options;
    }
    if (arg == "--solver") {
      // Empty, it would leave the default configuration in its place.
      options.solverConfig = value();
      if (options.solverConfig.empty())
        throw BadInput{"--solver takes a configuration file, got an empty name"};
    }
    else if (arg == "--max-steps")
      options.maxSteps = parseCount(arg, value());
    else if (arg == "--max-depth")
      options.maxDepth = parseCount(arg, value());
    else if (arg == "--debug") {
      // An empty pattern would enable every marker, which '*' says plainly.
      const std::string& pattern = value();
      if (pattern.empty())
        throw BadInput{"--debug takes a marker or the first part of one ('*' for every marker), got an empty one"};
      options.debugPatterns.push_back(pattern);
      DebugMessage::enable(pattern);
    }
    else if (!arg.empty() && arg[0] == '-')
      throw BadInput{"unknown option " + arg};
    else if (arg.empty())
      throw BadInput{"an empty argument where the model file was expected (no model given)"};
    else if (options.model.empty())
      options.model = arg;
    else
      throw BadInput{"more than one model given: " + options.model + " and " + arg};
  }
  if (options.model.empty())
    throw BadInput{"no model given"};
  return options;
}

std::string objectNames(const ConstrainedVariableId& objectVar) {
  std::string names;
  for (double value : inModelOrder(objectVar->lastDomain())) {
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

/// The quantities that the model left open (none given, or a range) and a fixed schedule chose:
/// the token lines show them, this line says they were not the model's.
void printChosenQuantities(std::ostream& out, const PlanDatabaseId& db, const VexlXmlInterpreter& interpreter) {
  std::map<int, std::string> names;
  for (const auto& entry : interpreter.getNamedTokens())
    if (entry.second.isValid())
      names[entry.second->getKey()] = entry.first;
  std::string chosen;
  for (const auto& entry : db->getTokens()) {
    const ConstrainedVariableId quantity = entry.second->getVariable(LabelStr("quantity"));
    if (quantity.isNoId() || quantity->baseDomain().isSingleton() || !quantity->lastDomain().isSingleton())
      continue;
    std::map<int, std::string>::const_iterator name = names.find(entry.first);
    chosen += (chosen.empty() ? "" : ", ") + (name == names.end() ? entry.second->toString() : name->second) + " " +
              toString(quantity->lastDomain().getSingletonValue());
  }
  if (!chosen.empty())
    out << "Quantities the schedule chose (the model left them open): " << chosen << std::endl;
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

/// The solver's figures; a search that saw no flaw left is not called solved when the plan is not.
std::string solverFigures(std::string figures, SOLVERS::Solver::Status status, const Verdict& verdict) {
  const std::string claim = "status=SOLVED";
  const std::string::size_type at = figures.rfind(claim);
  if (status == SOLVERS::Solver::SOLVED && !verdict.solved && at != std::string::npos)
    figures.replace(at, claim.size(), "status=NO_FLAW_SEEN");
  return figures;
}

/// The Why: lines above an INCONSISTENT or NO SOLUTION result.
void printWhy(std::ostream& out, const std::vector<std::string>& why) {
  for (size_t i = 0; i < why.size(); i++)
    out << (i == 0 ? "Why: " : "") << why[i] << std::endl;
}

/// The engine with its components and the registered modules; torn down in the right order.
class Host {
public:
  Host() : m_db(nullptr), m_interpreter(nullptr) {
    try {
      // Names are made before what they name: a part made is handed to the engine at once.
      const std::string& ceName = ConstraintEngine::COMPONENT_NAME();
      ConstraintEngine* ce = new ConstraintEngine();
      m_engine.addComponent(ceName, ce);
      initConstraintLibrary(ce->getId());
      initTemporalConstraints(ce->getId());
      Schema* schema = new Schema();
      m_engine.addComponent("Schema", schema);
      const std::string& dbName = PlanDatabase::COMPONENT_NAME();
      PlanDatabase* db = new PlanDatabase(ce->getId(), schema->getId(), m_engine.getId());
      m_engine.addComponent(dbName, db);
      m_db = db;
      SOLVERS::initSolverComponents(m_engine);
      const std::string& language = VexlXmlInterpreter::name();
      VexlXmlInterpreter* interpreter = new VexlXmlInterpreter(m_db->getId());
      m_engine.addLanguageInterpreter(language, interpreter);
      m_interpreter = interpreter;
      for (const ModuleMaker& maker : moduleMakers()) {
        Module* module = maker();
        checkError(module != nullptr, "A module maker made no module.");
        std::unique_ptr<Module> owned(module);
        m_modules.reserve(m_modules.size() + 1);
        module->initialize(m_engine.getId());
        m_modules.push_back(owned.release());
      }
    } catch (...) {
      // No destructor runs for a half-built host: undo the modules made so far (the engine,
      // a member, takes its components along).
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
    if (m_db != nullptr)
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

/// Reads a solver configuration that must be one <Solver> element.
void readSolverConfig(const std::string& path, TiXmlDocument& config) {
  std::string text = VexlXmlInterpreter::readFile(path, "solver configuration");
  VexlXmlInterpreter::checkXmlText(text, path);
  VexlXmlInterpreter::checkXmlMarkup(text, path);
  config.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
  if (config.Error()) {
    std::ostringstream os;
    os << path << ":" << std::max(config.ErrorRow(), 1) << ": malformed XML: " << config.ErrorDesc();
    throw BadInput{os.str()};
  }
  if (config.RootElement() == nullptr)
    throw BadInput{path + ":1: <Solver>: no XML element: a configuration is one <Solver> element"};
  if (std::string(config.RootElement()->Value()) != "Solver")
    throw BadInput{path + ":" + std::to_string(config.RootElement()->Row()) + ": <" +
                   config.RootElement()->Value() + ">: the root element must be <Solver>"};
  // Managers hold handlers, which hold nothing: text or deeper elements would be dropped.
  const TiXmlElement& solver = *config.RootElement();
  VexlXmlInterpreter::checkNoContent(solver, true, path);
  for (const TiXmlElement* manager = solver.FirstChildElement(); manager != nullptr;
       manager = manager->NextSiblingElement()) {
    VexlXmlInterpreter::checkNoContent(*manager, true, path);
    for (const TiXmlElement* handler = manager->FirstChildElement(); handler != nullptr;
         handler = handler->NextSiblingElement())
      VexlXmlInterpreter::checkNoContent(*handler, false, path);
  }
}

/// A configuration's refusal as bad input: the element refused with its place, or the
/// configuration as a whole.
BadInput configError(const Options& options, const TiXmlDocument& config, const Error& e, const std::string& when) {
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
}

/// The run's lines after the search: the solver's figures, the plan and the verdict.
void printVerdict(std::ostream& out, const PlanDatabaseId& db, const VexlXmlInterpreter& interpreter,
                  const std::string& solverName, const std::string& figures, SOLVERS::Solver::Status status,
                  const Verdict& verdict) {
  out << "Solver " << solverName << ": " << solverFigures(figures, status, verdict) << std::endl;
  if (!verdict.schedule.empty())
    out << "Schedule: " << verdict.schedule << std::endl;
  if (!verdict.schedule.empty())
    printChosenQuantities(out, db, interpreter);
  printTokens(out, db, interpreter);
  printObjects(out, db);
  if (!verdict.problems.empty() && !verdict.solved) {
    out << "Left unresolved (" << verdict.problems.size() << "):" << std::endl;
    for (const std::string& problem : verdict.problems)
      out << "  " << problem << std::endl;
  }
  printWhy(out, verdict.why);
  out << "Result: " << verdict.result << std::endl;
}

/// What a run made, until the run ends. A program that exits right after the run lets the exit
/// take it back (exitTakesIt, read at the end); so does a run that memory failed, whose teardown
/// could fail again where nothing can be raised. Otherwise it is torn down here, in a destructor
/// that nothing may leave: memory that runs out takes the reserve.
template <class T>
struct LeftToExit {
  std::unique_ptr<T>& owner;
  unsigned long failures;
  const bool& exitTakesIt;
  ~LeftToExit() {
    if (exitTakesIt || MemoryReserve::failures() != failures) {
      owner.release();
      return;
    }
    MemoryReserve::NoRaise quiet;
    owner.reset();
  }
};

int execute(const Options& options, std::ostream& out, std::ostream& err) {
  // Until a file is in memory, no element of it is being read: the file is what the line names.
  enterStage("while reading the file", options.model + ": ");
  const std::string model = VexlXmlInterpreter::readFile(options.model, "model file");
  TiXmlDocument config;
  if (!options.solverConfig.empty()) {
    enterStage("while reading the file", options.solverConfig + ": ");
    readSolverConfig(options.solverConfig, config);
  }
  enterStage("while reading the input");

  std::unique_ptr<Host> owner(new Host());
  Host& host = *owner;
  const unsigned long failures = MemoryReserve::failures();
  LeftToExit<Host> leftToExit{owner, failures, sl_hostLeftToExit};
  // Lines that name tokens use the names this model gave them.
  struct Naming {
    explicit Naming(const VexlXmlInterpreter& interpreter) { tokenNaming().interpreter = &interpreter; }
    ~Naming() { tokenNaming() = TokenNaming(); }
  } naming(host.interpreter());
  FailureReasons reasons(host.db().getId());
  std::string summary = host.interpreter().interpretText(model, options.model);
  if (options.solverConfig.empty())
    config.Parse(defaultSolverConfig().c_str());
  // The configuration is judged whole before anything is printed or searched; its components
  // refuse what they are asked when built, or only when a flaw reaches them.
  std::unique_ptr<SOLVERS::Solver> solver;
  bool solverStays = false;
  LeftToExit<SOLVERS::Solver> solverLeftToExit{solver, failures, solverStays};
  try {
    solver.reset(new SOLVERS::Solver(host.engine(), *config.RootElement()));
  } catch (const Error& e) {
    throw configError(options, config, e, "");
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
    printWhy(out, {reasons.last().empty() ? emptiedWhy(ce) : reasons.last()});
    out << "Result: " << (reasons.last().empty() ? "INCONSISTENT" : reasons.emptiedResult()) << std::endl;
    return EXIT_NO_SOLUTION;
  }
  bool solved = false;
  reasons.clear();
  GapSearch gapSearch;
  gapSearch.gap = firstChoiceGap(host.db().getId());
  Verdict verdict;
  unsigned int maxSteps = options.maxSteps;
  // A token that alone breaks a limit in every schedule ends the run before any search, which
  // could only spend its budget finding that out.
  const std::string alone = refutation(host.db().getId(), refutationsBeforeSearch());
  if (!alone.empty()) {
    verdict.result = "NO SOLUTION";
    verdict.why.assign(1, alone);
  } else if (!gapSearch.gap.empty()) {
    enterStage("while fixing a schedule");
    searchScheduleFirst(host.db().getId(), *solver, reasons, gapSearch, verdict, maxSteps);
  }
  enterStage("while solving");
  if (verdict.result.empty()) {
    try {
      solved = solver->solve(maxSteps, options.maxDepth);
    } catch (const Error& e) {
      throw configError(options, config, e, "while solving: ");
    }
  }
  enterStage("after solving");
  bool consistent = ce->propagate();
  const SOLVERS::Solver::Status status = solver->getStatus();
  const std::string figures = solver->printFigures();
  if (verdict.result.empty())
    verdict = decide(host.db().getId(), *solver, solved, consistent, reasons, gapSearch);
  printVerdict(out, host.db().getId(), host.interpreter(), solver->getName(), figures, status, verdict);
  solved = verdict.solved;
  // The decisions stay in the plan; the solver goes before the database it searched (its holder
  // is undone before the host's).
  return solved ? EXIT_SOLVED : EXIT_NO_SOLUTION;
}

} // namespace

void registerModule(const ModuleMaker& maker) { moduleMakers().push_back(maker); }

void leaveHostToExit(bool leave) { sl_hostLeftToExit = leave; }

void registerObjectPrinter(const std::string& objectType, const ObjectPrinter& printer) {
  objectPrinters()[objectType] = printer;
}

void registerPlanChecker(const PlanChecker& checker) { planCheckers().push_back(checker); }

void registerDefaultFlawManagers(const std::string& elements) { defaultFlawManagers() += elements; }

void registerBookkeepingConstraint(const std::string& name) { bookkeepingConstraints().insert(name); }

void registerEmptyingExplainer(const EmptyingExplainer& explainer) { emptyingExplainers().push_back(explainer); }

void registerChoiceGap(const ChoiceGap& gap) { choiceGaps().push_back(gap); }

void registerEnvelopeJudged(const EnvelopeJudged& judged) { envelopeJudged().push_back(judged); }

void registerDeadEnd(const DeadEnd& deadEnd) { deadEnds().push_back(deadEnd); }

void registerOverload(const DeadEnd& overload, const DeadEnd& wider) { overloads().push_back(Overload{overload, wider}); }

void registerRefutation(const Refutation& refutation) { refutations().push_back(refutation); }

void registerRefutationBeforeSearch(const Refutation& refutation) { refutationsBeforeSearch().push_back(refutation); }

void registerUnjudgedChecker(const PlanChecker& checker) { unjudgedCheckers().push_back(checker); }

std::string tokenName(const TokenId& token) {
  TokenNaming& naming = tokenNaming();
  if (naming.interpreter != nullptr) {
    const std::map<std::string, TokenId>& named = naming.interpreter->getNamedTokens();
    if (naming.named != named.size()) {
      naming.names.clear();
      for (const auto& entry : named)
        if (entry.second.isValid())
          naming.names[entry.second->getKey()] = entry.first;
      naming.named = named.size();
    }
    std::map<int, std::string>::const_iterator name = naming.names.find(token->getKey());
    if (name != naming.names.end())
      return name->second;
  }
  return token->toString();
}

void clearRegistrations() {
  defaultFlawManagers().clear();
  bookkeepingConstraints().clear();
  moduleMakers().clear();
  planCheckers().clear();
  emptyingExplainers().clear();
  choiceGaps().clear();
  envelopeJudged().clear();
  deadEnds().clear();
  overloads().clear();
  refutations().clear();
  refutationsBeforeSearch().clear();
  unjudgedCheckers().clear();
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

void endOnMemoryTermination() {
  std::terminate_handler previous = std::set_terminate(onTermination);
  if (previous != onTermination)
    sl_previousTerminate = previous;
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  DebugMessage::clearStreamFailure();
  std::string message;
  bool showUsage = false;
  const unsigned long failures = MemoryReserve::failures();
  struct Reserve {
    ~Reserve() { MemoryReserve::disarm(); }
  } reserve;
  try {
    // Short texts, which need no memory of their own.
    enterStage("at the start");
    // What unwinds from a failed allocation, and the report of it, need memory of their own.
    MemoryReserve::arm(4 << 20);
    Options options = parseOptions(args);
    if (options.help) {
      out << usage();
      message = outputFailure(out);
      if (message.empty())
        return EXIT_SOLVED;
      throw BadInput{message};
    }
    int status = execute(options, out, err);
    // Sites register when the run first passes them: a pattern none of them has printed nothing.
    for (const std::string& pattern : options.debugPatterns)
      if (!DebugMessage::anySiteMatches(pattern))
        err << "korvan-run: warning: --debug " << printable(pattern) << ": no debug message of this run has a marker starting "
            << "with it: it printed nothing" << std::endl;
    for (const std::string& pattern : DebugMessage::environmentPatterns())
      if (!DebugMessage::anySiteMatches(pattern))
        err << "korvan-run: warning: KORVAN_DEBUG " << printable(pattern) << ": no debug message of this run has a marker "
            << "starting with it: it printed nothing" << std::endl;
    message = outputFailure(out);
    // Lines still held that cannot be written make the run a failure like any other lost line.
    if (DebugLines* lines = DebugLines::current())
      lines->drain();
    if (DebugMessage::streamFailure().empty() && message.empty() && MemoryReserve::failures() == failures)
      return status;
  } catch (const BadInput& e) {
    message = e.message;
    showUsage = e.message.find("option") != std::string::npos || e.message.find("model given") != std::string::npos;
  } catch (const Error& e) {
    message = e.getMsg().empty() ? e.what() : e.getMsg();
  } catch (const std::bad_alloc&) {
    message = memoryRanOut();
  } catch (const std::exception& e) {
    message = e.what();
  }
  // A failed allocation that a stream swallowed is one all the same: what was printed may be cut short.
  if (MemoryReserve::failures() != failures) {
    if (message.find("memory ran out") == std::string::npos)
      message = memoryRanOut();
  } else if (!DebugMessage::streamFailure().empty()) {
    // Lost debug output is reported once, whatever it caused on its way.
    message = "cannot write the debug output: " + DebugMessage::streamFailure();
  }
  try {
    err << "korvan-run: " << printable(message) << std::endl;
  } catch (const std::bad_alloc&) {
    // Out of memory even for the copy (the prefix is out already): the message as it is.
    err << message << std::endl;
  }
  if (showUsage)
    err << usage();
  return EXIT_BAD_INPUT;
}

} // namespace HOST
} // namespace KORVAN
