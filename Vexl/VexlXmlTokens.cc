#include "Vexl/VexlXmlInterpreter.hh"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <tinyxml.h>

#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/EnumeratedDomain.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "PlanDatabase/base/DbClient.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/ObjectDomain.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"
#include "Vexl/InterpretedObjectFactory.hh"
#include "Vexl/VexlXmlParsing.hh"

namespace KORVAN {

// The attribute and value helpers are this file's vocabulary.
using namespace VexlParsing;


// Goals and facts: their bounds as written, the objects that can hold them, and the windows
// their times imply.

namespace {

// A variable's bounds as the model wrote them. Text that is no bounds waits for the variable: a
// bool takes words, and an attribute that names no variable is refused as such.
struct TokenBound {
  std::string name, text;
  std::pair<double, double> range;
  std::string error;
};

std::vector<TokenBound> tokenBounds(const TiXmlElement& element) {
  std::vector<TokenBound> bounds;
  for (const TiXmlAttribute* attribute = element.FirstAttribute(); attribute != nullptr;
       attribute = attribute->Next()) {
    std::string attributeName = attribute->Name();
    if (attributeName == "predicate" || attributeName == "name" || attributeName == "object" ||
        attributeName == "rejectable")
      continue;
    // Neither a number nor true or false: the planner decides it.
    if (attributeName == "state")
      reject("'state' takes no value here: a token's state (active, merged, rejected) is the planner's to decide");
    try {
      bounds.push_back(TokenBound{attributeName, attribute->Value(), parseBounds(attribute->Value(), attributeName),
                                  std::string()});
    } catch (const TransactionError& e) {
      bounds.push_back(TokenBound{attributeName, attribute->Value(), std::make_pair(0.0, 1.0), e.message});
      continue;
    }
    // A time point pinned at the horizon leaves no time for the token: its start, end and
    // duration could not agree.
    const std::pair<double, double>& range = bounds.back().range;
    if ((attributeName == "start" || attributeName == "end" || attributeName == "time") &&
        (range.first >= g_infiniteTimeAsDouble() || range.second <= -g_infiniteTimeAsDouble()))
      reject(quoted(attributeName) + " must allow a finite time, got " + quoted(attribute->Value()));
    // A token that lasts to the horizon has no end before it; an infinite quantity would be read
    // as the horizon's number of units.
    if (attributeName == "duration" && range.first >= g_infiniteTimeAsDouble())
      reject("'duration' must allow a finite time, got " + quoted(attribute->Value()));
    if (attributeName == "quantity" && (range.first >= g_infiniteTimeAsDouble() || range.second <= -g_infiniteTimeAsDouble()))
      reject("'quantity' must allow a finite amount, got " + quoted(attribute->Value()));
  }
  return bounds;
}

} // namespace

std::string VexlXmlInterpreter::tokenLabel(const TokenId& token) const {
  for (const std::pair<const std::string, TokenId>& named : m_tokens)
    if (named.second == token)
      return named.first;
  return token->toString();
}

bool VexlXmlInterpreter::hasHolder(const LabelStr& predicate) const {
  const SchemaId& schema = m_db->getSchema();
  const LabelStr type = schema->getObjectType(predicate);
  for (const std::pair<const int, ObjectId>& entry : m_db->getObjects())
    if (schema->isA(entry.second->getType(), type))
      return true;
  return false;
}

std::string VexlXmlInterpreter::noHolder(const LabelStr& predicate, const std::string& token) const {
  const std::string type = m_db->getSchema()->getObjectType(predicate).toString();
  return "no object of the model can hold " + quoted(predicate.toString()) +
         (token.empty() ? std::string() : " (token " + quoted(token) + ")") + ": the token would be on none (make a " +
         type + " with <new> first)";
}

// Tokens of the modules' classes reach their object through the object's constraint when
// the object list becomes final; before the object is closed, or while more objects may
// still come, they would silently reach no object at all.
void VexlXmlInterpreter::requireClosedHolders(const LabelStr& predicate,
                                               const std::list<double>& objects) const {
  if (!isNativePredicate(predicate.toString()))
    return;
  const SchemaId& schema = m_db->getSchema();
  std::vector<ObjectId> candidates;
  if (!objects.empty()) {
    for (double value : objects)
      candidates.push_back(ObjectId(value));
  } else {
    for (const std::pair<const int, ObjectId>& entry : m_db->getObjects())
      if (schema->isA(entry.second->getType(), schema->getObjectType(predicate)))
        candidates.push_back(entry.second);
  }
  if (candidates.empty())
    reject(noHolder(predicate, std::string()));
  for (const ObjectId& object : candidates)
    if (!object->isClosed())
      reject("resource " + object->getName().toString() +
             " is not closed yet: tokens on a resource come after it is closed (<close/>)");
  if (!m_db->isClosed())
    reject("the plan database is still open: tokens on resources come after <close/>");
}

void VexlXmlInterpreter::executeToken(const TiXmlElement& element, bool isFact) {
  const SchemaId& schema = m_db->getSchema();
  requireNoContent(element, false, element.Row());
  LabelStr predicate(requireAttribute(element, "predicate"));
  if (!schema->isPredicate(predicate))
    reject("unknown predicate " + quoted(predicate.toString()));
  std::string name;
  if (element.Attribute("name") != nullptr) {
    name = requireOneWord(requireAttribute(element, "name"), "token");
    if (m_tokens.count(name) != 0 && m_tokens[name].isValid())
      reject("duplicate token name " + quoted(name));
    if (getObject(name).isValid())
      reject("the name " + quoted(name) + " is already an object's");
  }
  bool rejectable = false;
  if (element.Attribute("rejectable") != nullptr)
    rejectable = requireBool(element.Attribute("rejectable"), "rejectable") != 0;
  std::list<double> objects;
  if (element.Attribute("object") != nullptr) {
    std::vector<std::string> names = words(requireAttribute(element, "object"));
    if (names.empty())
      reject("empty attribute 'object'");
    for (const std::string& objectName : names) {
      ObjectId object = getObject(objectName);
      if (object.isNoId())
        reject("unknown object " + quoted(objectName));
      if (!schema->isA(object->getType(), schema->getObjectType(predicate)))
        reject("object " + quoted(objectName) + " of type " + quoted(object->getType().toString()) +
               " cannot hold " + quoted(predicate.toString()));
      objects.push_back((double)object);
    }
  }
  requireClosedHolders(predicate, objects);
  // Once the plan database is closed no object can come: a token that none can hold is on none.
  if (objects.empty() && m_db->isClosed() && !hasHolder(predicate))
    reject(noHolder(predicate, std::string()));
  // Bounds are read before the token exists, so that their syntax errors cost nothing.
  std::vector<TokenBound> bounds = tokenBounds(element);
  // The windows are set before the token is closed: a resource token joins its profile
  // when it is active on a single resource, and filed with unbounded times it would sit in
  // every instant of the profile until the windows came.
  // The token starts on the objects named, of which the plan would keep no others.
  std::unique_ptr<PlanDatabase::TokenObjects> named;
  if (!objects.empty())
    named.reset(new PlanDatabase::TokenObjects(m_db, schema->getObjectType(predicate), objects));
  TokenId token = m_db->getClient()->createToken(predicate, rejectable, isFact, [&](const TokenId& made) {
    for (TokenBound& bound : bounds) {
      ConstrainedVariableId var = made->getVariable(LabelStr(bound.name));
      if (var.isNoId() && bound.name == "start")
        var = made->start();
      else if (var.isNoId() && bound.name == "end")
        var = made->end();
      else if (var.isNoId() && bound.name == "duration")
        var = made->duration();
      if (var.isNoId())
        reject(quoted(predicate.toString()) + " has no variable " + quoted(bound.name));
      if (var->baseDomain().isBool())
        bound.range = boolBounds(bound.text, bound.name);
      else if (!bound.error.empty())
        reject(bound.error);
      const std::pair<double, double> range = bound.range;
      std::unique_ptr<AbstractDomain> domain = narrowed(var, range.first, range.second, bound.name);
      m_db->getClient()->restrict(var, *domain);
    }
    requireEndBeforeHorizon(made, ConstrainedVariableId::noId(), 0);
    narrowToImpliedWindows(made);
  });
  named.reset();
  if (!objects.empty()) {
    ConstrainedVariableId objectVar = token->getObject();
    std::unique_ptr<AbstractDomain> domain(objectVar->baseDomain().copy());
    domain->intersect(ObjectDomain(objects, true, objectVar->baseDomain().getTypeName()));
    // Naming the objects closes the list: objects made later do not join it.
    if (domain->isOpen())
      domain->close();
    if (domain->isEmpty())
      reject("none of the objects " + quoted(element.Attribute("object")) + " can hold the token");
    m_db->getClient()->restrict(objectVar, *domain);
  }
  if (!name.empty())
    m_tokens[name] = token;
  m_tokenLines[token->getKey()] = element.Row();
  debugMsg("VexlXmlInterpreter:executeToken", "Created " << token->toString()
                                                        << (name.empty() ? "" : " as " + name));
}

// The start and the duration given, or one of them specified to a value, may leave no end
// before the horizon.
void VexlXmlInterpreter::requireEndBeforeHorizon(const TokenId& token, const ConstrainedVariableId& var, double value) {
  if (token->start().isNoId() || token->duration().isNoId() || token->start() == token->end())
    return;
  // A time pinned at the horizon itself is left to the plan's check, which names it.
  if (var.isValid() && (var == token->start() || var == token->end()) && value >= g_infiniteTimeAsDouble())
    return;
  const double start = var == token->start() ? value : token->start()->lastDomain().getLowerBound();
  const double duration = var == token->duration() ? value : token->duration()->lastDomain().getLowerBound();
  if (start + duration >= g_infiniteTimeAsDouble())
    reject("the token cannot end before the horizon (" + toString(g_infiniteTimeAsDouble()) + "): it starts at " +
           toString(start) + " at the earliest and lasts at least " + toString(duration));
  if (var.isValid() && var == token->duration() && value >= g_infiniteTimeAsDouble())
    reject("the token cannot end before the horizon (" + toString(g_infiniteTimeAsDouble()) + "): it lasts " +
           toString(value));
}

namespace {

// Sums and differences of times, infinite when an operand is.
double timeSum(double a, double b, bool upper) {
  const double inf = g_infiniteTimeAsDouble();
  if (upper ? (a >= inf || b >= inf) : (a <= -inf || b <= -inf))
    return upper ? inf : -inf;
  return std::max(-inf, std::min(inf, a + b));
}

// Narrows a derived domain as a propagator does: the base domain stays what the
// model gave, for <specify> and for every relaxation.
class ImpliedWindow : public Propagator {
public:
  static void narrow(const ConstrainedVariableId& var, double lb, double ub) {
    const double inf = g_infiniteTimeAsDouble();
    const AbstractDomain& domain = var->lastDomain();
    if (lb >= inf || ub <= -inf || !domain.isNumeric() || domain.isEmpty())
      return;
    // Windows the temporal network would find empty are left to it, and to its messages.
    if (lb > domain.getUpperBound() || ub < domain.getLowerBound())
      return;
    if (lb <= domain.getLowerBound() && ub >= domain.getUpperBound())
      return;
    debugMsg("VexlXmlInterpreter:narrowToImpliedWindows",
             var->toString() << " to [" << lb << " " << ub << "]");
    getCurrentDomain(var).intersect(lb, ub);
  }
};

} // namespace

// Propagation derives these windows anyway (end = start + duration holds as long as the
// token exists); given now, a resource token's end joins its profile within its window
// rather than over the whole horizon until the first propagation.
void VexlXmlInterpreter::narrowToImpliedWindows(const TokenId& token) {
  const ConstrainedVariableId start = token->start();
  const ConstrainedVariableId end = token->end();
  const ConstrainedVariableId duration = token->duration();
  if (start.isNoId() || end.isNoId() || duration.isNoId() || start == end)
    return;
  const AbstractDomain& d = duration->lastDomain();
  ImpliedWindow::narrow(end, timeSum(start->lastDomain().getLowerBound(), d.getLowerBound(), false),
                        timeSum(start->lastDomain().getUpperBound(), d.getUpperBound(), true));
  ImpliedWindow::narrow(start, timeSum(end->lastDomain().getLowerBound(), -d.getUpperBound(), false),
                        timeSum(end->lastDomain().getUpperBound(), -d.getLowerBound(), true));
}

} // namespace KORVAN
