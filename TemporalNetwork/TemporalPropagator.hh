#ifndef KORVAN_TEMPORALNETWORK_TEMPORALPROPAGATOR_HH
#define KORVAN_TEMPORALNETWORK_TEMPORALPROPAGATOR_HH

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngineDefs.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "TemporalNetwork/TemporalNetwork.hh"

namespace KORVAN {

class TemporalPropagator;
typedef Id<TemporalPropagator> TemporalPropagatorId;

/// The propagator "Temporal": keeps a simple temporal network in step with the time variables
/// of its constraints (TemporalConstraint) and narrows their domains to the tightest bounds the
/// network implies.
///
/// Each time variable is a time point whose domain is an edge from the origin; each constraint
/// is one edge, whose bounds are fixed or those of its distance variable. Domain changes
/// reported by the engine are applied to those edges lazily, at the next pass or distance query.
/// A pass narrows every time variable whose bounds moved, and every distance variable to the
/// difference of its two time points' bounds; a negative cycle empties a domain, so the engine
/// becomes inconsistent.
///
/// Invariants, which make the result exact:
/// * After a sync, the domain edge of every time point and the edges of every distance
///   variable carry the variable's present domain, whoever narrowed it. The propagator's own
///   changes are reported and read back like any other: a distance variable narrowed here feeds
///   every edge that uses it, and its own time point when it is one; and a value specified later
///   where a pass had already narrowed the domain to it changes no domain, so nothing else would
///   bring it into the network. A pass that narrows something is therefore followed by another,
///   until nothing moves.
/// * Every variable read back is narrowed again at the next pass, even where its edge did not
///   move: a domain relaxed back to what its edge holds may still have lost what the network
///   implies.
/// * Since an edge holds no more than its variable's domain, relaxing the variables restores the
///   network: removing a constraint takes its edge out at once, the engine's relaxation of the
///   connected variables widens their edges back to their base domains or specified values, and
///   the next pass narrows again from there.
///
/// Constraints of other classes registered under this propagator are executed one by one, as a
/// default propagator would.
///
/// Time points are narrowed from a second network, the bounds network: the same points and
/// edges, and an edge for every "leq" and "addEq" (whose middle variable has whole bounds) of
/// the default propagator between two time points. Those constraints stay the default
/// propagator's and imply no more than their edges, so the fixed point is the same; a chain of
/// them is crossed in one pass instead of one link per pass. Distances and every other query
/// read the first network only, and while the bounds network alone is inconsistent the time
/// points are narrowed from the first, as if it were not there.
class TemporalPropagator : public Propagator {
public:
  typedef TemporalNetwork::Time Time;

  static const LabelStr& PROPAGATOR_NAME();

  TemporalPropagator(const LabelStr& name, const ConstraintEngineId& constraintEngine,
                     int priority = DEFAULT_PRIORITY - 10);
  virtual ~TemporalPropagator();

  TemporalPropagatorId getTemporalId() const { return TemporalPropagatorId(getId()); }

  void execute() override;
  bool updateRequired() const override;

  /// True when the variable is a time point of the network.
  bool isTimepoint(const ConstrainedVariableId& var) const;
  /// Exact bounds on second - first implied by the network and the present domains. Both must
  /// be time points. Answers false (bounds untouched) when the network is inconsistent.
  bool getDistance(const ConstrainedVariableId& first, const ConstrainedVariableId& second,
                   Time& lb, Time& ub);
  /// As getDistance, but also answers false when either variable is not a time point.
  bool findDistance(const ConstrainedVariableId& first, const ConstrainedVariableId& second,
                    Time& lb, Time& ub);
  /// Brings the network up to date with the constraints and domains (no domain changes).
  void sync();

