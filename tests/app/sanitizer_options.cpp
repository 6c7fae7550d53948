// Linked into every window test. Qt is not built with ThreadSanitizer, so the
// hand-over of queued events and thread start/finish between Qt's own threads
// and ours (through its uninstrumented mutexes and atomics) shows up as races
// inside Qt. Reports whose stack holds no Qt frame stay visible.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
    return "race:libQt6Core.so\n"
           "race:libQt6Gui.so\n"
           "race:libQt6Widgets.so\n"
           "race:libQt6Network.so\n"
           "race:libglib-2.0.so\n"
           "race:libQt6Test.so\n"
           "race:libcrypto.so\n"
           "race:libssl.so\n"
           "deadlock:libQt6Core.so\n";
}
#endif
