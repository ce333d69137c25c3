#include "Resource/component/VEXL/VexlResource.hh"

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "PlanDatabase/base/Token.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

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

const LabelStr& incrementalFlowProfile() {
  static const LabelStr sl_name("IncrementalFlowProfile");
  return sl_name;
}

// Interval tokens last at least one time unit.
IntervalIntDomain positiveDuration() { return IntervalIntDomain(1, g_infiniteTime()); }

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

// ---------------------------------------------------------------- Resource

VexlResource::VexlResource(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name,
                           bool open)
  : KORVAN::Resource(planDatabase, type, name, open) {}

VexlResource::VexlResource(ObjectId parent, const LabelStr& type, const LabelStr& name, bool open)
  : KORVAN::Resource(parent, type, name, open) {}

VexlResource::~VexlResource() {}

void VexlResource::close() {
  static const int IC = 0;
  static const int LLMIN = 1;
  static const int LLMAX = 2;
  static const int PRMAX = 3;
  static const int PMAX = 4;
  static const int CRMAX = 5;
  static const int CMAX = 6;
  static const unsigned int ARG_COUNT = 7;
  static const std::string PARAM_INITIAL_CAPACITY("initialCapacity");
  static const std::string PARAM_LEVEL_LIMIT_MIN("levelLimitMin");
  static const std::string PARAM_LEVEL_LIMIT_MAX("levelLimitMax");
  static const std::string PARAM_PRODUCTION_RATE_MAX("productionRateMax");
  static const std::string PARAM_PRODUCTION_MAX("productionMax");
  static const std::string PARAM_CONSUMPTION_RATE_MAX("consumptionRateMax");
  static const std::string PARAM_CONSUMPTION_MAX("consumptionMax");

  check_error(m_variables.size() >= ARG_COUNT);
  check_error(m_variables[IC]->getName().toString().find(PARAM_INITIAL_CAPACITY) != std::string::npos);
  check_error(m_variables[LLMIN]->getName().toString().find(PARAM_LEVEL_LIMIT_MIN) != std::string::npos);
  check_error(m_variables[LLMAX]->getName().toString().find(PARAM_LEVEL_LIMIT_MAX) != std::string::npos);
  check_error(m_variables[PRMAX]->getName().toString().find(PARAM_PRODUCTION_RATE_MAX) != std::string::npos);
  check_error(m_variables[PMAX]->getName().toString().find(PARAM_PRODUCTION_MAX) != std::string::npos);
  check_error(m_variables[CRMAX]->getName().toString().find(PARAM_CONSUMPTION_RATE_MAX) != std::string::npos);
  check_error(m_variables[CMAX]->getName().toString().find(PARAM_CONSUMPTION_MAX) != std::string::npos);

  check_error(m_variables[IC]->derivedDomain().isSingleton());
  check_error(m_variables[LLMIN]->derivedDomain().isSingleton());
  check_error(m_variables[LLMAX]->derivedDomain().isSingleton());
  check_error(m_variables[PRMAX]->derivedDomain().isSingleton());
  check_error(m_variables[PMAX]->derivedDomain().isSingleton());
  check_error(m_variables[CRMAX]->derivedDomain().isSingleton());
  check_error(m_variables[CMAX]->derivedDomain().isSingleton());

  init(m_variables[IC]->derivedDomain().getSingletonValue(),
       m_variables[LLMIN]->derivedDomain().getSingletonValue(),
       m_variables[LLMAX]->derivedDomain().getSingletonValue(),
       m_variables[PRMAX]->derivedDomain().getSingletonValue(),
       m_variables[PMAX]->derivedDomain().getSingletonValue(),
       m_variables[CRMAX]->derivedDomain().getSingletonValue(),
       m_variables[CMAX]->derivedDomain().getSingletonValue());
  Object::close();
}

void VexlResource::constructor(double ic, double ll_min, double ll_max) {
  constructor(ic, ll_min, ll_max, inf(), inf(), minusInf(), minusInf());
}

