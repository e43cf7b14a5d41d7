// Linked into every program of the AddressSanitizer build.
//
// A terminated worker thread (pthread_cancel) unwinds through frames that never ran their
// epilogues, so their stack redzones stay poisoned; the next landing pad then trips ASan's own
// stack check. With frames on the fake stack the real stack carries no redzones and termination
// unwinds cleanly.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
  return "detect_stack_use_after_return=1";
}
