#ifndef KORVAN_MIRT_RESOURCE_HH
#define KORVAN_MIRT_RESOURCE_HH

#include "PlanDatabase/base/Object.hh"
#include "Resource/base/ApResource.hh"
#include "Resource/base/MIRT_Instant.hh"
#include "Resource/base/MIRT_ResourceProblem.hh"
#include "Resource/base/MIRT_Transaction.hh"
#include "Utils/base/Id.hh"
#include "Utils/base/Utils.hh"
#include "Utils/base/LabelStr.hh"

#include <cstdint>
#include <limits>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace KORVAN {
class TemporalPropagator;

namespace MIRT {

class Profile;
class FVDetector;
class ResourceTokenRelation;

bool isConsumptionProblem(ResourceProblem::Type problem);
bool isProductionProblem(ResourceProblem::Type problem);

// The profile-based resource: a plan-database object with level limits that
// owns a detector, a profile and the transactions made from its tokens. The
// concrete kinds decide how a token becomes transactions; the detector
// reports through this class, which marks violations (or makes the network
// inconsistent), keeps the record of flawed instants and tokens, and answers
// for ordering choices, limits and level envelopes.
class Resource : public Object, public virtual ApResource {
public:
  Resource(const ObjectId& parent, const LabelStr& type, const LabelStr& localName, bool open);
  Resource(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name, bool open);
  Resource(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name,
           const LabelStr& detectorName, const LabelStr& profileName,
           double initCapacityLb, double initCapacityUb, double lowerLimit, double upperLimit,
           double maxInstProduction, double maxInstConsumption, double maxProduction,
           double maxConsumption);
  virtual ~Resource();

  // True when each token takes its quantity and gives the same back: two changes of the level,
  // one value written in the model.
  virtual bool givesBack() const { return false; }

  // Token-level ordering questions of the plan database, answered from the flaw record.
  void getOrderingChoices(const TokenId& token, std::vector<std::pair<TokenId, TokenId>>& results,
                          unsigned int limit = ~0u) override;
  void getTokensToOrder(std::vector<TokenId>& results) override;
  bool hasTokensToOrder() const override;
  // Files the instants notifyFlawed left for tokens recorded before; every reader of a token's
  // instants calls it first, and a profile at the end of each recomputation.
  void fileFlawRecords();
  // The slots of the batch table emptied by it over the whole process, for tests that count a
  // fix's work.
  static unsigned long long& flawSlotsCleared();

  // A token reaches the profile later, through its token-to-resource constraint.
  void add(const TokenId& token) override;
  void remove(const TokenId& token) override;
  void handlePurge() override;

  // Pairs (predecessor, successor) of transactions that could be ordered to
  // resolve the flaw at a recorded flawed instant of this resource.
  virtual void getOrderingChoices(const InstantId& inst,
                                  std::vector<std::pair<TransactionId, TransactionId>>& results,
                                  unsigned int limit);
  // What a caller wants of the pairs at an instant, one transaction at a time: a pair is wanted
  // when its predecessor may come first and its successor second. Asked after propagation, at
  // most once for each transaction of the resource.
  class ChoiceSides {
  public:
    virtual ~ChoiceSides() {}
    virtual void sides(const TransactionId& t, bool& mayPrecede, bool& mayFollow) = 0;
  };
  // The pairs of getOrderingChoices (without a limit) that sides wants, in the same order; no
  // distance is asked for a couple of which neither order is wanted. False when the instant
  // was not looked at (an inconsistent network, or an instant gone or no longer flawed).
  virtual bool getOrderingChoices(const InstantId& inst,
                                  std::vector<std::pair<TransactionId, TransactionId>>& results,
                                  ChoiceSides& sides);
  // Every pair that getOrderingChoices would take at inst, each candidate written as it is met:
  // the lines of the look-up, which meets only the candidates it needs. Called right after a
  // look-up at inst that looked, it changes nothing: the network is synchronised by then, so a
  // distance asked only fills the network's memo of rows.
  void listOrderingChoices(const InstantId& inst, std::vector<std::pair<TransactionId, TransactionId>>& listed,
                           unsigned int limit);
  // Whether the lines of that listing are on.
  static bool orderingChoiceLinesWanted();
  // The recorded flawed instants, in ascending time, as last detected.
  virtual void getFlawedInstants(std::vector<InstantId>& results);

