// For the flush benchmark only, never shipped: preloaded into the native archiver
// (LD_PRELOAD), it makes the flushes it asks for return at once, so one binary is timed with
// and without them.
extern "C" int fsync(int) { return 0; }
extern "C" int fdatasync(int) { return 0; }
