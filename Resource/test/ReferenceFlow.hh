#ifndef KORVAN_RESOURCE_TEST_REFERENCEFLOW_HH
#define KORVAN_RESOURCE_TEST_REFERENCEFLOW_HH

#include "Resource/component/MIRT_Graph.hh"
#include "Resource/component/MIRT_Node.hh"

#include <set>

namespace KORVAN {
namespace MIRT {
namespace Reference {

struct ReferenceFlow {
  double value;
  std::set<Node*> reach;  // from the source in the final residual graph
};

// Independent maximum flow over the enabled part of the graph, on a dense
// capacity matrix; its last, failing search yields the residual reachable set.
ReferenceFlow edmondsKarp(const Graph& g, Node* s, Node* t);

}
}
}

#endif
