// A program that logs through libhidlink: "log_writer ID COUNT [MAX_SIZE]"
// writes COUNT error lines "w=ID seq=N xxx... end" to the driver's log (the
// file HIDLINK_LOG_FILE names), rotating past MAX_SIZE bytes when given,
// else by the driver's own limit. Started twice at once by
// log_processes_test: each copy loads the library, and so its semaphore,
// itself.
#include <cstdlib>
#include <string>

#include "hidlink.h"

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    const int id = atoi(argv[1]);
    const int count = atoi(argv[2]);
    if (argc > 3) {
        const char *name = getenv("HIDLINK_LOG_FILE");
        if (!name)
            return 2;
        ElogFileCfg cfg = {const_cast<char *>(name), static_cast<size_t>(atol(argv[3])), 5};
        elog_file_config(&cfg);
    }
    for (int n = 0; n < count; n++) {
        std::string pad((n * 37 + id * 11) % 300 + 20, 'x');
        elog_output(ELOG_LVL_ERROR, "proc", "f", "fn", 1, "w=%d seq=%d %s end", id, n, pad.c_str());
    }
    return 0;
}
