#include "Resource/component/VEXL/VexlResource.hh"

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "PlanDatabase/base/Token.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

#include <array>
#include <string>

namespace KORVAN {
namespace VEXL {

namespace {

double inf() { return (double) g_infiniteTime(); }
double minusInf() { return (double) -g_infiniteTime(); }

const LabelStr& floatType() {
  static const LabelStr sl_float("float");
  return sl_float;
}

// A parameter given by the model: a singleton of type "float".
ConstrainedVariableId addParameter(Object& object, double value, const char* name) {
  return object.addVariable(IntervalDomain(value, value, floatType()), LabelStr(name));
}

// A parameter the model left out: unbounded until the model narrows it.
void addDefault(Object& object, ConstrainedVariableId& member, const char* name) {
  if (member.isNoId())
    member = object.addVariable(IntervalDomain(floatType()), LabelStr(name));
}

// Resources and reservoirs take the same seven limits, under the same member names.
const char* const SEVEN_NAMES[7] = {"initialCapacity", "levelLimitMin", "levelLimitMax", "productionRateMax",
                                    "productionMax", "consumptionRateMax", "consumptionMax"};

void addSevenParameters(Object& object, const std::array<ConstrainedVariableId*, 7>& members,
                        const std::array<double, 7>& values) {
  for (int i = 0; i < 7; ++i)
    *members[i] = addParameter(object, values[i], SEVEN_NAMES[i]);
}

void addSevenDefaults(Object& object, const std::array<ConstrainedVariableId*, 7>& members) {
  for (int i = 0; i < 7; ++i)
    addDefault(object, *members[i], SEVEN_NAMES[i]);
}

const LabelStr& incrementalFlowProfile() {
  static const LabelStr sl_name("IncrementalFlowProfile");
  return sl_name;
}

// Interval tokens last at least one time unit.
IntervalIntDomain positiveDuration() { return IntervalIntDomain(1, g_infiniteTime()); }

}

namespace {

// The handles that every interval token class binds, in the order of its members.
template <class T>
void bindTokenMembers(T& token) {
  token.state = token.getState();
  token.object = token.getObject();
  token.tStart = token.start();
  token.tEnd = token.end();
  token.tDuration = token.duration();
}

// Positions of the parameters, as the constructors add them.
enum { IC = 0, LLMIN = 1, LLMAX = 2, PRMAX = 3, PMAX = 4, CRMAX = 5, CMAX = 6 };
enum { C = 0, RLLMIN = 1, RCRMAX = 2, RCMAX = 3 };
enum { UCMAX = 0 };

// One parameter that close() reads: its position among the object's member variables, its
// name, and the texts of the two checks made on it.
struct Parameter {
  unsigned int index;
  const char* name;
  const char* nameCheck;
  const char* singletonCheck;
};

void fail(const char* condition, const std::string& message, int line) {
  Error(condition, message, Error::stripExtension(__FILE__), line).handleAssert();
}

// The checks of close(), in their order: the count, every name, then every singleton. Each
// failure says in words what is wrong; the condition is the check's own text.
void checkParameters(const Object& object, const std::vector<Parameter>& parameters, unsigned int argCount) {
  const std::vector<ConstrainedVariableId>& vars = object.getVariables();
  const std::string owner = object.getName().toString();
  if (!(vars.size() >= argCount))
    fail("m_variables.size() >= ARG_COUNT",
         owner + " has " + std::to_string(vars.size()) + " parameter(s) where " + std::to_string(argCount) +
             " are needed",
         __LINE__);
  for (const Parameter& p : parameters)
    if (vars[p.index]->getName().toString().find(p.name) == std::string::npos)
      fail(p.nameCheck,
           "parameter " + std::to_string(p.index + 1) + " of " + owner + " should be " + p.name + ", not " +
               vars[p.index]->getName().toString(),
           __LINE__);
  for (const Parameter& p : parameters)
    if (!vars[p.index]->derivedDomain().isSingleton())
      fail(p.singletonCheck,
           "parameter " + std::string(p.name) + " of " + owner + " must hold one value, not " +
               vars[p.index]->derivedDomain().toString(),
           __LINE__);
}

double valueOf(const Object& object, unsigned int index) {
  return object.getVariables()[index]->derivedDomain().getSingletonValue();
}

std::string number(double value) {
  if (value >= inf())
    return "inf";
  if (value <= minusInf())
    return "-inf";
  return toString(value);
}

// Limits that no plan can keep are refused when the object is closed.
void checkNotNegative(const Object& object, double value, const char* what, const char* condition) {
  if (!(value >= 0))
    fail(condition, object.getName().toString() + ": the " + what + " " + number(value) +
                        " is negative: no token could respect it",
         __LINE__);
}

void checkLevelLimits(const Object& object, double initial, double lower, double upper, const char* initialWhat) {
  const std::string owner = object.getName().toString();
  if (!(lower <= upper))
    fail("levelLimitMin <= levelLimitMax", owner + ": the lower level limit " + number(lower) +
                                               " is above the upper level limit " + number(upper),
         __LINE__);
  if (!(lower <= initial && initial <= upper))
    fail("levelLimitMin <= initial && initial <= levelLimitMax",
         owner + ": the " + initialWhat + " " + number(initial) + " lies outside the level limits [" +
             number(lower) + " " + number(upper) + "]",
         __LINE__);
}

const std::vector<Parameter>& sevenParameters() {
  static const std::vector<Parameter> sl_parameters = {
      {IC, "initialCapacity", "m_variables[IC]->getName().toString().find(PARAM_INITIAL_CAPACITY) != std::string::npos",
       "m_variables[IC]->derivedDomain().isSingleton()"},
      {LLMIN, "levelLimitMin", "m_variables[LLMIN]->getName().toString().find(PARAM_LEVEL_LIMIT_MIN) != std::string::npos",
       "m_variables[LLMIN]->derivedDomain().isSingleton()"},
      {LLMAX, "levelLimitMax", "m_variables[LLMAX]->getName().toString().find(PARAM_LEVEL_LIMIT_MAX) != std::string::npos",
       "m_variables[LLMAX]->derivedDomain().isSingleton()"},
      {PRMAX, "productionRateMax",
       "m_variables[PRMAX]->getName().toString().find(PARAM_PRODUCTION_RATE_MAX) != std::string::npos",
       "m_variables[PRMAX]->derivedDomain().isSingleton()"},
      {PMAX, "productionMax", "m_variables[PMAX]->getName().toString().find(PARAM_PRODUCTION_MAX) != std::string::npos",
       "m_variables[PMAX]->derivedDomain().isSingleton()"},
      {CRMAX, "consumptionRateMax",
       "m_variables[CRMAX]->getName().toString().find(PARAM_CONSUMPTION_RATE_MAX) != std::string::npos",
       "m_variables[CRMAX]->derivedDomain().isSingleton()"},
      {CMAX, "consumptionMax", "m_variables[CMAX]->getName().toString().find(PARAM_CONSUMPTION_MAX) != std::string::npos",
       "m_variables[CMAX]->derivedDomain().isSingleton()"}};
  return sl_parameters;
}


}

bool isValidProfile(Id<ConstrainedVariable> profileNameVar) {
  const AbstractDomain& domain = profileNameVar->derivedDomain();
  if (!domain.isSingleton())
    return false;
  // A number is no profile name (and no label key).
  double value = domain.getSingletonValue();
  if (!LabelStr::isString(value))
    return false;
  const std::string name = LabelStr(value).toString();
  return name == "FlowProfile" || name == "IncrementalFlowProfile" || name == "TimetableProfile";
}

// ---------------------------------------------------------------- Resource and Reservoir

template <class Base, int NoConsumptionLimit>
void LevelLimitsObject<Base, NoConsumptionLimit>::constructor(double ic, double ll_min, double ll_max) {
  const double c = NoConsumptionLimit * inf();
  constructor(ic, ll_min, ll_max, inf(), inf(), c, c);
}

template <class Base, int NoConsumptionLimit>
void LevelLimitsObject<Base, NoConsumptionLimit>::constructor(double ic, double ll_min, double ll_max,
                                                              double p_max, double c_max) {
  constructor(ic, ll_min, ll_max, p_max, p_max, NoConsumptionLimit * inf(), c_max);
}

template <class Base, int NoConsumptionLimit>
void LevelLimitsObject<Base, NoConsumptionLimit>::constructor(double ic, double ll_min, double ll_max,
                                                              double pr_max, double p_max, double cr_max,
                                                              double c_max) {
  addSevenParameters(*this, {&initialCapacity, &levelLimitMin, &levelLimitMax, &productionRateMax, &productionMax,
                              &consumptionRateMax, &consumptionMax},
                     {ic, ll_min, ll_max, pr_max, p_max, cr_max, c_max});
}

template <class Base, int NoConsumptionLimit>
void LevelLimitsObject<Base, NoConsumptionLimit>::constructor() {
  const double c = NoConsumptionLimit * inf();
  constructor(0.0, minusInf(), inf(), inf(), inf(), c, c);
}

template <class Base, int NoConsumptionLimit>
void LevelLimitsObject<Base, NoConsumptionLimit>::handleDefaults(bool autoClose) {
  addSevenDefaults(*this, {&initialCapacity, &levelLimitMin, &levelLimitMax, &productionRateMax, &productionMax,
                           &consumptionRateMax, &consumptionMax});
  if (autoClose)
    this->close();
}

template class LevelLimitsObject<KORVAN::Resource, -1>;
template class LevelLimitsObject<MIRT::Reservoir, 1>;

// ---------------------------------------------------------------- Resource

VexlResource::~VexlResource() {}

void VexlResource::checkClose() const {
  checkParameters(*this, sevenParameters(), 7);
  double ic = valueOf(*this, IC), ll_min = valueOf(*this, LLMIN), ll_max = valueOf(*this, LLMAX);
  double pr_max = valueOf(*this, PRMAX), p_max = valueOf(*this, PMAX);
  double cr_max = valueOf(*this, CRMAX), c_max = valueOf(*this, CMAX);
  // The instant-based model's own checks, with the same conditions, in words.
  double productionRate = pr_max == inf() ? p_max : pr_max;
  double consumptionRate = cr_max == minusInf() ? c_max : cr_max;
  const std::string owner = getName().toString();
  if (!(ll_min <= ll_max))
    fail("m_limitMin <= m_limitMax", owner + ": the lower level limit " + number(ll_min) +
                                         " is above the upper level limit " + number(ll_max),
         __LINE__);
  if (!(ic >= ll_min))
    fail("m_initialCapacity >= m_limitMin", owner + ": the initial level " + number(ic) +
                                                " is below the lower level limit " + number(ll_min),
         __LINE__);
  if (!(ic <= ll_max))
    fail("m_initialCapacity <= m_limitMax", owner + ": the initial level " + number(ic) +
                                                " is above the upper level limit " + number(ll_max),
         __LINE__);
  if (!(productionRate <= p_max))
    fail("m_productionRateMax <= m_productionMax", owner + ": the production rate limit " +
                                                       number(productionRate) + " is above the production maximum " +
                                                       number(p_max),
         __LINE__);
  if (!(productionRate >= 0))
    fail("m_productionRateMax >= 0",
         owner + ": the production rate limit " + number(productionRate) + " is negative", __LINE__);
  if (!(consumptionRate >= c_max))
    fail("m_consumptionRateMax >= m_consumptionMax",
         owner + ": the consumption rate limit " + number(consumptionRate) +
             " is below the consumption maximum " + number(c_max) +
             " (consumption limits are given as values not above 0)",
         __LINE__);
  if (!(consumptionRate <= 0))
    fail("m_consumptionRateMax <= 0", owner + ": the consumption rate limit " + number(consumptionRate) +
                                          " is above 0 (consumption limits are given as values not above 0)",
         __LINE__);
}

void VexlResource::close() {
  checkClose();
  init(valueOf(*this, IC), valueOf(*this, LLMIN), valueOf(*this, LLMAX), valueOf(*this, PRMAX),
       valueOf(*this, PMAX), valueOf(*this, CRMAX), valueOf(*this, CMAX));
  Object::close();
}

// ---------------------------------------------------------------- Reservoir

VexlReservoir::~VexlReservoir() {}

void VexlReservoir::checkClose() const {
  checkParameters(*this, sevenParameters(), 7);
  checkLevelLimits(*this, valueOf(*this, IC), valueOf(*this, LLMIN), valueOf(*this, LLMAX), "initial level");
  checkNotNegative(*this, valueOf(*this, PRMAX), "production rate limit", "productionRateMax >= 0");
  checkNotNegative(*this, valueOf(*this, PMAX), "production maximum", "productionMax >= 0");
  checkNotNegative(*this, valueOf(*this, CRMAX), "consumption rate limit", "consumptionRateMax >= 0");
  checkNotNegative(*this, valueOf(*this, CMAX), "consumption maximum", "consumptionMax >= 0");
}

void VexlReservoir::close() {
  checkClose();
  double ic = valueOf(*this, IC);
  init(ic, ic, valueOf(*this, LLMIN), valueOf(*this, LLMAX), valueOf(*this, PRMAX), valueOf(*this, CRMAX),
       valueOf(*this, PMAX), valueOf(*this, CMAX), LabelStr("TimetableFVDetector"), incrementalFlowProfile());
  Object::close();
}

// ---------------------------------------------------------------- Reusable and Unary

namespace {

// The profile named by the object's optional "profileType" member, else the
// incremental flow profile.
LabelStr selectProfile(const Object& object, const std::string& profileTypeMember, bool isUnary,
                       bool quiet = false) {
  const std::string fullName = object.getName().toString() + "." + profileTypeMember;
  Id<ConstrainedVariable> profileNameVar = object.getVariable(LabelStr(fullName));
  LabelStr profileName = incrementalFlowProfile();
  if (!profileNameVar.isNoId()) {
    condDebugMsg(!quiet && !isUnary, "VexlReusable", "Using Profile : " << profileNameVar->toString());
    condDebugMsg(!quiet && isUnary, "VexlUnary", "Using Profile : " << profileNameVar->toString());
    // checkClose() refuses a bad name first, naming the profiles there are, where the model
    // sets it; the selection on closing then only meets names it accepted.
    if (quiet)
      checkError(isValidProfile(profileNameVar), "Invalid resource profile type:" << profileNameVar->toString()
                 << " (TimetableProfile, FlowProfile or IncrementalFlowProfile)");
    checkError(isValidProfile(profileNameVar), "Invalid resource profile type:" << profileNameVar->toString());
    profileName = LabelStr(profileNameVar->derivedDomain().getSingletonValue());
  }
  condDebugMsg(!quiet && !isUnary, "VexlReusable", "Using Profile : " << profileName.toString());
  condDebugMsg(!quiet && isUnary, "VexlUnary", "Using Profile : " << profileName.toString());
  return profileName;
}

}

const char* const VexlReusable::PARAM_PROFILE_TYPE = "profileType";

VexlReusable::VexlReusable(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name,
                           bool open)
  : MIRT::Reusable(planDatabase, type, name, open) {}

VexlReusable::VexlReusable(const ObjectId& parent, const LabelStr& type, const LabelStr& name, bool open)
  : MIRT::Reusable(parent, type, name, open) {}

VexlReusable::~VexlReusable() {}

void VexlReusable::checkClose() const {
  static const std::vector<Parameter> sl_parameters = {
      {C, "capacity", "m_variables[C]->getName().toString().find(PARAM_CAPACITY) != std::string::npos",
       "m_variables[C]->derivedDomain().isSingleton()"},
      {RLLMIN, "levelLimitMin", "m_variables[LLMIN]->getName().toString().find(PARAM_LEVEL_LIMIT_MIN) != std::string::npos",
       "m_variables[LLMIN]->derivedDomain().isSingleton()"},
      {RCRMAX, "consumptionRateMax",
       "m_variables[CRMAX]->getName().toString().find(PARAM_CONSUMPTION_RATE_MAX) != std::string::npos",
       "m_variables[CRMAX]->derivedDomain().isSingleton()"},
      {RCMAX, "consumptionMax", "m_variables[CMAX]->getName().toString().find(PARAM_CONSUMPTION_MAX) != std::string::npos",
       "m_variables[CMAX]->derivedDomain().isSingleton()"}};
  checkParameters(*this, sl_parameters, 4);
  selectProfile(*this, PARAM_PROFILE_TYPE, false, true);
  double c = valueOf(*this, C);
  checkNotNegative(*this, c, "capacity", "capacity >= 0");
  checkLevelLimits(*this, c, valueOf(*this, RLLMIN), c, "capacity");
  checkNotNegative(*this, valueOf(*this, RCRMAX), "consumption rate limit", "consumptionRateMax >= 0");
  checkNotNegative(*this, valueOf(*this, RCMAX), "consumption maximum", "consumptionMax >= 0");
}

void VexlReusable::close() {
  checkClose();
  LabelStr profileName = selectProfile(*this, PARAM_PROFILE_TYPE, false);
  double c = valueOf(*this, C);
  double cr_max = valueOf(*this, RCRMAX), c_max = valueOf(*this, RCMAX);
  // Whatever is taken is given back: production limits are the consumption limits.
  init(c, c, valueOf(*this, RLLMIN), c, cr_max, cr_max, c_max, c_max, LabelStr("ReusableFVDetector"), profileName);
  Object::close();
}

void VexlReusable::constructor(double c, double ll_min) { constructor(c, ll_min, inf(), inf()); }

void VexlReusable::constructor(double c, double ll_min, double cr_max) {
  constructor(c, ll_min, inf(), cr_max);
}

void VexlReusable::constructor(double c, double ll_min, double c_max, double cr_max) {
  capacity = addParameter(*this, c, "capacity");
  levelLimitMin = addParameter(*this, ll_min, "levelLimitMin");
  consumptionRateMax = addParameter(*this, cr_max, "consumptionRateMax");
  consumptionMax = addParameter(*this, c_max, "consumptionMax");
}

void VexlReusable::constructor() { constructor(inf(), minusInf(), inf(), inf()); }

void VexlReusable::handleDefaults(bool autoClose) {
  addDefault(*this, capacity, "capacity");
  addDefault(*this, levelLimitMin, "levelLimitMin");
  addDefault(*this, consumptionRateMax, "consumptionRateMax");
  addDefault(*this, consumptionMax, "consumptionMax");
  if (autoClose)
    close();
}

VexlReusable::uses::uses(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable,
                         bool isFact, bool close, bool activate)
  : MIRT::ReusableToken(planDatabase, predicateName, rejectable, isFact, IntervalIntDomain(),
                        IntervalIntDomain(), positiveDuration(), Token::noObject(), false, activate) {
  handleDefaults(close);
}

VexlReusable::uses::uses(const TokenId& master, const LabelStr& predicateName, const LabelStr& relation,
                         bool close)
  : MIRT::ReusableToken(master, relation, predicateName, IntervalIntDomain(), IntervalIntDomain(),
                        positiveDuration(), Token::noObject(), false, true) {
  handleDefaults(close);
}

VexlReusable::uses::~uses() {}

void VexlReusable::uses::close() { MIRT::ReusableToken::close(); }

void VexlReusable::uses::handleDefaults(bool autoClose) {
  bindTokenMembers(*this);
  quantity = getQuantity();
  if (autoClose)
    close();
}

const char* const VexlUnary::PARAM_PROFILE_TYPE = "profileType";

VexlUnary::VexlUnary(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name, bool open)
  : MIRT::Reusable(planDatabase, type, name, open) {}

VexlUnary::VexlUnary(const ObjectId& parent, const LabelStr& type, const LabelStr& name, bool open)
  : MIRT::Reusable(parent, type, name, open) {}

VexlUnary::~VexlUnary() {}

void VexlUnary::checkClose() const {
  static const std::vector<Parameter> sl_parameters = {
      {UCMAX, "consumptionMax", "m_variables[CMAX]->getName().toString().find(PARAM_CONSUMPTION_MAX) != std::string::npos",
       "m_variables[CMAX]->derivedDomain().isSingleton()"}};
  checkParameters(*this, sl_parameters, 1);
  selectProfile(*this, PARAM_PROFILE_TYPE, true, true);
  checkNotNegative(*this, valueOf(*this, UCMAX), "consumption maximum", "consumptionMax >= 0");
}

void VexlUnary::close() {
  checkClose();
  LabelStr profileName = selectProfile(*this, PARAM_PROFILE_TYPE, true);
  double c_max = valueOf(*this, UCMAX);
  // Capacity one, level within [0, 1]; the unbounded rates become the total.
  init(1.0, 1.0, 0.0, 1.0, inf(), inf(), c_max, c_max, LabelStr("ReusableFVDetector"), profileName);
  Object::close();
}

void VexlUnary::constructor(double c_max) { consumptionMax = addParameter(*this, c_max, "consumptionMax"); }

void VexlUnary::constructor() { constructor(inf()); }

void VexlUnary::handleDefaults(bool autoClose) {
  addDefault(*this, consumptionMax, "consumptionMax");
  if (autoClose)
    close();
}

VexlUnary::use::use(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable,
                    bool isFact, bool close, bool activate)
  : MIRT::ReusableToken(planDatabase, predicateName, rejectable, isFact, IntervalIntDomain(),
                        IntervalIntDomain(), positiveDuration(), IntervalDomain(1.0), Token::noObject(), false,
                        activate) {
  handleDefaults(close);
}

VexlUnary::use::use(const TokenId& master, const LabelStr& predicateName, const LabelStr& relation, bool close)
  : MIRT::ReusableToken(master, relation, predicateName, IntervalIntDomain(), IntervalIntDomain(),
                        positiveDuration(), IntervalDomain(1.0), Token::noObject(), false, true) {
  handleDefaults(close);
}

VexlUnary::use::~use() {}

void VexlUnary::use::close() { MIRT::ReusableToken::close(); }

void VexlUnary::use::handleDefaults(bool autoClose) {
  bindTokenMembers(*this);
  if (autoClose)
    close();
}

VexlUnaryToken::VexlUnaryToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName,
                               const bool& rejectable, const bool& isFact, const bool& close)
  : MIRT::UnaryToken(planDatabase, predicateName, rejectable, isFact, IntervalIntDomain(), IntervalIntDomain(),
                     positiveDuration(), Token::noObject(), false, false) {
  commonInit(close);
}

VexlUnaryToken::VexlUnaryToken(const TokenId& master, const LabelStr& predicateName, const LabelStr& relation,
                               const bool& close)
  : MIRT::UnaryToken(master, relation, predicateName, IntervalIntDomain(), IntervalIntDomain(),
                     positiveDuration(), Token::noObject(), false, false) {
  commonInit(close);
}

VexlUnaryToken::~VexlUnaryToken() {}

void VexlUnaryToken::handleDefaults(const bool&) {}

void VexlUnaryToken::commonInit(const bool& autoClose) {
  bindTokenMembers(*this);
  if (autoClose)
    close();
}

}
}