  ApResourceProfile* getLimits() override;
  ApResourceProfile* getLevels() override;
  ApList<ApEntityKey> getOrderingChoices(TimePoint t) override;

  double getInitCapacityLb() const { return m_initCapacityLb; }
  double getInitCapacityUb() const { return m_initCapacityUb; }
  double getLowerLimit() const { return m_lowerLimit; }
  double getUpperLimit() const { return m_upperLimit; }
  double getMaxInstProduction() const { return m_maxInstProduction; }
  double getMaxInstConsumption() const { return m_maxInstConsumption; }
  double getMaxProduction() const { return m_maxProduction; }
  double getMaxConsumption() const { return m_maxConsumption; }

  // What the resource last reported by emptying a domain (when violations are not allowed):
  // the instant, the problem, the limit it broke, the bounds of what broke it there in every
  // schedule, and the tokens on the problem's side at that instant. A host reads it to say why
  // a plan is inconsistent; the handles are valid while the domain stays empty.
  struct ReportedViolation {
    ConstrainedVariableId emptied;
    TimePoint time = 0;
    ResourceProblem::Type problem = ResourceProblem::NoProblem;
    double limit = 0, lowerValue = 0, upperValue = 0;
    // For a level: what the totals still allow to bring it back, consumed (above) or produced
    // (below) by tokens not yet counted there.
    double allowedBack = std::numeric_limits<double>::infinity();
    std::vector<TokenId> tokens;
  };
  const ReportedViolation& getReportedViolation() const { return m_reported; }

  Id<Profile> getProfile() const { return m_profile; }
  Id<FVDetector> getDetector() const { return m_detector; }
  // True once init has made the detector and the profile.
  bool isInitialized() const { return m_profile.isValid(); }

  // Gives back the quantity domain this resource emptied to report a
  // violation, if it is still empty, so that the profile is judged again:
  // a change that may widen the level envelope without relaxing any domain
  // (a transaction added or removed, an ordering dropped) can end the
  // violation, and only a relaxation would otherwise clear it.
  void relaxEmptiedQuantity();

protected:
  friend class FVDetector;
  friend class ResourceTokenRelation;

  void init(double initCapacityLb, double initCapacityUb, double lowerLimit, double upperLimit,
            double maxInstProduction, double maxInstConsumption, double maxProduction,
            double maxConsumption, const LabelStr& detectorName, const LabelStr& profileName);

  // With violations allowed, withdraws the violation marks of the instants
  // that a recomputation is about to judge again: those up to lastTime, from
  // the first instant or from inst. Otherwise does nothing.
  void resetViolations(int lastTime = g_infiniteTime());
  void resetViolations(InstantId inst, int lastTime = g_infiniteTime());

  virtual void notifyDeleted(InstantId inst);
  virtual void notifyViolated(InstantId inst, ResourceProblem::Type problem);
  virtual void notifyNoLongerViolated(InstantId inst);
  virtual void notifyFlawed(InstantId inst);
  virtual void notifyNoLongerFlawed(InstantId inst);

  TokenId getTokenForTransaction(TransactionId t);
  // The line of a flaw notified again for the token of trans at inst.
  void writeRedundantFlaw(const TransactionId& trans, const InstantId& inst);
  // That line for a transaction that notifyFlawed passed over as known, once its token is seen
  // recorded at inst: reads and changes nothing.
  void writeRecordedFlaw(const TransactionId& trans, const InstantId& inst);
  Id<ResourceTokenRelation> getRTRConstraint(TokenId tok);