// The consumption rate stays unbounded, as with three arguments; the model
// then takes the consumption maximum as the rate limit too.
void VexlResource::constructor(double ic, double ll_min, double ll_max, double p_max, double c_max) {
  constructor(ic, ll_min, ll_max, p_max, p_max, minusInf(), c_max);
}

void VexlResource::constructor(double ic, double ll_min, double ll_max, double pr_max, double p_max,
                               double cr_max, double c_max) {
  initialCapacity = addParameter(*this, ic, "initialCapacity");
  levelLimitMin = addParameter(*this, ll_min, "levelLimitMin");
  levelLimitMax = addParameter(*this, ll_max, "levelLimitMax");
  productionRateMax = addParameter(*this, pr_max, "productionRateMax");
  productionMax = addParameter(*this, p_max, "productionMax");
  consumptionRateMax = addParameter(*this, cr_max, "consumptionRateMax");
  consumptionMax = addParameter(*this, c_max, "consumptionMax");
}

void VexlResource::constructor() {
  constructor(0.0, minusInf(), inf(), inf(), inf(), minusInf(), minusInf());
}

void VexlResource::handleDefaults(bool autoClose) {
  addDefault(*this, initialCapacity, "initialCapacity");
  addDefault(*this, levelLimitMin, "levelLimitMin");
  addDefault(*this, levelLimitMax, "levelLimitMax");
  addDefault(*this, productionRateMax, "productionRateMax");
  addDefault(*this, productionMax, "productionMax");
  addDefault(*this, consumptionRateMax, "consumptionRateMax");
  addDefault(*this, consumptionMax, "consumptionMax");
  if (autoClose)
    close();
}

VexlResource::change::change(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable,
                             bool isFact, bool close)
  : KORVAN::Transaction(planDatabase, predicateName, rejectable, isFact, IntervalIntDomain(), Token::noObject(),
                        false) {
  handleDefaults(close);
}

VexlResource::change::change(const TokenId& master, const LabelStr& predicateName, const LabelStr& relation,
                             bool close)
  : KORVAN::Transaction(master, relation, predicateName, IntervalIntDomain(), Token::noObject(), false) {
  handleDefaults(close);
}

VexlResource::change::~change() {}

void VexlResource::change::close() { KORVAN::Transaction::close(); }

void VexlResource::change::handleDefaults(bool autoClose) {
  state = getState();
  object = getObject();
  tStart = start();
  tEnd = end();
  tDuration = duration();
  time = getTime();
  quantity = m_usage;
  if (autoClose)
    close();
}

// ---------------------------------------------------------------- Reservoir

VexlReservoir::VexlReservoir(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name,
                             bool open)
  : MIRT::Reservoir(planDatabase, type, name, open) {}

VexlReservoir::VexlReservoir(ObjectId parent, const LabelStr& type, const LabelStr& name, bool open)
  : MIRT::Reservoir(parent, type, name, open) {}

VexlReservoir::~VexlReservoir() {}

