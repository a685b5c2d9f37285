#include "admin/admin_error.h"
#include "admin/commands.h"

namespace veltrane::admin {
void RunSiteAdd(AdminContext&, Arguments) { Failure("not built yet"); }
void RunSiteUpdate(AdminContext&, Arguments) { Failure("not built yet"); }
void RunSiteList(AdminContext&, Arguments) { Failure("not built yet"); }
void RunSiteShow(AdminContext&, Arguments) { Failure("not built yet"); }
void RunSiteCheck(AdminContext&, Arguments) { Failure("not built yet"); }
void RunAccountSet(AdminContext&, Arguments) { Failure("not built yet"); }
void RunScheduleAdd(AdminContext&, Arguments) { Failure("not built yet"); }
void RunScheduleList(AdminContext&, Arguments) { Failure("not built yet"); }
void RunScheduleRunNow(AdminContext&, Arguments) { Failure("not built yet"); }
void RunHistoryList(AdminContext&, Arguments) { Failure("not built yet"); }
void RunHistoryShow(AdminContext&, Arguments) { Failure("not built yet"); }
}  // namespace veltrane::admin
