// The messages between a view and the request guard in its web process: the
// names, and the guard as a GLib variant. A guard is the rules of one page
// ("(ba(sbbi))": active, then host, subdomains, secure only, port); the
// initialisation data of a web process holds the guards of the pages that
// were guarded when it started ("a{t(ba(sbbi))}", keyed by page id). Any
// process; header only, so the module links nothing of the control.
#pragma once

#include <glib.h>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "browser/request_rules.h"

namespace veltrane {

inline constexpr char kGuardMessage[] = "veltrane-guard";
inline constexpr char kRefusedMessage[] = "veltrane-refused";

// A floating variant of `rules`; none ends the guard.
inline GVariant* GuardToVariant(const std::optional<std::vector<OriginRule>>& rules) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a(sbbi)"));
  if (rules)
    for (const OriginRule& rule : *rules)
      g_variant_builder_add(&builder, "(sbbi)", rule.host.c_str(), rule.subdomains, rule.secureOnly,
                            rule.port);
  return g_variant_new("(ba(sbbi))", rules.has_value(), &builder);
}

inline std::optional<std::vector<OriginRule>> GuardFromVariant(GVariant* variant) {
  if (!variant || !g_variant_is_of_type(variant, G_VARIANT_TYPE("(ba(sbbi))"))) return std::nullopt;
  gboolean active = FALSE;
  g_autoptr(GVariantIter) iter = nullptr;
  g_variant_get(variant, "(ba(sbbi))", &active, &iter);
  if (!active) return std::nullopt;
  std::vector<OriginRule> rules;
  const char* host = nullptr;
  gboolean subdomains = FALSE;
  gboolean secureOnly = FALSE;
  gint32 port = -1;
  while (g_variant_iter_next(iter, "(&sbbi)", &host, &subdomains, &secureOnly, &port))
    rules.push_back(OriginRule{host, subdomains != FALSE, secureOnly != FALSE, port});
  return rules;
}

inline GVariant* GuardsToVariant(const std::map<std::uint64_t, std::vector<OriginRule>>& guards) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a{t(ba(sbbi))}"));
  for (const auto& [page, rules] : guards)
    g_variant_builder_add(&builder, "{t@(ba(sbbi))}", static_cast<guint64>(page),
                          GuardToVariant(rules));
  return g_variant_builder_end(&builder);
}

inline std::map<std::uint64_t, std::vector<OriginRule>> GuardsFromVariant(GVariant* variant) {
  std::map<std::uint64_t, std::vector<OriginRule>> guards;
  if (!variant || !g_variant_is_of_type(variant, G_VARIANT_TYPE("a{t(ba(sbbi))}"))) return guards;
  GVariantIter iter;
  g_variant_iter_init(&iter, variant);
  guint64 page = 0;
  GVariant* guard = nullptr;
  while (g_variant_iter_next(&iter, "{t@(ba(sbbi))}", &page, &guard)) {
    if (auto rules = GuardFromVariant(guard)) guards[page] = std::move(*rules);
    g_variant_unref(guard);
  }
  return guards;
}

}  // namespace veltrane