void VexlReservoir::close() {
  static const int IC = 0;
  static const int LLMIN = 1;
  static const int LLMAX = 2;
  static const int PRMAX = 3;
  static const int PMAX = 4;
  static const int CRMAX = 5;
  static const int CMAX = 6;
  static const unsigned int ARG_COUNT = 7;
  static const std::string PARAM_INITIAL_CAPACITY("initialCapacity");
  static const std::string PARAM_LEVEL_LIMIT_MIN("levelLimitMin");
  static const std::string PARAM_LEVEL_LIMIT_MAX("levelLimitMax");
  static const std::string PARAM_PRODUCTION_RATE_MAX("productionRateMax");
  static const std::string PARAM_PRODUCTION_MAX("productionMax");
  static const std::string PARAM_CONSUMPTION_RATE_MAX("consumptionRateMax");
  static const std::string PARAM_CONSUMPTION_MAX("consumptionMax");

  check_error(m_variables.size() >= ARG_COUNT);
  check_error(m_variables[IC]->getName().toString().find(PARAM_INITIAL_CAPACITY) != std::string::npos);
  check_error(m_variables[LLMIN]->getName().toString().find(PARAM_LEVEL_LIMIT_MIN) != std::string::npos);
  check_error(m_variables[LLMAX]->getName().toString().find(PARAM_LEVEL_LIMIT_MAX) != std::string::npos);
  check_error(m_variables[PRMAX]->getName().toString().find(PARAM_PRODUCTION_RATE_MAX) != std::string::npos);
  check_error(m_variables[PMAX]->getName().toString().find(PARAM_PRODUCTION_MAX) != std::string::npos);
  check_error(m_variables[CRMAX]->getName().toString().find(PARAM_CONSUMPTION_RATE_MAX) != std::string::npos);
  check_error(m_variables[CMAX]->getName().toString().find(PARAM_CONSUMPTION_MAX) != std::string::npos);

  check_error(m_variables[IC]->derivedDomain().isSingleton());
  check_error(m_variables[LLMIN]->derivedDomain().isSingleton());
  check_error(m_variables[LLMAX]->derivedDomain().isSingleton());
  check_error(m_variables[PRMAX]->derivedDomain().isSingleton());
  check_error(m_variables[PMAX]->derivedDomain().isSingleton());
  check_error(m_variables[CRMAX]->derivedDomain().isSingleton());
  check_error(m_variables[CMAX]->derivedDomain().isSingleton());

  double ic = m_variables[IC]->derivedDomain().getSingletonValue();
  double ll_min = m_variables[LLMIN]->derivedDomain().getSingletonValue();
  double ll_max = m_variables[LLMAX]->derivedDomain().getSingletonValue();
  double pr_max = m_variables[PRMAX]->derivedDomain().getSingletonValue();
  double p_max = m_variables[PMAX]->derivedDomain().getSingletonValue();
  double cr_max = m_variables[CRMAX]->derivedDomain().getSingletonValue();
  double c_max = m_variables[CMAX]->derivedDomain().getSingletonValue();

  init(ic, ic, ll_min, ll_max, pr_max, cr_max, p_max, c_max, LabelStr("TimetableFVDetector"),
       incrementalFlowProfile());
  Object::close();
}

void VexlReservoir::constructor(double ic, double ll_min, double ll_max) {
  constructor(ic, ll_min, ll_max, inf(), inf(), inf(), inf());
}

void VexlReservoir::constructor(double ic, double ll_min, double ll_max, double p_max, double c_max) {
  constructor(ic, ll_min, ll_max, p_max, p_max, inf(), c_max);
}

void VexlReservoir::constructor(double ic, double ll_min, double ll_max, double pr_max, double p_max,
                                double cr_max, double c_max) {
  initialCapacity = addParameter(*this, ic, "initialCapacity");
  levelLimitMin = addParameter(*this, ll_min, "levelLimitMin");
  levelLimitMax = addParameter(*this, ll_max, "levelLimitMax");
  productionRateMax = addParameter(*this, pr_max, "productionRateMax");
  productionMax = addParameter(*this, p_max, "productionMax");
  consumptionRateMax = addParameter(*this, cr_max, "consumptionRateMax");
  consumptionMax = addParameter(*this, c_max, "consumptionMax");
}

void VexlReservoir::constructor() {
  constructor(0.0, minusInf(), inf(), inf(), inf(), inf(), inf());
}

void VexlReservoir::handleDefaults(bool autoClose) {
  addDefault(*this, initialCapacity, "initialCapacity");
  addDefault(*this, levelLimitMin, "levelLimitMin");
  addDefault(*this, levelLimitMax, "levelLimitMax");
  addDefault(*this, productionRateMax, "productionRateMax");
  addDefault(*this, productionMax, "productionMax");
  addDefault(*this, consumptionRateMax, "consumptionRateMax");
  addDefault(*this, consumptionMax, "consumptionMax");
  if (autoClose)
    close();
}

