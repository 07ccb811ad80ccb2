// Copies of the account configuration, saved to and loaded from a file the
// administrator picks ("Сохранить конфигурацию", "Загрузить конфигурацию").
//
// A copy holds, for every stored user, its record, filters, e-mails and
// address list, and for every group its record, filters and address list.
// Nothing of "System", subscriptions, port mappings or relays goes into it.
//
// Threads: main thread. Both take the accounts lock while they touch records;
// the caller must not hold it.
#pragma once

#include <string>

namespace brindlex {

// Writes the copy into `path` (keys already in that file are replaced, others
// kept). Returns false when the file could not be written.
bool SaveAccountsCopy(const std::string& path);

// Re-reads every stored user and every group from the copy at `path`, in
// place. Users and groups the copy lacks stay unchanged; those only the copy
// has are not added. Brindlex.ini is not changed (except that old filter
// lists left in it are converted, as at start-up).
void LoadAccountsCopy(const std::string& path);

}  // namespace brindlex
