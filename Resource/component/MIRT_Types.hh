#ifndef KORVAN_MIRT_TYPES_HH
#define KORVAN_MIRT_TYPES_HH

#include "Resource/base/MIRT_Transaction.hh"

#include <cstddef>
#include <functional>
#include <ostream>
#include <utility>

namespace KORVAN {
namespace MIRT {

class Node;
class Edge;

// "[pred -> succ]", each handle as the handle prints itself.
inline std::ostream& operator<<(std::ostream& os, const std::pair<TransactionId, TransactionId>& pair) {
  os << "[" << pair.first << " -> " << pair.second << "]";
  return os;
}

// Hash maps of the flow algorithms key on addresses.
struct NodeHash {
  size_t operator()(Node* node) const { return std::hash<long>()((long) node); }
};

struct EdgeHash {
  size_t operator()(Edge* edge) const { return std::hash<long>()((long) edge); }
};

struct TransactionIdHash {
  size_t operator()(TransactionId t) const { return std::hash<long>()((long) (Transaction*) t); }
};

}
}

#endif
