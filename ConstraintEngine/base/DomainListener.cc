#include "ConstraintEngine/base/DomainListener.hh"

namespace KORVAN {

std::string DomainListener::toString(const ChangeType& changeType) {
  static const char* sl_names[] = {"UPPER_BOUND_DECREASED", "LOWER_BOUND_INCREASED",
                                   "BOUNDS_RESTRICTED",     "VALUE_REMOVED",
                                   "RESTRICT_TO_SINGLETON", "SET_TO_SINGLETON",
                                   "RESET",                 "RELAXED",
                                   "CLOSED",                "OPENED",
                                   "EMPTIED"};
  if (changeType < 0 || changeType >= LAST_CHANGE_TYPE)
    return "UNKNOWN_CHANGE";
  return sl_names[changeType];
}

bool DomainListener::isRestriction(const ChangeType& changeType) {
  return changeType <= SET_TO_SINGLETON || changeType == EMPTIED;
}

} // namespace KORVAN