VexlReservoir::produce::produce(const PlanDatabaseId& planDatabase, const LabelStr& predicateName,
                                bool rejectable, bool isFact, bool close)
  : MIRT::ProducerToken(planDatabase, predicateName, rejectable, isFact, IntervalIntDomain(),
                        Token::noObject(), false, true) {
  handleDefaults(close);
}

VexlReservoir::produce::produce(const TokenId& master, const LabelStr& predicateName,
                                const LabelStr& relation, bool close)
  : MIRT::ProducerToken(master, relation, predicateName, IntervalIntDomain(), Token::noObject(), false,
                        true) {
  handleDefaults(close);
}

VexlReservoir::produce::~produce() {}

void VexlReservoir::produce::close() { MIRT::ProducerToken::close(); }

void VexlReservoir::produce::handleDefaults(bool autoClose) {
  state = getState();
  object = getObject();
  tStart = start();
  tEnd = end();
  tDuration = duration();
  time = getTime();
  quantity = getQuantity();
  if (autoClose)
    close();
}

VexlReservoir::consume::consume(const PlanDatabaseId& planDatabase, const LabelStr& predicateName,
                                bool rejectable, bool isFact, bool close)
  : MIRT::ConsumerToken(planDatabase, predicateName, rejectable, isFact, IntervalIntDomain(),
                        Token::noObject(), false, true) {
  handleDefaults(close);
}

VexlReservoir::consume::consume(const TokenId& master, const LabelStr& predicateName,
                                const LabelStr& relation, bool close)
  : MIRT::ConsumerToken(master, relation, predicateName, IntervalIntDomain(), Token::noObject(), false,
                        true) {
  handleDefaults(close);
}

VexlReservoir::consume::~consume() {}

void VexlReservoir::consume::close() { MIRT::ConsumerToken::close(); }

void VexlReservoir::consume::handleDefaults(bool autoClose) {
  state = getState();
  object = getObject();
  tStart = start();
  tEnd = end();
  tDuration = duration();
  time = getTime();
  quantity = getQuantity();
  if (autoClose)
    close();
}

// ---------------------------------------------------------------- Reusable and Unary

namespace {

// The profile named by the object's optional "profileType" member, else the
// incremental flow profile.
LabelStr selectProfile(const Object& object, const std::string& profileTypeMember, bool isUnary) {
  const std::string fullName = object.getName().toString() + "." + profileTypeMember;
  Id<ConstrainedVariable> profileNameVar = object.getVariable(LabelStr(fullName));
  LabelStr profileName = incrementalFlowProfile();
  if (!profileNameVar.isNoId()) {
    condDebugMsg(!isUnary, "VexlReusable", "Using Profile : " << profileNameVar->toString());
    condDebugMsg(isUnary, "VexlUnary", "Using Profile : " << profileNameVar->toString());
    checkError(isValidProfile(profileNameVar), "Invalid resource profile type:" << profileNameVar->toString());
    profileName = LabelStr(profileNameVar->derivedDomain().getSingletonValue());
  }
  condDebugMsg(!isUnary, "VexlReusable", "Using Profile : " << profileName.toString());
  condDebugMsg(isUnary, "VexlUnary", "Using Profile : " << profileName.toString());
  return profileName;
}

}

VexlReusable::VexlReusable(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name,
                           bool open)
  : MIRT::Reusable(planDatabase, type, name, open) {}

VexlReusable::VexlReusable(const ObjectId& parent, const LabelStr& type, const LabelStr& name, bool open)
  : MIRT::Reusable(parent, type, name, open) {}

VexlReusable::~VexlReusable() {}

