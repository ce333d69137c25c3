#ifndef KORVAN_PDB_TEST_WORLD_HH
#define KORVAN_PDB_TEST_WORLD_HH

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"

/// What the plan-database, solver and interpreter tests stand on: a constraint engine with the
/// standard constraints, a schema and a plan database (which adds the temporal constraints).
struct World {
  World() : ce(new KORVAN::ConstraintEngine()), schema(new KORVAN::Schema()) {
    KORVAN::initConstraintLibrary(ce->getId());
    db = new KORVAN::PlanDatabase(ce->getId(), schema->getId());
  }
  virtual ~World() {
    delete db;
    delete schema;
    delete ce;
  }
  KORVAN::ConstraintEngine* ce;
  KORVAN::Schema* schema;
  KORVAN::PlanDatabase* db;
};

#endif
