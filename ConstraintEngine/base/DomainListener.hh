#ifndef KORVAN_CE_DOMAINLISTENER_HH
#define KORVAN_CE_DOMAINLISTENER_HH

#include <string>

namespace KORVAN {

/// Told of every change of the domain it is attached to. A variable attaches one to its derived
/// domain and forwards each change to its constraint engine.
class DomainListener {
public:
  /// The kinds of change; the numbering is fixed (other components switch on the values).
  enum ChangeType {
    UPPER_BOUND_DECREASED = 0,
    LOWER_BOUND_INCREASED = 1,
    BOUNDS_RESTRICTED = 2,
    VALUE_REMOVED = 3,
    RESTRICT_TO_SINGLETON = 4,
    SET_TO_SINGLETON = 5,
    RESET = 6,
    RELAXED = 7,
    CLOSED = 8,
    OPENED = 9,
    EMPTIED = 10,
    LAST_CHANGE_TYPE = 11
  };

  virtual ~DomainListener() {}
  virtual void notifyChange(const ChangeType& changeType) = 0;

  /// The enumerator's name, "UPPER_BOUND_DECREASED" and so on.
  static std::string toString(const ChangeType& changeType);
  /// True for the kinds that narrow the domain (0 to 5 and EMPTIED).
  static bool isRestriction(const ChangeType& changeType);
  /// True for RESET and RELAXED.
  static bool isRelaxation(const ChangeType& changeType) {
    return changeType == RESET || changeType == RELAXED;
  }
};

} // namespace KORVAN

#endif