  // For the concrete kinds, when a token leaves the profile: its violation
  // marks owed to this resource go with it.
  void forgetViolations(const TokenId& tok);
  // Drops the token's flaw record; true when it had one.
  bool forgetFlaws(const TokenId& tok);
  // Errs clearly when a token is handed over before init.
  void checkInitialized() const;

  Id<FVDetector> m_detector;
  Id<Profile> m_profile;
  // Set once the plan database purges: the profile is gone and tokens leave without it.
  bool m_released;
  std::map<TransactionId, TokenId> m_transactionsToTokens;
  std::map<TokenId, std::set<InstantId>> m_flawedTokens;
  // Instants owed to the sets of m_flawedTokens, gathered by set and filed in one sorted batch:
  // filed one by one in the order of the walk, each landed in another token's tree, far apart in
  // memory; gathered by set, each set's batch is sorted apart, within the cache.
  // The first m_unfiledCount batches are live; the others keep their room for the next ones.
  struct UnfiledBatch {
    std::set<InstantId>* filing;
    std::size_t slot;
    std::vector<InstantId> instants;
  };
  std::vector<UnfiledBatch> m_unfiledBatches;
  std::size_t m_unfiledCount;
  // Each live batch's set and index by the set's address, open addressed, at most a quarter full
  // (a power of two): a map's lookup per pair missed the cache. Filing empties only the slots in
  // use: the table is as large as the most batches ever live, and emptying it whole after every
  // fix cost what the plan's flaws do.
  std::vector<std::pair<std::set<InstantId>*, std::size_t>> m_unfiledSlots;
  // The index of the set's live batch, made empty if it has none.
  std::size_t unfiledBatch(std::set<InstantId>* filing);
  std::size_t homeSlot(const std::set<InstantId>* filing) const {
    return (std::size_t) ((std::uint64_t) reinterpret_cast<std::uintptr_t>(filing) * 0x9E3779B97F4A7C15ull >> 32) &
           (m_unfiledSlots.size() - 1);
  }
  // The same record by instant, so that withdrawing an instant's flaws does not walk
  // every flawed token.
  std::map<InstantId, std::set<TokenId>> m_flawedTokensAt;
  std::map<int, InstantId> m_flawedInstants;
  // For each recorded instant, its transactions when their tokens were last filed there, and
  // the instant's stamp when they were read.
  struct FiledRecord {
    std::vector<TransactionId> transactions;
    std::uint64_t stamp;
  };
  std::map<InstantId, FiledRecord> m_filedAt;
  // Raised whenever a flaw record is dropped.
  std::uint64_t m_recordDrops;

private:
  // True when predecessor's time is already constrained to be at or before successor's.
  virtual bool transConstrainedToPrecede(const TransactionId& predecessor, const TransactionId& successor);
  virtual void addToProfile(const TokenId& token) = 0;
  virtual void removeFromProfile(const TokenId& token) = 0;

  bool noFlawedTokensForInst(const InstantId& inst) const;

  // The token pairs found so far for one token's ordering choices.
  struct TokenOrders {
    std::multimap<TokenId, TokenId> pairs;
    unsigned int count;
    unsigned int limit;
    TemporalAdvisorId temporalAdvisor;
    bool full() const { return count >= limit; }
  };
  // Takes the pair when the object does not order it yet and the network still allows it.
  void attemptTokenOrder(TokenOrders& found, const TokenId& predecessorToken, const TokenId& successorToken);
  // The token orders at one flawed instant, within found's limit.
  void tokenOrdersAt(const std::map<int, InstantId>::const_iterator& flawed, TokenOrders& found);
  // The tokens that may be under way at time, each once.
  void tokensUnderWay(int time, std::vector<TokenId>& partners) const;
  void recordReported(const InstantId& inst, ResourceProblem::Type problem, const ConstrainedVariableId& emptied);

