#ifndef KORVAN_MIRT_FVDETECTOR_HH
#define KORVAN_MIRT_FVDETECTOR_HH

#include "Utils/base/Factory.hh"
#include "Utils/base/Id.hh"
#include "Utils/base/LabelStr.hh"
#include "Resource/base/Limits.hh"
#include "Resource/base/MIRT_Instant.hh"
#include "Resource/base/MIRT_ResourceProblem.hh"

namespace KORVAN {
namespace MIRT {

class Resource;
class Profile;
class FVDetector;
typedef Id<FVDetector> FVDetectorId;

// Judges the level bounds of each recomputed instant against a resource's
// limits and reports violations and flaws through the resource. Reports are
// dropped in silence once the resource handle is no longer valid, so a
// detector may outlive its resource.
class FVDetector : public FactoryObj {
public:
  FVDetector(Id<Resource> res);
  virtual ~FVDetector();

  // Start of a recomputation at inst, or at the profile's first instant; the
  // walk judges no instant after getWalkEnd().
  virtual void initialize(InstantId inst);
  virtual void initialize();
  // True ends the recomputation walk at inst.
  virtual bool detect(InstantId inst) = 0;

  Id<FVDetector>& getId() { return m_id; }
  const Id<Resource>& getResource() const { return m_res; }
  int getWalkEnd() const { return m_walkEnd; }
  // What every level of the resource is summed from before any change: its initial level.
  static Rounding levelRounding(const Resource& res);
  // What a profile's levels and totals are summed from: the initial level and every quantity at
  // its larger bound.
  static Rounding roundingOf(const Id<Profile>& profile);
  // The same for one instant's, read from its totals: the initial level and the most produced
  // and consumed up to it, as many terms as changes may have happened by then.
  static Rounding roundingAt(const InstantId& inst);
  // The instant's level with what a total limit still allows added to it.
  static Rounding roundingWith(const InstantId& inst, double total);
  // What a rate or a total of one side is summed from at the instant: at most that side's changes
  // by then, all of one sign, so that the sum is its own magnitude.
  static Rounding sumRounding(const InstantId& inst, bool consumer);
  static bool hasResource(const Id<Profile>& profile);

protected:
  friend class Profile;

  void notifyOfViolation(InstantId inst, ResourceProblem::Type problem);
  void notifyNoLongerViolated(InstantId inst);
  void notifyOfFlaw(InstantId inst);
  void notifyNoLongerFlawed(InstantId inst);
  // Virtual so that a detector may follow the instants its profile deletes.
  virtual void notifyDeleted(InstantId inst);
  // Whether the resource's constraint engine tolerates violations; false
  // when there is no live resource.
  bool allowViolations() const;
  // A value of the instant beyond a limit by more than rounding.
  static bool above(const InstantId& inst, double value, double limit) {
    return value > limit && aboveLimit(value, limit, roundingAt(inst));
  }
  static bool below(const InstantId& inst, double value, double limit) {
    return value < limit && belowLimit(value, limit, roundingAt(inst));
  }
  // A rate or a total of the consumers' (or producers') side beyond its limit.
  static bool exceeds(const InstantId& inst, double value, double limit, bool consumer) {
    return value > limit && aboveLimit(value, limit, sumRounding(inst, consumer));
  }
  // A level with what the total limit `total` still allows added to it, beyond a level limit.
  static bool aboveWith(const InstantId& inst, double value, double limit, double total) {
    return value > limit && aboveLimit(value, limit, roundingWith(inst, total));
  }
  static bool belowWith(const InstantId& inst, double value, double limit, double total) {
    return value < limit && belowLimit(value, limit, roundingWith(inst, total));
  }

private:
  FVDetector(const FVDetector&) = delete;
  FVDetector& operator=(const FVDetector&) = delete;


  Id<FVDetector> m_id;
  Id<Resource> m_res;
  int m_walkEnd;  // set by the profile before each walk
};

// FVDetector::roundingAt.
Rounding roundingAt(const InstantId& inst);

// What a resource hands "FVDetectorFactoryMgr" to make its detector. Keeps a
// copy of the handle, so the record may outlive the handle it was built from.
class FVDetectorArgs : public FactoryArgs {
public:
  FVDetectorArgs(const Id<Resource>& r) : resource(r) {}
  virtual ~FVDetectorArgs() {}

  const Id<Resource> resource;
};

template <class T>
class FVDetectorFactory : public Factory {
public:
  FVDetectorFactory(const LabelStr& name) : Factory(name) {}
  virtual ~FVDetectorFactory() {}

  // The caller owns the new detector.
  Id<FactoryObj> createInstance(const FactoryArgs& fa) override {
    const FVDetectorArgs& args = static_cast<const FVDetectorArgs&>(fa);
    Id<Resource> resource = args.resource;
    T* detector = new T(resource);
    return Id<FactoryObj>(detector->getId());
  }
};

}
}

#endif
