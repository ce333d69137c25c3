#include "Solvers/base/FlawManager.hh"

#include <tinyxml.h>

#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Entity.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {
namespace SOLVERS {

FlawManager::FlawManager(const TiXmlElement& configData)
    : Component(configData), m_initialized(false), m_engine(nullptr) {}

FlawManager::~FlawManager() {
  for (std::vector<FlawHandlerId>::iterator it = m_handlers.begin(); it != m_handlers.end();
       ++it) {
    if (m_engine != nullptr)
      m_engine->removeRule(MatchingRuleId(*it));
    delete (FlawHandler*)(*it);
  }
  m_handlers.clear();
  delete m_engine;
}

void FlawManager::initialize(const PlanDatabaseId& db, const ContextId& ctx,
                             ComponentFactoryMgr& factories, MatchFinderMgr* finders) {
  checkError(!m_initialized, "Flaw manager " << getName().toString() << " is already initialized.");
  checkError(db.isValid(), "Flaw manager " << getName().toString() << " needs a plan database.");
  m_db = db;
  setContext(ctx);
  m_engine = new MatchingEngine(finders);
  for (const TiXmlElement* child = getConfigData().FirstChildElement(); child != nullptr;
       child = child->NextSiblingElement()) {
    // A handler that names no component would leave its flaws to nobody; no other element is read.
    checkElement(child->Attribute("component") != nullptr, *child, "Element ", " has no 'component' attribute.");
    ComponentId component = factories.createComponent(*child);
    if (!FlawHandlerId::convertable(component)) {
      std::string name = component->getName().toString();
      delete (Component*)component;
      checkElement(ALWAYS_FAIL, *child, "Component '" << name << "' of element ",
                   " is not a flaw handler.");
    }
    FlawHandlerId handler(component);
    warnOfUnknownFilters(*child, *handler, finders);
    handler->setContext(ctx);
    m_handlers.push_back(handler);
    m_engine->addRule(MatchingRuleId(handler));
  }
  // Flaws are handed only to handlers: a manager without one finds flaws for nobody.
  if (m_handlers.empty())
    m_warnings.push_back(ConfigurationWarning{std::string("<") + getConfigData().Value() + ">", getConfigData().Row(),
                                              "'" + getName().toString() + "' has no flaw handler (a child element "
                                              "with a component): no flaw it finds is handled"});
  m_initialized = true;
  debugMsg("FlawManager:initialize", getName().toString() << " with " << m_handlers.size()
                                                            << " handler(s)");
  handleInitialize();
}

namespace {
// The full name of a predicate of the schema, or the last part of one.
bool namesPredicate(const Schema& schema, const LabelStr& predicate) {
  if (schema.isPredicate(predicate))
    return true;
  for (const LabelStr& type : schema.getObjectTypes())
    for (const LabelStr& declared : schema.getPredicates(type)) {
      const std::string& text = declared.toString();
      const std::string::size_type dot = text.rfind('.');
      if (dot != std::string::npos && text.compare(dot + 1, std::string::npos, predicate.toString()) == 0)
        return true;
    }
  return false;
}

// A variable every token has, or a member of a type or a predicate of the schema.
bool namesVariable(const Schema& schema, const LabelStr& variable) {
  for (const char* builtIn : {"state", "object", "start", "end", "duration", "time"})
    if (variable == LabelStr(builtIn))
      return true;
  for (const LabelStr& type : schema.getObjectTypes()) {
    if (schema.hasMember(type, variable))
      return true;
    for (const LabelStr& predicate : schema.getPredicates(type))
      if (schema.hasMember(predicate, variable))
        return true;
  }
  return false;
}
} // namespace

void FlawManager::warn(const std::string& message) {
  m_warnings.push_back(ConfigurationWarning{std::string("<") + getConfigData().Value() + ">", getConfigData().Row(),
                                            message});
}

void FlawManager::warnOfUnknownFilters(const TiXmlElement& element, const FlawHandler& handler,
                                       MatchFinderMgr* finders) {
  const Schema& schema = *m_db->getSchema();
  const std::string tag = std::string("<") + element.Value() + ">";
  for (const std::string& message : handler.configurationWarnings())
    m_warnings.push_back(ConfigurationWarning{tag, element.Row(), message});
  auto warn = [&](const std::string& message) {
    m_warnings.push_back(ConfigurationWarning{tag, element.Row(), message + ": the handler takes no flaw"});
  };
  // The flaws the handler can take: of its decision points' type, within the manager's.
  const std::string handled = handler.handledEntityType(), found = flawEntityType();
  if (!handled.empty() && !found.empty() && handled != found) {
    warn("'" + handler.getName().toString() + "' takes " + handled + " flaws, and '" + getName().toString() +
         "' finds " + found + " flaws");
    return;
  }
  const std::string type = handled.empty() ? found : handled;
  MatchFinderId finder;
  if (finders != nullptr && !type.empty())
    finder = finders->getMatchFinder(LabelStr(type));
  auto carried = [&](const char* filter) { return finder.isNoId() || finder->carries(filter); };
  if (handler.filtersObjectType() && !schema.isObjectType(handler.getObjectType()))
    warn("class '" + handler.getObjectType().toString() + "' names no type of the model");
  if (handler.filtersPredicate() && !namesPredicate(schema, handler.getPredicate()))
    warn("predicate '" + handler.getPredicate().toString() + "' names no predicate of the model");
  else if (handler.filtersPredicate() && !carried("predicate"))
    warn("predicate '" + handler.getPredicate().toString() + "': the flaws of '" + handler.getName().toString() +
         "' (" + type + ") carry no predicate");
  if (handler.filtersVariable() && !namesVariable(schema, handler.getVariable()))
    warn("variable '" + handler.getVariable().toString() + "' names no variable of the model");
  else if (handler.filtersVariable() && !carried("variable"))
    warn("variable '" + handler.getVariable().toString() + "': the flaws of '" + handler.getName().toString() +
         "' (" + type + ") carry no variable");
}

bool FlawManager::staticMatch(const EntityId&) { return false; }

bool FlawManager::dynamicMatch(const EntityId& entity) { return staticMatch(entity); }

bool FlawManager::betterThan(const EntityId&, const EntityId&, LabelStr&) { return false; }

LabelStr FlawManager::soleFlawExplanation(const EntityId&) { return LabelStr(""); }

std::string FlawManager::toString(const EntityId& entity) const {
  return entity.isValid() ? entity->toString() : std::string("noId");
}

FlawHandlerId FlawManager::getFlawHandler(const EntityId& entity) {
  check_error(m_initialized, "Flaw manager used before initialization.");
  std::vector<MatchingRuleId> rules = m_engine->getApplicableRules(entity);
  FlawHandlerId best;
  for (std::vector<MatchingRuleId>::const_iterator it = rules.begin(); it != rules.end(); ++it) {
    FlawHandlerId handler(*it);
    if (!handler->canHandle(entity))
      continue;
    if (best.isNoId() || handler->getPriority() < best->getPriority() ||
        (handler->getPriority() == best->getPriority() &&
         handler->staticFilterCount() > best->staticFilterCount()))
      best = handler;
  }
  return best;
}

bool FlawManager::inScope(const EntityId& entity) { return scopeHandler(entity).isValid(); }

FlawHandlerId FlawManager::scopeHandler(const EntityId& entity) {
  if (!entity.isValid() || staticMatch(entity) || dynamicMatch(entity))
    return FlawHandlerId::noId();
  return getFlawHandler(entity);
}

bool FlawManager::getBestFlaw(EntityId& flaw, FlawHandlerId& handler, LabelStr& explanation) {
  check_error(m_initialized, "Flaw manager used before initialization.");
  flaw = EntityId::noId();
  handler = FlawHandlerId::noId();
  IteratorId it = createIterator();
  check_error(it.isValid(), "Flaw manager made an invalid iterator.");
  // A flaw iterator has just found the flaw's handler, in the same state: asking again would
  // repeat the same look-up. While lines are wanted, it is repeated for its lines alone.
  const FlawIterator* flaws = dynamic_cast<FlawIterator*>((Iterator*)it);
  const bool listing = !DebugMessage::noneEnabled();
  try {
    while (!it->done()) {
      EntityId candidate = it->next();
      FlawHandlerId candidateHandler = flaws != 0 ? flaws->lastHandler(candidate) : FlawHandlerId::noId();
      if (candidateHandler.isNoId())
        candidateHandler = getFlawHandler(candidate);
      else if (listing)
        getFlawHandler(candidate);
      if (candidateHandler.isNoId())
        continue;
      if (flaw.isNoId()) {
        flaw = candidate;
        handler = candidateHandler;
        explanation = soleFlawExplanation(candidate);
        continue;
      }
      // The explanation names a comparator that decided a contest of the flaw that is kept: its
      // win as a newcomer, or, for the flaw met first, its first win over a newcomer.
      LabelStr why("");
      if (candidateHandler->getPriority() < handler->getPriority() ||
          (candidateHandler->getPriority() == handler->getPriority() && betterThan(candidate, flaw, why))) {
        explanation = why;
        flaw = candidate;
        handler = candidateHandler;
      } else if (explanation == LabelStr("") && candidateHandler->getPriority() == handler->getPriority() &&
                 betterThan(flaw, candidate, why))
        explanation = why;
    }
  } catch (...) {
    delete (Iterator*)it;
    throw;
  }
  delete (Iterator*)it;
  debugMsg("FlawManager:getBestFlaw", getName().toString() << ": "
                                         << (flaw.isValid() ? toString(flaw) : std::string("none")));
  return flaw.isValid();
}

FlawIterator::FlawIterator(FlawManager& manager)
    : m_manager(manager), m_done(false), m_visited(0) {}

void FlawIterator::advance() {
  m_current = EntityId::noId();
  m_currentHandler = FlawHandlerId::noId();
  for (;;) {
    EntityId candidate = nextCandidate();
    if (candidate.isNoId()) {
      m_done = true;
      return;
    }
    m_visited++;
    FlawHandlerId handler = m_manager.scopeHandler(candidate);
    if (handler.isValid()) {
      m_current = candidate;
      m_currentHandler = handler;
      return;
    }
  }
}

const EntityId FlawIterator::next() {
  checkError(!m_done, "Flaw iterator has no flaw left.");
  EntityId result = m_current;
  m_last = m_current;
  m_lastHandler = m_currentHandler;
  advance();
  return result;
}

} // namespace SOLVERS
} // namespace KORVAN
