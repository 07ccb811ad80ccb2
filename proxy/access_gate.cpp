#include "proxy/access_gate.h"

#include "proxy/connection.h"

namespace brindlex {

// Identification is not built yet: every connection stays unattributed.
const UserRecord* IdentifyConnection(ConnectionRecord&) { return nullptr; }

const UserRecord* ConnectionUser(const ConnectionRecord&) { return nullptr; }

// Without identified users there is no rule to apply.
bool CheckAccess(ConnectionRecord&, bool, std::int64_t) { return true; }

}  // namespace brindlex
