#include "admin/names.h"

#include "admin/admin_error.h"
#include "platform/paths.h"

namespace veltrane::admin {
namespace {

void CheckCommon(std::string_view name, const std::string& what) {
  if (name.empty()) DataError(what + " is empty");
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte == 127)
      DataError(what + " " + Quoted(name) + " holds a control character");
  }
  if (name.front() == ' ' || name.back() == ' ')
    DataError(what + " " + Quoted(name) + " starts or ends with a blank");
}

}  // namespace

void CheckReleaseName(std::string_view name) { CheckCommon(name, "release name"); }

void CheckSiteName(std::string_view name) {
  CheckCommon(name, "site name");
  if (name.find('=') != std::string_view::npos)
    DataError("site name " + Quoted(name) + " holds '=', which per-site categories cannot key");
  if (name.find(',') != std::string_view::npos)
    DataError("site name " + Quoted(name) + " holds ',', which site lists cannot carry");
}

std::string ShotSiteName(std::string_view site) { return FileNameSafe(site); }

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

}  // namespace veltrane::admin
