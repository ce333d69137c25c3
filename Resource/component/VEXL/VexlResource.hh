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

namespace KORVAN {
namespace VEXL {

// True when the variable holds one value that names a registered profile kind
// ("FlowProfile", "IncrementalFlowProfile" or "TimetableProfile").
bool isValidProfile(Id<ConstrainedVariable> profileNameVar);

// The instant-based resource: limits as the instant-based model takes them,
// consumption limits not above zero (unbounded: minus the infinite time).
class VexlResource : public KORVAN::Resource {
public:
  VexlResource(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name, bool open);
  VexlResource(ObjectId parent, const LabelStr& type, const LabelStr& name, bool open);
  virtual ~VexlResource();

  void close() override;
  void checkClose() const override;

  virtual void constructor(double ic, double ll_min, double ll_max);
  virtual void constructor(double ic, double ll_min, double ll_max, double p_max, double c_max);
  virtual void constructor(double ic, double ll_min, double ll_max, double pr_max, double p_max,
                           double cr_max, double c_max);
  virtual void constructor();
  using Object::constructor;

  void handleDefaults(bool autoClose = true);

  class change : public KORVAN::Transaction {
  public:
    change(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable = false,
           bool isFact = false, bool close = false);
    change(const TokenId& master, const LabelStr& predicateName, const LabelStr& relation, bool close = false);
    virtual ~change();
    void close() override;

    StateVarId state;
    ObjectVarId object;
    TempVarId tStart;
    TempVarId tEnd;
    TempVarId tDuration;
    TempVarId time;
    ConstrainedVariableId quantity;

  protected:
    virtual void handleDefaults(bool autoClose = true);
  };

  ConstrainedVariableId initialCapacity;
  ConstrainedVariableId levelLimitMin;
  ConstrainedVariableId levelLimitMax;
  ConstrainedVariableId productionRateMax;
  ConstrainedVariableId productionMax;
  ConstrainedVariableId consumptionRateMax;
  ConstrainedVariableId consumptionMax;
};

class VexlReservoir : public MIRT::Reservoir {
public:
  VexlReservoir(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name, bool open);
  VexlReservoir(ObjectId parent, const LabelStr& type, const LabelStr& name, bool open);
  virtual ~VexlReservoir();

  // Checks the parameter variables, initialises the reservoir from their
  // values (timetable detector, incremental flow profile), then closes.
  void close() override;
  void checkClose() const override;

  virtual void constructor(double ic, double ll_min, double ll_max);
  virtual void constructor(double ic, double ll_min, double ll_max, double p_max, double c_max);
  virtual void constructor(double ic, double ll_min, double ll_max, double pr_max, double p_max,
                           double cr_max, double c_max);
  virtual void constructor();
  using Object::constructor;

  // Gives every parameter still missing an unbounded variable; closes when asked.
  void handleDefaults(bool autoClose = true);

  class produce : public MIRT::ProducerToken {
  public:
    // Made with activate false, the token stays inactive until activated (its factory
    // activates it once the token has its windows).
    produce(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable = false,
            bool isFact = false, bool close = false, bool activate = true);
    produce(const TokenId& master, const LabelStr& predicateName, const LabelStr& relation,
            bool close = false);
    virtual ~produce();
    void close() override;

    StateVarId state;
    ObjectVarId object;
    TempVarId tStart;
    TempVarId tEnd;
    TempVarId tDuration;
    TempVarId time;
    ConstrainedVariableId quantity;

  protected:
    virtual void handleDefaults(bool autoClose = true);
  };

  class consume : public MIRT::ConsumerToken {
  public:
    // Made with activate false, the token stays inactive until activated (its factory
    // activates it once the token has its windows).
    consume(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable = false,
            bool isFact = false, bool close = false, bool activate = true);
    consume(const TokenId& master, const LabelStr& predicateName, const LabelStr& relation,
            bool close = false);
    virtual ~consume();
    void close() override;

    StateVarId state;
    ObjectVarId object;
    TempVarId tStart;
    TempVarId tEnd;
    TempVarId tDuration;
    TempVarId time;
    ConstrainedVariableId quantity;

  protected:
    virtual void handleDefaults(bool autoClose = true);
  };

  ConstrainedVariableId initialCapacity;
  ConstrainedVariableId levelLimitMin;
  ConstrainedVariableId levelLimitMax;
  ConstrainedVariableId productionRateMax;
  ConstrainedVariableId productionMax;
  ConstrainedVariableId consumptionRateMax;
  ConstrainedVariableId consumptionMax;
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
