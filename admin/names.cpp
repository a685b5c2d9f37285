#include "admin/names.h"

#include "admin/admin_error.h"

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

std::string ShotSiteName(std::string_view site) {
  std::string safe(site);
  for (char& c : safe) {
    const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '_' || c == '-';
    if (!kept) c = '_';
  }
  return safe;
}

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

}  // namespace veltrane::admin
