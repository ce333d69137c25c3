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

VexlXmlInterpreter::VexlXmlInterpreter(const PlanDatabaseId& db) : m_db(db), m_transactionCount(0) {
  checkError(db.isValid(), "The interpreter needs a valid plan database.");
}

VexlXmlInterpreter::~VexlXmlInterpreter() {}

void VexlXmlInterpreter::addNativeClass(const std::string& className,
                                        const std::vector<std::string>& predicates,
                                        const std::vector<std::string>& optionalMembers) {
  m_nativeClasses[className].insert(optionalMembers.begin(), optionalMembers.end());
  m_nativePredicates.insert(predicates.begin(), predicates.end());
  debugMsg("VexlXmlInterpreter:addNativeClass", className << " with " << predicates.size()
                                                          << " predicate(s)");
}

void VexlXmlInterpreter::addConstraintScope(const std::string& constraintName, const std::string& takes) {
  m_constraintScopes[constraintName] = takes;
}

bool VexlXmlInterpreter::isNativeClass(const std::string& className) const {
  return m_nativeClasses.find(className) != m_nativeClasses.end();
}

bool VexlXmlInterpreter::isNativePredicate(const std::string& predicate) const {
  return m_nativePredicates.count(predicate) != 0;
}

TokenId VexlXmlInterpreter::getToken(const std::string& name) const {
  std::map<std::string, TokenId>::const_iterator it = m_tokens.find(name);
  if (it == m_tokens.end() || !it->second.isValid())
    return TokenId::noId();
  return it->second;
}

// " (T takes 0, 2, 3 or 4 arguments)": the counts that have a constructor, for a refused signature.
std::string VexlXmlInterpreter::argumentCounts(const LabelStr& type) const {
  const SchemaId& schema = m_db->getSchema();
  std::vector<unsigned int> counts;
  std::vector<LabelStr> argTypes;
  for (unsigned int count = 0; count <= 16; count++, argTypes.push_back(LabelStr("float")))
    if (schema->hasObjectFactory(Schema::makeSignature(type, argTypes)))
      counts.push_back(count);
  if (counts.empty())
    return std::string();
  std::ostringstream os;
  os << " (" << type.toString() << " takes ";
  for (size_t i = 0; i < counts.size(); i++)
    os << (i == 0 ? "" : i + 1 == counts.size() ? " or " : ", ") << counts[i];
  os << (counts.back() == 1 ? " argument)" : " arguments)");
  return os.str();
}

ObjectId VexlXmlInterpreter::getObject(const std::string& name) const {
  return m_db->getObject(LabelStr(name));
}

std::string VexlXmlInterpreter::readFile(const std::string& path, const std::string& what) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    int reason = errno;
    checkErrorType(ALWAYS_FAIL, path << ": cannot open the " << what << ": " << std::strerror(reason),
                   errorType());
  }
  checkErrorType(!S_ISDIR(info.st_mode), path << ": cannot open the " << what << ": it is a directory",
                 errorType());
  const size_t cap = maxFileBytes();
  auto tooLarge = [&]() {
    checkErrorType(ALWAYS_FAIL, path << ": cannot read the " << what << ": it holds more than " << (cap >> 20)
                                     << " MB, more than any input takes",
                   errorType());
  };
  if (S_ISREG(info.st_mode) && static_cast<unsigned long long>(info.st_size) > cap)
    tooLarge();
  errno = 0;
  std::ifstream in(path.c_str(), std::ios::in | std::ios::binary);
  if (!in.good()) {
    int reason = errno;
    checkErrorType(ALWAYS_FAIL, path << ": cannot open the " << what << ": "
                                     << (reason != 0 ? std::strerror(reason) : "unreadable"),
                   errorType());
  }
  // Read into a string rather than through a string stream: a stream would swallow a failed
  // allocation and hand back part of the file. A device or a pipe may never end: the reading
  // stops at the cap, and at the first NUL, which no text holds.
  std::string text;
  char chunk[65536];
  while (in.read(chunk, sizeof(chunk)) || in.gcount() > 0) {
    const size_t got = static_cast<size_t>(in.gcount());
    if (text.size() + got > cap)
      tooLarge();
    text.append(chunk, got);
    if (std::memchr(chunk, '\0', got) != nullptr)
      checkXmlText(text, path);
  }
  checkErrorType(!in.bad(), path << ": cannot read the " << what, errorType());
  return text;
}

