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

// Loading a copy goes through the settings file: every stored user and every
// group of the tables that the copy at `path` has is read from it (record,
// filters, e-mails and address list, as at start-up) and written to the
// settings file in one write. Users and groups the copy lacks keep what the
// file has; those only the copy has are not added. The tables are not
// touched: the caller puts the file in force, so that the copy outlives any
// later reload. Nothing is written unless the outcome is kWritten.
enum class CopyLoad {
  kWritten,
  kUnreadable,     // the copy cannot be read
  kNothingToLoad,  // none of the tables' users and groups is in it
  kNotWritten,     // the settings file could not be written
};
CopyLoad StoreAccountsCopy(const std::string& path);

}  // namespace brindlex
