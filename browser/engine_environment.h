// PrepareEngineEnvironment: settings WebKit reads from the environment when it
// starts its processes, chosen for a service that renders pages nobody looks
// at, usually without a GPU. Call it first in main, before GTK starts and
// before any thread exists (setenv is unsafe beside a concurrent getenv). A
// value already set by whoever started the program is kept.
#pragma once

namespace veltrane {

void PrepareEngineEnvironment();

}  // namespace veltrane