  const TemporalNetwork& getNetwork() const { return m_network; }
  /// The variable's point in the network, or -1 when it is not a time point.
  int getTimepoint(const ConstrainedVariableId& var) const;
  /// The network's bounds and distances of one of its points (TemporalNetwork::getBounds and
  /// getDistancesOf). Require a consistent network.
  void getTimepointBounds(int node, Time& lb, Time& ub) { m_network.getBounds(node, lb, ub); }
  void getTimepointDistances(int node, std::vector<Time>& from, std::vector<Time>& to) {
    m_network.getDistancesOf(node, from, to);
  }
  /// TemporalNetwork::getMovedPointCount, and the variable of a point (noId when none).
  std::uint64_t getMovedPointCount() { return m_network.getMovedPointCount(); }
  ConstrainedVariableId getTimepointVariable(int node) const {
    return node >= 0 && node < (int)m_nodeVars.size() ? m_nodeVars[node] : ConstrainedVariableId::noId();
  }

protected:
  void handleConstraintAdded(const ConstraintId& constraint) override;
  void handleConstraintRemoved(const ConstraintId& constraint) override;
  void handleConstraintActivated(const ConstraintId& constraint) override;
  void handleConstraintDeactivated(const ConstraintId& constraint) override;
  void handleNotification(const ConstrainedVariableId& variable, int argIndex,
                          const ConstraintId& constraint,
                          const DomainListener::ChangeType& changeType) override;

private:
  struct VarInfo {
    int node = -1;        // time point, or -1
    int domainEdge = -1;  // origin -> node edge carrying the domain
    int timeRefs = 0;     // installed constraints using it as a time point
    ConstraintSet distanceOf;  // installed constraints using it as their distance
    std::vector<ConstraintId> endpointOf;  // installed constraints with a distance, at an end
    std::vector<ConstraintId> mirrored;    // mirrored constraints at an end
  };

  struct Mirror {
    int edge;  // in the bounds network
    ConstrainedVariableId from;
    ConstrainedVariableId to;
  };
  typedef std::map<ConstraintId, Mirror, EntityComparator<ConstraintId>> MirrorMap;

  struct EdgeInfo {
    int edge;
    ConstrainedVariableId from;
    ConstrainedVariableId to;
    ConstrainedVariableId distance;  // or noId
  };

  typedef std::map<ConstraintId, EdgeInfo, EntityComparator<ConstraintId>> EdgeMap;

  void install(const ConstraintId& constraint);
  void uninstall(const ConstraintId& constraint);
  void retract(const ConstraintId& constraint);
  int acquireTimepoint(const ConstrainedVariableId& var);
  void release(const ConstrainedVariableId& var, bool asTimepoint, const ConstraintId& constraint);
  void narrowDistancesAt(const ConstrainedVariableId& var);
  void narrow();
  int addEdge(int from, int to, Time lb, Time ub);
  /// Finds the default propagator and hears its constraints, once.
  void watchDefault();
  void noteDefault(const ConstraintId& constraint, bool gone);
  void noteMirrorCandidates(const ConstrainedVariableId& var);
  void unmirror(MirrorMap::iterator it);
  void unmirrorAt(const ConstrainedVariableId& var);
  void dropMirrorEdges();
  void updateMirrors();
  static bool readBounds(const ConstrainedVariableId& var, Time& lb, Time& ub);
  /// The variable's time point, -1 when it has none: m_vars read through a cache by address,
  /// as a resource asks for the points of the same variables pair after pair.
  int findNode(const ConstrainedVariableId& var) const;
  /// Every remembered answer of findNode goes: a point was made or taken, or an entry went.
  void forgetNodes() { ++m_lookupGeneration; }

  TemporalNetwork m_network;
  std::map<ConstrainedVariableId, VarInfo> m_vars;
  struct LookupSlot {
    const void* address = nullptr;
    std::uint64_t generation = 0;
    int node = -1;
  };
  mutable std::vector<LookupSlot> m_lookup;
  mutable unsigned m_lookupBits = 0;
  mutable std::uint64_t m_lookupGeneration = 1;
  std::vector<ConstrainedVariableId> m_nodeVars;  // by time point
  EdgeMap m_edges;                       // installed temporal constraints
  ConstraintSet m_toInstall;             // added or activated, not yet in the network
  ConstraintSet m_others;                // constraints of other classes
  ConstraintSet m_otherAgenda;           // ... that await execution
  std::set<ConstrainedVariableId> m_dirty;     // domains changed since they were read
  std::set<ConstrainedVariableId> m_toNarrow;  // time variables read since the last pass
  ConstraintSet m_distanceToNarrow;      // distances whose ends or own domain moved
  bool m_needsPass;
  TemporalNetwork m_bounds;
  std::vector<int> m_boundsEdge;     // by edge of m_network
  MirrorMap m_mirrors;
  ConstraintSet m_mirrorPending;     // to (re)consider at the next sync
  std::vector<int> m_mirrorDrops;    // bounds network edges to remove at the next sync
  PropagatorId m_watched;
  bool m_watching;
};

} // namespace KORVAN

#endif
