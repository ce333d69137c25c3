#include "Solvers/base/DecisionPoint.hh"

#include <sstream>

#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {
namespace SOLVERS {

DecisionPoint::DecisionPoint(const DbClientId& client, unsigned int entityKey,
                             const LabelStr& explanation)
    : m_client(client), m_entityKey(entityKey), m_explanation(explanation), m_id(this),
      m_initialized(false), m_executed(false) {}

DecisionPoint::~DecisionPoint() { m_id.remove(); }

const LabelStr& DecisionPoint::entityTypeName() {
  static const LabelStr sl_name("DecisionPoint");
  return sl_name;
}

void DecisionPoint::initialize() {
  checkError(!m_initialized, "Decision point " << getKey() << " is already initialized.");
  m_initialized = true;
  handleInitialize();
}

void DecisionPoint::execute() {
  checkError(m_initialized, "Decision point " << getKey() << " executed before initialization.");
  checkError(!m_executed, "Decision point " << getKey() << " is already executed.");
  checkError(hasNext(), "Decision point " << getKey() << " has no choice left to execute.");
  debugMsg("DecisionPoint:execute", "Executing " << toShortString());
  handleExecute();
  m_executed = true;
}

void DecisionPoint::undo() {
  checkError(m_executed, "Decision point " << getKey() << " undone without an execution.");
  debugMsg("DecisionPoint:undo", "Undoing " << toShortString());
  m_executed = false;
  handleUndo();
}

std::string DecisionPoint::toString() const {
  std::ostringstream os;
  os << "DecisionPoint(" << getKey() << ") for entity " << m_entityKey;
  return os.str();
}

std::string DecisionPoint::toShortString() const { return toString(); }

} // namespace SOLVERS
} // namespace KORVAN