void VexlReusable::close() {
  static const unsigned int C = 0;
  static const unsigned int LLMIN = 1;
  static const unsigned int CRMAX = 2;
  static const unsigned int CMAX = 3;
  static const unsigned int ARG_COUNT = 4;
  static const std::string PARAM_CAPACITY("capacity");
  static const std::string PARAM_LEVEL_LIMIT_MIN("levelLimitMin");
  static const std::string PARAM_CONSUMPTION_RATE_MAX("consumptionRateMax");
  static const std::string PARAM_CONSUMPTION_MAX("consumptionMax");
  static const std::string PARAM_PROFILE_TYPE("profileType");

  check_error(m_variables.size() >= ARG_COUNT);
  check_error(m_variables[C]->getName().toString().find(PARAM_CAPACITY) != std::string::npos);
  check_error(m_variables[LLMIN]->getName().toString().find(PARAM_LEVEL_LIMIT_MIN) != std::string::npos);
  check_error(m_variables[CRMAX]->getName().toString().find(PARAM_CONSUMPTION_RATE_MAX) != std::string::npos);
  check_error(m_variables[CMAX]->getName().toString().find(PARAM_CONSUMPTION_MAX) != std::string::npos);

  check_error(m_variables[C]->derivedDomain().isSingleton());
  check_error(m_variables[LLMIN]->derivedDomain().isSingleton());
  check_error(m_variables[CRMAX]->derivedDomain().isSingleton());
  check_error(m_variables[CMAX]->derivedDomain().isSingleton());

  LabelStr profileName = selectProfile(*this, PARAM_PROFILE_TYPE, false);

  double c = m_variables[C]->derivedDomain().getSingletonValue();
  double ll_min = m_variables[LLMIN]->derivedDomain().getSingletonValue();
  double cr_max = m_variables[CRMAX]->derivedDomain().getSingletonValue();
  double c_max = m_variables[CMAX]->derivedDomain().getSingletonValue();

  // Whatever is taken is given back: production limits are the consumption limits.
  init(c, c, ll_min, c, cr_max, cr_max, c_max, c_max, LabelStr("ReusableFVDetector"), profileName);
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
                         bool isFact, bool close)
  : MIRT::ReusableToken(planDatabase, predicateName, rejectable, isFact, IntervalIntDomain(),
                        IntervalIntDomain(), positiveDuration(), Token::noObject(), false, true) {
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
  state = getState();
  object = getObject();
  tStart = start();
  tEnd = end();
  tDuration = duration();
  quantity = getQuantity();
  if (autoClose)
    close();
}

VexlUnary::VexlUnary(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name, bool open)
  : MIRT::Reusable(planDatabase, type, name, open) {}

VexlUnary::VexlUnary(const ObjectId& parent, const LabelStr& type, const LabelStr& name, bool open)
  : MIRT::Reusable(parent, type, name, open) {}

VexlUnary::~VexlUnary() {}

void VexlUnary::close() {
  static const unsigned int CMAX = 0;
  static const unsigned int ARG_COUNT = 1;
  static const std::string PARAM_CONSUMPTION_MAX("consumptionMax");
  static const std::string PARAM_PROFILE_TYPE("profileType");

  check_error(m_variables.size() >= ARG_COUNT);
  check_error(m_variables[CMAX]->getName().toString().find(PARAM_CONSUMPTION_MAX) != std::string::npos);
  check_error(m_variables[CMAX]->derivedDomain().isSingleton());

  LabelStr profileName = selectProfile(*this, PARAM_PROFILE_TYPE, true);

  double c_max = m_variables[CMAX]->derivedDomain().getSingletonValue();

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
                    bool isFact, bool close)
  : MIRT::ReusableToken(planDatabase, predicateName, rejectable, isFact, IntervalIntDomain(),
                        IntervalIntDomain(), positiveDuration(), IntervalDomain(1.0), Token::noObject(), false,
                        true) {
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
  state = getState();
  object = getObject();
  tStart = start();
  tEnd = end();
  tDuration = duration();
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
  state = getState();
  object = getObject();
  tStart = start();
  tEnd = end();
  tDuration = duration();
  if (autoClose)
    close();
}

}
}
