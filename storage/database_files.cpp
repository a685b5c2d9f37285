#include "storage/database_files.h"

#include "platform/paths.h"

namespace veltrane {

std::string MainDatabasePath() { return ExecutableDirectory() + kMainDatabaseName; }

std::string SubscriptionDatabasePath() { return ExecutableDirectory() + kSubscriptionDatabaseName; }

}  // namespace veltrane
