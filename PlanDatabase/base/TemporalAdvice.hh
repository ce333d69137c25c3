#ifndef KORVAN_PLANDATABASE_TEMPORALADVICE_HH
#define KORVAN_PLANDATABASE_TEMPORALADVICE_HH

#include "PlanDatabase/base/PlanDatabaseDefs.hh"

namespace KORVAN {

/// Whether the predecessor's end may still lie at or before the successor's start, as the plan
/// database's temporal network sees it. The temporal advisor knows time variables only; this
/// is its answer for tokens.
bool canPrecede(const PlanDatabaseId& planDatabase, const TokenId& predecessor,
                const TokenId& successor);

} // namespace KORVAN

#endif
