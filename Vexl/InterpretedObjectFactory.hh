#ifndef KORVAN_VEXL_INTERPRETEDOBJECTFACTORY_HH
#define KORVAN_VEXL_INTERPRETEDOBJECTFACTORY_HH

#include <string>
#include <vector>

#include "PlanDatabase/base/ObjectFactory.hh"
#include "PlanDatabase/base/TokenFactory.hh"

namespace KORVAN {

/// A statement of an interpreted constructor body, run on the new object with the
/// constructor's argument domains.
class Expr {
public:
  virtual ~Expr() {}
  virtual void eval(const ObjectId& instance,
                    const std::vector<const AbstractDomain*>& arguments) const = 0;
  virtual std::string toString() const = 0;
};

/// The call of the parent class's constructor that opens an interpreted constructor body: it
/// runs the body of the parent type's factory for the given argument positions.
class ExprConstructorSuperCall : public Expr {
public:
  ExprConstructorSuperCall(const LabelStr& superClassName, const std::vector<unsigned int>& argIndexes);
  void eval(const ObjectId& instance,
            const std::vector<const AbstractDomain*>& arguments) const override;
  std::string toString() const override;

private:
  LabelStr m_superClassName;
  std::vector<unsigned int> m_argIndexes;
};

/// Assigns a member variable of the new object: its base domain becomes a copy of an argument
/// domain (argIndex >= 0) or of a constant domain.
class ExprMemberAssignment : public Expr {
public:
  ExprMemberAssignment(const LabelStr& member, int argIndex, const AbstractDomain* constant = nullptr);
  ~ExprMemberAssignment() override;
  void eval(const ObjectId& instance,
            const std::vector<const AbstractDomain*>& arguments) const override;
  std::string toString() const override;

private:
  LabelStr m_member;
  int m_argIndex;
  AbstractDomain* m_constant;
};

/// Object factory of the model interpreter. createInstance makes the object with
/// makeNewObject, then runs evalConstructorBody, and returns its handle. The factory keeps its
/// class name and signature, and owns its super call and body statements.
///
/// An interpreted factory (canMakeNewObject false) builds a plain open object of the type,
/// runs the body, then gives each schema member still without a variable its default domain.
/// A native one (canMakeNewObject true) leaves the whole construction to makeNewObject.
class InterpretedObjectFactory : public ObjectFactory {
public:
  InterpretedObjectFactory(const char* className, const LabelStr& signature,
                           const std::vector<std::string>& constructorArgNames,
                           const std::vector<std::string>& constructorArgTypes,
                           ExprConstructorSuperCall* superCallExpr,
                           const std::vector<Expr*>& constructorBody,
                           bool canMakeNewObject = false);
  ~InterpretedObjectFactory() override;

  ObjectId createInstance(const PlanDatabaseId& planDb, const LabelStr& objectType,
                          const LabelStr& objectName,
                          const std::vector<const AbstractDomain*>& arguments) const override;

  const LabelStr& getClassName() const { return m_className; }
  const std::vector<std::string>& getConstructorArgNames() const { return m_constructorArgNames; }
  const std::vector<std::string>& getConstructorArgTypes() const { return m_constructorArgTypes; }
  bool canMakeNewObject() const { return m_canMakeNewObject; }

protected:
  friend class ExprConstructorSuperCall;

  virtual ObjectId makeNewObject(const PlanDatabaseId& planDb, const LabelStr& objectType,
                                 const LabelStr& objectName,
                                 const std::vector<const AbstractDomain*>& arguments) const;
  virtual void evalConstructorBody(const ObjectId& instance,
                                   const std::vector<const AbstractDomain*>& arguments) const;

  LabelStr m_className;
  std::vector<std::string> m_constructorArgNames;
  std::vector<std::string> m_constructorArgTypes;
  ExprConstructorSuperCall* m_superCallExpr;
  std::vector<Expr*> m_constructorBody;
  bool m_canMakeNewObject;
};

/// Object factory of a class implemented natively: makeNewObject builds the whole object.
class NativeObjectFactory : public InterpretedObjectFactory {
public:
  NativeObjectFactory(const char* className, const LabelStr& signature)
      : InterpretedObjectFactory(className, signature, std::vector<std::string>(),
                                 std::vector<std::string>(), nullptr, std::vector<Expr*>(),
                                 true) {}
  ~NativeObjectFactory() override {}

protected:
  ObjectId makeNewObject(const PlanDatabaseId& planDb, const LabelStr& objectType,
                         const LabelStr& objectName,
                         const std::vector<const AbstractDomain*>& arguments) const override = 0;
};

/// Token factory of a predicate declared in a model: an interval or event token with the
/// predicate's float, int and bool members as further variables. The token is closed and
/// activated when made.
class InterpretedTokenFactory : public TokenFactory {
public:
  typedef std::pair<LabelStr, LabelStr> Member; // (name, type)

  InterpretedTokenFactory(const LabelStr& predicateName, bool isEvent,
                          const std::vector<Member>& members);
  ~InterpretedTokenFactory() override {}

  TokenId createInstance(const PlanDatabaseId& planDb, const LabelStr& name, bool rejectable,
                         bool isFact) const override;
  TokenId createInstance(const TokenId& master, const LabelStr& name,
                         const LabelStr& relation) const override;

  /// A default base domain for a member type: "float", "int" or "bool"; null for other types.
  static AbstractDomain* makeDefaultDomain(const LabelStr& type);

private:
  void completeToken(const TokenId& token) const;

  bool m_isEvent;
  std::vector<Member> m_members;
};

} // namespace KORVAN

#endif
