#include "Resource/test/InstantTestSupport.hh"
#include "Utils/base/Utils.hh"

#include <sstream>

namespace KORVAN {
namespace InstantTest {

InstantWorld::InstantWorld(bool withResourceType) {
  ce = new ConstraintEngine();
  schema = new Schema();
  if (withResourceType) {
    schema->addObjectType("Resource");
    schema->addPredicate("Resource.change");
    schema->addMember("Resource.change", "float", "quantity");
  }
  db = new PlanDatabase(ce->getId(), schema->getId());
  registerInstantResourceModel(ce->getId(), db->getId());
}

InstantWorld::~InstantWorld() {
  delete db;
  delete schema;
  delete ce;
}

OpenResource* InstantWorld::resource(const std::string& name, double initialCapacity, double limitMin,
                                     double limitMax, double productionMax, double consumptionMax) {
  return new OpenResource(db->getId(), name, initialCapacity, limitMin, limitMax, g_infiniteTimeAsDouble(),
                          productionMax, -g_infiniteTimeAsDouble(), consumptionMax);
}

Transaction* InstantWorld::change(const std::string& object, int earliest, int latest, double qmin, double qmax) {
  Transaction* tx = new Transaction(db->getId(), "Resource.change", false, false, IntervalIntDomain(earliest, latest),
                                    object.empty() ? Token::noObject() : LabelStr(object), false);
  tx->getVariable("quantity")->restrictBaseDomain(IntervalDomain(qmin, qmax));
  tx->close();
  return tx;
}

ResourceConstraint* InstantWorld::rateLimit(const Transaction* tx) const {
  for (const ConstraintId& c : tx->getStandardConstraints())
    if (c->getName() == ResourceConstraint::CONSTRAINT_NAME())
      return dynamic_cast<ResourceConstraint*>((Constraint*) c);
  return nullptr;
}

std::vector<Error> invalidChangeInsertions() {
  InstantWorld w;
  OpenResource* r = w.resource("r", 0, -10, 10, 5, -5);
  r->setProductionRateMax(6);
  std::vector<Error> raised = {failure([&] { r->insert(TransactionId()); })};
  r->setProductionRateMax(5);
  raised.push_back(failure([&] { r->insert(TransactionId()); }));
  return raised;
}

std::vector<std::string> bounds(const Resource& resource) {
  std::vector<std::string> result;
  for (const auto& entry : resource.getInstants()) {
    std::ostringstream os;
    const InstantId& i = entry.second;
    os << i->getTime() << ":[" << i->getLowerMin() << ", " << i->getLowerMax() << ", " << i->getUpperMin() << ", "
       << i->getUpperMax() << "]";
    result.push_back(os.str());
  }
  return result;
}

}
}