  double m_initCapacityLb;
  double m_initCapacityUb;
  double m_lowerLimit;
  double m_upperLimit;
  double m_maxInstProduction;
  double m_maxInstConsumption;
  double m_maxProduction;
  double m_maxConsumption;

  // For each token whose constraint this resource marked violated, the
  // instants at which it is violated: a mark is withdrawn only when the last
  // of them clears, not when any one instant of the token does.
  std::map<TokenId, std::set<InstantId>> m_violatedTokens;
  // The quantity variable emptied for the last violation reported while
  // violations are not allowed.
  ConstrainedVariableId m_emptiedQuantity;

  ReportedViolation m_reported;

  // The distance from one transaction's time to another's that getOrderingChoices asked last,
  // while it examines that couple: it answers transConstrainedToPrecede in either direction.
  struct KnownDistance {
    TransactionId from, to;
    double lb = 0, ub = 0;
  };
  KnownDistance m_knownDistance;
  // Forgets that distance when a look-up ends: it must not outlive the enumeration that read it.
  struct ForgetKnownDistance {
    KnownDistance& known;
    ~ForgetKnownDistance() { known = KnownDistance(); }
  };

  // A transaction of the resource as getOrderingChoices' walk sees it: its window, its point
  // (-1 for none), whether it is at the instant, and what the sides want of it (or both).
  struct ChoiceCandidate {
    TransactionId t;
    ConstrainedVariableId time;
    const AbstractDomain* domain;
    double lb, ub;
    bool interval;
    int node;
    bool atInstant;
    bool precede, follow;
  };
  // A couple whose distance waits for a row: p at node pNode, candidates[c], and the directions
  // wanted.
  struct ChoiceCouple {
    TransactionId p;
    int pNode;
    std::size_t c;
    bool forward, backward;
  };
  // getOrderingChoices' walk over the candidates whose windows meet each transaction of the
  // instant, with the distances from that transaction's row of the temporal network.
  template <class Attempt>
  void orderingChoicesFromRows(const std::set<TransactionId>& transactions, unsigned int limit,
                               unsigned int& count, Attempt& attempt, ChoiceSides* sides);
  // The resource's transactions as that walk reads them once, in handle order (candidates),
  // and for each transaction of the instant its candidate or -1 (atCandidate).
  void readChoiceCandidates(const std::set<TransactionId>& transactions, TemporalPropagator* temporal, bool rows,
                            ChoiceSides* sides, std::vector<ChoiceCandidate>& candidates,
                            std::vector<int>& atCandidate);
  // The couples kept waiting for their rows, tried with the distances from the fewest rows.
  template <class Attempt>
  void attemptWaiting(TemporalPropagator& temporal, const std::vector<ChoiceCandidate>& candidates,
                      const std::vector<ChoiceCouple>& waiting, unsigned int limit, unsigned int& count,
                      Attempt& attempt);
  // The cover that reads the fewest rows for the waiting couples, and the couples in the order
  // of the rows they read under it (bySource).
  static int rowsByFewest(const std::vector<ChoiceCandidate>& candidates, const std::vector<ChoiceCouple>& waiting,
                          std::vector<std::size_t>& bySource);
  // The end of a couple whose row gives its distance under a cover: the ends at the instant (0);
  // the ends that may precede (1); those that may follow (2). A couple wanted both ways is
  // covered by its end at the instant in all three.
  static int coverEnd(const std::vector<ChoiceCandidate>& candidates, int cover, const ChoiceCouple& k);
  // The pairs the walk takes at inst (those sides wants, if given), sorted.
  void takeOrderingChoices(const InstantId& inst, unsigned int limit, ChoiceSides* sides,
                           std::vector<std::pair<TransactionId, TransactionId>>& pairs);
  // The checks and the propagation before choices are looked for at inst: false when there are
  // none to look for.
  bool orderingChoicesWanted(const InstantId& inst, std::vector<std::pair<TransactionId, TransactionId>>& results,
                             unsigned int limit);
};

}
}

#endif
