#include "support/isolated_run.h"

#include <fstream>

#include "support/temporary_folder.h"

namespace testsupport {

namespace {

// The script that runs inside the namespaces: $1 hosts file, $2 folder of the
// replies, $3 fake_cachemgr, then the fake's own options up to "--", then
// reqwatch and its arguments.
constexpr const char* script = R"(set -e
hosts=$1; folder=$2; fake=$3; shift 3
server_options=""
while [ "$1" != "--" ]; do server_options="$server_options $1"; shift; done
shift
mount --bind "$hosts" /etc/hosts
ip link set lo up
replies=""
for reply in "$folder"/reply-*; do replies="$replies --reply $reply"; done
"$fake" --port 0 --port-file "$folder/port" $replies $server_options >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null || true' EXIT
for i in $(seq 200); do [ -s "$folder/port" ] && break; sleep 0.01; done
port=$(cat "$folder/port")
program=$1; shift
set +e
"$program" -h 127.0.0.1 -p "$port" "$@"
exit $?
)";

}  // namespace

bool isolationAvailable() {
    return !findProgram("unshare").empty() && !findProgram("ip").empty();
}

RunResult runIsolated(const IsolatedRun& run, const std::vector<std::string>& arguments) {
    TemporaryFolder folder;
    const std::string hosts = folder.writeFile("hosts", run.hostsFile);
    const std::string scriptPath = folder.writeFile("run.sh", script);
    for (std::size_t i = 0; i < run.replies.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "reply-%03zu", i);
        folder.writeFile(name, run.replies[i]);
    }
    std::vector<std::string> argv{
        "unshare", "-mn", "sh", scriptPath, hosts, folder.path(), FAKE_CACHEMGR_BINARY};
    argv.insert(argv.end(), run.serverArguments.begin(), run.serverArguments.end());
    argv.push_back("--");
    argv.push_back(REQWATCH_BINARY);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runCommand(argv, run.environment);
}

}  // namespace testsupport
