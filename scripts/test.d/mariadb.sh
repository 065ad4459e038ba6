# Sourced by scripts/test: a private MariaDB server for the database tests, stopped when
# the test run ends, also on failure. Exports the CADRO_TEST_MYSQL_* connection facts.
# On a memory file system when there is one: every test creates and drops tables.
mariadb_test_parent=${TMPDIR:-/tmp}
if [ -d /dev/shm ] && [ -w /dev/shm ]; then mariadb_test_parent=/dev/shm; fi
mariadb_test_dir=$(mktemp -d "$mariadb_test_parent/cadro-mariadb.XXXXXX")
mariadb_test_stop() { "$top/scripts/mariadb-private" stop "$mariadb_test_dir"; }
cleanup_hooks+=(mariadb_test_stop)
echo "== private MariaDB server in $mariadb_test_dir"
"$top/scripts/mariadb-private" start "$mariadb_test_dir" >/dev/null
# shellcheck source=/dev/null
. "$mariadb_test_dir/env"
