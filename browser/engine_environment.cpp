#include "browser/engine_environment.h"

#include <cstdlib>

namespace veltrane {

void PrepareEngineEnvironment() {
  // Page content is painted by the CPU; only the compositing of its tiles uses
  // OpenGL. Without a GPU, painting through OpenGL runs on Mesa's software
  // rasteriser, which takes longer per page and keeps more memory in the web
  // process than painting on the CPU does.
  setenv("WEBKIT_SKIA_ENABLE_CPU_RENDERING", "1", 0);
  // Mesa keeps compiled shaders under the user's cache folder, a page's own
  // WebGL shaders among them; nothing of a page is to outlive the process.
  setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
}

}  // namespace veltrane
