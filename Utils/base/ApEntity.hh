#ifndef KORVAN_UTILS_APENTITY_HH
#define KORVAN_UTILS_APENTITY_HH

#include <string>
#include <vector>

namespace KORVAN {

typedef int ApEntityKey;

/// Value list of the client interface.
template <class T>
class ApList {
public:
  ApList() {}
  int size() const { return static_cast<int>(m_elements.size()); }
  const T& get(int i) const { return m_elements.at(i); }
  void remove(int i) { m_elements.erase(m_elements.begin() + i); }
  void remove(const T& value) {
    for (auto it = m_elements.begin(); it != m_elements.end(); ++it)
      if (*it == value) {
        m_elements.erase(it);
        return;
      }
  }
  void push_back(const T& value) { m_elements.push_back(value); }

private:
  std::vector<T> m_elements;
};

class ApToken;
class ApVariable;

/// Root of the client-interface classes.
class ApEntity {
public:
  virtual ~ApEntity() {}
  virtual ApEntityKey getKey() const = 0;
  virtual const std::string& getEntityName() const = 0;
  virtual const std::string& getEntityType() const = 0;
  virtual std::string toString() const = 0;
  virtual std::string toLongString() const = 0;
};

/// Client view of a plan-database object.
class ApObject : public virtual ApEntity {
public:
  virtual ~ApObject() {}
  virtual const std::string& getEntityType() const = 0;
  virtual std::string getObjectType() const = 0;
  virtual ApList<ApEntityKey> getMemberVariables() = 0;
  virtual ApVariable* getMemberVariable(const std::string& name) = 0;
  virtual ApList<ApEntityKey> getTokens() const = 0;
  virtual void addPrecedence(ApToken* predecessor, ApToken* successor) = 0;
  virtual void removePrecedence(ApToken* predecessor, ApToken* successor) = 0;
  virtual double asApVarValue() const = 0;
};

/// Client view of a token.
class ApToken : public virtual ApEntity {
public:
  virtual ~ApToken() {}
  virtual const std::string& getEntityType() const = 0;
  virtual std::string getTokenType() const = 0;
  virtual bool isFact() const = 0;
  virtual std::string getTokenState() const = 0;
  virtual ApVariable* getStart() const = 0;
  virtual ApVariable* getEnd() const = 0;
  virtual ApVariable* getDuration() const = 0;
  virtual ApObject* getOwner() const = 0;
  virtual ApToken* getMaster() const = 0;
  virtual ApList<ApEntityKey> getSlaves() const = 0;
  virtual ApToken* getActive() const = 0;
  virtual ApList<ApEntityKey> getMerged() const = 0;
  virtual double getViolation() const = 0;
  virtual std::string getViolationExpl() const = 0;
  virtual ApList<ApEntityKey> getParameters() const = 0;
  virtual ApVariable* getParameter(const std::string& name) const = 0;
  virtual void activate() = 0;
  virtual void reject() = 0;
  virtual void merge(ApToken* activeToken) = 0;
  virtual void cancel() = 0;
  virtual ApList<ApEntityKey> getCompatibleTokens(unsigned int limit, bool useExactTest) = 0;
};

/// Client view of a constrained variable.
class ApVariable : public virtual ApEntity {
public:
  virtual ~ApVariable() {}
  virtual const std::string& getEntityType() const = 0;
  virtual std::string toString() const = 0;
  virtual std::string toLongString() const = 0;
  virtual std::string getType() const = 0;
  virtual bool isEnumerated() const = 0;
  virtual bool isInterval() const = 0;
  virtual bool isNull() const = 0;
  virtual bool isSingleton() const = 0;
  virtual double getSingletonValue() const = 0;
  virtual ApList<double> getValues() const = 0;
  virtual ApList<ApEntityKey> getConstraints() const = 0;
  virtual double getLowerBound() const = 0;
  virtual double getUpperBound() const = 0;
  virtual void specifyValue(double& value) = 0;
  virtual void reset() = 0;
  virtual double getViolation() const = 0;
  virtual std::string getViolationExpl() const = 0;
  virtual ApEntity* getParent() const = 0;
};

/// Client view of a constraint.
class ApConstraint : public virtual ApEntity {
public:
  virtual ~ApConstraint() {}
  virtual const std::string& getEntityType() const = 0;
  virtual bool isActive() const = 0;
  virtual void deactivate() = 0;
  virtual void undoDeactivation() = 0;
  virtual double getViolation() const = 0;
  virtual std::string getViolationExpl() const = 0;
  virtual ApList<ApEntityKey> getVariables() const = 0;
};

} // namespace KORVAN

#endif
