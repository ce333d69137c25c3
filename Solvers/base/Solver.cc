#include "Solvers/base/Solver.hh"

#include <algorithm>
#include <map>
#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <tinyxml.h>

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "Solvers/base/Context.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {
namespace SOLVERS {

namespace {
unsigned int readLimit(const TiXmlElement& element, const char* attribute) {
  const char* text = element.Attribute(attribute);
  if (text == nullptr)
    return 0;
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  checkElement(end != text && *end == '\0' && errno == 0 && value >= 0 && value <= 2000000000L,
               element, "Expected a non-negative integer (at most 2000000000) for '" << attribute << "' on element ",
               ", got '" << text << "'.");
  return static_cast<unsigned int>(value);
}

PlanDatabaseId planDatabaseOf(Engine& engine) {
  PlanDatabase* db = dynamic_cast<PlanDatabase*>(engine.getComponent("PlanDatabase"));
  checkError(db != nullptr, "The solver needs the engine component \"PlanDatabase\".");
  return db->getId();
}

ComponentFactoryMgr& factoriesOf(Engine& engine) {
  ComponentFactoryMgr* mgr =
      dynamic_cast<ComponentFactoryMgr*>(engine.getComponent(ComponentFactoryMgr::name()));
  checkError(mgr != nullptr, "The solver needs the engine component \"ComponentFactoryMgr\".");
  return *mgr;
}
} // namespace

Solver::Solver(Engine& engine, const TiXmlElement& configData)
    : m_id(this), m_contextObj(nullptr), m_status(UNSOLVED), m_maxSteps(0), m_maxDepth(0),
      m_stepCount(0), m_decisionCount(0), m_backtrackCount(0), m_unresolvedCount(0), m_elapsed(0.0) {
  try {
    m_db = planDatabaseOf(engine);
    build(factoriesOf(engine),
          dynamic_cast<MatchFinderMgr*>(engine.getComponent(MatchFinderMgr::name())), configData);
  } catch (...) {
    release();
    throw;
  }
}

Solver::Solver(const PlanDatabaseId& db, ComponentFactoryMgr& factories,
               MatchFinderMgr* finders, const TiXmlElement& configData)
    : m_id(this), m_db(db), m_contextObj(nullptr), m_status(UNSOLVED), m_maxSteps(0),
      m_maxDepth(0), m_stepCount(0), m_decisionCount(0), m_backtrackCount(0), m_unresolvedCount(0), m_elapsed(0.0) {
  try {
    build(factories, finders, configData);
  } catch (...) {
    release();
    throw;
  }
}

void Solver::build(ComponentFactoryMgr& factories, MatchFinderMgr* finders,
                   const TiXmlElement& configData) {
  checkError(m_db.isValid(), "The solver needs a valid plan database.");
  checkElementAttributes(configData, {"name", "maxSteps", "maxDepth"}, "the solver");
  const char* name = configData.Attribute("name");
  m_name = name != nullptr ? name : "Solver";
  m_maxSteps = readLimit(configData, "maxSteps");
  m_maxDepth = readLimit(configData, "maxDepth");
  m_contextObj = new Context(m_name);
  m_context = m_contextObj->getId();
  for (const TiXmlElement* child = configData.FirstChildElement(); child != nullptr;
       child = child->NextSiblingElement()) {
    ComponentId component = factories.createComponent(*child);
    if (!FlawManagerId::convertable(component)) {
      std::string componentName = component->getName().toString();
      delete (Component*)component;
      checkElement(ALWAYS_FAIL, *child, "Component '" << componentName << "' of element ",
                   " is not a flaw manager.");
    }
    FlawManagerId manager(component);
    m_flawManagers.push_back(manager);
    manager->initialize(m_db, m_context, factories, finders);
  }
  publish();
}

Solver::~Solver() { release(); }

void Solver::release() {
  for (std::vector<DecisionPointId>::reverse_iterator it = m_decisionStack.rbegin();
       it != m_decisionStack.rend(); ++it)
    delete (DecisionPoint*)(*it);
  m_decisionStack.clear();
  for (std::vector<FlawManagerId>::reverse_iterator it = m_flawManagers.rbegin();
       it != m_flawManagers.rend(); ++it)
    delete (FlawManager*)(*it);
  m_flawManagers.clear();
  delete m_contextObj;
  m_contextObj = nullptr;
  if (m_db.isValid() && m_db->getConstraintEngine().isValid())
    m_db->getConstraintEngine()->setPropagationLimit(0);
  if (m_id.isValid())
    m_id.remove();
}

const char* Solver::statusName(Status status) {
  switch (status) {
  case UNSOLVED:
    return "UNSOLVED";
  case SOLVED:
    return "SOLVED";
  case EXHAUSTED:
    return "EXHAUSTED";
  case STEP_LIMIT:
    return "STEP_LIMIT";
  case DEPTH_LIMIT:
    return "DEPTH_LIMIT";
  }
  return "UNKNOWN";
}

bool Solver::propagate() {
  return m_db->getConstraintEngine()->propagate();
}

bool Solver::signature(std::vector<int>& result) const {
  result.clear();
  for (std::size_t i = 0; i < m_decisionStack.size(); ++i) {
    if (!m_decisionStack[i]->isExecuted())
      continue;
    check_error(m_choices[i] != NO_CHOICE, "A decision was executed behind the solver's back.");
    if (m_choices[i] == NO_SIGNATURE)
      return false;
    result.push_back(m_choices[i]);
  }
  std::sort(result.begin(), result.end());
  return true;
}

bool Solver::executeNext(const DecisionPointId& dp) {
  check_error(!m_decisionStack.empty() && m_decisionStack.back() == dp);
  int& choice = m_choices.back();
  std::vector<int> state;
  while (dp->hasNext()) {
    dp->execute();
    m_decisionCount++;
    const std::string text = dp->getChoiceSignature();
    choice = text.empty() ? NO_SIGNATURE : m_refuted.intern(text);
    // Decisions only narrow the plan: a set that holds a refuted set has no solution either.
    // Every set entered so far held none; a set refuted since holds the decisions that were on
    // the stack then, so only refuted sets with the latest decision can be inside this one.
    if (m_refuted.empty() || !signature(state) || !m_refuted.holdsOneWith(state, choice))
      return true;
    debugMsg("Solver:executeNext", "Already searched in vain: " << dp->toShortString());
    dp->undo();
    choice = NO_CHOICE;
  }
  return false;
}

bool Solver::backtrack() {
  m_backtrackCount++;
  debugMsg("Solver:backtrack", "Backtracking from depth " << m_decisionStack.size());
  std::vector<int> state;
  while (!m_decisionStack.empty()) {
    DecisionPointId dp = m_decisionStack.back();
    if (dp->isExecuted()) {
      if (signature(state))
        m_refuted.add(state);
      dp->undo();
      m_choices.back() = NO_CHOICE;
    }
    if (executeNext(dp)) {
      debugMsg("Solver:backtrack", "Next choice of " << dp->toShortString());
      return true;
    }
    m_decisionStack.pop_back();
    m_choices.pop_back();
    debugMsg("Solver:backtrack", "Popping " << dp->getKey());
    delete (DecisionPoint*)dp;
  }
  return false;
}

bool Solver::step() {
  if (m_status != UNSOLVED)
    return false;
  m_stepCount++;
  // A step limit bounds the run only if each step's propagation is bounded too: a cycle of
  // constraints may move a bound one unit per pass up to the horizon.
  const ConstraintEngineId& ce = m_db->getConstraintEngine();
  ce->setPropagationLimit(m_maxSteps > 0 ? PROPAGATION_WORK_PER_CONSTRAINT * (ce->getConstraints().size() + 1) : 0);
  const bool consistent = propagate();
  if (ce->propagationCut()) {
    debugMsg("Solver:step", "Step " << m_stepCount << ": propagation cut at its limit");
    m_status = STEP_LIMIT;
    publish();
    return false;
  }
  if (!consistent) {
    debugMsg("Solver:step", "Step " << m_stepCount << ": inconsistent");
    if (!backtrack())
      m_status = EXHAUSTED;
    publish();
    return m_status == UNSOLVED;
  }

  EntityId bestFlaw;
  FlawHandlerId bestHandler;
  LabelStr bestExplanation("");
  FlawManagerId bestManager;
  for (std::vector<FlawManagerId>::const_iterator it = m_flawManagers.begin();
       it != m_flawManagers.end(); ++it) {
    EntityId flaw;
    FlawHandlerId handler;
    LabelStr explanation("");
    if (!(*it)->getBestFlaw(flaw, handler, explanation))
      continue;
    if (bestFlaw.isNoId() || handler->getPriority() < bestHandler->getPriority()) {
      bestFlaw = flaw;
      bestHandler = handler;
      bestExplanation = explanation;
      bestManager = *it;
    }
  }

  if (bestFlaw.isNoId()) {
    debugMsg("Solver:step", "Step " << m_stepCount << ": no flaw left");
    m_status = SOLVED;
    publish();
    return false;
  }
  if (m_maxDepth > 0 && m_decisionStack.size() >= m_maxDepth) {
    m_status = DEPTH_LIMIT;
    publish();
    return false;
  }

  debugMsg("Solver:step", "Step " << m_stepCount << ": " << bestManager->toString(bestFlaw)
                                  << " by " << bestHandler->getName().toString() << " because "
                                  << bestExplanation.toString());
  DecisionPointId dp = bestHandler->create(m_db->getClient(), bestFlaw, bestExplanation);
  check_error(dp.isValid(), "Flaw handler made an invalid decision point.");
  m_decisionStack.push_back(dp);
  m_choices.push_back(NO_CHOICE);
  dp->initialize();
  if (!dp->hasNext()) {
    m_unresolvedCount++;
    debugMsg("Solver:step", "No choice resolves " << dp->toShortString());
  }
  if (!executeNext(dp) && !backtrack())
    m_status = EXHAUSTED;
  publish();
  return m_status == UNSOLVED;
}

bool Solver::solve(unsigned int maxSteps, unsigned int maxDepth) {
  if (maxSteps != 0)
    m_maxSteps = maxSteps;
  if (maxDepth != 0)
    m_maxDepth = maxDepth;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  while (m_status == UNSOLVED) {
    if (m_maxSteps > 0 && m_stepCount >= m_maxSteps) {
      m_status = STEP_LIMIT;
      break;
    }
    step();
  }
  m_elapsed += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  publish();
  debugMsg("Solver:solve", printFigures());
  return m_status == SOLVED;
}

void Solver::reset() {
  while (!m_decisionStack.empty()) {
    DecisionPointId dp = m_decisionStack.back();
    m_decisionStack.pop_back();
    if (dp->isExecuted())
      dp->undo();
    delete (DecisionPoint*)dp;
  }
  m_choices.clear();
  m_status = UNSOLVED;
  m_unresolvedCount = 0;
  m_refuted.clear();
  publish();
}

void Solver::publish() {
  if (m_contextObj == nullptr)
    return;
  m_contextObj->put("steps", m_stepCount);
  m_contextObj->put("depth", static_cast<double>(m_decisionStack.size()));
  m_contextObj->put("decisions", m_decisionCount);
  m_contextObj->put("backtracks", m_backtrackCount);
}

std::string Solver::printFigures() const {
  std::ostringstream os;
  os << "steps=" << m_stepCount << " decisions=" << m_decisionCount
     << " backtracks=" << m_backtrackCount << " depth=" << m_decisionStack.size()
     << " time=" << m_elapsed << "s status=" << statusName(m_status);
  return os.str();
}

} // namespace SOLVERS
} // namespace KORVAN
