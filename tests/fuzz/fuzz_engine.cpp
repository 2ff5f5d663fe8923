// Arbitrary input text through the check run: the line walk, the wildcard
// split and expansion, and the per-address step, with the blacklist exchange
// in memory and a small database. The worker runs as in the program; message
// boxes (the refusal of a large range) are pressed by a stand-in user.
#include <winsock2.h>
#include <windows.h>
#include <compat_seams.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "engine/check_run.h"
#include "memory_network.h"
#include "qqwry_builder.h"
#include "run_state.h"
#include "user_stand_in.h"

namespace {

// Longer texts only repeat what shorter ones reach, at a higher cost.
const size_t kLongestText = 200;

void Check(bool ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "fuzz_engine: %s\n", what);
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    static char dir[] = "/tmp/qv-fuzz-engine-XXXXXX";
    Check(mkdtemp(dir) != nullptr, "no temporary directory");
    Check(chdir(dir) == 0, "cannot enter the temporary directory");
    QqwryBuilder db;
    db.Add(Ip(0, 0, 0, 0), Ip(127, 255, 255, 255), "中国", "北京");
    db.Add(Ip(128, 0, 0, 0), Ip(255, 255, 255, 255), "美国", "", CountryForm::Mode1Then2,
           AreaForm::Unknown);
    db.Write();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static AutoDismisser *user = new AutoDismisser();
    (void)user;
    MemoryNetwork net;
    if (size > kLongestText) size = kLongestText;
    CompatResourceCounts before = CompatGetResourceCounts();

    char *copy = static_cast<char *>(GlobalAlloc(GMEM_ZEROINIT, size + 2));
    memcpy(copy, data, size);
    Run.inputCopy = copy;
    HANDLE worker = CreateThread(nullptr, 0, CheckWorker, nullptr, 0, nullptr);
    Check(worker != nullptr, "no worker");
    Check(WaitForSingleObject(worker, INFINITE) == WAIT_OBJECT_0, "worker did not end");
    DWORD code = 0;
    GetExitCodeThread(worker, &code);
    CloseHandle(worker);
    // A worker that returned holds no list; one that ended itself may hold
    // one only when the failure rule ended it, which cannot happen here.
    Check(Run.wildcardList == nullptr, "a wildcard list was left behind");
    Check(code == 0 || code == STILL_ACTIVE, "unexpected exit code");
    Run.inputCopy = nullptr;
    GlobalFree(copy);

    CompatResourceCounts after = CompatGetResourceCounts();
    Check(after.global_blocks == before.global_blocks, "global memory leaked");
    Check(after.sockets == before.sockets, "sockets leaked");
    Check(after.threads == before.threads, "threads left running");
    return 0;
}
