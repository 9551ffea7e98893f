// Loaded into quorvane-release by the release tool test (LD_PRELOAD): every
// regular file the tool flushes gains a byte afterwards, as a failing disk may
// change a file after it was written, so that the test sees the read-back
// refuse it. The tool itself carries no such switch.

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" int fsync(int descriptor) {
    using Fsync = int (*)(int);
    static const auto real = reinterpret_cast<Fsync>(dlsym(RTLD_NEXT, "fsync"));
    const int result = real(descriptor);
    struct stat status = {};
    if (fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) && write(descriptor, " ", 1) != 1) return -1;
    return result;
}
