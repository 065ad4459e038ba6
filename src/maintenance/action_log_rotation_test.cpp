// Retention of the action log over every engine: which actions (and their components) each
// rule lets go.
#include "maintenance/action_log_rotation.h"

#include <gtest/gtest.h>

#include "maintenance/maintenance_test_database.h"
#include "platform/dates/vdatetime.h"

using namespace testing_support;
using maintenance_test::MaintenanceDatabase;

namespace {

template <class Engine>
class ActionLogRotation : public MaintenanceDatabase<Engine> {
 protected:
  // Action `id` dated `date` ("YYYY-MM-DD hh:mm:ss"), with two components.
  void action(int id, const std::wstring& date) {
    const std::wstring n = std::to_wstring(id);
    this->provider().setIdentityInsert(L"log_actions");
    this->run(L"INSERT INTO log_actions (id, `date`, action_name) VALUES (" + n + L", '" + date + L"', 'act')");
    this->provider().setIdentityInsert(L"");
    for (const wchar_t* component : {L"a", L"b"})
      this->run(L"INSERT INTO log_components (action_id, component) VALUES (" + n + L", '" + component + L"')");
  }
  // `count` actions 1..count, action i on 2024-01-i at 10:00, so the oldest has id 1.
  void actionsOnDistinctDays(int count) {
    for (int i = 1; i <= count; ++i) action(i, VDateTime(2024, 1, i).toSqlDateText() + L" 10:00:00");
  }
  // "ids of the actions left / number of components left"
  std::wstring left() {
    std::wstring ids;
    for (const std::wstring& id : this->rows(L"SELECT id FROM log_actions ORDER BY id")) ids += id + L",";
    return ids + L"/" + this->rows(L"SELECT count(*) FROM log_components").front();
  }
  void settings(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> values) {
    for (const auto& [name, value] : values) this->db().setMiscParam(name, value);
  }
};

TYPED_TEST_SUITE(ActionLogRotation, ProviderTestEngines, ProviderTestEngineNames);

TYPED_TEST(ActionLogRotation, ByNumberKeepsTheMostRecentActionsDifferentlyOnMySQL) {
  const bool mysql = this->isMySQL();
  const struct {
    int actions;
    const wchar_t* type;
    const wchar_t* keep;
    std::wstring leftOnMySQL;
    std::wstring leftElsewhere;
  } cases[] = {
      {12, L"by_number", L"0", L"1,2,3,4,5,6,7,8,9,10,11,12,/24", L"1,2,3,4,5,6,7,8,9,10,11,12,/24"},
      {10, L"by_number", L"10", L"1,2,3,4,5,6,7,8,9,10,/20", L"1,2,3,4,5,6,7,8,9,10,/20"},
      // MySQL cuts at the N-th most recent action, the others at the (N + 1)-th.
      {12, L"by_number", L"10", L"3,4,5,6,7,8,9,10,11,12,/20", L"2,3,4,5,6,7,8,9,10,11,12,/22"},
      {3, L"by_number", L"1", L"3,/2", L"2,3,/4"},
      {3, L"by_number", L"-1", L"1,2,3,/6", L"1,2,3,/6"},  // the largest number: all are kept
      {3, L"forever", L"1", L"1,2,3,/6", L"1,2,3,/6"},
      {3, L"By_Number", L"1", L"1,2,3,/6", L"1,2,3,/6"},  // the type compares exactly
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text::toUtf8(std::wstring(c.type) + L" " + c.keep + L" of " + std::to_wstring(c.actions)));
    this->run(L"DELETE FROM log_components");
    this->run(L"DELETE FROM log_actions");
    this->actionsOnDistinctDays(c.actions);
    this->settings({{L"actionlog_rot_type", c.type}, {L"actionlog_rot_num_records", c.keep}});
    rotateActionLog(this->db());
    EXPECT_EQ(this->left(), mysql ? c.leftOnMySQL : c.leftElsewhere);
  }
}

TYPED_TEST(ActionLogRotation, ByPeriodDeletesWhatIsOlderThanThePeriods) {
  const VDateTime now = VDateTime::nowLocal();
  auto daysAgo = [&](int days) { return (now - days * 86400).toSqlDateText() + L" 12:00:00"; };
  const struct {
    const wchar_t* unit;
    const wchar_t* count;
    std::wstring left;
  } cases[] = {
      {L"day", L"5", L"1,2,/4"},   // 1 and 3 days old stay
      {L"week", L"2", L"1,2,3,/6"},  // 10 days old stays, 20 and 40 go
      {L"month", L"1", L"1,2,3,4,/8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text::toUtf8(std::wstring(c.unit) + L" " + c.count));
    this->run(L"DELETE FROM log_components");
    this->run(L"DELETE FROM log_actions");
    int id = 0;
    for (int days : {1, 3, 10, 20, 40}) this->action(++id, daysAgo(days));
    this->settings({{L"actionlog_rot_type", L"by_period"},
                    {L"actionlog_rot_period", c.unit},
                    {L"actionlog_rot_num_periods", c.count}});
    rotateActionLog(this->db());
    EXPECT_EQ(this->left(), c.left);
  }
}

TYPED_TEST(ActionLogRotation, OldMySQLServersDeleteComponentsActionByAction) {
  this->provider().reportedVersion = L"3.23.58-log";
  this->actionsOnDistinctDays(4);
  this->settings({{L"actionlog_rot_type", L"by_number"}, {L"actionlog_rot_num_records", L"2"}});
  rotateActionLog(this->db());
  if (this->isMySQL()) {
    EXPECT_EQ(this->left(), L"3,4,/4");
    int perAction = 0;
    for (const std::wstring& sql : this->provider().statements)
      perAction += sql.rfind(L"DELETE FROM log_components WHERE action_id = ", 0) == 0;
    EXPECT_EQ(perAction, 2);
  } else {
    EXPECT_EQ(this->left(), L"2,3,4,/6");  // the version decides only on MySQL
  }
}

TYPED_TEST(ActionLogRotation, AFailingStatementPropagates) {
  this->actionsOnDistinctDays(3);
  this->settings({{L"actionlog_rot_type", L"by_number"}, {L"actionlog_rot_num_records", L"1"}});
  this->provider().failWhenContains = L"DELETE FROM log_actions";
  EXPECT_THROW(rotateActionLog(this->db()), vexception);
}

}  // namespace
