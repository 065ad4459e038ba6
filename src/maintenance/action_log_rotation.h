#pragma once
// Retention of the control panel's action log: the actions (`log_actions`, one row per
// action with its `date`) and their components (`log_components`, by `action_id`) are
// kept within the rule the control panel configured in its `misc` settings:
//
//   "actionlog_rot_type"         "forever", "by_period" or "by_number"; anything else
//                                (or a failure reading it) means no rotation
//   "actionlog_rot_period"       "day", "week" or "month"        (by_period)
//   "actionlog_rot_num_periods"  how many periods to keep          (by_period)
//   "actionlog_rot_num_records"  how many recent actions to keep   (by_number; 0: all)

class CDRDatabase;

// Deletes the actions (and their components first) that the rule lets go, on `database`
// (the process-wide one when omitted). Statement failures propagate; the caller owns the
// transaction. On MySQL "by_number" keeps the actions dated from the N-th most recent on,
// on the other engines those from the (N + 1)-th on.
void rotateActionLog(CDRDatabase& database);
void rotateActionLog();
