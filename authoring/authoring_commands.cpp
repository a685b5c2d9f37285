#include "authoring/authoring_commands.h"

#include <charconv>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>

#include "authoring/page_inspection.h"
#include "authoring/site_trial.h"
#include "authoring/stream_output.h"
#include "authoring/tool_display.h"
#include "engine/navigation_guards.h"
#include "platform/date_text.h"
#include "platform/paths.h"
#include "platform/stderr_trace.h"
#include "platform/visible_text.h"
#include "storage/stores.h"

namespace veltrane::authoring {
namespace {

[[noreturn]] void Fail(int code, const std::string& message) { throw CommandError(code, message); }

struct ParsedArgs {
  std::vector<std::string> positional;
  std::map<std::string, std::string, std::less<>> values;
  std::vector<std::string> flags;
  bool Flag(std::string_view name) const {
    for (const std::string& flag : flags)
      if (flag == name) return true;
    return false;
  }
  std::optional<std::string> Value(std::string_view name) const {
    const auto found = values.find(name);
    if (found == values.end()) return std::nullopt;
    return found->second;
  }
};

// "--name value", "--name=value" for the value options, "--flag" for the
// flags, "--" ends the options; anything else starting with "--" is wrong.
ParsedArgs Parse(const CommandArguments& args, const std::vector<std::string_view>& valueOptions,
                 const std::vector<std::string_view>& flagOptions, const std::string& command) {
  ParsedArgs parsed;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || !arg.starts_with("--")) {
      parsed.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name =
        arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const auto known = [&name](const std::vector<std::string_view>& names) {
      for (std::string_view known : names)
        if (known == name) return true;
      return false;
    };
    if (known(flagOptions) && equals == std::string::npos) {
      parsed.flags.push_back(name);
    } else if (known(valueOptions)) {
      if (parsed.values.count(name)) Fail(kExitUsage, command + ": --" + name + " given twice");
      if (equals != std::string::npos) {
        parsed.values[name] = arg.substr(equals + 1);
      } else {
        if (i + 1 == args.size()) Fail(kExitUsage, command + ": --" + name + " needs a value");
        parsed.values[name] = args[++i];
      }
    } else {
      Fail(kExitUsage, command + ": unknown option " + arg);
    }
  }
  return parsed;
}

const std::string& OnePositional(const ParsedArgs& parsed, const std::string& what,
                                 const std::string& command) {
  if (parsed.positional.size() != 1)
    Fail(kExitUsage,
         command + ": expected " + what + " (see 'veltrane-admin " + command + " --help')");
  return parsed.positional.front();
}

int Milliseconds(const std::string& text, const std::string& what) {
  int value = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0)
    Fail(kExitUsage, what + " must be a number of milliseconds");
  return value;
}

void RequireDisplay(const ToolDisplay& display) {
  if (!display.Ready()) Fail(kExitFailure, display.Error());
}

// Looks a site or a release up as veltrane-admin does: the data must exist,
// read-only, waiting a while for the service's lock.
template <typename Lookup>
bool Exists(Lookup lookup) {
  try {
    return lookup(SqliteStoreOptions{10000, true});
  } catch (const StorageError& error) {
    const bool refused = error.What() == StorageError::Kind::Busy ||
                         error.What() == StorageError::Kind::Unreachable ||
                         error.What() == StorageError::Kind::Failure;
    Fail(refused ? kExitFailure : kExitData, error.Message());
  }
}

std::string Quoted(const std::string& text) { return "\"" + OneLineText(text) + "\""; }

void PrintTrialSummary(std::ostream& out, const TrialRequest& request, const TrialResult& result) {
  out << "\nsite: " << request.site << "\n";
  if (!result.ended) {
    out << "result: the site had not ended when the trial gave up\n";
  } else if (result.held) {
    out << "result: stopped before sending form #" << result.held->form << "\n";
  } else if (result.record.completed) {
    out << "result: completed\n";
  } else {
    out << "result: failed: " << result.record.reason << "\n";
  }
  const SiteEvidence& evidence = result.record.evidence;
  if (!result.record.lastUrl.empty()) out << "last page: " << result.record.lastUrl << "\n";
  if (evidence.networkError.empty())
    out << "HTTP status: " << evidence.lastStatus << "\n";
  else
    out << "network error: " << evidence.networkError << "\n";
  out << "pages loaded: " << evidence.pages << "\n";
  if (!evidence.successText.empty() && !result.held)
    out << "success text: " << Quoted(evidence.successText)
        << (result.record.completed ? " (found)" : " (looked for)") << "\n";
  if (!evidence.notes.empty()) out << "notes: " << evidence.notes << "\n";
  if (result.recorded)
    out << "recorded: as a trial among the site's outcomes ('veltrane-admin site history "
        << request.site << "')\n";
  out << "pictures: " << request.shotsDirectory << " (" << result.shots.size() << ")\n";
  for (const std::string& shot : result.shots) out << "  " << shot << "\n";
  if (result.held) {
    const HeldPost& held = *result.held;
    out << "would post: " << held.method << " " << held.action << "\n";
    for (const PostField& field : held.fields)
      out << "  " << field.name << " = " << Quoted(field.value) << "\n";
    if (held.button >= 0)
      out << "button: " << Quoted(held.buttonCaption) << " (element " << held.button << ")\n";
    else
      out << "button: none, the form itself is submitted\n";
  }
}

}  // namespace

