#ifndef KORVAN_VEXL_VEXLRESOURCE_HH
#define KORVAN_VEXL_VEXLRESOURCE_HH

// Modelling-language classes over the module's resources: "Reservoir",
// "Reusable" and "Unary" (profile-based) and "Resource" (instant-based), with
// their token classes. An object is built in three steps: the class
// constructor (open, uninitialised), one `constructor` overload chosen by the
// number of model arguments (singleton parameter variables), `handleDefaults`
// (unbounded variables for the parameters still missing). Only `close()` reads
// the parameters and initialises the resource.
//
// Parameters are taken as doubles: narrowing them to single precision would
// shift limits such as 0.7 below a token quantity of 0.7.

#include "ConstraintEngine/base/ConstraintEngineDefs.hh"
#include "PlanDatabase/base/PlanDatabaseDefs.hh"
#include "PlanDatabase/base/StateDomain.hh"
#include "PlanDatabase/base/ObjectDomain.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "Resource/base/Resource.hh"
#include "Resource/base/Transaction.hh"
#include "Resource/component/MIRT_DurativeTokens.hh"
#include "Resource/component/MIRT_InstantTokens.hh"
#include "Resource/component/MIRT_Reservoir.hh"
#include "Resource/component/MIRT_Reusable.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "PlanDatabase/base/Token.hh"

namespace KORVAN {
namespace VEXL {

// True when the variable holds one value that names a registered profile kind
// ("FlowProfile", "IncrementalFlowProfile" or "TimetableProfile").
bool isValidProfile(Id<ConstrainedVariable> profileNameVar);

// What "Resource" and "Reservoir" share: seven level limits as member variables, the
// `constructor` overloads for 0, 3, 5 and 7 model arguments, and `handleDefaults`. A limit the
// model leaves out is unbounded; an unbounded consumption limit is `NoConsumptionLimit`
// (minus the infinite time where consumption limits are not above zero, else plus).
template <class Base, int NoConsumptionLimit>
class LevelLimitsObject : public Base {
public:
  LevelLimitsObject(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name, bool open)
    : Base(planDatabase, type, name, open) {}
  LevelLimitsObject(ObjectId parent, const LabelStr& type, const LabelStr& name, bool open)
    : Base(parent, type, name, open) {}

  virtual void constructor(double ic, double ll_min, double ll_max);
  // The consumption rate stays unbounded, as with three arguments; the production rate is
  // the production maximum.
  virtual void constructor(double ic, double ll_min, double ll_max, double p_max, double c_max);
  virtual void constructor(double ic, double ll_min, double ll_max, double pr_max, double p_max,
                           double cr_max, double c_max);
  virtual void constructor();
  using Object::constructor;

  // Gives every parameter still missing an unbounded variable; closes when asked.
  void handleDefaults(bool autoClose = true);

  ConstrainedVariableId initialCapacity;
  ConstrainedVariableId levelLimitMin;
  ConstrainedVariableId levelLimitMax;
  ConstrainedVariableId productionRateMax;
  ConstrainedVariableId productionMax;
  ConstrainedVariableId consumptionRateMax;
  ConstrainedVariableId consumptionMax;
};

// A token class of the modelling language over an event token: unrestricted time, no object
// named, and handles to the token's variables. `Base` takes (..., time, object name, closed,
// activate) after the master's or the slave's own arguments, and gives its quantity variable.
template <class Base>
class EventTokenClass : public Base {
public:
  // Made with activate false, the token stays inactive until activated (its factory
  // activates it once the token has its windows).
  EventTokenClass(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable = false,
                  bool isFact = false, bool close = false, bool activate = true)
    : Base(planDatabase, predicateName, rejectable, isFact, IntervalIntDomain(), Token::noObject(), false,
           activate) {
    handleDefaults(close);
  }
  EventTokenClass(const TokenId& master, const LabelStr& predicateName, const LabelStr& relation,
                  bool close = false)
    : Base(master, relation, predicateName, IntervalIntDomain(), Token::noObject(), false, true) {
    handleDefaults(close);
  }
  void close() override { Base::close(); }

  StateVarId state;
  ObjectVarId object;
  TempVarId tStart;
  TempVarId tEnd;
  TempVarId tDuration;
  TempVarId time;
  ConstrainedVariableId quantity;

protected:
  virtual void handleDefaults(bool autoClose = true) {
    state = this->getState();
    object = this->getObject();
    tStart = this->start();
    tEnd = this->end();
    tDuration = this->duration();
    time = this->getTime();
    quantity = this->getQuantity();
    if (autoClose)
      close();
  }
};

// The instant-based change token with the constructors of the reservoir tokens. It has no
// activate flag: it makes itself active when it is closed.
class ChangeToken : public KORVAN::Transaction {
public:
  ChangeToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable, bool isFact,
              const IntervalIntDomain& time, const LabelStr& objectName, bool closed, bool /* activate */)
    : KORVAN::Transaction(planDatabase, predicateName, rejectable, isFact, time, objectName, closed) {}
  ChangeToken(const TokenId& master, const LabelStr& relation, const LabelStr& predicateName,
              const IntervalIntDomain& time, const LabelStr& objectName, bool closed, bool /* activate */)
    : KORVAN::Transaction(master, relation, predicateName, time, objectName, closed) {}
  const ConstrainedVariableId& getQuantity() const { return m_usage; }
};

// The instant-based resource: limits as the instant-based model takes them,
// consumption limits not above zero (unbounded: minus the infinite time).
class VexlResource : public LevelLimitsObject<KORVAN::Resource, -1> {
public:
  using LevelLimitsObject::LevelLimitsObject;
  virtual ~VexlResource();

