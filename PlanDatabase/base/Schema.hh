#ifndef KORVAN_PLANDATABASE_SCHEMA_HH
#define KORVAN_PLANDATABASE_SCHEMA_HH

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "PlanDatabase/base/PlanDatabaseDefs.hh"
#include "Utils/base/Engine.hh"

namespace KORVAN {

/// The model's vocabulary: object types with their parents and members, predicates ("Type.pred")
/// with their members, and the factories that make objects (by constructor signature, such as
/// "Reservoir:float:float:float") and tokens (by predicate name). An engine component ("Schema");
/// it owns the factories registered with it.
///
/// Every object type descends from the root type "Object", which always exists.
class Schema : public EngineComponent {
public:
  typedef std::pair<LabelStr, LabelStr> NameTypePair; // (member name, member type)

  Schema(const LabelStr& name = LabelStr("Schema"));
  ~Schema() override;

  const SchemaId& getId() const { return m_id; }
  const LabelStr& getName() const { return m_name; }

  /// The root object type, "Object".
  static const LabelStr& rootObject();

  // Object types.
  void addObjectType(const LabelStr& type, const LabelStr& parent = rootObject());
  bool isObjectType(const LabelStr& type) const;
  /// False only for the root type.
  bool hasParent(const LabelStr& type) const;
  const LabelStr& getParent(const LabelStr& type) const;
  /// True when type is ancestor or a descendant of it.
  bool isA(const LabelStr& type, const LabelStr& ancestor) const;
  /// The type itself, then its ancestors up to and including the root type.
  std::vector<LabelStr> getAllObjectTypes(const LabelStr& type) const;
  /// Every declared object type, root included, in declaration order.
  const std::vector<LabelStr>& getObjectTypes() const { return m_typeOrder; }

  // Predicates.
  void addPredicate(const LabelStr& predicate);
  bool isPredicate(const LabelStr& predicate) const;
  /// The object type a predicate belongs to (the text before the last '.').
  const LabelStr& getObjectType(const LabelStr& predicate) const;
  /// The predicates declared on the type itself, in declaration order.
  std::vector<LabelStr> getPredicates(const LabelStr& type) const;

  // Members of object types and predicates.
  void addMember(const LabelStr& parent, const LabelStr& type, const LabelStr& name);
  /// For an object type, inherited members count too.
  bool hasMember(const LabelStr& parent, const LabelStr& name) const;
  const LabelStr& getMemberType(const LabelStr& parent, const LabelStr& name) const;
  /// Members in declaration order; for an object type, the inherited ones come first.
  std::vector<NameTypePair> getMembers(const LabelStr& parent) const;

  // Factories. The schema takes ownership of each factory it registers.
  void registerObjectFactory(const ObjectFactoryId& factory);
  bool hasObjectFactory(const LabelStr& signature) const;
  const ObjectFactoryId& getObjectFactory(const LabelStr& signature) const;
  /// The factory for the type and argument types, or for the nearest ancestor type with the
  /// same argument types; the empty handle when there is none.
  ObjectFactoryId findObjectFactory(const LabelStr& type,
                                    const std::vector<LabelStr>& argTypes) const;
  static LabelStr makeSignature(const LabelStr& type, const std::vector<LabelStr>& argTypes);

  void registerTokenFactory(const TokenFactoryId& factory);
  bool hasTokenFactory(const LabelStr& predicate) const;
  const TokenFactoryId& getTokenFactory(const LabelStr& predicate) const;

private:
  Schema(const Schema&) = delete;
  Schema& operator=(const Schema&) = delete;

  const std::vector<NameTypePair>* ownMembers(const LabelStr& parent) const;

  SchemaId m_id;
  LabelStr m_name;
  std::map<double, LabelStr> m_parents;             // object type -> parent type
  std::vector<LabelStr> m_typeOrder;                // object types in declaration order
  std::map<double, LabelStr> m_predicates;          // predicate -> object type
  std::vector<LabelStr> m_predicateOrder;
  std::map<double, std::vector<NameTypePair>> m_members; // type or predicate -> own members
  std::map<double, ObjectFactoryId> m_objectFactories;   // signature -> factory
  std::map<double, TokenFactoryId> m_tokenFactories;     // predicate -> factory
};

} // namespace KORVAN

#endif