void RunPageInspect(const CommandIo& io, const CommandArguments& args) {
  const std::string command = "page inspect";
  const ParsedArgs parsed = Parse(args, {"links", "settle"}, {"json"}, command);
  const std::string& address = OnePositional(parsed, "one URL", command);
  if (RefusedScheme(address))
    Fail(kExitUsage, command + ": the service opens http and https addresses only");
  InspectOptions options;
  if (const auto settle = parsed.Value("settle"))
    options.settle = std::chrono::milliseconds(Milliseconds(*settle, "--settle"));

  ToolDisplay display;
  RequireDisplay(display);
  const PageInspection inspection = InspectPage(address, options);
  const std::optional<std::string> pattern = parsed.Value("links");
  io.out << (parsed.Flag("json") ? InspectionJson(inspection, pattern)
                                 : InspectionText(inspection, pattern));
  io.out.flush();
  if (!inspection.networkError.empty())
    Fail(kExitSiteFailed, command + ": " + address + " did not load: " + inspection.networkError);
}

void RunSiteTry(const CommandIo& io, const CommandArguments& args) {
  const std::string command = "site try";
  const ParsedArgs parsed = Parse(args, {"release", "shots"}, {"submit", "no-submit"}, command);
  TrialRequest request;
  request.site = OnePositional(parsed, "one site NAME", command);
  const std::optional<std::string> release = parsed.Value("release");
  if (!release) Fail(kExitUsage, command + ": --release NAME is required");
  request.pressRelease = *release;
  // Held back unless asked otherwise; --no-submit, once needed for that, still says so.
  if (parsed.Flag("submit") && parsed.Flag("no-submit"))
    Fail(kExitUsage, command + ": --submit and --no-submit contradict each other");
  request.holdSubmission = !parsed.Flag("submit");
  request.paths = io.stores;
  // Read once here and let go: the service may be running on the same data.
  if (!Exists([&](SqliteStoreOptions options) {
        return MakeSiteStore(request.paths, options)->Exists(request.site);
      }))
    Fail(kExitData, "unknown site '" + request.site + "'");
  if (!Exists([&](SqliteStoreOptions options) {
        return MakePressReleaseStore(request.paths, options)->Exists(request.pressRelease);
      }))
    Fail(kExitData, "unknown press release '" + request.pressRelease + "'");
  const SystemClock clock;
  request.shotsDirectory = parsed.Value("shots").value_or(
      io.dir + "/tries/" + DateStampText(clock.Now()) + "-" + FileNameSafe(request.site));

  ToolDisplay display;
  RequireDisplay(display);
  StreamTrace trace(io.out, clock);
  StreamMessageBox messages(io.err, "message");
  const TrialResult result = RunSiteTrial(request, trace, messages, clock);
  if (!result.started)
    Fail(kExitData, "press release '" + request.pressRelease + "' could not be loaded");
  // The summary quotes the site's pages: printed with every control escaped.
  std::ostringstream summary;
  PrintTrialSummary(summary, request, result);
  io.out << VisibleText(summary.str());
  io.out.flush();
  if (!result.ended) Fail(kExitFailure, "site '" + request.site + "' did not end");
  // Before the site's own outcome: unrecorded, a later scheduled run would send it again unseen.
  if (!request.holdSubmission && !result.recorded)
    Fail(kExitFailure, "the trial of site '" + request.site +
                           "' was sent but could not be recorded: " + result.recordError);
  if (!result.held && !result.record.completed)
    Fail(kExitSiteFailed, "site '" + request.site + "' failed: " + result.record.reason);
}

}  // namespace veltrane::authoring
