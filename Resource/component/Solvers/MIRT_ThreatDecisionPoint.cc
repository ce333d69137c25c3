#include "Resource/component/Solvers/MIRT_ThreatDecisionPoint.hh"
#include "Resource/base/MIRT_Profile.hh"
#include "Resource/base/MIRT_Resource.hh"
#include "Resource/component/MIRT_FlowProfile.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "PlanDatabase/base/DbClient.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

#include <algorithm>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <tinyxml.h>

namespace KORVAN {
namespace MIRT {

namespace {

unsigned int keyOf(const InstantId& inst) {
  checkError(inst.isValid(), "A threat decision point needs a valid flawed instant.");
  return inst->getKey();
}

std::string attribute(const TiXmlElement& configData, const char* name, const char* fallback) {
  const char* text = configData.Attribute(name);
  return text == NULL ? std::string(fallback) : std::string(text);
}

bool isFilterWord(const std::string& word) {
  return word == "none" || word == "predecessorNot" || word == "successor" || word == "both";
}

}

// The one reading of a handler element: the constructor takes its values, and the handler checks
// the words of every attribute through it when the configuration is read.
ThreatConfiguration ThreatConfiguration::read(const TiXmlElement& configData) {
  ThreatConfiguration config;
  config.filter = attribute(configData, "filter", "none");

  config.order = attribute(configData, "order", "");
  if (!config.order.empty())
    config.order += ",";
  config.order += "ascendingKeyPredecessor,ascendingKeySuccessor";

  const char* constraint = configData.Attribute("constraint");
  if (constraint == NULL)
    config.constraintNames.push_back("precedes");
  else {
    const std::string s(constraint);
    if (s == "precedesOnly" || s == "precedesFirst")
      config.constraintNames.push_back("precedes");
    if (s == "concurrentOnly" || s == "concurrentFirst" || s == "precedesFirst")
      config.constraintNames.push_back("concurrent");
    if (s == "concurrentFirst")
      config.constraintNames.push_back("precedes");
  }
  checkError(config.constraintNames.size() >= 1 && config.constraintNames.size() <= 2,
             "Expected one or two constraint names.");

  config.iterate = attribute(configData, "iterate", "pairFirst");
  checkError(config.iterate == "pairFirst" || config.iterate == "constraintFirst",
             "Expected 'pairFirst' or 'constraintFirst' for iterate attribute.");
  return config;
}

void ThreatConfiguration::checkWords() const {
  checkFilter(filter);
  ChoiceOrder parsed;
  ThreatDecisionPoint::parseOrder(order, parsed);
}

void ThreatConfiguration::checkFilter(const std::string& word) {
  checkError(isFilterWord(word), "Unknown filter attribute '" << word << "'");
}

const std::vector<std::string>& ThreatConfiguration::attributes() {
  static const std::vector<std::string> sl_attributes = {"filter", "order", "constraint", "iterate"};
  return sl_attributes;
}

ThreatDecisionPoint::ThreatDecisionPoint(const DbClientId& client, const InstantId& flawedInstant,
                                         const TiXmlElement& configData, const LabelStr& explanation)
  : ThreatDecisionPoint(client, flawedInstant, ThreatConfiguration::read(configData), explanation) {}

ThreatDecisionPoint::ThreatDecisionPoint(const DbClientId& client, const InstantId& flawedInstant,
                                         const ThreatConfiguration& config, const LabelStr& explanation)
  : SOLVERS::DecisionPoint(client, keyOf(flawedInstant), explanation), m_flawedInstant(flawedInstant),
    m_choiceCount(0), m_index(0), m_instTime(flawedInstant->getTime()),
    m_resName(flawedInstant->getProfile()->getResource()->getName()), m_order(config.order),
    m_filter(config.filter), m_constraintOrder(config.iterate), m_constraintNames(config.constraintNames) {
  m_constraintIt = m_constraintNames.begin();
}

ThreatDecisionPoint::~ThreatDecisionPoint() {}

// The words a handler's element may hold, said before the decision points' own checks, which
// name neither the word nor those allowed.
void ThreatDecisionPoint::checkConfiguration(const TiXmlElement& configData) {
  const char* constraint = configData.Attribute("constraint");
  const std::string constraints[] = {"precedesOnly", "precedesFirst", "concurrentOnly", "concurrentFirst"};
  checkError(constraint == NULL || std::find(std::begin(constraints), std::end(constraints), constraint) != std::end(constraints),
             "Unknown constraint '" << constraint << "' (constraint takes precedesOnly, precedesFirst, "
             "concurrentOnly or concurrentFirst)");
  const std::string order = attribute(configData, "order", "");
  for (std::string::size_type pos = 0; !order.empty() && pos <= order.size();) {
    const std::string::size_type comma = std::min(order.find(',', pos), order.size());
    const std::string word = order.substr(pos, comma - pos);
    pos = comma + 1;
    const bool side = word.find("Predecessor") != std::string::npos || word.find("Successor") != std::string::npos;
    bool comparator = false;
    for (const char* name : {"earliest", "latest", "longest", "shortest", "ascendingKey", "descendingKey"})
      comparator = comparator || word.find(name) != std::string::npos;
    checkError(word == "leastImpact" || (side && comparator),
               "Unknown order '" << word << "' (an order word is leastImpact, or a comparator, earliest, latest, "
               "longest, shortest, ascendingKey or descendingKey, with a side, Predecessor or Successor, as in "
               "earliestPredecessor; words are parted by commas)");
  }
  ThreatConfiguration::read(configData).checkWords();
}

// The order reads a word by the side and the comparator it contains: anything else in it, a
// second word after a blank say, goes unread. A word read as one read before never decides:
// two choices tie on it exactly when they tied on the first.
std::vector<std::string> ThreatDecisionPoint::configurationWarnings(const TiXmlElement& configData) {
  static const char* const comparators[] = {"earliest", "latest", "longest", "shortest", "ascendingKey", "descendingKey"};
  std::vector<std::string> warnings;
  // Each reading taken, with the first word read so.
  std::map<std::string, std::string> readBefore;
  const std::string text = attribute(configData, "order", "");
  for (std::string::size_type pos = 0; !text.empty() && pos <= text.size();) {
    std::string::size_type comma = text.find(',', pos);
    const std::string word = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    pos = comma == std::string::npos ? text.size() + 1 : comma + 1;
    std::string read;
    if (word == "leastImpact")
      read = word;
    else {
      for (const char* comparator : comparators)
        if (read.empty() && word.find(comparator) != std::string::npos)
          read = comparator;
      read += word.find("Predecessor") != std::string::npos ? "Predecessor" : "Successor";
      if (read != word)
        warnings.push_back("order '" + word + "' is read as '" + read +
                           "' alone (a word names one comparator and one side; words are separated by commas)");
    }
    const std::pair<std::map<std::string, std::string>::iterator, bool> first =
        readBefore.insert(std::make_pair(read, word));
    if (!first.second)
      warnings.push_back("order '" + word + "' never decides: " +
                         (first.first->second == word ? std::string("it comes twice")
                                                      : "it is read as '" + read + "', as '" + first.first->second +
                                                            "' before it is"));
  }
  return warnings;
}

bool ThreatDecisionPoint::test(const EntityId& entity) {
  return InstantId::convertable(entity);
}

std::string ThreatDecisionPoint::handledEntityType() { return Instant::entityTypeName().toString(); }

namespace {

// While it lives, the lines written go nowhere: the listing beside the choices writes them, in
// the order of a look-up that meets every pair and filters it afterwards.
class Unwritten {
public:
  explicit Unwritten(bool on) : m_on(on), m_sink(&m_nowhere) {
    if (m_on) {
      m_stream = &DebugMessage::getStream();
      DebugMessage::setStream(m_sink);
    }
  }
  ~Unwritten() {
    if (m_on)
      DebugMessage::setStream(*m_stream);
  }

private:
  struct Nowhere : std::streambuf {
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  };
  Unwritten(const Unwritten&) = delete;
  Unwritten& operator=(const Unwritten&) = delete;
  bool m_on;
  std::ostream* m_stream = nullptr;
  Nowhere m_nowhere;
  std::ostream m_sink;
};

// The filters' sides as the resource asks them, the filters made when first asked: after the
// propagation, when the instant is known to stand, as the filtering after the choices would.
class FilterSides : public Resource::ChoiceSides {
public:
  FilterSides(const std::function<void()>& make, const ChoiceFilters& filters, bool listed)
    : m_make(make), m_filters(filters), m_listed(listed) {}
  void sides(const TransactionId& t, bool& mayPrecede, bool& mayFollow) override {
    Unwritten quiet(m_listed);
    if (!m_made) {
      m_made = true;
      m_make();
    }
    // A filter that judges whole pairs judges them afterwards.
    if (!m_filters.sides(t, mayPrecede, mayFollow)) {
      mayPrecede = mayFollow = true;
      m_whole = true;
    }
  }
  bool made() const { return m_made; }
  bool whole() const { return m_whole; }

private:
  std::function<void()> m_make;
  const ChoiceFilters& m_filters;
  const bool m_listed;
  bool m_made = false;
  bool m_whole = false;
};

}

bool ThreatDecisionPoint::choiceLinesWanted() {
  static DebugMessage* const sl_sites[] = {
      DebugMessage::addMsg(__FILE__, __LINE__, "ThreatDecisionPoint:handleInitialize"),
      DebugMessage::addMsg(__FILE__, __LINE__, "ThreatDecisionPoint:filter"),
      DebugMessage::addMsg(__FILE__, __LINE__, "ThreatDecisionPoint:filter:successor"),
      DebugMessage::addMsg(__FILE__, __LINE__, "ThreatDecisionPoint:filter:predecessorNot")};
  return DebugMessage::anyEnabled(sl_sites) || Resource::orderingChoiceLinesWanted() ||
         ChoiceOrder::comparisonsWriteLines();
}

// The choices are filtered while they are looked up, and arranged without comparing two at a
// time. With their lines on, a listing beside them meets every pair, filters each and sorts the
// kept ones in a set, writing as it goes; it reads and changes nothing, and must end with the
// same choices.
void ThreatDecisionPoint::handleInitialize() {
  check_error(m_flawedInstant.isValid());
  // Asking for choices propagates, which may delete the instant: keep its profile.
  const ProfileId profile = m_flawedInstant->getProfile();
  const Id<Resource> resource = profile->getResource();
  const bool listing = choiceLinesWanted();
  // A filter word refused is refused where the listing makes its filters, after its lines.
  const bool refused = listing && !isFilterWord(m_filter);
  ChoiceFilters filters;
  FilterSides sides([&]() { if (!refused) createFilter(filters, m_filter, profile); }, filters, listing);
  const bool looked = resource->getOrderingChoices(m_flawedInstant, m_choices, sides);
  const bool whole = sides.whole() || !sides.made();
  if (!sides.made() && !refused) {
    Unwritten quiet(listing);
    if (m_flawedInstant.isValid())
      createFilter(filters, m_filter, profile);
    else
      ThreatConfiguration::checkFilter(m_filter);
  }

  std::vector<OrderingChoice> listed;
  ChoiceFilters listedFilters;
  if (listing) {
    if (looked)
      resource->listOrderingChoices(m_flawedInstant, listed, g_infiniteTime());
    debugMsg("ThreatDecisionPoint:handleInitialize", "Found " << listed.size() << " choices before filtering.");
    // Propagation inside getOrderingChoices may have deleted the instant; then the
    // resource offered nothing and no filter can read the instant's flaw.
    if (m_flawedInstant.isValid())
      createFilter(listedFilters, m_filter, profile);
    else
      ThreatConfiguration::checkFilter(m_filter);
  }
  ChoiceOrder order;
  createOrder(order);
  if (listing) {
    // Each choice's filter lines, then its comparisons.
    std::set<OrderingChoice, ChoiceOrder> sorted(order);
    for (std::vector<OrderingChoice>::const_iterator it = listed.begin(); it != listed.end(); ++it)
      if (listedFilters(*it))
        sorted.insert(*it);
    listed.assign(sorted.begin(), sorted.end());
  }
  {
    Unwritten quiet(listing);
    std::vector<OrderingChoice> kept;
    for (std::vector<OrderingChoice>::const_iterator it = m_choices.begin(); it != m_choices.end(); ++it)
      if (!whole || filters(*it))
        kept.push_back(*it);
    order.arrange(kept);
    m_choices.swap(kept);
  }
  checkError(!listing || listed == m_choices, "The " << listed.size() << " choices listed at " << m_instTime
             << " on " << m_resName.toString() << " are not the " << m_choices.size() << " taken.");
  m_choiceCount = (unsigned int) m_choices.size();
  debugMsg("ThreatDecisionPoint:handleInitialize", "Found " << m_choiceCount << " choices after filtering.");
  m_flawedInstant = InstantId::noId();
}

void ThreatDecisionPoint::createFilter(ChoiceFilters& filters, const std::string& filter, const ProfileId& profile) {
  ThreatConfiguration::checkFilter(filter);
  FlowProfile* flow = dynamic_cast<FlowProfile*>((Profile*) profile);
  if (filter == "successor" || filter == "both")
    filters.addFilter(new SuccessorContributingChoiceFilter(flow, getExplanation(), m_flawedInstant));
  if (filter == "predecessorNot" || filter == "both")
    filters.addFilter(new PredecessorNotContributingChoiceFilter(flow, getExplanation(), m_flawedInstant));
  filters.addFilter(new DefaultChoiceFilter(flow, getExplanation(), m_flawedInstant));
}

void ThreatDecisionPoint::createOrder(ChoiceOrder& order) {
  // Never empty: the constructor always ends it with the key tie-breakers.
  check_error(!m_order.empty(), "Empty choice ordering.  Bizarre.");
  parseOrder(m_order, order);
}

void ThreatDecisionPoint::parseOrder(const std::string& text, ChoiceOrder& order) {
  std::string::size_type pos = 0;
  while (pos <= text.size()) {
    std::string::size_type comma = text.find(',', pos);
    const std::string token = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    pos = comma == std::string::npos ? text.size() + 1 : comma + 1;
    if (token == "leastImpact") {
      order.addOrder(new LeastImpactComparator());
      continue;
    }
    bool predecessor = true;
    if (token.find("Predecessor") != std::string::npos)
      predecessor = true;
    else if (token.find("Successor") != std::string::npos)
      predecessor = false;
    else
      checkError(ALWAYS_FAIL, "Expected a 'Predecessor' or 'Successor' order.");
    TransactionComparator* cmp = NULL;
    if (token.find("earliest") != std::string::npos)
      cmp = new EarliestTransactionComparator();
    else if (token.find("latest") != std::string::npos)
      cmp = new LatestTransactionComparator();
    else if (token.find("longest") != std::string::npos)
      cmp = new LongestTransactionComparator();
    else if (token.find("shortest") != std::string::npos)
      cmp = new ShortestTransactionComparator();
    else if (token.find("ascendingKey") != std::string::npos)
      cmp = new AscendingKeyTransactionComparator();
    else if (token.find("descendingKey") != std::string::npos)
      cmp = new DescendingKeyTransactionComparator();
    else
      checkError(ALWAYS_FAIL, "Unknown choice order '" << token);
    order.addOrder(new SwitchComparator(cmp, predecessor));
  }
}

bool ThreatDecisionPoint::hasNext() const {
  return m_index < m_choiceCount && m_constraintIt != m_constraintNames.end();
}

std::string ThreatDecisionPoint::getCurrentConstraintName() const {
  return m_constraintIt == m_constraintNames.end() ? std::string() : *m_constraintIt;
}

void ThreatDecisionPoint::handleExecute() {
  check_error(m_constr.isNoId());
  checkError(m_index < m_choiceCount, "Tried to execute past available choices:" << m_index << ">=" << m_choiceCount);
  checkError(m_constraintIt != m_constraintNames.end(), "Tried to execute past the last constraint name.");
  const TransactionId& predecessor = m_choices[m_index].first;
  const TransactionId& successor = m_choices[m_index].second;
  debugMsg("SolverDecisionPoint:handleExecute", "For " << m_instTime << " on " << m_resName.toString()
           << ", assigning " << predecessor->toString() << " to be before " << successor->toString()
           << " because of " << getExplanation().toString() << ".");
  std::vector<ConstrainedVariableId> scope;
  scope.push_back(predecessor->time());
  scope.push_back(successor->time());
  m_constr = m_client->createConstraint(LabelStr(*m_constraintIt), scope);
}

void ThreatDecisionPoint::handleUndo() {
  debugMsg("SolverDecisionPoint:handleUndo", "Retracting ordering decision on " << m_instTime << " on "
           << m_resName.toString());
  check_error(m_constr.isValid());
  m_constr->discard(true);
  m_constr = ConstraintId::noId();
  if (*m_constraintIt == "precedes")
    m_refuted.insert(m_index);
  // Making a pair concurrent is a narrower case of ordering it: once every plan below the
  // ordering has failed, the concurrent one would only search a part of that again.
  do {
    if (m_constraintOrder == "constraintFirst") {
      ++m_constraintIt;
      if (m_constraintIt == m_constraintNames.end()) {
        ++m_index;
        m_constraintIt = m_constraintNames.begin();
      }
    }
    else {
      ++m_index;
      if (m_index >= m_choiceCount) {
        m_index = 0;
        ++m_constraintIt;
      }
    }
  } while (hasNext() && *m_constraintIt == "concurrent" && m_refuted.count(m_index) > 0);
}

bool ThreatDecisionPoint::canUndo() const {
  return SOLVERS::DecisionPoint::canUndo() && m_constr.isValid();
}

std::string ThreatDecisionPoint::toString(const OrderingChoice& choice) const {
  return "<" + choice.first->toString() + " *** " + choice.second->toString() + ">";
}

std::string ThreatDecisionPoint::toString() const {
  std::ostringstream os;
  os << "INSTANT=" << m_instTime << " on " << m_resName.toString() << " : ";
  if (m_choiceCount == 0) {
    os << "NO CHOICES";
    return os.str();
  }
  if (m_index < m_choiceCount)
    os << "  DECISION (CHOICE=" << (m_index + 1) << " of MAX_CHOICE=" << m_choiceCount << ") "
       << m_choices[m_index].first->toString() << " to be before " << m_choices[m_index].second->toString()
       << " : ";
  os << "  CHOICES ";
  for (unsigned int i = 0; i < m_choiceCount; ++i)
    os << " : " << (i + 1) << " " << toString(m_choices[i]);
  return os.str();
}

std::string ThreatDecisionPoint::getChoiceSignature() const {
  if (m_constr.isNoId() || m_index >= m_choiceCount || m_constraintIt == m_constraintNames.end())
    return std::string();
  std::ostringstream os;
  os << *m_constraintIt << " " << m_choices[m_index].first->time()->getKey() << " "
     << m_choices[m_index].second->time()->getKey();
  return os.str();
}

std::string ThreatDecisionPoint::toShortString() const {
  std::ostringstream os;
  os << "INS(" << m_instTime << ") on " << m_resName.toString() << " {";
  if (m_index < m_choiceCount)
    os << m_choices[m_index].first->toString() << " < " << m_choices[m_index].second->toString();
  os << "}";
  return os.str();
}

}
}
