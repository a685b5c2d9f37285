// Moved: the job state is plain data below the folders that use it.
#pragma once

#include "model/job_state.h"
