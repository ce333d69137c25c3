#ifndef KORVAN_PLANDATABASE_PLANDATABASE_HH
#define KORVAN_PLANDATABASE_PLANDATABASE_HH

#include <list>
#include <map>
#include <string>
#include <typeinfo>

#include "ConstraintEngine/base/ConstraintEngineDefs.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/ObjectDomain.hh"
#include "PlanDatabase/base/PlanDatabaseDefs.hh"
#include "PlanDatabase/base/Schema.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Engine.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {

/// The plan database: the objects and tokens of a plan over a constraint engine and a schema.
/// An engine component ("PlanDatabase"). It owns its objects, its tokens and its client; deleting
/// it deletes the tokens (slaves with their masters), then the objects. Delete it before the
/// constraint engine.
///
/// While the database is open, the object domains of tokens are open: objects created later are
/// added to them. close() closes every object domain, and tokens made afterwards get closed ones
/// (an object variable can only become a singleton once its domain is closed).
class PlanDatabase : public EngineComponent {
public:
  /// The engine component name, "PlanDatabase".
  static const std::string& COMPONENT_NAME();
  /// The propagator that runs the database's own constraints, "PlanDatabase".
  static const LabelStr& PROPAGATOR_NAME();

  PlanDatabase(const ConstraintEngineId& constraintEngine, const SchemaId& schema,
               const EngineId& engine = EngineId::noId());
  ~PlanDatabase() override;

  const PlanDatabaseId& getId() const { return m_id; }
  const ConstraintEngineId& getConstraintEngine() const { return m_constraintEngine; }
  const SchemaId& getSchema() const { return m_schema; }
  /// The temporal network's advisor (time distances, whether tokens can be ordered).
  const TemporalAdvisorId& getTemporalAdvisor() const { return m_temporalAdvisor; }
  /// The client through which solvers and interpreters change the database.
  const DbClientId& getClient() const { return m_client; }
  /// The engine that holds this database; an error when none was given.
  const EngineId& getEngine() const;
  void setEngine(const EngineId& engine) { m_engine = engine; }

  // ---- objects ----
  /// Objects by entity key.
  const std::map<int, ObjectId>& getObjects() const { return m_objects; }
  /// The object of that name, or the empty handle.
  ObjectId getObject(const LabelStr& name) const;
  /// The objects of the type or of its descendant types, in the order of their creation, each
  /// handle converted to the result handle type (the conversion checks the class). `results`
  /// must be empty.
  template <class ID>
  void getObjectsByType(const LabelStr& type, std::list<ID>& results) const;

  // ---- tokens ----
  /// Tokens by entity key.
  const std::map<int, TokenId>& getTokens() const { return m_tokens; }
  /// The token of that entity key, or the empty handle.
  TokenId getToken(int key) const;

  /// While one lives, tokens of `objectType` made without an object name start on `objects`
  /// (a closed domain) rather than on every object of the type: a reader that names a token's
  /// objects, each of that type, pays for those, not for the type's. Scopes nest.
  class TokenObjects {
  public:
    TokenObjects(const PlanDatabaseId& db, const LabelStr& objectType, const std::list<double>& objects);
    ~TokenObjects();

  private:
    TokenObjects(const TokenObjects&) = delete;
    TokenObjects& operator=(const TokenObjects&) = delete;

    PlanDatabaseId m_db;
    LabelStr m_objectType;
    const std::list<double>& m_objects;
    const TokenObjects* m_outer;
    friend class PlanDatabase;
  };

  /// The objects that new tokens' object domains have started with, over the whole process: for
  /// tests that count what reading a token costs.
  static unsigned long long& objectsOffered();

  /// Closes the object domain of every token; no object may be created afterwards.
  void close();
  bool isClosed() const { return m_closed; }

  /// Deletes every token and object (tokens first).
  void purge();

private:
  friend class Object;
  friend class Token;

  PlanDatabase(const PlanDatabase&) = delete;
  PlanDatabase& operator=(const PlanDatabase&) = delete;

  void registerObject(const ObjectId& object);
  void unregisterObject(const ObjectId& object);
  void registerToken(const TokenId& token);
  void unregisterToken(const TokenId& token);
  /// The object domain a new token of the predicate starts with.
  ObjectDomain makeObjectDomain(const LabelStr& objectType, const LabelStr& objectName) const;
  /// Frees the token's orderings and ordering needs on every object.
  void purgeTokenFromObjects(const TokenId& token);

  // A constraint over a merged token's variables binds the token it is merged onto through a
  // copy over the variables that carry it (each merged token's variable replaced by the active
  // token's variable at the same index). The copy exists while the original is inactive only
  // because of merging; these keep it in step after every merge and split.
  /// Makes, replaces or discards the copy of `original` as its scope now requires.
  void refreshMergeCopy(const ConstraintId& original);
  /// Discards the copy of `original` (which is being removed), if there is one.
  void dropMergeCopy(const ConstraintId& original);
  /// True when the constraint is such a copy.
  bool isMergeCopy(const ConstraintId& constraint) const;
  /// How many merged tokens of the constraint's scope hold a deactivation of it.
  unsigned int mergeHolds(const ConstraintId& constraint) const;

  PlanDatabaseId m_id;
  ConstraintEngineId m_constraintEngine;
  SchemaId m_schema;
  EngineId m_engine;
  TemporalAdvisorId m_temporalAdvisor;
  DbClientId m_client;
  bool m_closed;
  bool m_deleting;

  std::map<int, ObjectId> m_objects;
  std::map<double, ObjectId> m_objectsByName;
  /// Each object filed under its own type and every ancestor type, in creation order.
  std::multimap<double, ObjectId> m_objectsByType;
  std::map<int, TokenId> m_tokens;
  /// The innermost live TokenObjects scope, or null.
  const TokenObjects* m_tokenObjects;
  /// Copies of constraints of merged tokens, by the original's entity key, and the reverse.
  std::map<int, std::pair<ConstraintId, int>> m_mergeCopies;
  std::map<int, int> m_mergeOriginals;
};

template <class ID>
void PlanDatabase::getObjectsByType(const LabelStr& type, std::list<ID>& results) const {
  check_error(results.empty());
  check_error(m_schema->isObjectType(type), type.toString());
  for (std::multimap<double, ObjectId>::const_iterator it = m_objectsByType.lower_bound(type.getKey());
       it != m_objectsByType.end() && it->first == type.getKey(); ++it) {
    ObjectId object = it->second;
    debugMsg("PlanDatabase:getObjectsByType", "Adding object '" << object->getName().toString()
                                                   << "' of type '" << object->getType().toString()
                                                   << "' for type '" << type.toString() << "'");
    debugMsg("PlanDatabase:getObjectsByType", "Typeid for object: " << typeid(*object).name());
    results.push_back(ID(object));
  }
}

} // namespace KORVAN

#endif