  void close() override;
  void checkClose() const override;

  typedef EventTokenClass<ChangeToken> change;
};

class VexlReservoir : public LevelLimitsObject<MIRT::Reservoir, 1> {
public:
  using LevelLimitsObject::LevelLimitsObject;
  virtual ~VexlReservoir();

  // Checks the parameter variables, initialises the reservoir from their
  // values (timetable detector, incremental flow profile), then closes.
  void close() override;
  void checkClose() const override;

  typedef EventTokenClass<MIRT::ProducerToken> produce;
  typedef EventTokenClass<MIRT::ConsumerToken> consume;
};

class VexlReusable : public MIRT::Reusable {
public:
  VexlReusable(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name, bool open);
  VexlReusable(const ObjectId& parent, const LabelStr& type, const LabelStr& name, bool open);
  virtual ~VexlReusable();

  // Checks the parameter variables, selects the profile (the optional
  // "profileType" member), initialises the resource with the reusable
  // detector, then closes.
  void close() override;
  void checkClose() const override;

  // The member that names the profile.
  static const char* const PARAM_PROFILE_TYPE;

  virtual void constructor(double c, double ll_min);
  virtual void constructor(double c, double ll_min, double cr_max);
  // The order of the schema's members: consumption maximum, then its rate.
  virtual void constructor(double c, double ll_min, double c_max, double cr_max);
  virtual void constructor();
  using Object::constructor;

  void handleDefaults(bool autoClose = true);

  class uses : public MIRT::ReusableToken {
  public:
    // Made with activate false, the token stays inactive until activated (its factory
    // activates it once the token has its windows).
    uses(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable = false,
         bool isFact = false, bool close = false, bool activate = true);
    uses(const TokenId& master, const LabelStr& predicateName, const LabelStr& relation, bool close = false);
    virtual ~uses();
    void close() override;

    StateVarId state;
    ObjectVarId object;
    TempVarId tStart;
    TempVarId tEnd;
    TempVarId tDuration;
    ConstrainedVariableId quantity;

  protected:
    virtual void handleDefaults(bool autoClose = true);
  };

  ConstrainedVariableId capacity;
  ConstrainedVariableId levelLimitMin;
  ConstrainedVariableId consumptionRateMax;
  ConstrainedVariableId consumptionMax;
};

// A reusable resource of capacity one whose tokens always use 1.
class VexlUnary : public MIRT::Reusable {
public:
  VexlUnary(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name, bool open);
  VexlUnary(const ObjectId& parent, const LabelStr& type, const LabelStr& name, bool open);
  virtual ~VexlUnary();

  void close() override;
  void checkClose() const override;

  // The member that names the profile.
  static const char* const PARAM_PROFILE_TYPE;

  virtual void constructor(double c_max);
  virtual void constructor();
  using Object::constructor;

  void handleDefaults(bool autoClose = true);

  class use : public MIRT::ReusableToken {
  public:
    // Made with activate false, the token stays inactive until activated (its factory
    // activates it once the token has its windows).
    use(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable = false,
        bool isFact = false, bool close = false, bool activate = true);
    use(const TokenId& master, const LabelStr& predicateName, const LabelStr& relation, bool close = false);
    virtual ~use();
    void close() override;

    StateVarId state;
    ObjectVarId object;
    TempVarId tStart;
    TempVarId tEnd;
    TempVarId tDuration;

  protected:
    virtual void handleDefaults(bool autoClose = true);
  };

  ConstrainedVariableId consumptionMax;
};

// A unary token that is not made active on closing; no factory makes it.
class VexlUnaryToken : public MIRT::UnaryToken {
public:
  VexlUnaryToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, const bool& rejectable,
                 const bool& isFact, const bool& close);
  VexlUnaryToken(const TokenId& master, const LabelStr& predicateName, const LabelStr& relation,
                 const bool& close);
  virtual ~VexlUnaryToken();

  StateVarId state;
  ObjectVarId object;
  TempVarId tStart;
  TempVarId tEnd;
  TempVarId tDuration;

protected:
  virtual void handleDefaults(const bool& autoClose);

private:
  void commonInit(const bool& autoClose);
};

}
}

#endif
