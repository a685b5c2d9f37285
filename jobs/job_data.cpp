#include "jobs/job_data.h"

#include "jobs/report.h"
#include "platform/text_lists.h"
#include "storage/cppsqlite3.h"
#include "storage/database_files.h"

namespace veltrane {
namespace {

// The whole text of a column by name, NUL bytes included; NULL reads as "".
// A missing column throws.
std::string Text(CppSQLite3Query& query, const char* column) { return query.BytesOf(column); }

std::string ReplaceLineFeeds(const std::string& text) {
  std::string html;
  html.reserve(text.size());
  for (const char c : text) {
    if (c == '\n')
      html += "<BR>";
    else
      html += c;
  }
  return html;
}

}  // namespace

DatabasePaths ProgramDatabasePaths() { return {MainDatabasePath(), SubscriptionDatabasePath()}; }

std::string DatabaseErrorText(const std::string& statement, int code, const std::string& message) {
  return statement + "\r\n" + std::to_string(code) + " : " + message;
}

void JobDataLoader::ReportError(const std::string& statement, int code, const char* message,
                                bool show) {
  const std::string text = DatabaseErrorText(statement, code, message ? message : "");
  if (show) messageBox_.ShowMessage(text);
  trace_.TraceLine(text);
}

bool JobDataLoader::LoadSchedule(JobState& state, ScheduleId scheduleId) {
  const std::string statement =
      "SELECT name,subscription FROM schedule WHERE id = " + std::to_string(scheduleId);
  try {
    CppSQLite3DB db;
    db.Open(paths_.main.c_str());
    CppSQLite3Query query = db.RunQuery(statement.c_str());
    if (query.AtEnd()) return false;
    state.PressReleaseName = Text(query, "name");
    state.PendingSites.clear();
    state.PendingSites = SplitLines(Text(query, "subscription"));
    return true;
  } catch (const CppSQLite3Exception& error) {
    ReportError(statement, error.Code(), error.Message(), false);
    return false;
  }
}

bool JobDataLoader::LoadPressRelease(JobState& state, const std::string& name) {
  const std::string statement = "SELECT * FROM pressrelease WHERE name = '" + QuoteSql(name) + "'";
  try {
    CppSQLite3DB db;
    db.Open(paths_.main.c_str());
    CppSQLite3Query query = db.RunQuery(statement.c_str());
    if (query.AtEnd()) return false;

    // Fields are assigned in the order the columns are listed, so an error part-way keeps
    // exactly the fields read before it.
    const std::vector<std::string> contact = SplitLines(Text(query, "contact_data"));
    state.release.CompanyName = LookupValue(contact, "company_name");
    state.release.ContactPerson = LookupValue(contact, "contact_person");
    state.release.Email = LookupValue(contact, "email");
    state.release.Website = LookupValue(contact, "website");
    state.release.Country = LookupValue(contact, "country");
    state.release.PhoneNumber = LookupValue(contact, "phonenumber");
    state.release.Fax = LookupValue(contact, "fax");
    state.release.StreetAddress = LookupValue(contact, "street_address");
    state.release.City = LookupValue(contact, "city");
    state.release.State = LookupValue(contact, "state");
    state.release.ZipCode = LookupValue(contact, "zipcode");

    state.release.Headline = Text(query, "headline");
    state.release.Summary = Text(query, "summary");
    const std::vector<std::string> keywords = SplitLines(Text(query, "keyword"));
    state.release.Category = Text(query, "category");
    const int today = WholeDate(clock_.Now());
    state.release.ReleaseDate = query.IntOf("release_date", today);

    state.release.NewsBody = Text(query, "news_body");
    state.release.AboutCompany = Text(query, "about_company");
    state.release.ContactDetail = Text(query, "contact_detail");
    state.release.FullText = state.release.Headline + "\r\n\r\n" + state.release.Summary +
                             "\r\n\r\n" + state.release.NewsBody + "\r\n\r\n" +
                             state.release.AboutCompany + "\r\n\r\n" + state.release.ContactDetail +
                             "\r\n\r\n" + "###";
    state.release.SiteCategories = SplitLines(Text(query, "extra_data"));
    state.release.NewsBodyHtml = ReplaceLineFeeds(state.release.NewsBody);

    state.release.KeywordsComma.clear();
    state.release.KeywordsSpace.clear();
    for (std::size_t i = 0; i < keywords.size(); ++i) {
      if (i > 0) {
        state.release.KeywordsComma += ",";
        state.release.KeywordsSpace += " ";
      }
      state.release.KeywordsComma += keywords[i];
      state.release.KeywordsSpace += keywords[i];
    }
    return true;
  } catch (const CppSQLite3Exception& error) {
    ReportError(statement, error.Code(), error.Message(), true);
    return false;
  }
}

SiteLoad JobDataLoader::LoadSite(JobState& state, const std::string& siteName) {
  // Never run a site with the previous site's address, script or login.
  state.site.SiteUrl.clear();
  state.site.SiteScript.clear();
  state.site.login.UserName.clear();
  state.site.login.Password.clear();

  SiteLoad result;
  const std::string quotedName = QuoteSql(siteName);
  const std::string subscriptionStatement =
      "SELECT * FROM subscription WHERE name = '" + quotedName + "'";
  try {
    CppSQLite3DB db;
    db.Open(paths_.subscription.c_str());
    CppSQLite3Query query = db.RunQuery(subscriptionStatement.c_str());
    if (query.AtEnd()) {
      trace_.TraceLine("Cant find info for subscription '" + siteName + "'");
      result.rows = SiteRows::SubscriptionMissing;
      return result;
    }
    state.site.SiteUrl = Text(query, "url");
    state.site.SiteScript = Text(query, "submission_data");
    // Only for the job's trace line; a table without the column reads as "".
    try {
      result.extraData = Text(query, "extra_data");
    } catch (const CppSQLite3Exception&) {
    }
  } catch (const CppSQLite3Exception& error) {
    ReportError(subscriptionStatement, error.Code(), error.Message(), false);
    result.rows = SiteRows::SubscriptionError;
    return result;
  }

  const std::string accountStatement = "SELECT * FROM account WHERE name = '" + quotedName + "'";
  try {
    CppSQLite3DB db;
    db.Open(paths_.main.c_str());
    CppSQLite3Query query = db.RunQuery(accountStatement.c_str());
    if (query.AtEnd()) {
      trace_.TraceLine("Cant find info for subscription '" + siteName + "'");
      result.rows = SiteRows::AccountMissing;
      return result;
    }
    state.site.login.UserName = Text(query, "username");
    state.site.login.Password = Text(query, "password");
  } catch (const CppSQLite3Exception& error) {
    ReportError(accountStatement, error.Code(), error.Message(), true);
    result.rows = SiteRows::AccountError;
    return result;
  }
  result.rows = SiteRows::Loaded;
  return result;
}

}  // namespace veltrane
