#pragma once
// The secret a worker logs an account in with, fetched in the worker: for
// an OAuth account its access token, refreshed first when near its end.

#include "engine/check_worker.h"

namespace pelorix {

class TRunState;
class TSettingsStore;

// Puts the OAuth account's access token into the entry's password (from
// `store`, refreshed when near its end); returns why there is none, or
// empty. A password account's entry stays as it is.
std::string TakeAccountToken(TSettingsStore* store, TQueueEntry& entry);

// The entry with the account's access token as its password when it signs
// in with OAuth. When no token can be had the cause ("需要重新登录" and the
// fix) goes to the run's secret problems, where the worker's check for
// them finds it; other accounts come back as they are.
TQueueEntry WithAccountSecret(TRunState& state, TQueueEntry entry);

}  // namespace pelorix
