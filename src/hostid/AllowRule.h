#pragma once
// Whether a manifest entry limited to particular machines applies to this one.

#include <string>

#include "hostid/NetX.h"

namespace tandor {

// Both lists empty: true; both set: false. Only `allowList` set: true when any of the machine's
// MAC addresses occurs in it; only `blockList` set: false when any occurs in it. An address
// occurs when its whole text is found anywhere in the list, without regard to case.
bool Allow(const std::string& allowList, const std::string& blockList,
           const AdapterSource& source = ListSystemAdapters);

}  // namespace tandor