std::string VexlXmlInterpreter::interpretFile(const std::string& path) {
  return interpretText(readFile(path, "model file"), path);
}

std::string VexlXmlInterpreter::interpret(std::istream& input, const std::string& source) {
  const std::string text((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
  return interpretText(text, source);
}

std::string VexlXmlInterpreter::interpretText(const std::string& text, const std::string& source) {
  checkXmlText(text, source);
  // A file declared ISO-8859-1 is parsed as the UTF-8 it reads as.
  const bool latin1 = scanXmlMarkup(text, source);
  const std::string decoded = latin1 ? latin1ToUtf8(text) : std::string();
  TiXmlDocument doc(source.c_str());
  parseXml(doc, latin1 ? decoded : text, source);
  checkErrorType(!doc.Error(), source << ":" << std::max(doc.ErrorRow(), 1) << ": malformed XML: "
                                      << doc.ErrorDesc(),
                 errorType());
  const TiXmlElement* root = doc.RootElement();
  checkErrorType(root != nullptr, source << ":1: <vexl>: no XML element: a model is one element "
                                            "(<vexl>) holding its transactions",
                 errorType());
  // Text between the transactions would be dropped: a model is elements only.
  checkNoContent(*root, true, source);
  unsigned int count = 0;
  for (const TiXmlElement* element = root->FirstChildElement(); element != nullptr;
       element = element->NextSiblingElement()) {
    executeTransaction(*element, source);
    count++;
    m_transactionCount++;
  }
  requireHolders(root->Row(), source);
  std::ostringstream summary;
  summary << source << ": " << count << " transaction(s)";
  return summary.str();
}

void VexlXmlInterpreter::executeTransaction(const TiXmlElement& element, const std::string& source) {
  // Keys only grow, so what a transaction makes lies above the largest key
  // held before it: two keys undo it, where copying every key and name made
  // reading quadratic in the model.
  const int lastObject = m_db->getObjects().empty() ? 0 : m_db->getObjects().rbegin()->first;
  const int lastToken = m_db->getTokens().empty() ? 0 : m_db->getTokens().rbegin()->first;
  std::string message;
  bool outOfMemory = false;
  const unsigned long failures = MemoryReserve::failures();
  try {
    execute(element);
    // A failed allocation that a stream swallowed (a debug line, a name) is one all the same.
    if (MemoryReserve::failures() != failures)
      throw std::bad_alloc();
    return;
  } catch (const std::bad_alloc&) {
    message = "memory ran out while reading this element";
    outOfMemory = true;
  } catch (const TransactionError& e) {
    message = e.message;
  } catch (const Error& e) {
    message = describeError(e);
  } catch (const std::exception& e) {
    message = e.what();
  }
  // A token is named last, once nothing of its transaction can fail; names
  // of tokens made here are dropped all the same.
  for (std::map<std::string, TokenId>::iterator it = m_tokens.begin(); it != m_tokens.end();) {
    if (it->second.isValid() && it->second->getKey() > lastToken)
      it = m_tokens.erase(it);
    else
      ++it;
  }
  try {
    rollback(lastObject, lastToken);
  } catch (const Error& e) {
    // Short of memory, undoing may fail for the same reason: the run ends anyway.
    if (!outOfMemory)
      message += " (and undoing the transaction failed: " + describeError(e) + ")";
  } catch (const std::bad_alloc&) {
    if (!outOfMemory)
      message += " (and memory ran out while undoing it)";
  }
  // Composed without a string stream, which would cut the text short when memory runs out.
  message = source + ":" + std::to_string(element.Row()) + ": " + describe(element) + ": " + message;
  debugMsg("VexlXmlInterpreter:interpret", message);
  Error("ALWAYS_FAIL", message, errorType(), KORVAN_ERROR_FILE(), __LINE__).handleAssert();
}

void VexlXmlInterpreter::requireHolders(int rootLine, const std::string& source) const {
  // A model that leaves the plan database open may still name objects to come, but none came.
  if (!m_db->isClosed())
    for (const std::pair<const int, TokenId>& entry : m_db->getTokens())
      if (!hasHolder(entry.second->getPredicateName())) {
        std::map<int, int>::const_iterator line = m_tokenLines.find(entry.first);
        checkErrorType(ALWAYS_FAIL, source << ":" << (line != m_tokenLines.end() ? line->second : rootLine) << ": "
                                           << (entry.second->isFact() ? "<fact>" : "<goal>") << ": "
                                           << noHolder(entry.second->getPredicateName(), tokenLabel(entry.second)),
                       errorType());
      }
}

void VexlXmlInterpreter::rollback(int lastObject, int lastToken) {
  std::vector<TokenId> newTokens;
  for (std::map<int, TokenId>::const_iterator it = m_db->getTokens().upper_bound(lastToken);
       it != m_db->getTokens().end(); ++it)
    newTokens.push_back(it->second);
  for (std::vector<TokenId>::reverse_iterator it = newTokens.rbegin(); it != newTokens.rend(); ++it)
    if (it->isValid() && !(*it)->isDeleted())
      m_db->getClient()->deleteToken(*it);
  std::vector<ObjectId> newObjects;
  for (std::map<int, ObjectId>::const_iterator it = m_db->getObjects().upper_bound(lastObject);
       it != m_db->getObjects().end(); ++it)
    newObjects.push_back(it->second);
  for (std::vector<ObjectId>::reverse_iterator it = newObjects.rbegin(); it != newObjects.rend(); ++it)
    if (it->isValid())
      (*it)->discard();
}

void VexlXmlInterpreter::execute(const TiXmlElement& element) {
  const std::string tag = element.Value();
  debugMsg("VexlXmlInterpreter:execute", "line " << element.Row() << ": " << tag);
  if (tag == "class")
    executeClass(element);
  else if (tag == "new")
    executeNew(element);
  else if (tag == "set")
    executeSet(element);
  else if (tag == "close")
    executeClose(element);
  else if (tag == "goal")
    executeToken(element, false);
  else if (tag == "fact")
    executeToken(element, true);
  else if (tag == "constraint")
    executeConstraint(element);
  else if (tag == "specify")
    executeSpecify(element);
  else if (tag == "reset")
    executeReset(element);
  else
    reject("unknown transaction");
}

void VexlXmlInterpreter::executeClass(const TiXmlElement& element) {
  const SchemaId& schema = m_db->getSchema();
  requireKnownAttributes(element, {"name", "extends"});
  requireNoContent(element, true, element.Row());
  LabelStr name(requireAttribute(element, "name"));
  const char* extendsText = element.Attribute("extends");
  LabelStr parent = extendsText != nullptr ? LabelStr(extendsText) : Schema::rootObject();
  if (schema->isObjectType(name))
    reject("type " + quoted(name.toString()) + " is already defined");
  if (name.toString().find_first_of(".: \t") != std::string::npos)
    reject("invalid type name " + quoted(name.toString()));
  if (!schema->isObjectType(parent))
    reject("unknown type " + quoted(parent.toString()));
  if (isNativeClass(parent.toString()))
    reject("cannot extend the native class " + quoted(parent.toString()));

  // Check everything before the schema changes: it cannot be rolled back.
  std::vector<InterpretedTokenFactory::Member> members;
  std::vector<std::pair<LabelStr, std::pair<bool, std::vector<InterpretedTokenFactory::Member>>>> predicates;
  std::set<std::string> memberNames, predicateNames;
  // A child's own attribute missing is the child's mistake: said at its line.
  auto childAttribute = [](const TiXmlElement& child, const char* name) {
    try {
      return requireAttribute(child, name);
    } catch (const TransactionError& e) {
      reject(lineOf(child) + describe(child) + ": " + e.message);
    }
  };
  auto readMember = [&](const TiXmlElement& m, std::set<std::string>& names) {
    requireKnownAttributes(m, {"name", "type"}, lineOf(m));
    requireNoContent(m, false, element.Row());
    LabelStr memberName(childAttribute(m, "name"));
    LabelStr type(childAttribute(m, "type"));
    // A scope names a member after the last dot, and splits at blanks.
    if (memberName.toString().find_first_of(".: \t\r\n") != std::string::npos)
      reject("line " + std::to_string(m.Row()) + ": invalid member name " + quoted(memberName.toString()) +
             " (a name without dots, colons or blanks)");
    std::unique_ptr<AbstractDomain> domain(InterpretedTokenFactory::makeDefaultDomain(type));
    if (domain.get() == nullptr)
      reject("line " + std::to_string(m.Row()) + ": unknown member type " + quoted(type.toString()) +
             " (float, int or bool)");
    if (!names.insert(memberName.toString()).second)
      reject("line " + std::to_string(m.Row()) + ": duplicate member " + quoted(memberName.toString()));
    return InterpretedTokenFactory::Member(memberName, type);
  };
  for (const TiXmlElement* child = element.FirstChildElement(); child != nullptr;
       child = child->NextSiblingElement()) {
    std::string childTag = child->Value();
    if (childTag == "member") {
      InterpretedTokenFactory::Member member = readMember(*child, memberNames);
      if (schema->hasMember(parent, member.first))
        reject("line " + std::to_string(child->Row()) + ": member " +
               quoted(member.first.toString()) + " is inherited");
      members.push_back(member);
    } else if (childTag == "predicate") {
      requireKnownAttributes(*child, {"name", "kind"}, lineOf(*child));
      requireNoContent(*child, true, element.Row());
      std::string predicateName = childAttribute(*child, "name");
      if (predicateName.find_first_of(".: \t\r\n") != std::string::npos)
        reject("line " + std::to_string(child->Row()) + ": invalid predicate name " + quoted(predicateName) +
               " (a name without dots, colons or blanks)");
      if (!predicateNames.insert(predicateName).second)
        reject("line " + std::to_string(child->Row()) + ": duplicate predicate " + quoted(predicateName));
      const char* kind = child->Attribute("kind");
      std::string kindText = kind != nullptr ? kind : "interval";
      if (kindText != "interval" && kindText != "event")
        reject("line " + std::to_string(child->Row()) + ": predicate kind must be interval or event, got " +
               quoted(kindText));
      std::vector<InterpretedTokenFactory::Member> parameters;
      std::set<std::string> parameterNames;
      static const std::set<std::string> tokenVariables = {"state", "object", "start", "end", "duration", "time"};
      for (const TiXmlElement* m = child->FirstChildElement(); m != nullptr; m = m->NextSiblingElement()) {
        if (std::string(m->Value()) != "member")
          reject("line " + std::to_string(m->Row()) + ": unknown element <" + m->Value() + "> in a predicate");
        parameters.push_back(readMember(*m, parameterNames));
        if (tokenVariables.count(parameters.back().first.toString()) != 0)
          reject("line " + std::to_string(m->Row()) + ": member " + quoted(parameters.back().first.toString()) +
                 " clashes with the token's own variable of that name (state, object, start, end, duration and "
                 "time are the token's): choose another name");
      }
      predicates.push_back(std::make_pair(LabelStr(name.toString() + "." + predicateName),
                                          std::make_pair(kindText == "event", parameters)));
    } else
      reject("line " + std::to_string(child->Row()) + ": unknown element <" + childTag + "> in a class");
  }

  schema->addObjectType(name, parent);
  for (const InterpretedTokenFactory::Member& member : members)
    schema->addMember(name, member.second, member.first);
  ExprConstructorSuperCall* super = nullptr;
  if (parent != Schema::rootObject())
    super = new ExprConstructorSuperCall(parent, std::vector<unsigned int>());
  InterpretedObjectFactory* factory =
      new InterpretedObjectFactory(name.c_str(), name, std::vector<std::string>(),
                                   std::vector<std::string>(), super, std::vector<Expr*>(), false);
  schema->registerObjectFactory(factory->getId());
  for (const auto& predicate : predicates) {
    schema->addPredicate(predicate.first);
    for (const InterpretedTokenFactory::Member& member : predicate.second.second)
      schema->addMember(predicate.first, member.second, member.first);
    InterpretedTokenFactory* tokenFactory =
        new InterpretedTokenFactory(predicate.first, predicate.second.first, predicate.second.second);
    schema->registerTokenFactory(tokenFactory->getId());
  }
}

void VexlXmlInterpreter::executeNew(const TiXmlElement& element) {
  const SchemaId& schema = m_db->getSchema();
  requireKnownAttributes(element, {"type", "name"});
  requireNoContent(element, true, element.Row());
  LabelStr type(requireAttribute(element, "type"));
  LabelStr name(requireOneWord(requireAttribute(element, "name"), "object"));
  if (!schema->isObjectType(type))
    reject("unknown type " + quoted(type.toString()));
  if (m_db->getObject(name).isValid())
    reject("duplicate object name " + quoted(name.toString()));
  if (m_tokens.count(name.toString()) != 0)
    reject("the name " + quoted(name.toString()) + " is already a token's");
  std::vector<std::unique_ptr<AbstractDomain>> owned;
  std::vector<const AbstractDomain*> arguments;
  std::vector<LabelStr> argTypes;
  for (const TiXmlElement* child = element.FirstChildElement(); child != nullptr;
       child = child->NextSiblingElement()) {
    if (std::string(child->Value()) != "float")
      reject("line " + std::to_string(child->Row()) + ": unsupported argument <" + child->Value() +
             "> (only <float value=\"...\"/>)");
    requireKnownAttributes(*child, {"value"}, lineOf(*child));
    requireNoContent(*child, false, element.Row());
    double value = requireNumber(requireAttribute(*child, "value"), "an argument");
    owned.emplace_back(new IntervalDomain(value, value));
    arguments.push_back(owned.back().get());
    argTypes.push_back(owned.back()->getTypeName());
  }
  LabelStr signature = Schema::makeSignature(type, argTypes);
  if ((!arguments.empty() || isNativeClass(type.toString())) && schema->findObjectFactory(type, argTypes).isNoId())
    reject("unknown constructor signature " + quoted(signature.toString()) + argumentCounts(type));
  if (m_db->isClosed())
    reject("the plan database is closed: no object can be created");
  ObjectId object = m_db->getClient()->createObject(type, name, arguments);
  m_argumentCounts[name.toString()] = arguments.size();
  debugMsg("VexlXmlInterpreter:executeNew", "Created " << object->toString() << " with "
                                                      << signature.toString());
}

void VexlXmlInterpreter::executeSet(const TiXmlElement& element) {
  requireKnownAttributes(element, {"object", "member", "value"});
  requireNoContent(element, false, element.Row());
  std::string objectName = requireAttribute(element, "object");
  LabelStr member(requireAttribute(element, "member"));
  std::string valueText = requireAttribute(element, "value");
  ObjectId object = getObject(objectName);
  if (object.isNoId())
    reject("unknown object " + quoted(objectName));
  if (object->isClosed())
    reject("object " + quoted(objectName) + " is closed");
  ConstrainedVariableId var = object->getVariable(LabelStr(objectName + "." + member.toString()));
  // A native class reads only the members it declares: any other would be made and then ignored
  // (member="profiletype" leaves the default profile).
  std::map<std::string, std::set<std::string>>::const_iterator native = m_nativeClasses.find(object->getType().toString());
  if (native != m_nativeClasses.end() && !m_db->getSchema()->hasMember(object->getType(), member) &&
      native->second.count(member.toString()) == 0) {
    std::string takes;
    for (const Schema::NameTypePair& declared : m_db->getSchema()->getMembers(object->getType()))
      takes += (takes.empty() ? "" : ", ") + declared.first.toString();
    for (const std::string& optional : native->second)
      takes += (takes.empty() ? "" : ", ") + optional;
    reject(quoted(object->getType().toString()) + " has no member " + quoted(member.toString()) + " (it has " +
           (takes.empty() ? std::string("none") : takes) + ")");
  }
  double value = 0;
  // A bool member takes true, false, 1 and 0 as its values; a word on any other member is a label.
  const bool isBool = var.isValid() && var->baseDomain().isBool();
  if (isBool || parseNumber(valueText, value) || numberLike(valueText)) {
    value = isBool ? requireBool(valueText, member.toString()) : requireNumber(valueText, "the member value");
    if (var.isNoId()) {
      object->addVariable(IntervalDomain(value, value), member);
      return;
    }
    // A native object's parameters are what its <new> made them: <set> could only repeat them.
    const AbstractDomain& made = var->baseDomain();
    if (native != m_nativeClasses.end() && made.isSingleton() && made.isNumeric() && made.getSingletonValue() != value)
      rejectFixedParameter(object, member.toString(), made.getSingletonValue());
    std::unique_ptr<AbstractDomain> domain = narrowed(var, value, value, member.toString());
    m_db->getClient()->restrict(var, *domain);
    return;
  }
  if (var.isValid() && var->baseDomain().isNumeric())
    reject("member " + quoted(member.toString()) + " is numeric; " + quoted(valueText) +
           " is not a number");
  if (var.isValid()) {
    const AbstractDomain& held = var->baseDomain();
    const bool label = held.isSingleton() && LabelStr::isString(held.getSingletonValue());
    reject("member " + quoted(member.toString()) + " is already set to " +
           (label ? quoted(LabelStr(held.getSingletonValue()).toString()) : held.toString()) +
           ": a member is set once");
  }
  object->addVariable(EnumeratedDomain(LabelStr(valueText).getKey(), LabelStr("string"), false), member);
  // The object judges its members when it closes; a word it refuses is the fault of this line.
  try {
    object->checkClose();
  } catch (const Error& e) {
    if (e.getMsg().find(objectName + "." + member.toString()) != std::string::npos)
      throw;
  }
}

void VexlXmlInterpreter::rejectFixedParameter(const ObjectId& object, const std::string& member, double held) {
  const std::string objectName = object->getName().toString();
  const size_t count = m_argumentCounts[objectName];
  reject(quoted(member) + " of " + quoted(objectName) + " is " +
         (held >= g_infiniteTimeAsDouble() ? std::string("+inf") : held <= -g_infiniteTimeAsDouble() ? std::string("-inf") : toString(held)) +
         " in the form of <new> that made it (" + object->getType().toString() + " with " + std::to_string(count) +
         " argument" + (count == 1 ? "" : "s") + "), and that form has no parameter to set: give it as an argument of <new>" +
         argumentCounts(object->getType()));
}

void VexlXmlInterpreter::executeClose(const TiXmlElement& element) {
  requireKnownAttributes(element, {"object"});
  requireNoContent(element, false, element.Row());
  const char* objectName = element.Attribute("object");
  if (objectName != nullptr) {
    ObjectId object = getObject(objectName);
    if (object.isNoId())
      reject("unknown object " + quoted(objectName));
    if (object->isClosed())
      reject("object " + quoted(objectName) + " is already closed");
    object->checkClose();
    m_db->getClient()->close(object);
    return;
  }
  if (m_db->isClosed())
    reject("the plan database is already closed");
  std::vector<ObjectId> open;
  for (const std::pair<const int, ObjectId>& entry : m_db->getObjects())
    if (!entry.second->isClosed())
      open.push_back(entry.second);
  for (const std::pair<const int, TokenId>& entry : m_db->getTokens())
    if (!hasHolder(entry.second->getPredicateName())) {
      reject("cannot close the plan database: " + noHolder(entry.second->getPredicateName(), tokenLabel(entry.second)));
    }
  // A closed object cannot be opened again: every object is checked before any is closed.
  for (const ObjectId& object : open) {
    try {
      object->checkClose();
    } catch (const Error& e) {
      reject("cannot close " + quoted(object->getName().toString()) + ": " + describeError(e));
    }
  }
  for (const ObjectId& object : open)
    m_db->getClient()->close(object);
  m_db->getClient()->close();
}


ConstrainedVariableId VexlXmlInterpreter::resolveVariable(const std::string& reference) const {
  std::string::size_type dot = reference.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == reference.size())
    reject("expected token.variable or object.member, got " + quoted(reference));
  std::string owner = reference.substr(0, dot);
  std::string member = reference.substr(dot + 1);
  TokenId token = getToken(owner);
  if (token.isValid()) {
    ConstrainedVariableId var = token->getVariable(LabelStr(member));
    if (var.isNoId() && member == "start")
      var = token->start();
    else if (var.isNoId() && member == "end")
      var = token->end();
    else if (var.isNoId() && member == "duration")
      var = token->duration();
    if (var.isNoId())
      reject("token " + quoted(owner) + " has no variable " + quoted(member));
    return var;
  }
  ObjectId object = getObject(owner);
  if (object.isNoId())
    reject("unknown token or object " + quoted(owner));
  ConstrainedVariableId var = object->getVariable(LabelStr(reference));
  if (var.isNoId())
    reject("object " + quoted(owner) + " has no member " + quoted(member));
  return var;
}

void VexlXmlInterpreter::executeConstraint(const TiXmlElement& element) {
  requireKnownAttributes(element, {"name", "scope"});
  requireNoContent(element, false, element.Row());
  LabelStr name(requireAttribute(element, "name"));
  const ConstraintEngineId& ce = m_db->getConstraintEngine();
  if (!ce->getCESchema()->isConstraintType(name))
    reject("unknown constraint " + quoted(name.toString()));
  std::vector<std::string> references = words(requireAttribute(element, "scope"));
  if (references.empty())
    reject("empty attribute 'scope'");
  std::vector<ConstrainedVariableId> scope;
  for (const std::string& reference : references)
    scope.push_back(resolveVariable(reference));
  ConstraintId constraint;
  try {
    constraint = m_db->getClient()->createConstraint(name, scope);
  } catch (const Error& e) {
    // A check that names only a variable, or nothing, says nothing the model's writer can act on.
    bool worded = !e.getMsg().empty();
    for (const ConstrainedVariableId& var : scope)
      worded = worded && e.getMsg() != var->toString();
    std::map<std::string, std::string>::const_iterator takes = m_constraintScopes.find(name.toString());
    reject("constraint " + quoted(name.toString()) + " cannot be posted over " + quoted(element.Attribute("scope")) +
           ": " + (worded || takes == m_constraintScopes.end() ? describeError(e) : "it takes " + takes->second));
  }
  debugMsg("VexlXmlInterpreter:executeConstraint", "Posted " << constraint->toString());
}

void VexlXmlInterpreter::executeSpecify(const TiXmlElement& element) {
  requireKnownAttributes(element, {"variable", "value"});
  requireNoContent(element, false, element.Row());
  ConstrainedVariableId var = resolveVariable(requireAttribute(element, "variable"));
  std::string valueText = requireAttribute(element, "value");
  double value = 0;
  if (var->baseDomain().isBool())
    value = requireBool(valueText, element.Attribute("variable"));
  else if (var->baseDomain().isNumeric()) {
    value = requireNumber(valueText, "the value");
    requireWhole(var->baseDomain(), value, value, element.Attribute("variable"));
  }
  else if (dynamic_cast<const ObjectDomain*>(&var->baseDomain()) != nullptr) {
    ObjectId object = getObject(valueText);
    if (object.isNoId())
      reject("unknown object " + quoted(valueText));
    value = (double)object;
  } else if (LabelStr::isString(valueText))
    value = LabelStr(valueText).getKey();
  else
    reject("unknown value " + quoted(valueText));
  // A native object's parameter holds what its <new> gave: another value is no choice to specify.
  const std::string reference = element.Attribute("variable");
  const ObjectId owner = getObject(reference.substr(0, reference.rfind('.')));
  const AbstractDomain& base = var->baseDomain();
  if (owner.isValid() && isNativeClass(owner->getType().toString()) && base.isSingleton() && base.isNumeric() &&
      base.getSingletonValue() != value)
    rejectFixedParameter(owner, reference.substr(reference.rfind('.') + 1), base.getSingletonValue());
  if (!var->baseDomain().isMember(value))
    reject(quoted(valueText) + " is not in the domain " + var->baseDomain().toString() + " of " +
           quoted(element.Attribute("variable")));
  if (!var->canBeSpecified())
    reject("variable " + quoted(element.Attribute("variable")) + " cannot be specified");
  // A window of one value holds it already: specifying that value changes nothing (the engine
  // keeps such a variable as specified, which is no <specify> the model wrote).
  if (var->baseDomain().isSingleton() && var->baseDomain().getSingletonValue() == value)
    return;
  if (var->isSpecified())
    reject("variable " + quoted(element.Attribute("variable")) + " is already specified");
  const TokenId token = getToken(reference.substr(0, reference.rfind('.')));
  if (token.isValid())
    requireEndBeforeHorizon(token, var, value);
  m_db->getClient()->specify(var, value);
}

void VexlXmlInterpreter::executeReset(const TiXmlElement& element) {
  requireKnownAttributes(element, {"variable"});
  requireNoContent(element, false, element.Row());
  ConstrainedVariableId var = resolveVariable(requireAttribute(element, "variable"));
  if (!var->isSpecified())
    reject("variable " + quoted(element.Attribute("variable")) + " is not specified");
  m_db->getClient()->reset(var);
}

} // namespace KORVAN